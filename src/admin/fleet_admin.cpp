#include "admin/fleet_admin.h"

#include "admin/announce_admin.h"
#include "admin/player_admin.h"
#include "core/counted.h"
#include "session/console_session.h"

#include <QFile>
#include <QRegularExpression>

namespace fleet_admin {

namespace {
constexpr qint64 kMinute = 60;
constexpr qint64 kHour = 60 * kMinute;
constexpr qint64 kDay = 24 * kHour;
constexpr qint64 kWeek = 7 * kDay;

} // namespace

QList<BanChoice> banChoices()
{
    using K = BanDuration::Kind;
    return {{"For the rest of the round", {K::Round, 0}},
            {"1 hour", {K::Seconds, kHour}},
            {"1 day", {K::Seconds, kDay}},
            {"7 days", {K::Seconds, 7 * kDay}},
            {"30 days", {K::Seconds, 30 * kDay}},
            {"Permanently", {K::Permanent, 0}}};
}

std::optional<BanDuration> parseBanDuration(QStringView text)
{
    const QString word = text.trimmed().toString().toLower();
    if (word == u"round")
        return BanDuration{BanDuration::Kind::Round, 0};
    if (word == u"perm" || word == u"permanent" || word == u"permanently")
        return BanDuration{BanDuration::Kind::Permanent, 0};
    static const QRegularExpression pattern(QStringLiteral("^([0-9]{1,12})\\s*([a-z]*)$"));
    const QRegularExpressionMatch match = pattern.match(word);
    if (!match.hasMatch())
        return std::nullopt;
    const qint64 number = match.captured(1).toLongLong();
    const QString unit = match.captured(2);
    qint64 scale = 0;
    if (unit.isEmpty() || unit == u"s" || unit == u"sec" || unit == u"second" || unit == u"seconds")
        scale = 1;
    else if (unit == u"m" || unit == u"min" || unit == u"minute" || unit == u"minutes")
        scale = kMinute;
    else if (unit == u"h" || unit == u"hour" || unit == u"hours")
        scale = kHour;
    else if (unit == u"d" || unit == u"day" || unit == u"days")
        scale = kDay;
    else if (unit == u"w" || unit == u"week" || unit == u"weeks")
        scale = kWeek;
    if (scale == 0 || number == 0 || number > kMaxBanSeconds / scale)
        return std::nullopt;
    return BanDuration{BanDuration::Kind::Seconds, number * scale};
}

QByteArray durationArgument(const BanDuration& duration)
{
    switch (duration.kind) {
    case BanDuration::Kind::Round: return "round";
    case BanDuration::Kind::Permanent: return "perm";
    case BanDuration::Kind::Seconds: break;
    }
    return QByteArray::number(duration.seconds);
}

QString durationText(const BanDuration& duration)
{
    switch (duration.kind) {
    case BanDuration::Kind::Round: return QStringLiteral("for the rest of the round");
    case BanDuration::Kind::Permanent: return QStringLiteral("permanently");
    case BanDuration::Kind::Seconds: break;
    }
    const qint64 s = duration.seconds;
    if (s % kDay == 0)
        return QStringLiteral("for ") + counted(s / kDay, "day", "days");
    if (s % kHour == 0)
        return QStringLiteral("for ") + counted(s / kHour, "hour", "hours");
    if (s % kMinute == 0)
        return QStringLiteral("for ") + counted(s / kMinute, "minute", "minutes");
    return QStringLiteral("for ") + counted(s, "second", "seconds");
}

QByteArray kickCommand(int playerId)
{
    return player_admin::kick(QByteArray::number(playerId)).command;
}

QByteArray banPlayerCommand(int playerId, const BanDuration& duration)
{
    return "exec admin.banPlayerKey " + QByteArray::number(playerId) + ' ' + durationArgument(duration);
}

std::optional<QByteArray> banKeyCommand(const QByteArray& hash, const BanDuration& duration)
{
    if (duration.kind == BanDuration::Kind::Round)
        return std::nullopt;
    return "exec admin.addKeyToBanList " + hash + ' ' + durationArgument(duration);
}

std::optional<QByteArray> sayAllCommand(const QByteArray& message)
{
    QByteArray command = announce_admin::announceCommand(message);
    if (command.size() > ConsoleSession::kMaxCommandLength)
        return std::nullopt;
    return command;
}

QStringList banReasons(const QString& path)
{
    QStringList reasons;
    QFile file(path);
    // Templates are a few short lines: more than 64 KiB is not read.
    if (!path.isEmpty() && file.open(QIODevice::ReadOnly)) {
        const QStringList lines = QString::fromUtf8(file.read(64 * 1024)).split(u'\n');
        for (const QString& text : lines) {
            const QString line = text.trimmed();
            if (!line.isEmpty() && !line.startsWith(u'#') && !reasons.contains(line))
                reasons.append(line);
        }
    }
    if (reasons.isEmpty())
        reasons = {QStringLiteral("team killing"), QStringLiteral("cheating"), QStringLiteral("abusive language"),
                   QStringLiteral("ban evasion")};
    return reasons;
}

} // namespace fleet_admin
