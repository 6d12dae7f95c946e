#include "admin/player_admin.h"

#include "core/text_cut.h"

namespace player_admin {

std::optional<QByteArray> PlayerIdOf(const QByteArray& line)
{
    QByteArray text = line;
    // The id ends one blank before the "-" that separates it from the name.
    const qsizetype dash = text::Pos('-', text);
    if (dash >= 2)
        text::Delete(text, dash - 1, text.size());
    // Past the "Id: " prefix.
    QByteArray id = text::Copy(text, 5, text.size());
    if (text::Pos('C', id) == id.size())
        return std::nullopt;
    return id;
}

AdminAction Kick(const QByteArray& id)
{
    return {"exec admin.kickplayer " + id, "Player ID " + id + " has been kicked..."};
}

AdminAction BanForRound(const QByteArray& id)
{
    return {"exec admin.banplayerkey " + id + " round",
            "Player ID " + id + " has been banned for the rest of the round..."};
}

AdminAction BanPermanently(const QByteArray& id)
{
    return {"exec admin.banplayerkey " + id + " perm", "Player ID " + id + " has been permanently banned..."};
}

} // namespace player_admin
