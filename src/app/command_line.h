#pragma once

// The program's command line, read before any window exists, so that --help,
// --version and a mistyped option work without a display. Qt's own options
// (-platform, -style, ...) are left for the application object.

#include <QString>
#include <QStringList>

#include <optional>

struct CommandLine
{
    // Set when the program is to stop at once: the text to print, and the
    // exit status (0 for --help and --version, 2 for a usage error).
    std::optional<int> exitStatus;
    QString output;
    bool outputIsError = false;
    // --settings FILE: the settings file to use instead of the usual one.
    QString settingsPath;
    // --database URL: the player store to use instead of RAVELIN_DATABASE's or the usual file.
    QString databaseUrl;
    // -style NAME (or -style=NAME) was given: the user's style wins over ours.
    bool styleChosen = false;
};

CommandLine parseCommandLine(const QStringList& arguments);
