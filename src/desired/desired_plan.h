#pragma once

// What it takes to bring one server from its live state to the wanted one:
// the changes, said for a person and for --json, and the console commands
// that make them, in an order that is safe to send one at a time.
//
// The order: settings; then bans to place (a ban on the server with another
// kind of period is taken off just before it is placed again); then bans to
// lift; then the rotation. The rotation keeps the longest run at the head of
// the wanted list that the live list already holds in that order (other live
// entries may stand between), appends every wanted entry after that run,
// and only then removes the live entries that are not kept, from the highest
// index down, so each index still names the entry meant and the rotation is
// never empty. "mapList.save" comes last, and only when the rotation changed.
//
// Bans are matched by key (in any case) or address. A wanted ban matches a
// live one of the same kind of period: perm with perm, round with round, and
// any timed ban with any timed ban, whatever time it has left, since a file
// says a period to place and a ban already running is that ban. Undo asks
// for times left as well (DesiredServer::matchTimeLeft). Two things cannot be
// done, and are said as such ("!") rather than left out: a round ban cannot
// be put on a list, and a rotation cannot be made empty.

#include "desired/desired_state.h"
#include "desired/server_state.h"

#include <QByteArray>
#include <QJsonArray>
#include <QList>
#include <QString>
#include <QStringList>

// One line of a plan. A rotation entry added is numbered by its place in the
// wanted rotation; one removed, by its place in the live one.
struct PlanChange
{
    enum class Op {
        Add,    // "+"
        Remove, // "-"
        Change, // "~"
        Cannot, // "!": wanted, but the console has no way to do it
    };
    Op op = Op::Change;
    QString what;   // "rotation 3", "sv.ticketRatio", "ban key <hash>", "ban address 10.0.0.1"
    QString before; // empty for an addition: "strike_at_karkand gpm_cq 64", "\"80\"", "3600 s left"
    QString after;  // empty for a removal; for Cannot, the reason

    // "+ rotation 3: dalian_plant gpm_cq 64", "~ sv.ticketRatio: \"80\" -> \"100\"",
    // "+ ban key <hash> perm", "- ban address 10.0.0.1", "! ban key <hash> round: <reason>"
    QString line() const;

    friend bool operator==(const PlanChange&, const PlanChange&) = default;
};

struct ServerPlan
{
    QList<PlanChange> changes;  // empty when the server is as wanted
    QList<QByteArray> commands; // the exact console lines, in the order to send them

    QStringList lines() const;
    // For --json: [{"op": "+"|"-"|"~"|"!", "what": ..., "before": ..., "after": ...}],
    // "before" and "after" left out when empty.
    QJsonArray toJson() const;
};

ServerPlan planFor(const ServerState& live, const DesiredServer& want);

// True when the server holds everything wanted; false while anything would
// change, and while anything wanted cannot be done.
bool satisfies(const ServerState& live, const DesiredServer& want);

// What undo must reach: the snapshot's rotation and settings exactly, its
// bans with the time they had left less the time passed from the snapshot's
// reading to the live one (a timed ban whose time has run out must be
// absent), and every ban on the server now that the snapshot had not,
// absent. Times left are matched.
DesiredServer snapshotAsDesired(const ServerState& snapshot, const ServerState& live);

// "exec sv.serverName \"EU 1\"": the value is quoted when it is empty or
// holds a blank, since the console takes one word otherwise and no word as
// a question for the value.
QByteArray settingCommand(const QByteArray& name, const QByteArray& value);
// "exec mapList.append strike_at_karkand gpm_cq 64"
QByteArray appendMapCommand(const RotationEntry& entry);
