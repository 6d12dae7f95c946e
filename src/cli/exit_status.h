#pragma once

// How a run of ravelin-cli ends, as its exit status.

#include <QByteArray>

enum class ExitStatus {
    Answered = 0,         // every command was answered
    LoginFailed = 1,      // the server refused the password
    Usage = 2,            // the command line, a file it names or the password could not be used
    ConnectionFailed = 3, // no connection, or it was lost before every command was answered
    ReplyTimedOut = 4,    // a reply, the login's included, did not come within the reply timeout
};

// The worse of two servers' outcomes: a server out of reach is worse than one
// that refused the password, which is worse than one that answered late.
ExitStatus worse(ExitStatus a, ExitStatus b);

// "answered", "login failed", ... for the summary.
QByteArray describe(ExitStatus status);
