#include "store/store_writer.h"

#include "store/player_store.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QMutex>
#include <QTimer>
#include <QWaitCondition>

#include <deque>

namespace {

// A poll, or one change a user made: never both, so that a retry writes
// neither twice.
struct Batch
{
    QList<WatchEvent> events;
    QList<PopulationSample> samples;
    std::optional<StoreChange> change;
};

} // namespace

// What the caller's thread and the writing thread share, under `mutex`.
struct StoreWriter::State
{
    mutable QMutex mutex;
    QWaitCondition changed;
    std::deque<Batch> queue;
    qsizetype queuedEvents = 0;
    qsizetype queuedSamples = 0;
    qsizetype queuedChanges = 0;
    qsizetype inFlightEvents = 0; // the batch being written, out of the queue
    bool inFlightChange = false;
    bool writing = false;
    qsizetype heldLimit = kDefaultHeldLimit;
    std::chrono::milliseconds retryInterval = kDefaultRetryInterval;
    qint64 dropped = 0;
    qint64 droppedSamples = 0;
    qint64 droppedChanges = 0;
    qint64 written = 0;
    qint64 failedAttempts = 0;
    bool failing = false;

    // The newest ban record of each key, for the window to read without
    // waiting on the store: loaded on the writing thread, kept up to date
    // with what is submitted, and loaded again once it is a minute old.
    QHash<QString, BanRecord> newestBans;
    QDeadlineTimer bansFresh{0};
    std::chrono::milliseconds banCacheAge = StoreWriter::kDefaultBanCacheAge;
    bool bansLoading = false;

    // Keeps `record` as its key's newest unless a newer one is known. Of two
    // placed at the same time, a lifted one is the later word.
    void keepNewest(const BanRecord& record)
    {
        const QString key = banKeyText(record.ban);
        const auto it = newestBans.constFind(key);
        if (it != newestBans.cend()
            && (it->placed > record.placed
                || (it->placed == record.placed && it->lifted.isValid() && !record.lifted.isValid())))
            return;
        newestBans.insert(key, record);
    }

    // Drops the oldest queued events, and samples, past the limit. The batch
    // being written is not in the queue and is never cut.
    void keepWithinLimit()
    {
        for (auto it = queue.begin(); it != queue.end() && queuedEvents + inFlightEvents > heldLimit; ++it) {
            const qsizetype cut = std::min(it->events.size(), queuedEvents + inFlightEvents - heldLimit);
            it->events.remove(0, cut);
            queuedEvents -= cut;
            dropped += cut;
        }
        for (auto it = queue.begin(); it != queue.end() && queuedSamples > heldLimit; ++it) {
            const qsizetype cut = std::min(it->samples.size(), queuedSamples - heldLimit);
            it->samples.remove(0, cut);
            queuedSamples -= cut;
            droppedSamples += cut;
        }
        for (auto it = queue.begin(); it != queue.end() && queuedChanges > heldLimit; ++it) {
            if (it->change) {
                it->change.reset();
                --queuedChanges;
                ++droppedChanges;
            }
        }
        std::erase_if(queue, [](const Batch& batch) {
            return batch.events.isEmpty() && batch.samples.isEmpty() && !batch.change;
        });
    }
};

