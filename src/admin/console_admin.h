#pragma once

// The "Other" tab's demo recorder. The typed console command needs no rule:
// it is sent exactly as typed, without "exec " in front; the audit log learns
// what it does from typedAction.

#include "admin/admin_action.h"

#include <QByteArray>

#include <optional>

namespace console_admin {

// Logged, and nothing sent, when Record is pressed without a demo name.
inline constexpr char DemoNameMissing[] = "Please enter a name for your demo...";

// Starts recording under `demoName`, sent unchanged (blanks only included);
// nothing when the name is empty.
std::optional<AdminAction> recordDemo(const QByteArray& demoName);
AdminAction stopRecording();

// The audit record of a typed command that kicks, bans, unbans, clears a
// list, changes the map or its rotation, or chats ("Ban typed in the console:
// exec admin.banPlayer 2 round"); nothing for any other command. Names are
// matched in any case, with or without "exec" in front.
std::optional<QByteArray> typedAction(const QByteArray& command);

} // namespace console_admin
