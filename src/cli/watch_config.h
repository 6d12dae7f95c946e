#pragma once

// ~/.config/ravelin/watch.conf: what the watch service reads, so that its
// unit names no file and holds no password. One setting a line, "key = value";
// "#" starts a comment line, blank lines are skipped:
//
//     servers = ~/.config/ravelin/servers.txt
//     automation = ~/.config/ravelin/automation.toml
//     desired = ~/.config/ravelin/desired.toml
//     database = postgresql://ravelin@db.example.org/ravelin
//     interval = 15
//     retention-days = 365
//
// A relative servers, automation or desired path is found beside the file; "~/" is the home folder.

#include <QByteArray>
#include <QString>

#include <chrono>
#include <optional>

struct WatchConfig
{
    QString servers;
    QString automation;
    QString desired;
    std::optional<QString> database;
    std::optional<std::chrono::milliseconds> interval;
    std::optional<int> retentionDays;
    QByteArray error; // "FILE:LINE: what is wrong", or empty
};

WatchConfig parseWatchConfig(QByteArrayView text, const QString& path);
WatchConfig readWatchConfig(const QString& path);
