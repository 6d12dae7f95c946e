#include "storage/saved_servers.h"

#include "core/errors.h"
#include "storage/file_locations.h"
#include "storage/text_file.h"
#include "storage/writer_lock.h"

#include <QFile>
#include <QFileInfo>

#include <utility>

namespace {

constexpr char kHeader[] = "# Ravelin's saved servers: name, address and port, separated by tabs.";

QByteArray oneField(QByteArray text)
{
    return text.replace('\t', ' ').replace('\r', ' ').replace('\n', ' ').trimmed();
}

} // namespace

QString SavedServer::keyringKey() const
{
    return QString::fromLatin1(address + ':' + port);
}

SavedServers SavedServers::load(const QString& path)
{
    SavedServers list;
    if (!QFileInfo::exists(path))
        return list;
    TextFileReader reader;
    reader.open(path);
    while (!reader.atEnd() && list.servers_.size() < kMaxServers) {
        const QByteArray line = reader.readLine();
        if (line.startsWith('#'))
            continue;
        const QList<QByteArray> fields = line.split('\t');
        SavedServer server{fields.value(0).trimmed(), fields.value(1).trimmed(), fields.value(2).trimmed()};
        if (!server.name.isEmpty() && !server.address.isEmpty() && !list.indexOf(server.name))
            list.servers_.append(std::move(server));
    }
    return list;
}

SavedServers SavedServers::save(const QString& path, const SavedServers& base) const
{
    makePrivateFolderFor(path);
    WriterLock lock(path);
    lock.require(WriterLock::kSaveWait);
    SavedServers written = *this;
    if (SavedServers onDisk = load(path); onDisk.servers_ != base.servers_) {
        written = std::move(onDisk);
        for (const SavedServer& old : base.servers_) {
            const auto at = written.indexOf(old.name);
            // Gone here (deleted, or renamed away), and as it was there: it goes.
            if (at && written.servers_[*at] == old && !indexOf(old.name))
                written.remove(*at);
        }
        for (const SavedServer& server : servers_) {
            if (!base.servers_.contains(server) && !written.put(server))
                throw FileRefused(QFile::encodeName(QFileInfo(path).fileName()) + " already holds "
                                  + QByteArray::number(kMaxServers)
                                  + " servers, some saved by another window; it was not written");
        }
    }
    TextFileWriter writer(path, 0600);
    writer.writeLine(kHeader);
    for (const SavedServer& server : written.servers_)
        writer.writeLine(server.name + '\t' + server.address + '\t' + server.port);
    writer.commit();
    return written;
}

bool SavedServers::put(SavedServer server)
{
    server = {oneField(server.name), oneField(server.address), oneField(server.port)};
    if (const auto index = indexOf(server.name)) {
        servers_[*index] = std::move(server);
        return true;
    }
    if (servers_.size() >= kMaxServers)
        return false;
    servers_.append(std::move(server));
    return true;
}

std::optional<qsizetype> SavedServers::indexOf(const QByteArray& name) const
{
    for (qsizetype i = 0; i < servers_.size(); ++i)
        if (servers_[i].name == name)
            return i;
    return std::nullopt;
}

void SavedServers::rename(qsizetype index, const QByteArray& name)
{
    servers_[index].name = oneField(name);
}

void SavedServers::remove(qsizetype index)
{
    servers_.removeAt(index);
}

void SavedServers::move(qsizetype index, qsizetype step)
{
    const qsizetype other = index + step;
    if (index >= 0 && index < servers_.size() && other >= 0 && other < servers_.size())
        std::swap(servers_[index], servers_[other]);
}

bool SavedServers::sharesPassword(const SavedServer& server, std::optional<qsizetype> except) const
{
    for (qsizetype i = 0; i < servers_.size(); ++i)
        if (i != except && servers_[i].keyringKey() == server.keyringKey())
            return true;
    return false;
}
