#pragma once

// The "Other" tab's demo recorder. The typed console command needs no rule:
// it is sent exactly as typed, without "exec " in front.

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

} // namespace console_admin
