#include "admin/announce_admin.h"

#include "core/text_cut.h"

namespace announce_admin {

namespace {
QByteArray Quoted(const QByteArray& text)
{
    return '"' + text + '"';
}
} // namespace

std::optional<AdminAction> AdminMessage(bool toMec, bool toUsmc, const QByteArray& chatName, const QByteArray& message)
{
    const QByteArray text = Quoted("Admin: " + chatName + " - " + message);
    if (toMec && !toUsmc)
        return AdminAction{"exec game.sayTeam 1 " + text, "Message sent to MEC/China..."};
    if (toUsmc && !toMec)
        return AdminAction{"exec game.sayTeam 2 " + text, "Message sent to USMC..."};
    if (toMec && toUsmc)
        return AdminAction{"exec game.sayAll " + text, "Message sent to all..."};
    return std::nullopt;
}

QByteArray RowMessage(const QList<QByteArray>& cells)
{
    QByteArray rowText;
    for (const QByteArray& cell : cells)
        rowText += cell + "\r\n";
    return text::Copy(rowText, 1, text::Pos('\n', rowText) - 2);
}

QByteArray AnnounceCommand(const QByteArray& message)
{
    return "exec game.sayAll " + Quoted(message);
}

AnnounceStep StepAnnounceRow(int index, int rowCount)
{
    if (index < 0 || index >= rowCount)
        index = 0;
    const int next = index + 1;
    return {index, next >= rowCount ? 0 : next};
}

} // namespace announce_admin
