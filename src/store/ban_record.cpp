#include "store/ban_record.h"

#include <QRegularExpression>

QString banPeriodName(BanRecord::Period period)
{
    switch (period) {
    case BanRecord::Period::Seconds: return QStringLiteral("seconds");
    case BanRecord::Period::Round: return QStringLiteral("round");
    case BanRecord::Period::Perm: return QStringLiteral("perm");
    }
    return {};
}

std::optional<BanRecord::Period> banPeriodFrom(const QString& name)
{
    for (const auto period : {BanRecord::Period::Seconds, BanRecord::Period::Round, BanRecord::Period::Perm}) {
        if (name == banPeriodName(period))
            return period;
    }
    return std::nullopt;
}

QString banDurationText(const BanRecord& record)
{
    if (record.period == BanRecord::Period::Round)
        return QStringLiteral("the round");
    if (record.period == BanRecord::Period::Perm || !record.seconds)
        return QStringLiteral("ever");
    // The largest unit the time is a whole number of.
    struct Unit
    {
        qint64 seconds;
        const char* one;
        const char* many;
    };
    static constexpr Unit units[] = {
        {86400, "day", "days"}, {3600, "hour", "hours"}, {60, "minute", "minutes"}, {1, "second", "seconds"}};
    const qint64 seconds = *record.seconds;
    for (const Unit& unit : units) {
        if (seconds != 0 && seconds % unit.seconds == 0) {
            const qint64 count = seconds / unit.seconds;
            return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? unit.one : unit.many));
        }
    }
    return QStringLiteral("0 seconds");
}

QString banSummary(const BanRecord& record)
{
    const auto when = [](const QDateTime& time) {
        return time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    };
    QString text =
        QStringLiteral("Banned %1 by %2 for %3").arg(when(record.placed), record.placedBy, banDurationText(record));
    if (!record.reason.isEmpty())
        text += QStringLiteral(": ") + record.reason;
    if (record.lifted.isValid()) {
        text += QStringLiteral("; lifted %1 by %2").arg(when(record.lifted), record.liftedBy);
        if (!record.liftReason.isEmpty())
            text += QStringLiteral(": ") + record.liftReason;
    }
    return text;
}

QString banKeyText(const QString& ban)
{
    static const QRegularExpression hash(QStringLiteral("^[0-9A-Fa-f]{32}$"));
    return hash.match(ban).hasMatch() ? ban.toLower() : ban;
}
