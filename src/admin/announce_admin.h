#pragma once

// The "Server Announcements" tab: the signed admin message to one team or
// both, and the announcer that sends the rows of its table in turn.

#include "admin/admin_action.h"

#include <QByteArray>
#include <QList>

#include <functional>
#include <optional>

namespace announce_admin {

// "Admin: <chat name> - <message>" in double quotes, to team 1 (MEC/China)
// when only `toMec`, to team 2 (USMC) when only `toUsmc`, to all when both.
// Nothing is escaped; an empty chat name or message goes out empty. Nothing to
// send or log when neither team is chosen.
std::optional<AdminAction> adminMessage(bool toMec, bool toUsmc, const QByteArray& chatName, const QByteArray& message);

// The message of a table row, given the row's cells from the first column on:
// the text of its first cell (empty when there is none). Taken from the row's
// text, each cell followed by CR LF, as everything in front of its first LF
// less the one character before it.
QByteArray rowMessage(const QList<QByteArray>& cells);

// The command that announces `message` to all players; an empty row is
// announced too, as an empty quoted text.
QByteArray announceCommand(const QByteArray& message);

struct AnnounceStep
{
    int row;       // the row to send now
    int nextIndex; // the row index to keep for the next tick

    friend bool operator==(const AnnounceStep&, const AnnounceStep&) = default;
};

// One sending tick of the announcer, from the kept row index and the table's
// current row count. An index the table has shrunk below starts over at row 0;
// after the last row the index wraps to 0.
AnnounceStep stepAnnounceRow(int index, int rowCount);

// The announcer's place in its table, kept from one tick to the next: across
// disconnects, reconnects and switching the announcer off and on.
class Announcer
{
public:
    // The command of a tick that sends: the row at the kept place (or row 0
    // when the table has shrunk below it), and the place moves on one row.
    QByteArray nextCommand(int rowCount, const std::function<QList<QByteArray>(int row)>& cellsOfRow);

    int nextRow() const { return nextRow_; }

private:
    int nextRow_ = 0;
};

} // namespace announce_admin
