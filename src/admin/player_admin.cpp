#include "admin/player_admin.h"

#include "core/text_cut.h"

namespace player_admin {

std::optional<QByteArray> playerId(const QByteArray& line)
{
    // After the "Id: " prefix, up to the blank in front of the first "-"; a
    // line whose first "-" is its first character has no such blank.
    const qsizetype dash = text::find(line, '-');
    const QByteArrayView id = text::slice(line, 4, dash >= 1 ? dash - 1 : line.size());
    if (id.isEmpty() || text::find(id, 'C') == id.size() - 1)
        return std::nullopt;
    return id.toByteArray();
}

AdminAction kick(const QByteArray& id)
{
    return {"exec admin.kickplayer " + id, "Player ID " + id + " has been kicked..."};
}

AdminAction banForRound(const QByteArray& id)
{
    return {"exec admin.banplayerkey " + id + " round",
            "Player ID " + id + " has been banned for the rest of the round..."};
}

AdminAction banPermanently(const QByteArray& id)
{
    return {"exec admin.banplayerkey " + id + " perm", "Player ID " + id + " has been permanently banned..."};
}

} // namespace player_admin
