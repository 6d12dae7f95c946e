#pragma once

// The ban-list reply the reader benchmarks feed through: the size a large
// server's list reaches, in the shape the console prints it.

#include <QByteArray>
#include <QList>

inline constexpr int kBanLines = 100000;

// `lines` lines of "Key: " + 32 hex digits + " Perm" or " Round", each ended by
// 0x0A, then the closing 0x04. The same count always gives the same bytes.
QByteArray banListReply(int lines = kBanLines);
// The same, made once per count and kept for the life of the process.
const QByteArray& banListReplyOf(int lines);

// `bytes` cut into reads of `readSize` bytes, the last one shorter.
QList<QByteArray> cutIntoReads(const QByteArray& bytes, qsizetype readSize);
