#pragma once

// Drift: every few minutes, each server of a fleet that is up is compared
// with its desired state, through its watch, one command at a time between
// the watch's own. A server that differs is a Drift event holding the plan's
// lines; it is said again only when the difference changes, and once more,
// with no lines, when the server is back as wanted.

#include "desired/desired_state.h"
#include "desired/server_change.h"
#include "watch/fleet.h"

#include <QHash>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <memory>

class DriftCheck : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kDefaultInterval{300000};

    DriftCheck(DesiredState desired, Fleet& fleet, std::chrono::milliseconds interval = kDefaultInterval,
               QObject* parent = nullptr);
    ~DriftCheck() override;

    // Checks at each server's first look, then every interval.
    void start();

signals:
    void drift(const WatchEvent& event);
    void logLine(const QByteArray& line);

private:
    void checkAll();
    void check(ServerWatch& watch);

    DesiredState desired_;
    Fleet& fleet_;
    QTimer timer_;
    QHash<QString, std::shared_ptr<ServerChange>> checking_; // by server, while a check runs
    QHash<QString, QStringList> said_;                       // the lines last said, by server
};
