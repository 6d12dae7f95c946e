#include "store/player_lookup.h"

#include <memory>

namespace {

// Lives on the lookup's thread and holds the store there: a PlayerStore is
// one connection and belongs to the thread that made it.
class LookupWorker : public QObject
{
public:
    explicit LookupWorker(StoreLocation location)
        : location_(std::move(location))
    { }

    // The open store, or null with `error` saying why it could not be opened.
    PlayerStore* store(QString& error)
    {
        if (!store_ || !store_->isOpen()) {
            store_ = std::make_unique<PlayerStore>(location_);
            if (!store_->open()) {
                error = QStringLiteral("The store %1 could not be opened: %2")
                            .arg(location_.description(), store_->lastError());
                store_.reset();
                return nullptr;
            }
        }
        return store_.get();
    }

    // After a failure the next request starts over with a new connection.
    void forget() { store_.reset(); }

private:
    StoreLocation location_;
    std::unique_ptr<PlayerStore> store_;
};

} // namespace

PlayerLookup::PlayerLookup(StoreLocation location, QObject* parent)
    : QObject(parent)
{
    auto* worker = new LookupWorker(std::move(location));
    worker->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker, &QObject::deleteLater);
    worker_ = worker;
    thread_.setObjectName(QStringLiteral("store lookup"));
    thread_.start();
}

PlayerLookup::~PlayerLookup()
{
    thread_.quit();
    thread_.wait();
}

// The answers are posted to this object: the thread ends before it goes, and
// an answer still on its way when it goes is dropped with it.
void PlayerLookup::find(int request, const QString& query, int limit)
{
    auto* worker = static_cast<LookupWorker*>(worker_);
    QMetaObject::invokeMethod(worker, [this, worker, request, query, limit] {
        QString error;
        QList<PlayerHistory> players;
        if (PlayerStore* store = worker->store(error)) {
            players = store->findPlayers(query, limit);
            if (!store->lastError().isEmpty()) {
                error = QStringLiteral("The store could not be read: ") + store->lastError();
                worker->forget();
            }
        }
        QMetaObject::invokeMethod(this, [this, request, players, error] { emit found(request, players, error); });
    });
}

void PlayerLookup::addNote(const QString& playerKey, const QString& text, const QString& author)
{
    auto* worker = static_cast<LookupWorker*>(worker_);
    QMetaObject::invokeMethod(worker, [this, worker, playerKey, text, author] {
        QString error;
        if (PlayerStore* store = worker->store(error); store && !store->addNote(playerKey, text, author)) {
            error = QStringLiteral("The note could not be kept: ") + store->lastError();
            worker->forget();
        }
        QMetaObject::invokeMethod(this, [this, playerKey, error] { emit noteAdded(playerKey, error); });
    });
}

void PlayerLookup::readWatchlist()
{
    changeWatchlist({});
}

void PlayerLookup::addWatchEntry(const WatchEntry& entry)
{
    changeWatchlist([entry](PlayerStore& store) { return store.addWatchEntry(entry).has_value(); });
}

void PlayerLookup::removeWatchEntry(qint64 id)
{
    changeWatchlist([id](PlayerStore& store) { return store.removeWatchEntry(id); });
}

void PlayerLookup::changeWatchlist(std::function<bool(PlayerStore&)> change)
{
    auto* worker = static_cast<LookupWorker*>(worker_);
    QMetaObject::invokeMethod(worker, [this, worker, change = std::move(change)] {
        QString error;
        QList<WatchEntry> entries;
        QStringList noted;
        if (PlayerStore* store = worker->store(error)) {
            if (change && !change(*store))
                error = QStringLiteral("The watchlist could not be changed: ") + store->lastError();
            entries = store->watchlist();
            if (store->lastError().isEmpty())
                noted = store->notedKeys();
            if (error.isEmpty() && !store->lastError().isEmpty()) {
                error = QStringLiteral("The watchlist could not be read: ") + store->lastError();
                worker->forget();
            }
        }
        QMetaObject::invokeMethod(this, [this, entries, noted, error] { emit watchlistRead(entries, noted, error); });
    });
}

void PlayerLookup::readLastScheduleRuns()
{
    auto* worker = static_cast<LookupWorker*>(worker_);
    QMetaObject::invokeMethod(worker, [this, worker] {
        QString error;
        QList<ScheduleRun> runs;
        if (PlayerStore* store = worker->store(error)) {
            runs = store->lastScheduleRuns();
            if (!store->lastError().isEmpty()) {
                error = QStringLiteral("The runs of the schedules could not be read: ") + store->lastError();
                worker->forget();
            }
        }
        QMetaObject::invokeMethod(this, [this, runs, error] { emit lastScheduleRunsRead(runs, error); });
    });
}

void PlayerLookup::readLatestSnapshots(const QStringList& servers, const QString& label)
{
    auto* worker = static_cast<LookupWorker*>(worker_);
    QMetaObject::invokeMethod(worker, [this, worker, servers, label] {
        QString error;
        QList<StateSnapshot> snapshots;
        if (PlayerStore* store = worker->store(error)) {
            snapshots = store->latestSnapshots(servers, label);
            if (!store->lastError().isEmpty()) {
                error = QStringLiteral("The snapshots could not be read: ") + store->lastError();
                worker->forget();
            }
        }
        QMetaObject::invokeMethod(this, [this, snapshots, error] { emit latestSnapshotsRead(snapshots, error); });
    });
}
