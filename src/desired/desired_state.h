#pragma once

// The desired-state file: what a fleet's servers should hold, as defaults
// for every server and overrides for some, by name:
//
//   [defaults]
//   rotation = [["strike_at_karkand", "gpm_cq", 64], ["dalian_plant", "gpm_cq", 64]]
//   settings = { "sv.serverName" = "Fleet server", "sv.ticketRatio" = "100" }
//   bans.keys = [{ key = "0123456789abcdef0123456789abcdef", time = "perm" }]
//   bans.addresses = [{ address = "10.0.0.1", absent = true }]
//
//   [server."EU 1"]
//   settings = { "sv.serverName" = "EU 1" }
//
// It is read whole, like the automation file: every fault is a problem with
// its line and column, keys the file does not know are problems, and a file
// with a problem gives nothing to plan with.

#include "core/file_problem.h"
#include "desired/server_state.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

// How far a timed ban's time left may be from the wanted seconds and still
// match, when times left are matched: both are counted at the moment the
// live state was read, so this covers only the listing's own delay.
inline constexpr qint64 kTimeLeftTolerance = 10;

// What one server should hold. Only what is named is compared: a server
// with no rotation said keeps its own, and settings and bans not named are
// left alone.
struct DesiredServer
{
    std::optional<QList<RotationEntry>> rotation; // never empty when set from a file
    QMap<QByteArray, QByteArray> settings;        // "sv.serverName" -> value, no quotes
    QList<StateBan> bansPresent;                  // with the period to place
    QList<StateBan> bansAbsent;                   // only `ban` and `isAddress` count
    // When set, a timed ban on the server matches a wanted timed ban only when
    // its time left is within kTimeLeftTolerance of the wanted seconds. Undo
    // sets it, since it restores bans with the time they had left; a file
    // says a period to place, and a timed ban already running satisfies it.
    bool matchTimeLeft = false;

    friend bool operator==(const DesiredServer&, const DesiredServer&) = default;
};

// A [server."NAME"] table, with where it stands, so that a name the servers
// file does not have can be reported at its place.
struct DesiredOverride
{
    QString name;
    int line = 0;
    int column = 0;
    DesiredServer want;
};

struct DesiredState
{
    DesiredServer defaults;
    QList<DesiredOverride> overrides; // as written, in file order

    // The names the file has a [server."NAME"] table for.
    QStringList serverNames() const;
    // What the named server should be: its override over the defaults. The
    // override's rotation replaces the default's whole; its settings replace
    // the default's of the same name (in any case, as the console takes
    // them), and its bans, present or absent, the default's for the same key
    // or address.
    DesiredServer desiredFor(const QString& serverName) const;
};

struct DesiredStateRead
{
    DesiredState state; // empty when there are problems
    QList<FileProblem> problems;
};

DesiredStateRead readDesiredState(const QByteArray& text);
// Reads the file at `path`; a file that cannot be read, or is larger than
// 4 MiB, is one problem without a place.
DesiredStateRead readDesiredStateFile(const QString& path);
