#pragma once

// The one rule for keeping the console password out of what the program
// shows, copies or keeps. The password is blotted out where it stands as the
// password: the argument of a typed login, a login digest, or the password as
// a word of its own. Inside another word it is left alone, so that a short
// password does not riddle the log with asterisks.

#include <QByteArray>
#include <QByteArrayView>

namespace secrets {

// What stands in for a secret.
inline constexpr QByteArrayView kBlot = "********";

// True when `line` is a login command: after any blanks, the word "login" in
// any case, alone or followed by a blank.
bool isLoginCommand(QByteArrayView line);

// `line` with its secrets made kBlot: the whole argument of a login command;
// the 32 hexadecimal digits of a digest after the word "login"; and
// `password`, when it is not empty, wherever no letter, digit, '_' or byte
// above 127 adjoins it.
QByteArray blotSecrets(QByteArrayView line, QByteArrayView password);

// True when `line` is a login command or holds a secret that blotSecrets
// would blot out.
bool holdsSecret(QByteArrayView line, QByteArrayView password);

// Keeps the process's memory, which holds the password and the login digest,
// out of core dumps for the rest of its life: no core file, and no other
// process of the same user may attach to it. Called first thing by each
// program; false when the system refused either step.
bool keepOutOfCoreDumps();

} // namespace secrets
