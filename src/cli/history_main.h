#pragma once

// `ravelin-cli history QUERY`: what the player store knows of the players a
// name fragment, a hash or an address finds.

#include "cli/terminal_text.h"

#include <QByteArray>
#include <QList>

// `arguments` from the word "history" on.
int historyMain(const QList<QByteArray>& arguments, int& argc, char** argv, const TerminalText& terminal);
