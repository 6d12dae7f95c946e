#pragma once

// What watching a server finds out, poll by poll: the events the watcher
// makes from two successive looks at a server, and the population it samples.
// The store keeps them, `ravelin-cli watch` prints them, rules act on them.
//
// Texts are kept as the characters the window shows for the server's bytes
// (the Windows-1252 table), so that they can be stored and searched as text.

#include <QDateTime>
#include <QString>

#include <optional>

struct WatchEvent
{
    enum class Kind {
        Up,      // the watcher logged in to the server
        Down,    // the connection ended or could not be made; `text` says why
        Join,    // a player is on the server who was not at the last look
        Leave,   // a player is gone
        Rename,  // the same player (by hash) under another name; `previous` holds the old one
        Address, // the same player from another address; `previous` holds the old one
        Map,     // the map changed; `previous` holds the old one, `map` the new
        Ban,     // a ban appeared: `ban` is the key or address, `secondsLeft` its time
        Unban,   // a ban went
        Action,  // this client did something to the server: `text` says what, `outcome` how it went
        Watched,  // a player on the watchlist joined; `text` holds the entry's note
        Rule,     // an automation rule matched a player: `text` is its name, `outcome` its action
        Schedule, // a scheduled job ran: `text` is its name, `outcome` how it went
        Drift,    // the server differs from its desired state: `text` holds the plan's lines, one a line
    };

    Kind kind = Kind::Up;
    QDateTime time;        // in UTC
    QString server;        // the server's name, as the servers file has it
    QString serverAddress; // "host:port"

    // A player's, where the event is about one.
    QString hash;    // the CD-key hash (32 hex digits); empty when the server gives none
    QString name;    // the name now
    QString address; // the address now, without its port
    int playerId = -1;

    QString previous; // the name, address or map before
    QString map;      // Map: the new map

    QString ban;                       // Ban, Unban: the banned key hash or address
    bool banIsAddress = false;         // an address ban rather than a key ban
    std::optional<qint64> secondsLeft; // Ban: time left; none for a permanent or round ban
    QString banPeriod;                 // Ban: "Perm", "Round" or "Time Left: N" as the server says it

    QString text;    // Down: why; Action: what was done; Watched: the watchlist entry's note; Rule, Schedule: the name
    QString outcome; // Action: how it went
    QString user;    // Action: the local user who did it
    bool dryRun = false; // Rule: the action was only said, not done

    // The key a player is followed by: the hash, or for a player without one
    // their name and address.
    QString playerKey() const { return hash.isEmpty() ? QStringLiteral("name:") + name + u'@' + address : hash; }
};

// How full a server was at one look.
struct PopulationSample
{
    QDateTime time; // in UTC
    QString server;
    int players = 0;
    std::optional<int> maxPlayers;
    QString map;
};

// The name each kind of event has in `ravelin-cli watch --json` and in the store.
inline const char* eventName(WatchEvent::Kind kind)
{
    switch (kind) {
    case WatchEvent::Kind::Up: return "up";
    case WatchEvent::Kind::Down: return "down";
    case WatchEvent::Kind::Join: return "join";
    case WatchEvent::Kind::Leave: return "leave";
    case WatchEvent::Kind::Rename: return "rename";
    case WatchEvent::Kind::Address: return "address";
    case WatchEvent::Kind::Map: return "map";
    case WatchEvent::Kind::Ban: return "ban";
    case WatchEvent::Kind::Unban: return "unban";
    case WatchEvent::Kind::Action: return "action";
    case WatchEvent::Kind::Watched: return "watched";
    case WatchEvent::Kind::Rule: return "rule";
    case WatchEvent::Kind::Schedule: return "schedule";
    case WatchEvent::Kind::Drift: return "drift";
    }
    return "unknown";
}
