#pragma once

// A ServerState as the JSON text a snapshot is kept as, and back. Every text
// (map names, setting values, bans) is the Windows-1252 reading of its bytes,
// which has one character for every byte, so that any byte a server gave
// comes back exactly.

#include "desired/server_state.h"

#include <QString>

#include <optional>

QString serverStateJson(const ServerState& state);
// Nothing when `json` is not a state this program wrote.
std::optional<ServerState> serverStateFromJson(const QString& json);
