#pragma once

// The "Ban List" tab: which key a selected ban line names, the texts of its
// two questions, and the command and log sentence of each operation.

#include "admin/admin_action.h"

#include <QByteArray>

#include <optional>

namespace ban_admin {

inline constexpr char RefreshCommand[] = "exec admin.listBannedKeys";

// Logged, and nothing else done, when no line is selected or it names no key.
inline constexpr char NoKeySelected[] = "No key selected";

// The input box that asks for a key hash to ban.
inline constexpr char AddKeyBoxTitle[] = "Ravelin";
inline constexpr char AddKeyBoxPrompt[] = "Please enter a cdkey hash to ban";
inline constexpr int AddKeyBoxMaxLength = 255;

// The yes/no box that guards clearing the whole list.
inline constexpr char ClearBoxCaption[] = "Remove Bans";
inline constexpr char ClearBoxText[] = "Are you sure that you want to remove all bans?";

// The key in a stored ban line ("Key: <hash> Perm", "Key: <hash> Round ..."):
// from the sixth character up to the second character before the first "Perm",
// or, when there is no "Perm", before the first "Round"; empty when that word
// stands at position 7 or earlier. Nothing when the line holds neither word:
// no command can be made from it, so the window must not report a removal.
std::optional<QByteArray> banKey(const QByteArray& line);

// The entry is sent as typed, untrimmed, even when empty.
AdminAction addKey(const QByteArray& entry);
// The window takes the selected line out of the list before logging.
AdminAction removeKey(const QByteArray& key);
// The window empties the list before sending.
AdminAction clearAll();

} // namespace ban_admin
