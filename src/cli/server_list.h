#pragma once

// The file of --servers: one server a line, "NAME HOST PORT [PASSWORD-FILE]",
// fields split by blanks or tabs; "#" starts a comment, at the start of a line
// or of a field, and blank lines are skipped. A line whose fields are split by
// tabs may hold blanks inside them, so the window's own servers.txt ("NAME",
// "ADDRESS" and "PORT" split by tabs, names such as "Main server") reads the
// same. A relative password file is found beside the servers file. The file
// is read as UTF-8 when it is that, and otherwise in the Windows-1252 table
// the window writes it in.

#include <QByteArray>
#include <QList>
#include <QString>

struct ServerLine
{
    QString name;
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
// The name's UTF-8 bytes count, so "ß" gives "__".
QByteArray passwordVariable(const QString& serverName);

// The line of the server called `name`, or nothing.
const ServerLine* findServer(const ServerList& list, const QString& name);
