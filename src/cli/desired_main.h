#pragma once

// `ravelin-cli plan`, `apply` and `undo`: a fleet brought to the state a
// desired-state file says, with a snapshot before every change to go back to.

#include "cli/terminal_text.h"

#include <QByteArray>
#include <QList>

// `arguments` from the word "plan", "apply" or "undo" on.
int desiredMain(const QList<QByteArray>& arguments, int& argc, char** argv, const TerminalText& terminal);
