#include "desired/desired_state.h"

#include "admin/fleet_admin.h"
#include "core/windows1252.h"
#include "desired/desired_plan.h"
#include "session/console_session.h"

#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <string_view>
#include <toml++/toml.h>

namespace {

QString fromToml(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

bool isMapWord(const QString& text)
{
    static const QRegularExpression word(QStringLiteral("^[A-Za-z0-9_.-]+$"));
    return word.match(text).hasMatch();
}

bool isKeyHash(const QString& text)
{
    static const QRegularExpression hash(QStringLiteral("^[0-9A-Fa-f]{32}$"));
    return hash.match(text).hasMatch();
}

// An IPv4 address as the server lists it: four numbers 0-255 without
// leading zeros, since another spelling of it would never match the list.
bool isAddress(const QString& text)
{
    static const QRegularExpression quad(QStringLiteral(
        "^((25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])\\.){3}(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])$"));
    return quad.match(text).hasMatch();
}

// The same ban, whatever case its key hash was written in.
bool sameBan(const StateBan& a, const StateBan& b)
{
    return a.isAddress == b.isAddress && a.ban.compare(b.ban, Qt::CaseInsensitive) == 0;
}

class Reader
{
public:
    DesiredStateRead read(const QByteArray& text);

private:
    void problem(const toml::source_region& where, const QString& message)
    {
        problems_.append({int(where.begin.line), int(where.begin.column), message});
    }
    void refuseUnknownKeys(const toml::table& table, const QString& section, std::initializer_list<const char*> known);

    DesiredServer readServer(const toml::table& table, const QString& section);
    void readRotation(const toml::node& node, DesiredServer& want);
    void readSettings(const toml::node& node, DesiredServer& want);
    void readBans(const toml::node& node, bool addresses, DesiredServer& want);
    std::optional<StateBan> readBan(const toml::node& node, bool address, bool& absent);

    DesiredState state_;
    QList<FileProblem> problems_;
};

void Reader::refuseUnknownKeys(const toml::table& table, const QString& section,
                               std::initializer_list<const char*> known)
{
    for (auto&& [key, node] : table) {
        const std::string_view name = key.str();
        if (std::none_of(known.begin(), known.end(), [&](const char* k) { return name == k; }))
            problem(key.source(), QStringLiteral("%1 has no key \"%2\"").arg(section, fromToml(name)));
    }
}

DesiredServer Reader::readServer(const toml::table& table, const QString& section)
{
    refuseUnknownKeys(table, section, {"rotation", "settings", "bans"});
    DesiredServer want;
    if (const toml::node* rotation = table.get("rotation"))
        readRotation(*rotation, want);
    if (const toml::node* settings = table.get("settings"))
        readSettings(*settings, want);
    if (const toml::node* bans = table.get("bans")) {
        if (const toml::table* lists = bans->as_table()) {
            refuseUnknownKeys(*lists, QStringLiteral("bans"), {"keys", "addresses"});
            if (const toml::node* keys = lists->get("keys"))
                readBans(*keys, false, want);
            if (const toml::node* addresses = lists->get("addresses"))
                readBans(*addresses, true, want);
        } else {
            problem(bans->source(), QStringLiteral("bans is a table: bans.keys = [...], bans.addresses = [...]"));
        }
    }
    return want;
}

void Reader::readRotation(const toml::node& node, DesiredServer& want)
{
    const toml::array* entries = node.as_array();
    if (!entries) {
        problem(node.source(), QStringLiteral("rotation is a list of [\"map\", \"mode\", size]"));
        return;
    }
    // An empty rotation would leave the server no map to play.
    if (entries->empty()) {
        problem(node.source(), QStringLiteral("rotation cannot be empty"));
        return;
    }
    QList<RotationEntry> rotation;
    for (const toml::node& item : *entries) {
        const toml::array* entry = item.as_array();
        if (!entry || entry->size() != 3 || !entry->get(0)->is_string() || !entry->get(1)->is_string()
            || !entry->get(2)->is_integer()) {
            problem(item.source(), QStringLiteral("a rotation entry is [\"map\", \"mode\", size]"));
            continue;
        }
        const QString map = fromToml(entry->get(0)->as_string()->get());
        const QString mode = fromToml(entry->get(1)->as_string()->get());
        const int64_t size = entry->get(2)->as_integer()->get();
        if (!isMapWord(map))
            problem(entry->get(0)->source(), QStringLiteral("a map name is letters, digits, \"_\", \"-\" and \".\""));
        else if (!isMapWord(mode))
            problem(entry->get(1)->source(), QStringLiteral("a mode is letters, digits, \"_\", \"-\" and \".\""));
        else if (size < 1 || size > 256)
            problem(entry->get(2)->source(), QStringLiteral("a map size is 1-256, such as 16, 32 or 64"));
        else if (RotationEntry e{map.toLatin1(), mode.toLatin1(), int(size)};
                 appendMapCommand(e).size() > ConsoleSession::kMaxCommandLength)
            problem(item.source(), QStringLiteral("this entry is too long for the server"));
        else
            rotation.append(e);
    }
    want.rotation = rotation;
}

void Reader::readSettings(const toml::node& node, DesiredServer& want)
{
    const toml::table* settings = node.as_table();
    if (!settings) {
        problem(node.source(), QStringLiteral("settings is a table: { \"sv.name\" = \"value\", ... }"));
        return;
    }
    static const QRegularExpression setting(QStringLiteral("^sv\\.[A-Za-z_][A-Za-z0-9_]*$"));
    for (auto&& [key, value] : *settings) {
        const QString name = fromToml(key.str());
        const auto control = [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; };
        const std::optional<QByteArray> bytes = value.is_string()
            ? windows1252::encode(fromToml(value.as_string()->get()))
            : std::nullopt;
        const bool taken = std::any_of(want.settings.keyBegin(), want.settings.keyEnd(), [&](const QByteArray& k) {
            return QString::fromLatin1(k).compare(name, Qt::CaseInsensitive) == 0;
        });
        if (!setting.match(name).hasMatch()) {
            problem(key.source(), QStringLiteral("a setting is named \"sv.\" and a name of letters, digits and \"_\""));
        } else if (taken) {
            // The console takes names in any case: two spellings would be one setting set twice.
            problem(key.source(), QStringLiteral("%1 is named twice").arg(name));
        } else if (!value.is_string()) {
            problem(value.source(), QStringLiteral("a setting's value is a string: \"100\""));
        } else if (!bytes) {
            problem(value.source(), QStringLiteral("the value holds a character the server's table has not"));
        } else if (std::any_of(bytes->cbegin(), bytes->cend(), control)) {
            problem(value.source(), QStringLiteral("the value cannot hold a line break or another control character"));
        } else if (bytes->contains('"')) {
            // The console has no escape for a quote inside a quoted value.
            problem(value.source(), QStringLiteral("the value cannot hold a double quote"));
        } else if (settingCommand(name.toLatin1(), *bytes).size() > ConsoleSession::kMaxCommandLength) {
            problem(value.source(), QStringLiteral("the value is too long for the server"));
        } else {
            want.settings.insert(name.toLatin1(), *bytes);
        }
    }
}

std::optional<StateBan> Reader::readBan(const toml::node& node, bool address, bool& absent)
{
    const toml::table* table = node.as_table();
    const char* key = address ? "address" : "key";
    if (!table) {
        problem(node.source(), QStringLiteral("a ban is { %1 = \"...\", time = \"perm\" }").arg(QLatin1String(key)));
        return std::nullopt;
    }
    const QString section = address ? QStringLiteral("an address ban") : QStringLiteral("a key ban");
    refuseUnknownKeys(*table, section, {key, "time", "absent"});
    const toml::node* id = table->get(key);
    const toml::node* time = table->get("time");
    const toml::node* gone = table->get("absent");
    StateBan ban;
    ban.isAddress = address;
    const QString text = id && id->is_string() ? fromToml(id->as_string()->get()) : QString();
    if (!id) {
        problem(table->source(), QStringLiteral("%1 needs %2 = \"...\"").arg(section, QLatin1String(key)));
        return std::nullopt;
    }
    if (address ? !isAddress(text) : !isKeyHash(text)) {
        problem(id->source(),
                address ? QStringLiteral("an address is four numbers 0-255: \"10.0.0.1\"")
                        : QStringLiteral("a key is the 32 hexadecimal digits of its hash"));
        return std::nullopt;
    }
    ban.ban = address ? text.toLatin1() : text.toLower().toLatin1();

    if (gone && !(gone->is_boolean() && gone->as_boolean()->get())) {
        problem(gone->source(), QStringLiteral("absent is true, or left out for a ban that must be there"));
        return std::nullopt;
    }
    absent = gone != nullptr;
    if (absent) {
        if (time) {
            problem(time->source(), QStringLiteral("a ban that must be absent has no time"));
            return std::nullopt;
        }
        return ban;
    }
    std::optional<fleet_admin::BanDuration> duration;
    if (!time)
        problem(table->source(), QStringLiteral("%1 needs time = \"perm\", \"1d\" or seconds").arg(section));
    else if (time->is_integer() && time->as_integer()->get() > 0
             && time->as_integer()->get() <= fleet_admin::kMaxBanSeconds)
        duration = fleet_admin::BanDuration{fleet_admin::BanDuration::Kind::Seconds, time->as_integer()->get()};
    else if (time->is_string())
        duration = fleet_admin::parseBanDuration(fromToml(time->as_string()->get()));
    if (time && !duration)
        problem(time->source(),
                QStringLiteral("time is \"perm\", \"round\", a time such as \"1d\", or 1-%1 seconds")
                    .arg(fleet_admin::kMaxBanSeconds));
    if (!duration)
        return std::nullopt;
    switch (duration->kind) {
    case fleet_admin::BanDuration::Kind::Permanent: ban.period = StateBan::Period::Perm; break;
    case fleet_admin::BanDuration::Kind::Round: ban.period = StateBan::Period::Round; break;
    case fleet_admin::BanDuration::Kind::Seconds:
        ban.period = StateBan::Period::Seconds;
        ban.seconds = duration->seconds;
        break;
    }
    return ban;
}

void Reader::readBans(const toml::node& node, bool addresses, DesiredServer& want)
{
    const toml::array* list = node.as_array();
    if (!list) {
        problem(node.source(), QStringLiteral("bans.%1 is a list of { ... }").arg(addresses ? "addresses" : "keys"));
        return;
    }
    for (const toml::node& item : *list) {
        bool absent = false;
        const std::optional<StateBan> ban = readBan(item, addresses, absent);
        if (!ban)
            continue;
        const auto same = [&](const StateBan& b) { return sameBan(b, *ban); };
        if (std::any_of(want.bansPresent.cbegin(), want.bansPresent.cend(), same)
            || std::any_of(want.bansAbsent.cbegin(), want.bansAbsent.cend(), same))
            problem(item.source(), QStringLiteral("%1 is named twice").arg(QString::fromLatin1(ban->ban)));
        else
            (absent ? want.bansAbsent : want.bansPresent).append(*ban);
    }
}

DesiredStateRead Reader::read(const QByteArray& text)
{
    toml::table document;
    try {
        document = toml::parse(std::string_view(text.constData(), std::size_t(text.size())));
    } catch (const toml::parse_error& error) {
        problem(error.source(), fromToml(error.description()));
        return {{}, problems_};
    }
    for (auto&& [key, node] : document) {
        const toml::table* table = node.as_table();
        if (key.str() == "defaults" && table) {
            state_.defaults = readServer(*table, QStringLiteral("[defaults]"));
        } else if (key.str() == "server" && table) {
            for (auto&& [name, server] : *table) {
                const QString serverName = fromToml(name.str());
                if (serverName.trimmed().isEmpty())
                    problem(name.source(), QStringLiteral("a server's name cannot be empty"));
                else if (!server.is_table())
                    problem(server.source(), QStringLiteral("write [server.\"%1\"] as a table").arg(serverName));
                else
                    state_.overrides.append(
                        {serverName, int(name.source().begin.line), int(name.source().begin.column),
                         readServer(*server.as_table(), QStringLiteral("[server.\"%1\"]").arg(serverName))});
            }
        } else if (key.str() == "defaults" || key.str() == "server") {
            problem(node.source(), QStringLiteral("write [defaults] and [server.\"NAME\"] as tables"));
        } else {
            problem(key.source(),
                    QStringLiteral("the file has no section \"%1\"; it has [defaults] and "
                                   "[server.\"NAME\"]")
                        .arg(fromToml(key.str())));
        }
    }
    std::sort(problems_.begin(), problems_.end(), [](const FileProblem& a, const FileProblem& b) {
        return std::pair(a.line, a.column) < std::pair(b.line, b.column);
    });
    return {problems_.isEmpty() ? state_ : DesiredState(), problems_};
}

} // namespace

QStringList DesiredState::serverNames() const
{
    QStringList names;
    for (const DesiredOverride& override : overrides)
        names.append(override.name);
    return names;
}

DesiredServer DesiredState::desiredFor(const QString& serverName) const
{
    DesiredServer want = defaults;
    const auto found = std::find_if(overrides.cbegin(), overrides.cend(),
                                    [&](const DesiredOverride& o) { return o.name == serverName; });
    if (found == overrides.cend())
        return want;
    const DesiredServer& over = found->want;
    if (over.rotation)
        want.rotation = over.rotation;
    for (auto setting = over.settings.cbegin(); setting != over.settings.cend(); ++setting) {
        want.settings.removeIf(
            [&](const auto& item) { return item.key().compare(setting.key(), Qt::CaseInsensitive) == 0; });
        want.settings.insert(setting.key(), setting.value());
    }
    for (const QList<StateBan>* list : {&over.bansPresent, &over.bansAbsent}) {
        for (const StateBan& ban : *list) {
            const auto same = [&](const StateBan& b) { return sameBan(b, ban); };
            want.bansPresent.removeIf(same);
            want.bansAbsent.removeIf(same);
            (list == &over.bansPresent ? want.bansPresent : want.bansAbsent).append(ban);
        }
    }
    return want;
}

DesiredStateRead readDesiredState(const QByteArray& text)
{
    return Reader().read(text);
}

DesiredStateRead readDesiredStateFile(const QString& path)
{
    return readWrittenFileWith(path, readDesiredState);
}
