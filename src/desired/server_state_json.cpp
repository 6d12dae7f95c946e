#include "desired/server_state_json.h"

#include "core/windows1252.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

namespace {

QString textOf(const QByteArray& bytes)
{
    return windows1252::decode(bytes);
}

// The bytes a text stands for; a character outside the table, or a value
// that is not a text, makes the whole state unreadable.
std::optional<QByteArray> bytesOf(const QJsonValue& value)
{
    if (!value.isString())
        return std::nullopt;
    return windows1252::encode(value.toString());
}

const char* periodName(StateBan::Period period)
{
    switch (period) {
    case StateBan::Period::Perm: return "perm";
    case StateBan::Period::Round: return "round";
    case StateBan::Period::Seconds: return "seconds";
    }
    return "perm";
}

std::optional<StateBan::Period> periodNamed(const QString& name)
{
    if (name == QLatin1String("perm"))
        return StateBan::Period::Perm;
    if (name == QLatin1String("round"))
        return StateBan::Period::Round;
    if (name == QLatin1String("seconds"))
        return StateBan::Period::Seconds;
    return std::nullopt;
}

} // namespace

QString serverStateJson(const ServerState& state)
{
    QJsonArray rotation;
    for (const RotationEntry& entry : state.rotation)
        rotation.append(QJsonObject{{"map", textOf(entry.map)}, {"mode", textOf(entry.mode)}, {"size", entry.size}});
    QJsonObject settings;
    for (auto it = state.settings.cbegin(); it != state.settings.cend(); ++it)
        settings.insert(textOf(it.key()), textOf(it.value()));
    QJsonArray bans;
    for (const StateBan& ban : state.bans) {
        bans.append(QJsonObject{{"ban", textOf(ban.ban)},
                                {"address", ban.isAddress},
                                {"period", QLatin1String(periodName(ban.period))},
                                {"seconds", ban.seconds}});
    }
    QJsonObject root{{"rotation", rotation}, {"settings", settings}, {"bans", bans}};
    if (state.readAt.isValid())
        root.insert("readAt", state.readAt.toMSecsSinceEpoch());
    return QString::fromUtf8(QJsonDocument(root).toJson(QJsonDocument::Compact));
}

std::optional<ServerState> serverStateFromJson(const QString& json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject root = document.object();
    ServerState state;
    for (const QJsonValue& value : root.value("rotation").toArray()) {
        const QJsonObject entry = value.toObject();
        const std::optional<QByteArray> map = bytesOf(entry.value("map"));
        const std::optional<QByteArray> mode = bytesOf(entry.value("mode"));
        if (!map || !mode || !entry.value("size").isDouble())
            return std::nullopt;
        state.rotation.append({*map, *mode, entry.value("size").toInt()});
    }
    const QJsonObject settings = root.value("settings").toObject();
    for (auto it = settings.constBegin(); it != settings.constEnd(); ++it) {
        const std::optional<QByteArray> name = windows1252::encode(it.key());
        const std::optional<QByteArray> value = bytesOf(it.value());
        if (!name || !value)
            return std::nullopt;
        state.settings.insert(*name, *value);
    }
    for (const QJsonValue& value : root.value("bans").toArray()) {
        const QJsonObject entry = value.toObject();
        const std::optional<QByteArray> ban = bytesOf(entry.value("ban"));
        const std::optional<StateBan::Period> period = periodNamed(entry.value("period").toString());
        if (!ban || !period)
            return std::nullopt;
        state.bans.append({*ban, entry.value("address").toBool(), *period, qint64(entry.value("seconds").toDouble())});
    }
    if (root.contains("readAt"))
        state.readAt = QDateTime::fromMSecsSinceEpoch(qint64(root.value("readAt").toDouble()), QTimeZone::utc());
    return state;
}
