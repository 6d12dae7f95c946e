#pragma once

// What the practice server's replies and records look like to a test.

#include <QByteArray>
#include <QList>

#include <algorithm>

// The wire form of a command as the server records it: 0x02 then the text.
inline QByteArray framed(const QByteArray& command)
{
    return '\x02' + command;
}

// The entries a list keeps for a listing of the practice server: one per
// line, or for players one per two lines joined.
inline QList<QByteArray> listingEntries(const QByteArray& listing, bool pairs)
{
    QList<QByteArray> lines = listing.split('\n');
    lines.removeLast();
    if (!pairs)
        return lines;
    QList<QByteArray> joined;
    for (qsizetype i = 0; i + 1 < lines.size(); i += 2)
        joined.append(lines[i] + lines[i + 1]);
    return joined;
}

// The entries in byte order, as the sorted player list keeps them.
inline QList<QByteArray> sorted(QList<QByteArray> lines)
{
    std::stable_sort(lines.begin(), lines.end());
    return lines;
}
