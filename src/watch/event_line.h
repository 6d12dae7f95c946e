#pragma once

// One event of `ravelin-cli watch` as a line: words for a person reading the
// terminal or the journal, or one JSON object with at least "time", "server"
// and "event", and the player's "hash", "name" and "address" where they apply.

#include "watch/watch_event.h"

#include <QByteArray>

// UTF-8, with its line feed.
QByteArray eventText(const WatchEvent& event);
QByteArray eventJson(const WatchEvent& event);
