#pragma once

// The "Player List" tab: which player a selected list line names, and the
// command and log sentence of each action taken on that player.

#include "admin/admin_action.h"

#include <QByteArray>

#include <optional>

namespace player_admin {

inline constexpr char RefreshCommand[] = "exec admin.listplayers";

// Logged, and nothing else done, when no line is selected or it names no player.
inline constexpr char NoPlayerSelected[] = "No player selected";

// The player id in a stored player line ("Id:  3 - Name ...CD-key hash: ..."):
// from the fifth character up to, not including, the character in front of the
// first "-". The id is sent as it stands, blanks included (" 3" above).
// Nothing when the id is empty, or when its first capital "C" is its last
// character: then the first "-" was the one of "CD-key", and the line holds no
// id of its own.
std::optional<QByteArray> playerId(const QByteArray& line);

// The window takes the selected line out of the list after logging a kick and
// before logging either ban.
AdminAction kick(const QByteArray& id);
AdminAction banForRound(const QByteArray& id);
AdminAction banPermanently(const QByteArray& id);

} // namespace player_admin
