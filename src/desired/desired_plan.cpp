#include "desired/desired_plan.h"

#include "core/windows1252.h"

#include <QJsonObject>

#include <algorithm>

namespace {

using Op = PlanChange::Op;

QString entryText(const RotationEntry& entry)
{
    return windows1252::decode(entry.map + ' ' + entry.mode + ' ' + QByteArray::number(entry.size));
}

QString quoted(const QByteArray& value)
{
    return u'"' + windows1252::decode(value) + u'"';
}

QString banWhat(const StateBan& ban)
{
    return (ban.isAddress ? QStringLiteral("ban address ") : QStringLiteral("ban key ")) + windows1252::decode(ban.ban);
}

// A ban's period as the server has it: "perm", "round", "3600 s left".
QString liveText(const StateBan& ban)
{
    switch (ban.period) {
    case StateBan::Period::Perm: return QStringLiteral("perm");
    case StateBan::Period::Round: return QStringLiteral("round");
    case StateBan::Period::Seconds: break;
    }
    return QStringLiteral("%1 s left").arg(ban.seconds);
}

// A ban's period as it is to be placed: "perm", "round", "3600 s".
QString wantedText(const StateBan& ban)
{
    return ban.period == StateBan::Period::Seconds ? QStringLiteral("%1 s").arg(ban.seconds) : liveText(ban);
}

bool sameBan(const StateBan& a, const StateBan& b)
{
    return a.isAddress == b.isAddress && a.ban.compare(b.ban, Qt::CaseInsensitive) == 0;
}

bool periodMatches(const StateBan& live, const StateBan& wanted, bool matchTimeLeft)
{
    if (live.period != wanted.period)
        return false;
    return live.period != StateBan::Period::Seconds || !matchTimeLeft
        || std::abs(live.seconds - wanted.seconds) <= kTimeLeftTolerance;
}

QByteArray addBanCommand(const StateBan& ban)
{
    const QByteArray period = ban.period == StateBan::Period::Seconds ? QByteArray::number(ban.seconds) : "perm";
    return (ban.isAddress ? "exec admin.addAddressToBanList " : "exec admin.addKeyToBanList ") + ban.ban + ' ' + period;
}

QByteArray removeBanCommand(const StateBan& ban)
{
    return (ban.isAddress ? "exec admin.removeAddressFromBanList " : "exec admin.removeKeyFromBanList ") + ban.ban;
}

void planSettings(const ServerState& live, const DesiredServer& want, ServerPlan& plan)
{
    for (auto wanted = want.settings.cbegin(); wanted != want.settings.cend(); ++wanted) {
        // The reader may have kept the name as the server spelt it.
        auto found = live.settings.constFind(wanted.key());
        for (auto other = live.settings.cbegin(); found == live.settings.cend() && other != live.settings.cend();
             ++other) {
            if (other.key().compare(wanted.key(), Qt::CaseInsensitive) == 0)
                found = other;
        }
        if (found != live.settings.cend() && found.value() == wanted.value())
            continue;
        const QString before = found != live.settings.cend() ? quoted(found.value()) : QStringLiteral("(not read)");
        plan.changes.append({Op::Change, QString::fromLatin1(wanted.key()), before, quoted(wanted.value())});
        plan.commands.append(settingCommand(wanted.key(), wanted.value()));
    }
}

void planBans(const ServerState& live, const DesiredServer& want, ServerPlan& plan)
{
    const auto liveBan = [&](const StateBan& ban) -> const StateBan* {
        const auto found = std::find_if(live.bans.cbegin(), live.bans.cend(),
                                        [&](const StateBan& b) { return sameBan(b, ban); });
        return found == live.bans.cend() ? nullptr : &*found;
    };
    for (const StateBan& wanted : want.bansPresent) {
        const StateBan* now = liveBan(wanted);
        if (now && periodMatches(*now, wanted, want.matchTimeLeft))
            continue;
        if (wanted.period == StateBan::Period::Round) {
            // Only the player's own server can ban for the round. The ban on
            // the server, if any, stays: lifting it would leave none at all.
            plan.changes.append({Op::Cannot, banWhat(wanted), now ? liveText(*now) : QString(),
                                 QStringLiteral("a round ban cannot be put on a list")});
            continue;
        }
        if (now) {
            plan.changes.append({Op::Change, banWhat(wanted), liveText(*now), wantedText(wanted)});
            plan.commands.append(removeBanCommand(*now));
        } else {
            plan.changes.append({Op::Add, banWhat(wanted), QString(), wantedText(wanted)});
        }
        plan.commands.append(addBanCommand(wanted));
    }
    for (const StateBan& unwanted : want.bansAbsent) {
        if (const StateBan* now = liveBan(unwanted)) {
            plan.changes.append({Op::Remove, banWhat(*now), liveText(*now), QString()});
            plan.commands.append(removeBanCommand(*now));
        }
    }
}

void planRotation(const ServerState& live, const DesiredServer& want, ServerPlan& plan)
{
    if (!want.rotation)
        return;
    const QList<RotationEntry>& wanted = *want.rotation;
    if (wanted.isEmpty()) {
        if (!live.rotation.isEmpty())
            plan.changes.append({Op::Cannot, QStringLiteral("rotation"), QString(),
                                 QStringLiteral("the rotation cannot be made empty")});
        return;
    }
    // Keep the live entries that spell out the head of the wanted list in
    // order; taking each at its first chance keeps the longest such head.
    qsizetype kept = 0;
    QList<qsizetype> removed;
    for (qsizetype i = 0; i < live.rotation.size(); ++i) {
        if (kept < wanted.size() && live.rotation[i] == wanted[kept])
            ++kept;
        else
            removed.append(i);
    }
    if (kept == wanted.size() && removed.isEmpty())
        return;
    for (qsizetype i = kept; i < wanted.size(); ++i) {
        plan.changes.append({Op::Add, QStringLiteral("rotation %1").arg(i), QString(), entryText(wanted[i])});
        plan.commands.append(appendMapCommand(wanted[i]));
    }
    for (const qsizetype i : removed)
        plan.changes.append({Op::Remove, QStringLiteral("rotation %1").arg(i), entryText(live.rotation[i]), QString()});
    // The appended entries stand after every live one, and removing from the
    // highest index down leaves the lower indexes naming what they named.
    for (auto i = removed.crbegin(); i != removed.crend(); ++i)
        plan.commands.append("exec mapList.remove " + QByteArray::number(*i));
    plan.commands.append("exec mapList.save");
}

} // namespace

