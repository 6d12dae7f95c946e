#pragma once

// Where the passwords come from: a server's own environment variable or
// password file, the desktop's keyring (for a server the window saved),
// --password-file, RAVELIN_PASSWORD, and last a prompt on the terminal,
// without echo. The prompt reads the controlling terminal, not
// standard input, so commands can still come through a pipe; a run with no
// terminal (cron) must name its password otherwise.

#include "cli/terminal_text.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>
#include <optional>

class PasswordStore;

struct PasswordResult
{
    std::optional<QByteArray> password;
    QByteArray error; // why there is none
};

// The first line of a file, without its line end. The file is opened without
// blocking: a pipe or FIFO that brings no line within `timeout` is an error.
PasswordResult readPasswordFile(const QString& path, std::chrono::milliseconds timeout);

// A password given in an environment variable, without a line end a shell
// or an editor left at its end, as a file's line loses it.
QByteArray withoutLineEnd(QByteArray password);

// Asks on the controlling terminal with echo off; an error when there is no
// terminal.
PasswordResult promptForPassword(const QByteArray& prompt);

// Where one server's password is looked for, most particular first; the
// prompt answers for every server that has none of these.
struct PasswordSources
{
    QByteArray ownVariable; // RAVELIN_PASSWORD_<NAME>, or empty
    QString ownFile;        // the servers file's fourth field, or empty
    QString keyringKey;     // what the keyring knows the server's password by, or empty
    QString commonFile;     // --password-file, or empty
};

struct PasswordReading
{
    std::chrono::milliseconds timeout{10000}; // for a password file, and for the keyring
    PasswordStore* keyring = nullptr;         // none when null or not running
    TerminalText terminal;                    // the encoding of what the user gives
};

// The password from the first source that has one, as the server's bytes (see
// terminal_text.h; a keyring's are kept so already), an error when a file
// cannot be read or a character cannot be sent, or neither when the prompt
// is to answer.
PasswordResult findPassword(const PasswordSources& sources, const PasswordReading& reading);

// A password typed or given in the terminal's encoding, as the server's bytes.
PasswordResult passwordForServer(const PasswordResult& given, const TerminalText& terminal);
