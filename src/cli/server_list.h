#pragma once

// The file of --servers: one server a line, "NAME HOST PORT [PASSWORD-FILE]",
// fields split by blanks or tabs; "#" starts a comment, at the start of a line
// or of a field, and blank lines are skipped. A relative password file is
// found beside the servers file.

#include <QByteArray>
#include <QList>
#include <QString>

struct ServerLine
{
    QByteArray name;
    QByteArray host;
    quint16 port = 0;
    QString passwordFile; // empty when the line names none
};

struct ServerList
{
    QList<ServerLine> servers;
    QByteArray error; // "FILE:LINE: what is wrong", or empty
};

ServerList parseServerList(QByteArrayView text, const QString& path);
ServerList readServerList(const QString& path);

// The environment variable that holds a server's own password: the name in
// capitals, every character but A-Z and 0-9 as "_", behind "RAVELIN_PASSWORD_".
QByteArray passwordVariable(QByteArrayView serverName);
