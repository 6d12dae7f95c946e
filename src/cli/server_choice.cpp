#include "cli/server_choice.h"

#include "cli/server_list.h"
#include "storage/saved_servers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

LocationFolders userFolders()
{
    return standardFolders(QString(), QDir::currentPath());
}

QString savedServersFile(const QString& serversFile)
{
    return serversFile.isEmpty() ? savedServersLocation(userFolders()) : serversFile;
}

std::variant<QList<ChosenServer>, QByteArray> chooseServers(const ServerChoice& options, const TerminalText& terminal)
{
    const auto fromLine = [&](const ServerLine& line, bool named) {
        const SavedServer saved{{}, line.host, QByteArray::number(line.port)};
        return ChosenServer{{named ? line.name : QString(), line.host, line.port, {}},
                            {passwordVariable(line.name), line.passwordFile, saved.keyringKey(), options.passwordFile}};
    };
    QList<ChosenServer> servers;
    if (!options.serverName.isEmpty()) {
        const QString path = savedServersFile(options.serversFile);
        const QString name = terminal.toUnicode(options.serverName);
        if (!QFileInfo::exists(path))
            return "no server is called '" + name.toUtf8() + "': " + QFile::encodeName(path) + " does not exist";
        const ServerList list = readServerList(path);
        if (!list.error.isEmpty())
            return list.error;
        const ServerLine* line = findServer(list, name);
        if (!line) {
            return QFile::encodeName(path) + ": no server is called '" + name.toUtf8()
                + "' (ravelin-cli --list-servers shows them)";
        }
        servers.append(fromLine(*line, false));
    } else if (!options.serversFile.isEmpty()) {
        const ServerList list = readServerList(options.serversFile);
        if (!list.error.isEmpty())
            return list.error;
        for (const ServerLine& line : list.servers)
            servers.append(fromLine(line, true));
    } else {
        servers.append(ChosenServer{{{}, options.host, options.port, {}}, {{}, {}, {}, options.passwordFile}});
    }
    return servers;
}

QByteArray findPasswords(QList<ChosenServer>& servers, bool emptyAllowed, const PasswordReading& reading)
{
    QList<qsizetype> unanswered;
    for (qsizetype i = 0; i < servers.size(); ++i) {
        const PasswordResult found = findPassword(servers[i].sources, reading);
        if (!found.error.isEmpty())
            return found.error;
        if (found.password)
            servers[i].target.password = *found.password;
        else
            unanswered.append(i);
    }
    if (!unanswered.isEmpty()) {
        const QByteArray prompt = servers.size() == 1
            ? "Password for " + servers[0].target.host + ": "
            : "Password for " + QByteArray::number(unanswered.size()) + " server(s) without one of their own: ";
        const PasswordResult typed = passwordForServer(promptForPassword(prompt), reading.terminal);
        if (!typed.password)
            return typed.error;
        for (const qsizetype i : unanswered)
            servers[i].target.password = *typed.password;
    }
    if (emptyAllowed)
        return {};
    for (const ChosenServer& server : servers) {
        if (server.target.password.isEmpty()) {
            const QByteArray which = server.target.name.isEmpty() ? server.target.host : server.target.name.toUtf8();
            return "the password for " + which + " is empty; give --empty-password if that is meant";
        }
    }
    return {};
}
