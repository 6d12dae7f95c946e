#pragma once

// Reads the player store for a window on a thread of its own, so that a slow
// or unreachable database never holds up the window. Requests are answered in
// the order they were made, by signals on the thread that made the lookup.

#include "store/player_store.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QThread>

#include <functional>

class PlayerLookup : public QObject
{
    Q_OBJECT

public:
    // Starts the thread; the store is opened at the first request, and again
    // at the next one after it failed.
    explicit PlayerLookup(StoreLocation location, QObject* parent = nullptr);
    // Waits for the request under way, then ends the thread.
    ~PlayerLookup() override;

    // Asks for the players matching `query`, as PlayerStore::findPlayers
    // takes it; found() answers with the same `request` number.
    void find(int request, const QString& query, int limit = 50);
    // Keeps a note on a player; noteAdded() answers.
    void addNote(const QString& playerKey, const QString& text, const QString& author);

    // Reads the watchlist, and which players have a note; watchlistRead()
    // answers. Adding or removing an entry is answered the same way, with
    // the list as it is afterwards.
    void readWatchlist();
    void addWatchEntry(const WatchEntry& entry);
    void removeWatchEntry(qint64 id);

    // Reads the newest run of each schedule on each server, as
    // PlayerStore::lastScheduleRuns gives them; lastScheduleRunsRead() answers.
    void readLastScheduleRuns();
    // Reads the newest snapshot of each of `servers` that has one, of
    // `label` when one is given, as PlayerStore::latestSnapshots gives them;
    // latestSnapshotsRead() answers.
    void readLatestSnapshots(const QStringList& servers, const QString& label = {});

signals:
    // `error` is empty when the store was read.
    void found(int request, const QList<PlayerHistory>& players, const QString& error);
    void noteAdded(const QString& playerKey, const QString& error);
    // `error` is empty when the change, if any, was made and the list read.
    void watchlistRead(const QList<WatchEntry>& entries, const QStringList& notedKeys, const QString& error);
    // `error` is empty when the store was read.
    void lastScheduleRunsRead(const QList<ScheduleRun>& runs, const QString& error);
    // `error` is empty when the store was read.
    void latestSnapshotsRead(const QList<StateSnapshot>& snapshots, const QString& error);

private:
    // Makes `change` (none: only reads), then reads the list and answers.
    void changeWatchlist(std::function<bool(PlayerStore&)> change);

    QThread thread_;
    QObject* worker_ = nullptr;
};
