#pragma once

// The "Map Rotation" tab: the rotation entry a selected line names, the
// commands and log sentences of its operations, and the pause button, whose
// caption is the client's only record of whether the game is paused.

#include "admin/admin_action.h"

#include <QByteArray>

namespace map_admin {

inline constexpr char RefreshCommand[] = "exec maplist.list";

// Logged, and nothing sent, when no map line is selected.
inline constexpr char NoMapSelected[] = "No map selected...";

// The caption the pause button starts with, and shows while the game runs.
inline constexpr char PauseCaption[] = "Pause";

// The entry number of a rotation line ("12: gulf_of_oman ..."): everything in
// front of its first ":"; empty when it has none or begins with one.
QByteArray mapNumber(const QByteArray& line);

// The local map line is sent whole, blanks and all.
AdminAction appendMap(const QByteArray& mapName);
AdminAction removeMap(const QByteArray& mapNumber);
AdminAction saveRotation();
AdminAction runNextMap();
AdminAction restartMap();

struct PauseToggle
{
    QByteArray command;
    QByteArray caption; // the button's new caption
    QByteArray logLine;

    friend bool operator==(const PauseToggle&, const PauseToggle&) = default;
};

// One press of the pause button showing `caption`. The server toggles either
// way; the direction is read from the caption alone, which must be exactly
// "Pause" to mean the game is running.
PauseToggle togglePause(const QByteArray& caption);

} // namespace map_admin