QString PlanChange::line() const
{
    const bool ban = what.startsWith(u"ban ");
    const QString separator = ban ? QStringLiteral(" ") : QStringLiteral(": ");
    switch (op) {
    case Op::Add: return QStringLiteral("+ ") + what + separator + after;
    case Op::Remove: return QStringLiteral("- ") + what + (ban ? QString() : separator + before);
    case Op::Change: return QStringLiteral("~ ") + what + separator + before + QStringLiteral(" -> ") + after;
    case Op::Cannot: return QStringLiteral("! ") + what + QStringLiteral(": ") + after;
    }
    return {};
}

QStringList ServerPlan::lines() const
{
    QStringList lines;
    for (const PlanChange& change : changes)
        lines.append(change.line());
    return lines;
}

QJsonArray ServerPlan::toJson() const
{
    QJsonArray array;
    for (const PlanChange& change : changes) {
        static const char* const ops[] = {"+", "-", "~", "!"};
        QJsonObject item{{QStringLiteral("op"), QLatin1String(ops[int(change.op)])},
                         {QStringLiteral("what"), change.what}};
        if (!change.before.isEmpty())
            item.insert(QStringLiteral("before"), change.before);
        if (!change.after.isEmpty())
            item.insert(QStringLiteral("after"), change.after);
        array.append(item);
    }
    return array;
}

ServerPlan planFor(const ServerState& live, const DesiredServer& want)
{
    ServerPlan plan;
    planSettings(live, want, plan);
    planBans(live, want, plan);
    planRotation(live, want, plan);
    return plan;
}

bool satisfies(const ServerState& live, const DesiredServer& want)
{
    return planFor(live, want).changes.isEmpty();
}

DesiredServer snapshotAsDesired(const ServerState& snapshot, const ServerState& live)
{
    DesiredServer want;
    want.rotation = snapshot.rotation;
    want.settings = snapshot.settings;
    want.matchTimeLeft = true;
    // A reading without a time counts as no time passed.
    const qint64 passed = snapshot.readAt.isValid() && live.readAt.isValid()
        ? std::max<qint64>(0, snapshot.readAt.secsTo(live.readAt))
        : 0;
    for (StateBan ban : snapshot.bans) {
        if (ban.period == StateBan::Period::Seconds) {
            ban.seconds -= passed;
            if (ban.seconds <= 0) {
                want.bansAbsent.append(ban);
                continue;
            }
        }
        want.bansPresent.append(ban);
    }
    for (const StateBan& ban : live.bans) {
        if (std::none_of(snapshot.bans.cbegin(), snapshot.bans.cend(),
                         [&](const StateBan& b) { return sameBan(b, ban); }))
            want.bansAbsent.append(ban);
    }
    return want;
}

QByteArray settingCommand(const QByteArray& name, const QByteArray& value)
{
    const bool quote = value.isEmpty() || value.contains(' ') || value.contains('\t');
    return "exec " + name + ' ' + (quote ? '"' + value + '"' : value);
}

QByteArray appendMapCommand(const RotationEntry& entry)
{
    return "exec mapList.append " + entry.map + ' ' + entry.mode + ' ' + QByteArray::number(entry.size);
}
