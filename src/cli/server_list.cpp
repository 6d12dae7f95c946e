#include "cli/server_list.h"

#include "admin/list_fields.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace {

// The most servers one run takes: each holds a connection and its buffers.
constexpr qsizetype kMaxServers = 1000;

// The fields of a line, up to a comment.
QList<QByteArrayView> fieldsOf(QByteArrayView line)
{
    QList<QByteArrayView> fields;
    qsizetype at = 0;
    while (at < line.size()) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t' || line[at] == '\r'))
            ++at;
        if (at == line.size() || line[at] == '#')
            break;
        const qsizetype start = at;
        while (at < line.size() && line[at] != ' ' && line[at] != '\t' && line[at] != '\r')
            ++at;
        fields.append(line.sliced(start, at - start));
    }
    return fields;
}

} // namespace

QByteArray passwordVariable(QByteArrayView serverName)
{
    QByteArray variable = "RAVELIN_PASSWORD_";
    for (const char c : serverName) {
        const char upper = (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
        variable.append(((upper >= 'A' && upper <= 'Z') || (upper >= '0' && upper <= '9')) ? upper : '_');
    }
    return variable;
}

ServerList parseServerList(QByteArrayView text, const QString& path)
{
    ServerList list;
    QSet<QByteArray> names;
    const QDir folder = QFileInfo(path).absoluteDir();
    qsizetype lineNumber = 0;
    const auto fail = [&](const QByteArray& message) {
        list.servers.clear();
        list.error = QFile::encodeName(path) + ':' + QByteArray::number(lineNumber) + ": " + message;
        return list;
    };
    for (const QByteArrayView line : text.toByteArray().split('\n')) {
        ++lineNumber;
        const QList<QByteArrayView> fields = fieldsOf(line);
        if (fields.isEmpty())
            continue;
        if (fields.size() < 3 || fields.size() > 4)
            return fail("expected NAME HOST PORT [PASSWORD-FILE], found " + QByteArray::number(fields.size())
                        + " fields");
        ServerLine server;
        server.name = fields[0].toByteArray();
        server.host = fields[1].toByteArray();
        const auto port = list_fields::wholeNumber(fields[2]);
        if (!port || *port < 1 || *port > 65535)
            return fail("the port must be a whole number from 1 to 65535, not '" + fields[2].toByteArray() + "'");
        server.port = quint16(*port);
        if (fields.size() == 4)
            server.passwordFile = folder.absoluteFilePath(QFile::decodeName(fields[3].toByteArray()));
        if (names.contains(server.name))
            return fail("the name '" + server.name + "' is given twice");
        names.insert(server.name);
        if (list.servers.size() == kMaxServers)
            return fail("more than " + QByteArray::number(kMaxServers) + " servers");
        list.servers.append(server);
    }
    if (list.servers.isEmpty())
        return fail("no server in the file");
    return list;
}

ServerList readServerList(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ServerList list;
        list.error = QFile::encodeName(path) + ": " + file.errorString().toLocal8Bit();
        return list;
    }
    return parseServerList(file.readAll(), path);
}
