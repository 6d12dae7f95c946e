#pragma once

// Which servers a run talks to, and the password of each: one given by
// address (-H), one the window saved (-S NAME), or every server of a file
// (--servers FILE). Shared by a run of commands and by the watch.

#include "cli/password_source.h"
#include "cli/server_run.h"
#include "cli/terminal_text.h"
#include "storage/file_locations.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <variant>

// This user's folders, by the desktop's conventions.
LocationFolders userFolders();

// The file -S and --list-servers read: `serversFile`, or the window's own.
QString savedServersFile(const QString& serversFile);

struct ServerChoice
{
    QByteArray serverName; // -S, as the terminal gives it; empty when not given
    QString serversFile;   // --servers; empty when not given
    QByteArray host;       // -H, when neither of the others is given
    quint16 port = 4711;
    QString passwordFile; // --password-file, for every server
};

struct ChosenServer
{
    ServerTarget target;
    PasswordSources sources;
};

// The servers of the run, or why there are none.
std::variant<QList<ChosenServer>, QByteArray> chooseServers(const ServerChoice& choice, const TerminalText& terminal);

// Gives every server its password; the servers without one of their own
// share the one typed at the prompt. An empty password is refused unless
// `emptyAllowed`. Gives why not, when they cannot all have one.
QByteArray findPasswords(QList<ChosenServer>& servers, bool emptyAllowed, const PasswordReading& reading);
