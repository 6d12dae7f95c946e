#pragma once

// The one place history lives: servers, players (by key hash), the names and
// addresses each was seen with, sessions, population samples, bans seen,
// this client's actions, notes on players, the runs of scheduled jobs and
// snapshots of servers' state, in
// SQLite or PostgreSQL through
// Qt SQL. Both get the same schema and the same queries; the schema is brought
// up to date by numbered migrations when the store is opened.
//
// A PlayerStore is one database connection and belongs to the thread that
// made it. Every text goes in as a bound parameter: names come from servers
// that may be hostile.

#include "automation/schedule_run.h"
#include "desired/server_state.h"
#include "store/ban_record.h"
#include "store/store_location.h"
#include "watch/watch_event.h"
#include "watch/watchlist.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariant>

#include <memory>
#include <variant>

// A name or address of a player and when it was first and last seen.
struct SeenText
{
    QString text;
    QDateTime firstSeen;
    QDateTime lastSeen;
};

struct PlayerSession
{
    QString server;
    int playerId = -1;
    QString name;
    QString address;
    QDateTime joined;
    QDateTime left; // invalid while the session is open
};

struct PlayerNote
{
    QDateTime time;
    QString author;
    QString text;
};

// All the store knows of one player.
struct PlayerHistory
{
    QString key;  // WatchEvent::playerKey()
    QString hash; // empty for a player followed by name and address
    QDateTime firstSeen;
    QDateTime lastSeen;
    QList<SeenText> names;         // the most recently seen first
    QList<SeenText> addresses;     // the most recently seen first
    QList<PlayerSession> sessions; // by server, then by time joined
    QList<PlayerNote> notes;       // oldest first
    QList<BanRecord> bans;         // bans this client placed on the hash, the newest first
};

// A server's state as it was kept before a change, to go back to.
struct StateSnapshot
{
    qint64 id = 0;
    QDateTime taken;
    QString server;
    QString label; // what it was taken before: "before apply"
    QString user;
    ServerState state;
};

// Taking an entry off the watchlist, by its number in the store.
struct WatchEntryRemoval
{
    qint64 id = 0;
};

// One change a user makes to the store, as the writer carries it.
using StoreChange = std::variant<BanRecord, BanLift, WatchEntry, WatchEntryRemoval, ScheduleRun, StateSnapshot>;

// Why the store cannot keep `run`, or empty when it can: a run must name its
// schedule and server and say when it started.
QString scheduleRunProblem(const ScheduleRun& run);
// Why the store cannot keep `snapshot`, or empty when it can: it must name
// its server.
QString snapshotProblem(const StateSnapshot& snapshot);

class PlayerStore
{
public:
    // The schema version this program writes.
    static constexpr int kSchemaVersion = 5;

    explicit PlayerStore(StoreLocation location);
    ~PlayerStore();

    PlayerStore(const PlayerStore&) = delete;
    PlayerStore& operator=(const PlayerStore&) = delete;

    const StoreLocation& location() const { return location_; }

    // Connects and brings the schema up to date. A SQLite file is made for
    // its user alone (0600) in a folder made for them alone (0700), and
    // written through a write-ahead log. False with lastError() on failure.
    bool open();
    bool isOpen() const;
    void close();

    // Writes one poll: its events and samples, in one transaction, so that a
    // failure leaves none of it. Reconnects first when the last call failed.
    // A Join opens a session, a Leave closes it, a Down closes every session
    // of the server; names and addresses keep when they were first and last
    // seen; every other event is also kept as it came (a player's join and
    // leave are their session). An event without a time is left out.
    bool record(const QList<WatchEvent>& events, const QList<PopulationSample>& samples = {});

    // Players matching `query`: a 32-digit hash, an address, or any part of a
    // name (case does not matter, accented and non-Latin letters included);
    // the most recently seen first, at most `limit` of them. When the store
    // cannot be read, none, with lastError() saying why.
    QList<PlayerHistory> findPlayers(const QString& query, int limit = 50);

    // Keeps a note on the player with `playerKey`, whom the store need not have seen yet.
    bool addNote(const QString& playerKey, const QString& text, const QString& author,
                 const QDateTime& time = QDateTime::currentDateTimeUtc());

