#include "watch/fleet.h"

#include <algorithm>

Fleet::Fleet(ServerWatch::Timing timing, QObject* parent)
    : QObject(parent)
    , timing_(timing)
{ }

Fleet::~Fleet()
{
    stop();
}

void Fleet::setServers(const QList<ServerWatch::Target>& targets)
{
    std::vector<std::unique_ptr<ServerWatch>> kept;
    for (const ServerWatch::Target& target : targets) {
        // A watch handed on leaves an empty place behind.
        auto same = std::find_if(watches_.begin(), watches_.end(), [&](const std::unique_ptr<ServerWatch>& watch) {
            return watch && watch->target().name == target.name && watch->target().host == target.host
                && watch->target().port == target.port && watch->target().password == target.password;
        });
        if (same != watches_.end()) {
            kept.push_back(std::move(*same));
            continue;
        }
        kept.push_back(adopt(std::make_unique<ServerWatch>(target, timing_)));
    }
    for (auto& left : watches_)
        if (left)
            left->stop();
    watches_ = std::move(kept);
    for (auto& watch : watches_)
        if (watch->state() == ServerWatch::State::Stopped)
            watch->start();
    for (qsizetype i = 0; i < size(); ++i)
        emit serverChanged(i);
}

std::unique_ptr<ServerWatch> Fleet::adopt(std::unique_ptr<ServerWatch> watch)
{
    ServerWatch* raw = watch.get();
    connect(raw, &ServerWatch::changed, this, [this, raw] {
        for (qsizetype i = 0; i < size(); ++i)
            if (watches_[std::size_t(i)].get() == raw)
                emit serverChanged(i);
    });
    connect(raw, &ServerWatch::observed, this,
            [this](const QList<WatchEvent>& events, const QList<PopulationSample>& samples) {
                onObserved(events, samples);
            });
    connect(raw, &ServerWatch::logLine, this,
            [this, raw](const QByteArray& line) { emit logLine(raw->target().name, line); });
    return watch;
}

std::optional<qsizetype> Fleet::indexOf(const QString& name) const
{
    for (qsizetype i = 0; i < size(); ++i)
        if (server(i).target().name == name)
            return i;
    return std::nullopt;
}

void Fleet::setWatchMatcher(WatchMatcher matcher)
{
    matcher_ = std::move(matcher);
}

QStringList Fleet::watchNotes(const SeenPlayer& player) const
{
    return matcher_ ? matcher_(player) : QStringList();
}

void Fleet::stop()
{
    for (auto& watch : watches_)
        watch->stop();
}

// A player is looked up when they come and when their name or address
// changes: a watched name taken on the server counts as coming.
void Fleet::onObserved(QList<WatchEvent> events, const QList<PopulationSample>& samples)
{
    QList<WatchEvent> watched;
    if (matcher_) {
        for (const WatchEvent& event : std::as_const(events)) {
            if (event.kind != WatchEvent::Kind::Join && event.kind != WatchEvent::Kind::Rename
                && event.kind != WatchEvent::Kind::Address)
                continue;
            const QStringList notes = matcher_(SeenPlayer{event.playerId, event.name, event.address, event.hash});
            if (notes.isEmpty())
                continue;
            WatchEvent mark = event;
            mark.kind = WatchEvent::Kind::Watched;
            mark.previous.clear();
            mark.text = notes.join(QStringLiteral("; "));
            watched.append(mark);
        }
    }
    events.append(watched);
    emit observed(events, samples);
    for (const WatchEvent& event : std::as_const(watched))
        emit watchedPlayerJoined(event);
}
