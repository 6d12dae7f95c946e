#pragma once

// Many servers watched at once: one ServerWatch, so one connection, for each.
// The fleet adds what no single watch knows: which players are on the
// watchlist, marked on every server they join.

#include "watch/server_watch.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class Fleet : public QObject
{
    Q_OBJECT

public:
    // The notes of the watchlist entries a player matches; none when the
    // player is not watched.
    using WatchMatcher = std::function<QStringList(const SeenPlayer& player)>;

    explicit Fleet(ServerWatch::Timing timing = {}, QObject* parent = nullptr);
    ~Fleet() override;

    // Watches these servers from now on: a server still listed with the same
    // address, port and password keeps its connection; the others stop.
    void setServers(const QList<ServerWatch::Target>& targets);
    qsizetype size() const { return qsizetype(watches_.size()); }
    ServerWatch& server(qsizetype index) const { return *watches_[std::size_t(index)]; }
    std::optional<qsizetype> indexOf(const QString& name) const;

    void setWatchMatcher(WatchMatcher matcher);
    // The notes of the entries `player` matches.
    QStringList watchNotes(const SeenPlayer& player) const;

    void stop();

signals:
    // A server's state, players or map changed.
    void serverChanged(qsizetype index);
    // What a look found, a Watched event added for each watched player who
    // came, took a watched name or came from a watched address.
    void observed(const QList<WatchEvent>& events, const QList<PopulationSample>& samples);
    void watchedPlayerJoined(const WatchEvent& event);
    void logLine(const QString& server, const QByteArray& line);

private:
    // Wires a new watch to the fleet's signals and hands it back.
    std::unique_ptr<ServerWatch> adopt(std::unique_ptr<ServerWatch> watch);
    void onObserved(QList<WatchEvent> events, const QList<PopulationSample>& samples);

    ServerWatch::Timing timing_;
    std::vector<std::unique_ptr<ServerWatch>> watches_;
    WatchMatcher matcher_;
};
