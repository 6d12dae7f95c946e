#pragma once

// What two successive looks at a server tell: the players who came, went,
// renamed or moved, and the bans that appeared or went. A player is followed
// by their CD-key hash; one without a hash by their name and address
// together, so a rename or a move of theirs shows as a leave and a join.

#include "core/entry_block.h"
#include "watch/watch_event.h"

#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

struct SeenPlayer
{
    int id = -1;
    QString name;
    QString address; // without the port
    QString hash;    // empty when the server gives none

    // The key the player is followed by, as WatchEvent::playerKey() has it.
    QString key() const { return hash.isEmpty() ? QStringLiteral("name:") + name + u'@' + address : hash; }
};

struct SeenBan
{
    QString ban; // the key hash or the address
    bool isAddress = false;
    QString period;                    // as the server says it: "Perm", "Round", "Time Left: 1800"
    std::optional<qint64> secondsLeft; // from a "Time Left" period
};

// The players of an "exec admin.listPlayers" reply's entries.
QList<SeenPlayer> playersFrom(const EntryBlock& entries);
// The key bans of an "exec admin.listBannedKeys" reply's entries.
QList<SeenBan> keyBansFrom(const EntryBlock& entries);
// The address bans of an "exec admin.listBannedAddresses" reply's text, one
// a line: a label and a colon, the address, and its period.
QList<SeenBan> addressBansFrom(QByteArrayView text);

// Where and when the looks were taken, for the events made from them.
struct LookContext
{
    QDateTime time;
    QString server;
    QString serverAddress;
};

// Join, Leave, Rename and Address events from `before` to `now`. With no
// look before, every player present joins.
QList<WatchEvent> playerChanges(const std::optional<QList<SeenPlayer>>& before, const QList<SeenPlayer>& now,
                                const LookContext& context);
// Ban and Unban events from `before` to `now`; a ban whose period changed
// (its time running down) is the same ban. With no look before, every ban
// present appears.
QList<WatchEvent> banChanges(const std::optional<QList<SeenBan>>& before, const QList<SeenBan>& now,
                             const LookContext& context);
