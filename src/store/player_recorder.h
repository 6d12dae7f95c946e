#pragma once

// Keeps the player lists a window is shown in the player store: each complete
// list is compared with the one before it on the same server, and the joins,
// leaves, renames and moves between them go to a StoreWriter, which writes
// them on a thread of its own. A list cut short by a dropped connection
// counts for nothing.

#include "core/entry_block.h"
#include "watch/poll_diff.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

class StoreWriter;

class PlayerRecorder
{
public:
    explicit PlayerRecorder(StoreWriter& writer)
        : writer_(writer)
    { }

    // A player list begins, goes on and ends; `server` is the "host:port" it came from.
    void listCleared();
    void entriesAdded(const EntryBlock& entries);
    void listComplete(const QString& server, const QDateTime& time = QDateTime::currentDateTimeUtc());

    // Following the server ends (the connection closed, or recording was
    // turned off): its sessions in the store close, and the next list starts
    // afresh. Nothing is written when no list was recorded.
    void stop(const QString& why, const QDateTime& time = QDateTime::currentDateTimeUtc());

private:
    StoreWriter& writer_;
    std::optional<EntryBlock> incoming_; // the list being received
    std::optional<QList<SeenPlayer>> lastLook_;
    QString server_; // where the last look was taken
};
