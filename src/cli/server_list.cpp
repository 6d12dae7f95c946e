#include "cli/server_list.h"

#include "admin/list_fields.h"
#include "core/windows1252.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringDecoder>
#include <QStringList>

namespace {

// The most servers one run takes: each holds a connection and its buffers.
constexpr qsizetype kMaxServers = 1000;

// The fields of a line, up to a comment: split by tabs when that gives a
// server's three or four, otherwise by blanks and tabs.
QStringList fieldsOf(QStringView line)
{
    const auto isBlank = [](QChar c) { return c == u' ' || c == u'\t' || c == u'\r'; };
    QStringList byBlanks;
    qsizetype at = 0;
    while (at < line.size()) {
        while (at < line.size() && isBlank(line[at]))
            ++at;
        if (at == line.size() || line[at] == u'#')
            break;
        const qsizetype start = at;
        while (at < line.size() && !isBlank(line[at]))
            ++at;
        byBlanks.append(line.sliced(start, at - start).toString());
    }
    if (!line.contains(u'\t'))
        return byBlanks;
    QStringList byTabs;
    for (const QStringView field : line.split(u'\t')) {
        const QStringView trimmed = field.trimmed();
        if (trimmed.startsWith(u'#'))
            break;
        if (!trimmed.isEmpty())
            byTabs.append(trimmed.toString());
    }
    return byTabs.size() == 3 || byTabs.size() == 4 ? byTabs : byBlanks;
}

QString decodeFile(QByteArrayView bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    return utf8.hasError() ? windows1252::decode(bytes) : text;
}

} // namespace

QByteArray passwordVariable(const QString& serverName)
{
    QByteArray variable = "RAVELIN_PASSWORD_";
    for (const char c : serverName.toUtf8()) {
        const char upper = (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
        variable.append(((upper >= 'A' && upper <= 'Z') || (upper >= '0' && upper <= '9')) ? upper : '_');
    }
    return variable;
}

ServerList parseServerList(QByteArrayView text, const QString& path)
{
    ServerList list;
    QSet<QString> names;
    const QDir folder = QFileInfo(path).absoluteDir();
    qsizetype lineNumber = 0;
    const auto fail = [&](const QByteArray& message) {
        list.servers.clear();
        list.error = QFile::encodeName(path) + ':' + QByteArray::number(lineNumber) + ": " + message;
        return list;
    };
    const QString decoded = decodeFile(text);
    for (const QStringView line : QStringView(decoded).split(u'\n')) {
        ++lineNumber;
        const QStringList fields = fieldsOf(line);
        if (fields.isEmpty())
            continue;
        if (fields.size() < 3 || fields.size() > 4)
            return fail("expected NAME HOST PORT [PASSWORD-FILE], found " + QByteArray::number(fields.size())
                        + " fields");
        ServerLine server;
        server.name = fields[0];
        server.host = fields[1].toUtf8();
        const auto port = list_fields::wholeNumber(fields[2].toUtf8());
        if (!port || *port < 1 || *port > 65535)
            return fail("the port must be a whole number from 1 to 65535, not '" + fields[2].toUtf8() + "'");
        server.port = quint16(*port);
        if (fields.size() == 4)
            server.passwordFile = folder.absoluteFilePath(fields[3]);
        if (names.contains(server.name))
            return fail("the name '" + server.name.toUtf8() + "' is given twice");
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

const ServerLine* findServer(const ServerList& list, const QString& name)
{
    for (const ServerLine& server : list.servers) {
        if (server.name == name)
            return &server;
    }
    return nullptr;
}
