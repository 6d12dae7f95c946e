#pragma once

// Writes polls, the changes users make (bans placed and lifted, the
// watchlist) and the runs of scheduled jobs to the player store on a thread of its own, so that neither the
// window nor a watcher ever waits on the database. Each submission is one
// transaction. While the store cannot be written (a full disk, a stopped
// server) the submissions wait in memory, at most heldLimit() events and as
// many samples and as many changes, the oldest dropped and counted past that,
// and are tried again every retryInterval(). logLine says when the store
// fails and when it is written again.

#include "store/player_store.h"
#include "store/store_location.h"
#include "watch/watch_event.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QThread>

#include <chrono>
#include <memory>
#include <optional>

class StoreWriter : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype kDefaultHeldLimit = 100000;
    static constexpr std::chrono::milliseconds kDefaultRetryInterval{5000};
    static constexpr std::chrono::milliseconds kDefaultBanCacheAge{60000};

    // Starts the thread; the store is opened at the first write.
    explicit StoreWriter(StoreLocation location, QObject* parent = nullptr);
    // Waits for the write under way, then ends the thread. What is still held
    // is lost: call flush() first.
    ~StoreWriter() override;

    void setHeldLimit(qsizetype events);
    qsizetype heldLimit() const;
    void setRetryInterval(std::chrono::milliseconds interval);
    std::chrono::milliseconds retryInterval() const;
    // How old the ban records newestBan() reads may grow before the store is read again.
    void setBanCacheAge(std::chrono::milliseconds age);

    // Hands one poll to the thread and returns at once.
    void submit(QList<WatchEvent> events, QList<PopulationSample> samples = {});

    // Hands one change to the thread and returns at once: empty, or, for a
    // watchlist entry, a run or a snapshot that cannot be kept, why (nothing is
    // submitted then).
    QString submitChange(StoreChange change);

    // The newest ban record of a key hash or address that the writer knows
    // of, without waiting: what was submitted, and what the store held when
    // last read. The store is read again, on the writing thread, when this is
    // first asked and once the last reading is banCacheAge old, so a record
    // placed elsewhere shows at a later look.
    // Reads the ban records now, so that the first newestBan() already knows them.
    void preloadBans();
    std::optional<BanRecord> newestBan(const QString& ban) const;

    // Writes what is held now, trying the store at once; returns whether all
    // of it is written, within `timeout` in any case.
    bool flush(std::chrono::milliseconds timeout);

    // Events waiting to be written (including a write under way), events
    // dropped for want of room, and events written, since the start.
    qint64 held() const;
    qint64 dropped() const;
    qint64 droppedSamples() const;
    // Changes waiting, and changes dropped for want of room.
    qint64 heldChanges() const;
    qint64 droppedChanges() const;
    qint64 written() const;
    // The last write failed, and the held events wait for the next try.
    bool isFailing() const;

signals:
    // A line for the log: the store failed, or is written again.
    void logLine(const QByteArray& line);

public:
    struct State;

private:
    std::shared_ptr<State> state_;
    QThread thread_;
    QObject* worker_ = nullptr;
};
