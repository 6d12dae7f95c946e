#include "admin/announce_admin.h"

#include "core/text_cut.h"

namespace announce_admin {

namespace {
QByteArray quoted(const QByteArray& text)
{
    return '"' + text + '"';
}
} // namespace

std::optional<AdminAction> adminMessage(bool toMec, bool toUsmc, const QByteArray& chatName, const QByteArray& message)
{
    const QByteArray text = quoted("Admin: " + chatName + " - " + message);
    if (toMec && !toUsmc)
        return AdminAction{"exec game.sayTeam 1 " + text, "Message sent to MEC/China..."};
    if (toUsmc && !toMec)
        return AdminAction{"exec game.sayTeam 2 " + text, "Message sent to USMC..."};
    if (toMec && toUsmc)
        return AdminAction{"exec game.sayAll " + text, "Message sent to all..."};
    return std::nullopt;
}

QByteArray rowMessage(const QList<QByteArray>& cells)
{
    QByteArray rowText;
    for (const QByteArray& cell : cells)
        rowText += cell + "\r\n";
    return text::slice(rowText, 0, text::find(rowText, '\n') - 1).toByteArray();
}

QByteArray announceCommand(const QByteArray& message)
{
    return "exec game.sayAll " + quoted(message);
}

AnnounceStep stepAnnounceRow(int index, int rowCount)
{
    if (index < 0 || index >= rowCount)
        index = 0;
    const int next = index + 1;
    return {index, next >= rowCount ? 0 : next};
}

QByteArray Announcer::nextCommand(int rowCount, const std::function<QList<QByteArray>(int row)>& cellsOfRow)
{
    const AnnounceStep step = stepAnnounceRow(nextRow_, rowCount);
    nextRow_ = step.nextIndex;
    return announceCommand(rowMessage(cellsOfRow(step.row)));
}

} // namespace announce_admin