namespace {

QByteArray droppedText(qint64 events, qint64 samples)
{
    QByteArray text = QByteArray::number(events) + (events == 1 ? " event" : " events");
    if (samples > 0)
        text += " and " + QByteArray::number(samples) + (samples == 1 ? " sample" : " samples");
    return text;
}

// Lives on the writing thread and owns the store there: a Qt SQL connection
// belongs to the thread that made it.
class StoreWorker : public QObject
{
    Q_OBJECT

public:
    StoreWorker(StoreLocation location, std::shared_ptr<StoreWriter::State> state, StoreWriter* writer)
        : location_(std::move(location))
        , state_(std::move(state))
        , writer_(writer)
        , retryTimer_(this)
    {
        retryTimer_.setSingleShot(true);
        connect(&retryTimer_, &QTimer::timeout, this, &StoreWorker::drain);
    }

public slots:
    // Writes the queue, oldest first, until it is empty or a write fails.
    void drain()
    {
        if (retryTimer_.isActive())
            return; // the store failed; the timer tries again
        if (!store_)
            store_ = std::make_unique<PlayerStore>(location_);
        for (;;) {
            Batch batch;
            {
                QMutexLocker lock(&state_->mutex);
                if (state_->queue.empty())
                    break;
                batch = std::move(state_->queue.front());
                state_->queue.pop_front();
                state_->queuedEvents -= batch.events.size();
                state_->queuedSamples -= batch.samples.size();
                state_->queuedChanges -= batch.change ? 1 : 0;
                state_->inFlightEvents = batch.events.size();
                state_->inFlightChange = batch.change.has_value();
                state_->writing = true;
            }
            const bool ok = batch.change ? store_->apply(*batch.change) : store_->record(batch.events, batch.samples);
            QMutexLocker lock(&state_->mutex);
            state_->inFlightEvents = 0;
            state_->inFlightChange = false;
            state_->writing = false;
            if (ok) {
                state_->written += batch.events.size();
                if (state_->failing)
                    writtenSinceFailure_ += batch.events.size();
                state_->changed.wakeAll();
                continue;
            }
            state_->queuedEvents += batch.events.size();
            state_->queuedSamples += batch.samples.size();
            state_->queuedChanges += batch.change ? 1 : 0;
            state_->queue.push_front(std::move(batch));
            state_->keepWithinLimit();
            ++state_->failedAttempts;
            const bool saidAlready = state_->failing;
            state_->failing = true;
            const qsizetype waiting = state_->queuedEvents;
            const qsizetype waitingChanges = state_->queuedChanges;
            // Counted from here, under the lock: a poll submitted once the
            // failure shows may already drop events.
            if (!saidAlready) {
                writtenSinceFailure_ = 0;
                droppedBefore_ = state_->dropped;
                droppedSamplesBefore_ = state_->droppedSamples;
            }
            retryTimer_.start(state_->retryInterval);
            state_->changed.wakeAll();
            lock.unlock();
            if (!saidAlready) {
                QByteArray line = "The store could not be written (" + store_->lastError().toUtf8() + "); "
                    + QByteArray::number(waiting) + (waiting == 1 ? " event" : " events");
                if (waitingChanges > 0)
                    line += " and " + QByteArray::number(waitingChanges)
                        + (waitingChanges == 1 ? " change" : " changes");
                line += waiting + waitingChanges == 1 ? " waits" : " wait";
                emit writer_->logLine(line);
            }
            return;
        }
        QMutexLocker lock(&state_->mutex);
        if (!state_->failing)
            return;
        state_->failing = false;
        const qint64 dropped = state_->dropped - droppedBefore_;
        const qint64 droppedSamples = state_->droppedSamples - droppedSamplesBefore_;
        state_->changed.wakeAll();
        lock.unlock();
        QByteArray line = "The store is written again: " + QByteArray::number(writtenSinceFailure_)
            + (writtenSinceFailure_ == 1 ? " event that waited is in it" : " events that waited are in it");
        if (dropped > 0 || droppedSamples > 0)
            line += "; " + droppedText(dropped, droppedSamples) + " had no room to wait and were dropped";
        emit writer_->logLine(line);
    }

    // Reads the newest ban records into the cache.
    void loadBans()
    {
        if (!store_)
            store_ = std::make_unique<PlayerStore>(location_);
        const QList<BanRecord> records = store_->newestBanRecords();
        const bool ok = store_->lastError().isEmpty();
        QMutexLocker lock(&state_->mutex);
        state_->bansLoading = false;
        // A store that cannot be read is not asked again at every look.
        state_->bansFresh.setRemainingTime(state_->banCacheAge);
        if (!ok)
            return;
        for (const BanRecord& record : records)
            state_->keepNewest(record);
    }

    // A try now, whatever the retry timer says.
    void drainNow()
    {
        retryTimer_.stop();
        drain();
    }

private:
    StoreLocation location_;
    std::shared_ptr<StoreWriter::State> state_;
    StoreWriter* writer_;
    std::unique_ptr<PlayerStore> store_;
    QTimer retryTimer_;
    qint64 writtenSinceFailure_ = 0;
    qint64 droppedBefore_ = 0;
    qint64 droppedSamplesBefore_ = 0;
};

} // namespace

StoreWriter::StoreWriter(StoreLocation location, QObject* parent)
    : QObject(parent)
    , state_(std::make_shared<State>())
{
    auto* worker = new StoreWorker(std::move(location), state_, this);
    worker->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker, &QObject::deleteLater);
    worker_ = worker;
    thread_.setObjectName(QStringLiteral("store writer"));
    thread_.start();
}

StoreWriter::~StoreWriter()
{
    thread_.quit();
    thread_.wait();
}

void StoreWriter::setHeldLimit(qsizetype events)
{
    QMutexLocker lock(&state_->mutex);
    state_->heldLimit = std::max<qsizetype>(events, 1);
    state_->keepWithinLimit();
}

qsizetype StoreWriter::heldLimit() const
{
    QMutexLocker lock(&state_->mutex);
    return state_->heldLimit;
}

void StoreWriter::setRetryInterval(std::chrono::milliseconds interval)
{
    QMutexLocker lock(&state_->mutex);
    state_->retryInterval = interval;
}

void StoreWriter::setBanCacheAge(std::chrono::milliseconds age)
{
    QMutexLocker lock(&state_->mutex);
    state_->banCacheAge = age;
}

std::chrono::milliseconds StoreWriter::retryInterval() const
{
    QMutexLocker lock(&state_->mutex);
    return state_->retryInterval;
}

