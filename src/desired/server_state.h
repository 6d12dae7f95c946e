#pragma once

// What a desired-state plan compares: the part of a server's state that an
// administrator sets and the stock console can read back and set again, its
// map rotation, the settings named, and its key and address bans. Read from a
// live server, kept as a snapshot before a change, or asked for by the
// desired-state file.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMap>

#include <optional>

// One map of the rotation, as "maplist.list" gives it and "mapList.append"
// takes it: "strike_at_karkand gpm_cq 64".
struct RotationEntry
{
    QByteArray map;
    QByteArray mode;
    int size = 0;

    friend bool operator==(const RotationEntry&, const RotationEntry&) = default;
};

// A key or address ban: for good, for the round, or for a time.
struct StateBan
{
    enum class Period { Perm, Round, Seconds };

    QByteArray ban; // the key hash, or the address
    bool isAddress = false;
    Period period = Period::Perm;
    qint64 seconds = 0; // for Seconds: left at `ServerState::readAt`, or wanted

    friend bool operator==(const StateBan&, const StateBan&) = default;
};

struct ServerState
{
    QList<RotationEntry> rotation;
    // The settings read or wanted, "sv.serverName" -> its value as the server
    // gives it (no quotes). A snapshot holds every setting the plan named.
    QMap<QByteArray, QByteArray> settings;
    QList<StateBan> bans; // key and address bans together
    QDateTime readAt;     // in UTC; when the live state was read

    friend bool operator==(const ServerState&, const ServerState&) = default;
};
