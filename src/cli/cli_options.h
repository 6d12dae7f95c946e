#pragma once

// ravelin-cli's command line. Commands are taken byte for byte from the
// arguments, never through a text conversion, so a name with any bytes can be
// kicked; options may come before, between or after them, and "--" ends the
// options. A password is never taken from the command line, where every user
// of the machine can read it.

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>
#include <optional>

struct CliOptions
{
    QByteArray host;
    quint16 port = 4711;
    QString serversFile;
    QString passwordFile;
    std::chrono::milliseconds replyTimeout{10000};
    std::chrono::milliseconds giveUpTimeout{60000};
    bool json = false;
    bool verbose = false;
    QList<QByteArray> commands;
};

struct CliCommandLine
{
    // Set when the program is to stop at once: the text to print, and the
    // exit status (0 for --help and --version, 2 for a usage error).
    std::optional<int> exitStatus;
    QByteArray output;
    bool outputIsError = false;
    CliOptions options;
};

CliCommandLine parseCliCommandLine(const QList<QByteArray>& arguments, const QByteArray& version);

// The text of --help.
QByteArray cliHelpText();