    // Keeps a ban this client placed.
    bool recordBan(const BanRecord& record);
    // Marks the latest standing ban of the key or address on the server
    // lifted. A ban the store has no record of standing is no failure:
    // `*found` (when given) says whether there was one.
    bool recordBanLifted(const BanLift& lift, bool* found = nullptr);
    // The bans placed on a key hash (in any case) or an address, the newest
    // first. None, with lastError() saying why, when the store cannot be read.
    QList<BanRecord> banRecords(const QString& ban);
    // The newest ban record of every key and address.
    QList<BanRecord> newestBanRecords();

    // Keeps a watchlist entry and returns its number, or nothing: an entry
    // with a problem (watchEntryProblem) is refused with lastError() saying it.
    std::optional<qint64> addWatchEntry(const WatchEntry& entry);
    // Takes the entry off; one already gone is no failure.
    bool removeWatchEntry(qint64 id);
    // Every entry, oldest first. None, with lastError() saying why, on failure.
    QList<WatchEntry> watchlist();
    // The keys of the players with a note. None, with lastError() saying why, on failure.
    QStringList notedKeys();

    // Keeps one run of a scheduled job; a run with a problem
    // (scheduleRunProblem) is refused with lastError() saying it. A run not
    // yet finished is kept without an end.
    bool recordScheduleRun(const ScheduleRun& run);
    // The newest run (by start) of each schedule on each server, by schedule
    // and then server. None, with lastError() saying why, on failure.
    QList<ScheduleRun> lastScheduleRuns();
    // The runs of `schedule` on any server, the newest first, at most `limit`
    // of them. None, with lastError() saying why, on failure.
    QList<ScheduleRun> scheduleRuns(const QString& schedule, int limit = 50);

    // Keeps a snapshot of `server`'s state and gives its number; nothing,
    // with lastError() saying why, on failure.
    std::optional<qint64> saveSnapshot(const QString& server, const ServerState& state, const QString& label,
                                       const QString& user, const QDateTime& taken = QDateTime::currentDateTimeUtc());
    // The newest snapshot of each of `servers` that has one (of every server
    // when none are named), by server; with a `label`, the newest of those
    // with that label ("before apply", so that an undo never restores what
    // an earlier undo kept). None, with lastError() saying why, on failure,
    // or when a snapshot cannot be read back.
    QList<StateSnapshot> latestSnapshots(const QStringList& servers = {}, const QString& label = {});
    // The snapshot with number `id`; nothing, with lastError() saying why,
    // when there is none or it cannot be read back.
    std::optional<StateSnapshot> snapshot(qint64 id);
    // The snapshots of `server` (of every server when empty), the newest
    // first, at most `limit` of them; their states are left empty.
    QList<StateSnapshot> snapshotsTaken(const QString& server = {}, int limit = 50);

    // Makes one change of any kind; what a watchlist entry is given for a
    // number, or a snapshot, is dropped. A snapshot with no time taken is
    // taken now.
    bool apply(const StoreChange& change);

    // Removes what was last seen more than `days` days before `now`: closed
    // sessions, samples, events, actions, bans, names and addresses, runs of
    // scheduled jobs, and players left with nothing (a player with a note, or
    // on a server now, stays). The newest run of each schedule on each server
    // stays however old: it says when the schedule last ran. So does the
    // newest snapshot of each server: it is what an undo goes back to.
    // Nothing for 0 days or fewer: history is kept for ever.
    // False on failure.
    bool removeOlderThan(int days, const QDateTime& now = QDateTime::currentDateTimeUtc());

    // Why the last call failed, the database's own message; empty after a call that did not.
    const QString& lastError() const { return lastError_; }

    // The schema version of the open store.
    int schemaVersion();

    // The name Qt knows this connection by, for reading the store directly.
    const QString& connectionName() const { return connectionName_; }

    struct Connection;

private:
    bool connectSqlite();
    bool connectPostgres();
    bool migrate();
    bool reopenIfNeeded();
    bool fail(const QString& what);
    // Runs `statement` with `values` in a transaction of its own.
    bool write(const QString& statement, const QVariantList& values);
    std::optional<qint64> serverId(const QString& name, qint64 at);
    QList<BanRecord> readBans(const QString& where, const QVariantList& values);
    QList<ScheduleRun> readScheduleRuns(const QString& where, const QVariantList& values);
    std::optional<QList<StateSnapshot>> readSnapshots(const QString& where, const QVariantList& values, bool withState);

    StoreLocation location_;
    QString connectionName_;
    std::unique_ptr<Connection> connection_;
    QString lastError_;
    bool reconnect_ = false; // the last write failed; start over with a new connection
};
