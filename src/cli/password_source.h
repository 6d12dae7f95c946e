#pragma once

// Where the passwords come from: a server's own environment variable or
// password file, --password-file, RAVELIN_PASSWORD, and last a prompt on the
// terminal, without echo. The prompt reads the controlling terminal, not
// standard input, so commands can still come through a pipe; a run with no
// terminal (cron) must name its password otherwise.

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

struct PasswordResult
{
    std::optional<QByteArray> password;
    QByteArray error; // why there is none
};

// The first line of a file, without its line end.
PasswordResult readPasswordFile(const QString& path);

// Asks on the controlling terminal with echo off; an error when there is no
// terminal.
PasswordResult promptForPassword(const QByteArray& prompt);

// Where one server's password is looked for, most particular first; the
// prompt answers for every server that has none of these.
struct PasswordSources
{
    QByteArray ownVariable; // RAVELIN_PASSWORD_<NAME>, or empty
    QString ownFile;        // the servers file's fourth field, or empty
    QString commonFile;     // --password-file, or empty
};

// The password from the first source that has one, an error when a file
// cannot be read, or neither when the prompt is to answer.
PasswordResult findPassword(const PasswordSources& sources);