void StoreWriter::submit(QList<WatchEvent> events, QList<PopulationSample> samples)
{
    if (events.isEmpty() && samples.isEmpty())
        return;
    {
        QMutexLocker lock(&state_->mutex);
        state_->queuedEvents += events.size();
        state_->queuedSamples += samples.size();
        state_->queue.push_back({std::move(events), std::move(samples), std::nullopt});
        state_->keepWithinLimit();
    }
    QMetaObject::invokeMethod(worker_, "drain", Qt::QueuedConnection);
}

QString StoreWriter::submitChange(StoreChange change)
{
    // A change the store would refuse at every try would hold up all behind it.
    if (const auto* entry = std::get_if<WatchEntry>(&change)) {
        if (QString problem = watchEntryProblem(*entry); !problem.isEmpty())
            return problem;
    }
    if (const auto* run = std::get_if<ScheduleRun>(&change)) {
        if (QString problem = scheduleRunProblem(*run); !problem.isEmpty())
            return problem;
    }
    if (const auto* snapshot = std::get_if<StateSnapshot>(&change)) {
        if (QString problem = snapshotProblem(*snapshot); !problem.isEmpty())
            return problem;
    }
    {
        QMutexLocker lock(&state_->mutex);
        if (const auto* record = std::get_if<BanRecord>(&change)) {
            state_->keepNewest(*record);
        } else if (const auto* lift = std::get_if<BanLift>(&change)) {
            const auto it = state_->newestBans.find(banKeyText(lift->ban));
            if (it != state_->newestBans.end() && it->server == lift->server && !it->lifted.isValid()) {
                it->lifted = lift->time;
                it->liftedBy = lift->by;
                it->liftReason = lift->why;
            }
        }
        ++state_->queuedChanges;
        state_->queue.push_back({{}, {}, std::move(change)});
        state_->keepWithinLimit();
    }
    QMetaObject::invokeMethod(worker_, "drain", Qt::QueuedConnection);
    return {};
}

void StoreWriter::preloadBans()
{
    QMutexLocker lock(&state_->mutex);
    if (state_->bansLoading)
        return;
    state_->bansLoading = true;
    QMetaObject::invokeMethod(worker_, "loadBans", Qt::QueuedConnection);
}

std::optional<BanRecord> StoreWriter::newestBan(const QString& ban) const
{
    QMutexLocker lock(&state_->mutex);
    if (!state_->bansLoading && state_->bansFresh.hasExpired()) {
        state_->bansLoading = true;
        QMetaObject::invokeMethod(worker_, "loadBans", Qt::QueuedConnection);
    }
    const auto it = state_->newestBans.constFind(banKeyText(ban));
    if (it == state_->newestBans.cend())
        return std::nullopt;
    return *it;
}

bool StoreWriter::flush(std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout);
    QMutexLocker lock(&state_->mutex);
    const qint64 failuresBefore = state_->failedAttempts;
    lock.unlock();
    QMetaObject::invokeMethod(worker_, "drainNow", Qt::QueuedConnection);
    lock.relock();
    // Done when all is written, or when the store failed again: waiting longer would not help.
    while ((!state_->queue.empty() || state_->writing) && state_->failedAttempts == failuresBefore) {
        if (!state_->changed.wait(&state_->mutex, deadline))
            break;
    }
    const qsizetype left = state_->queuedEvents + state_->inFlightEvents;
    const qsizetype leftSamples = state_->queuedSamples;
    const qsizetype leftChanges = state_->queuedChanges + (state_->inFlightChange ? 1 : 0);
    const bool done = state_->queue.empty() && !state_->writing;
    lock.unlock();
    if (!done) {
        QByteArray line = "The store could not be written before closing: " + droppedText(left, leftSamples);
        if (leftChanges > 0)
            line += " and " + QByteArray::number(leftChanges) + (leftChanges == 1 ? " change" : " changes");
        emit logLine(line + (left + leftSamples + leftChanges == 1 ? " is" : " are") + " not in it");
    }
    return done;
}

qint64 StoreWriter::held() const
{
    QMutexLocker lock(&state_->mutex);
    return state_->queuedEvents + state_->inFlightEvents;
}

qint64 StoreWriter::dropped() const
{
    QMutexLocker lock(&state_->mutex);
    return state_->dropped;
}

qint64 StoreWriter::droppedSamples() const
{
    QMutexLocker lock(&state_->mutex);
    return state_->droppedSamples;
}

qint64 StoreWriter::heldChanges() const
{
    QMutexLocker lock(&state_->mutex);
    return state_->queuedChanges + (state_->inFlightChange ? 1 : 0);
}

qint64 StoreWriter::droppedChanges() const
{
    QMutexLocker lock(&state_->mutex);
    return state_->droppedChanges;
}

qint64 StoreWriter::written() const
{
    QMutexLocker lock(&state_->mutex);
    return state_->written;
}

bool StoreWriter::isFailing() const
{
    QMutexLocker lock(&state_->mutex);
    return state_->failing;
}

#include "store_writer.moc"
