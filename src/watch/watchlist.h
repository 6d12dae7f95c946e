#pragma once

// Players to look out for: by key hash, by address or range of addresses
// (IPv4 or IPv6, "10.1.0.0/16"), or by a pattern their name matches (a
// regular expression, case not mattering, found anywhere in the name unless
// anchored). The store keeps the entries, so that admins who share one share
// the list; this says which of them a player matches.

#include "watch/poll_diff.h"
#include "watch/watch_event.h"

#include <QDateTime>
#include <QHostAddress>
#include <QList>
#include <QRegularExpression>
#include <QString>

#include <optional>

struct WatchEntry
{
    enum class Kind { Hash, Address, Name };

    qint64 id = 0; // the store's number for it; 0 until kept
    Kind kind = Kind::Hash;
    QString pattern; // the hash, the address or range, or the name pattern
    QString note;
    QString addedBy; // the local user who added it
    QDateTime added = QDateTime::currentDateTimeUtc();
};

// The name each kind has in the store: "hash", "address", "name".
QString watchKindName(WatchEntry::Kind kind);
std::optional<WatchEntry::Kind> watchKindFrom(const QString& name);

// Why `entry` cannot be kept: a hash that is not 32 hexadecimal digits, an
// address or range that does not read as one, a pattern that does not
// compile. Empty when it can.
QString watchEntryProblem(const WatchEntry& entry);

class Watchlist
{
public:
    Watchlist() = default;
    // Entries with a problem are left out: they never match.
    explicit Watchlist(const QList<WatchEntry>& entries);

    const QList<WatchEntry>& entries() const { return entries_; }

    // The entries a player matches, in the order given. An empty hash, name
    // or address matches nothing.
    QList<WatchEntry> matches(const QString& hash, const QString& name, const QString& address) const;
    QList<WatchEntry> matches(const SeenPlayer& player) const
    {
        return matches(player.hash, player.name, player.address);
    }
    QList<WatchEntry> matches(const WatchEvent& event) const { return matches(event.hash, event.name, event.address); }

private:
    struct Compiled
    {
        QRegularExpression name;
        QPair<QHostAddress, int> subnet;
    };

    QList<WatchEntry> entries_;
    QList<Compiled> compiled_; // one for each entry
};
