#include "store/player_recorder.h"

#include "store/store_writer.h"

void PlayerRecorder::listCleared()
{
    incoming_.emplace();
}

void PlayerRecorder::entriesAdded(const EntryBlock& entries)
{
    if (!incoming_)
        return; // entries of a list whose start was not seen
    for (qsizetype i = 0; i < entries.size(); ++i)
        incoming_->append(entries.at(i));
}

void PlayerRecorder::listComplete(const QString& server, const QDateTime& time)
{
    if (!incoming_)
        return;
    const QList<SeenPlayer> now = playersFrom(*incoming_);
    incoming_.reset();
    // Another server's list: the players of the one before were last seen there.
    if (lastLook_ && server != server_)
        stop(QStringLiteral("the window connected to another server"), time);
    const QList<WatchEvent> events = playerChanges(lastLook_, now, {time, server, server});
    lastLook_ = now;
    server_ = server;
    if (!events.isEmpty())
        writer_.submit(events);
}

void PlayerRecorder::stop(const QString& why, const QDateTime& time)
{
    incoming_.reset();
    if (!lastLook_)
        return;
    WatchEvent down;
    down.kind = WatchEvent::Kind::Down;
    down.time = time;
    down.server = server_;
    down.serverAddress = server_;
    down.text = why;
    writer_.submit({down});
    lastLook_.reset();
}
