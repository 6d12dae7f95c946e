#pragma once

// `ravelin-cli watch`: every server of a file watched until SIGTERM or
// SIGINT, each event printed and kept in the player store.

#include "cli/terminal_text.h"

#include <QByteArray>
#include <QList>

// `arguments` from the word "watch" on; `argc` and `argv` for the application object.
int watchMain(const QList<QByteArray>& arguments, int& argc, char** argv, const TerminalText& terminal);
