#pragma once

// Actions on a fleet's players: how long a ban lasts, as typed or chosen,
// and the stock commands that kick, ban and speak to a server.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

namespace fleet_admin {

struct BanDuration
{
    enum class Kind { Round, Permanent, Seconds };
    Kind kind = Kind::Permanent;
    qint64 seconds = 0; // for Seconds

    friend bool operator==(const BanDuration&, const BanDuration&) = default;
};

// The longest timed ban a server takes: its number must fit 31 bits.
inline constexpr qint64 kMaxBanSeconds = 2147483647;

// The durations the Ban window offers, with their captions, in order.
struct BanChoice
{
    const char* caption;
    BanDuration duration;
};
QList<BanChoice> banChoices();

// A duration as an administrator types it: "round", "perm" or "permanent",
// a number of seconds, or a number with a unit ("90s", "30m", "2h", "1d",
// "7 days", "2w"); case and blanks do not matter. Nothing for anything
// else, for zero, and for more than kMaxBanSeconds.
std::optional<BanDuration> parseBanDuration(QStringView text);
// The word the ban commands take: "round", "perm" or the seconds.
QByteArray durationArgument(const BanDuration& duration);
// For a person: "for the rest of the round", "permanently", "for 1 day",
// "for 90 minutes".
QString durationText(const BanDuration& duration);

// "exec admin.kickplayer <id>"
QByteArray kickCommand(int playerId);
// "exec admin.banPlayerKey <id> <seconds|round|perm>": bans the player on
// the server they are on, by their number there.
QByteArray banPlayerCommand(int playerId, const BanDuration& duration);
// "exec admin.addKeyToBanList <hash> <seconds|perm>": bans a key on a server
// the player need not be on. Nothing for a round ban, which only the
// player's own server can give.
std::optional<QByteArray> banKeyCommand(const QByteArray& hash, const BanDuration& duration);
// "exec game.sayAll "<message>"", or nothing when the server would drop so
// long a line.
std::optional<QByteArray> sayAllCommand(const QByteArray& message);

// The reasons offered in the Ban window: one a line of `path` (UTF-8), blank
// lines and lines starting with "#" left out; a few common ones when the
// file is missing or holds none.
QStringList banReasons(const QString& path);

} // namespace fleet_admin
