#include "watch/poll_diff.h"

#include "admin/list_fields.h"
#include "core/windows1252.h"

#include <QHash>
#include <QSet>

namespace {

QString shown(const std::optional<QByteArray>& bytes)
{
    return bytes ? windows1252::decode(*bytes) : QString();
}

std::optional<qint64> secondsLeftIn(const QString& period)
{
    static const QString kTimeLeft = QStringLiteral("Time Left:");
    if (!period.startsWith(kTimeLeft))
        return std::nullopt;
    bool ok = false;
    const qint64 seconds = QStringView(period).sliced(kTimeLeft.size()).trimmed().toLongLong(&ok);
    return ok ? std::optional(seconds) : std::nullopt;
}

WatchEvent eventAt(WatchEvent::Kind kind, const LookContext& context)
{
    WatchEvent event;
    event.kind = kind;
    event.time = context.time;
    event.server = context.server;
    event.serverAddress = context.serverAddress;
    return event;
}

WatchEvent eventAbout(WatchEvent::Kind kind, const SeenPlayer& player, const LookContext& context)
{
    WatchEvent event = eventAt(kind, context);
    event.hash = player.hash;
    event.name = player.name;
    event.address = player.address;
    event.playerId = player.id;
    return event;
}

WatchEvent eventAbout(WatchEvent::Kind kind, const SeenBan& ban, const LookContext& context)
{
    WatchEvent event = eventAt(kind, context);
    event.ban = ban.ban;
    event.banIsAddress = ban.isAddress;
    event.banPeriod = ban.period;
    event.secondsLeft = ban.secondsLeft;
    return event;
}

} // namespace

QList<SeenPlayer> playersFrom(const EntryBlock& entries)
{
    QList<SeenPlayer> players;
    players.reserve(entries.size());
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const list_fields::PlayerFields fields = list_fields::playerFields(entries.at(i).toByteArray());
        if (!fields.id && !fields.name)
            continue; // not a player's line
        players.append(
            {fields.id ? int(*fields.id) : -1, shown(fields.name), shown(fields.address), shown(fields.keyHash)});
    }
    return players;
}

QList<SeenBan> keyBansFrom(const EntryBlock& entries)
{
    QList<SeenBan> bans;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const list_fields::BanFields fields = list_fields::banFields(entries.at(i).toByteArray());
        if (!fields.key)
            continue;
        const QString period = shown(fields.period);
        bans.append({shown(fields.key), false, period, secondsLeftIn(period)});
    }
    return bans;
}

QList<SeenBan> addressBansFrom(QByteArrayView text)
{
    QList<SeenBan> bans;
    const QString decoded = windows1252::decode(text);
    for (const QStringView line : QStringView(decoded).split(u'\n')) {
        const qsizetype colon = line.indexOf(u':');
        if (colon < 0)
            continue;
        const QStringView rest = line.sliced(colon + 1).trimmed();
        const qsizetype blank = rest.indexOf(u' ');
        const QString address = (blank < 0 ? rest : rest.first(blank)).toString();
        if (address.isEmpty())
            continue;
        const QString period = blank < 0 ? QString() : rest.sliced(blank + 1).trimmed().toString();
        bans.append({address, true, period, secondsLeftIn(period)});
    }
    return bans;
}

QList<WatchEvent> playerChanges(const std::optional<QList<SeenPlayer>>& before, const QList<SeenPlayer>& now,
                                const LookContext& context)
{
    QList<WatchEvent> events;
    QHash<QString, const SeenPlayer*> earlier;
    if (before) {
        for (const SeenPlayer& player : *before)
            earlier.insert(player.key(), &player);
    }
    QHash<QString, const SeenPlayer*> present;
    for (const SeenPlayer& player : now) {
        const QString key = player.key();
        present.insert(key, &player);
        const SeenPlayer* was = earlier.value(key);
        if (!was) {
            events.append(eventAbout(WatchEvent::Kind::Join, player, context));
            continue;
        }
        if (was->name != player.name) {
            WatchEvent event = eventAbout(WatchEvent::Kind::Rename, player, context);
            event.previous = was->name;
            events.append(event);
        }
        if (was->address != player.address) {
            WatchEvent event = eventAbout(WatchEvent::Kind::Address, player, context);
            event.previous = was->address;
            events.append(event);
        }
    }
    if (before) {
        for (const SeenPlayer& player : *before) {
            if (!present.contains(player.key()))
                events.append(eventAbout(WatchEvent::Kind::Leave, player, context));
        }
    }
    return events;
}

QList<WatchEvent> banChanges(const std::optional<QList<SeenBan>>& before, const QList<SeenBan>& now,
                             const LookContext& context)
{
    const auto keyOfBan = [](const SeenBan& ban) { return (ban.isAddress ? u'a' : u'k') + ban.ban; };
    QList<WatchEvent> events;
    QSet<QString> earlier;
    if (before) {
        for (const SeenBan& ban : *before)
            earlier.insert(keyOfBan(ban));
    }
    QSet<QString> present;
    for (const SeenBan& ban : now) {
        present.insert(keyOfBan(ban));
        if (!earlier.contains(keyOfBan(ban)))
            events.append(eventAbout(WatchEvent::Kind::Ban, ban, context));
    }
    if (before) {
        for (const SeenBan& ban : *before) {
            if (!present.contains(keyOfBan(ban)))
                events.append(eventAbout(WatchEvent::Kind::Unban, ban, context));
        }
    }
    return events;
}
