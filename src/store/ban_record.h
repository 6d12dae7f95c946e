#pragma once

// A ban this client placed, as the store keeps it: on which server, whom,
// for how long and why, who placed it and when, and, once it is lifted, who
// lifted it, when and why.

#include <QDateTime>
#include <QString>

#include <optional>

struct BanRecord
{
    enum class Period { Seconds, Round, Perm };

    QString server;         // the server's name, as events name it
    QString ban;            // the key hash or the address
    bool isAddress = false; // an address ban rather than a key ban
    QString playerName;     // empty when not known
    Period period = Period::Perm;
    std::optional<qint64> seconds; // Period::Seconds: how long
    QString reason;
    QString message; // what the server told the player; may be empty
    QString placedBy;
    QDateTime placed = QDateTime::currentDateTimeUtc();

    QDateTime lifted; // invalid while the ban stands
    QString liftedBy;
    QString liftReason;
};

// Lifting the latest standing ban of `ban` on `server`.
struct BanLift
{
    QString server;
    QString ban;
    QString by;
    QString why;
    QDateTime time = QDateTime::currentDateTimeUtc();
};

// The name each period has in the store: "seconds", "round", "perm".
QString banPeriodName(BanRecord::Period period);
std::optional<BanRecord::Period> banPeriodFrom(const QString& name);

// How long, in words: "1 day", "90 minutes", "the round", "ever".
QString banDurationText(const BanRecord& record);

// One line for a ban's tooltip: "Banned 2026-12-09 07:10 by ops for 1 day:
// team killing", and how it was lifted, if it was. Times are local.
QString banSummary(const BanRecord& record);

// The form a banned key is kept and looked up in: a key hash in lower case,
// anything else as it is.
QString banKeyText(const QString& ban);
