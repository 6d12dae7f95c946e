#pragma once

// The password is kept in settings.ini scrambled, not encrypted: the low four
// bits of each character are XORed with those of a fixed 15-character key.
// The scrambling is its own inverse, keeps the length and keeps every
// character in its block of 16 codes. It only keeps the password from being
// read at a glance; the file's mode does the protecting.

#include <QByteArray>

// The 15-character key, assembled from characters stored one by one, so the
// whole key never appears as one piece in the program.
QByteArray scrambleKey();

// The scrambled form of `plain`; the key is cleared before returning.
QByteArray scramble(const QByteArray& plain);

// The plain form of `scrambled`: the same transformation as scramble.
QByteArray unscramble(const QByteArray& scrambled);
