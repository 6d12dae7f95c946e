#include "automation/automation_file.h"

#include "core/secrets.h"
#include "core/windows1252.h"
#include "session/console_session.h"
#include "watch/watch_event.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>

#include <string_view>
#include <toml++/toml.h>

namespace {

QString fromToml(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// Every event a webhook may ask for, by its name.
QStringList eventNames()
{
    QStringList names;
    for (int kind = int(WatchEvent::Kind::Up); kind <= int(WatchEvent::Kind::Drift); ++kind)
        names << QString::fromLatin1(eventName(WatchEvent::Kind(kind)));
    return names;
}

// Reads one file, gathering its problems rather than stopping at the first,
// so that `automation check` says them all at once.
class Reader
{
public:
    AutomationRead read(const QByteArray& text);

private:
    void problem(const toml::source_region& where, const QString& message, int offset = 0)
    {
        problems_.append({int(where.begin.line), int(where.begin.column) + offset, message});
    }

    // The table's keys that `known` leaves out, each a problem.
    void refuseUnknownKeys(const toml::table& table, const QString& section, std::initializer_list<const char*> known);

    std::optional<QString> text(const toml::table& table, const char* key, const QString& section, bool required);
    std::optional<bool> flag(const toml::table& table, const char* key);
    // A string or an array of strings, each with where it stands.
    QList<QPair<QString, toml::source_region>> texts(const toml::table& table, const char* key);
    std::optional<ServerScope> servers(const toml::table& table, const QString& section, bool required);
    QString name(const toml::table& table, const QString& section, QSet<QString>& taken);

    void readSchedule(const toml::table& table);
    void readRule(const toml::table& table);
    void readWebhook(const toml::table& table);
    // Fills a rule's player conditions; `full` takes players and time as well.
    Watchlist readPlayers(const toml::table& table, const QString& section, JoinRule* rule);

    AutomationFile file_;
    QList<FileProblem> problems_;
    QSet<QString> scheduleNames_;
    QSet<QString> ruleNames_;
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

std::optional<QString> Reader::text(const toml::table& table, const char* key, const QString& section, bool required)
{
    const toml::node* node = table.get(key);
    if (!node) {
        if (required)
            problem(table.source(), QStringLiteral("%1 needs %2 = \"...\"").arg(section, QLatin1String(key)));
        return std::nullopt;
    }
    if (const auto* value = node->as_string())
        return fromToml(value->get());
    problem(node->source(), QStringLiteral("%1 must be a string").arg(QLatin1String(key)));
    return std::nullopt;
}

std::optional<bool> Reader::flag(const toml::table& table, const char* key)
{
    const toml::node* node = table.get(key);
    if (!node)
        return std::nullopt;
    if (const auto* value = node->as_boolean())
        return value->get();
    problem(node->source(), QStringLiteral("%1 must be true or false").arg(QLatin1String(key)));
    return std::nullopt;
}

QList<QPair<QString, toml::source_region>> Reader::texts(const toml::table& table, const char* key)
{
    QList<QPair<QString, toml::source_region>> found;
    const toml::node* node = table.get(key);
    if (!node)
        return found;
    if (const auto* value = node->as_string()) {
        found.append({fromToml(value->get()), node->source()});
    } else if (const auto* array = node->as_array()) {
        for (const toml::node& item : *array) {
            if (const auto* value = item.as_string())
                found.append({fromToml(value->get()), item.source()});
            else
                problem(item.source(), QStringLiteral("%1 must hold strings").arg(QLatin1String(key)));
        }
    } else {
        problem(node->source(), QStringLiteral("%1 must be a string or a list of strings").arg(QLatin1String(key)));
    }
    return found;
}

std::optional<ServerScope> Reader::servers(const toml::table& table, const QString& section, bool required)
{
    if (!table.get("servers")) {
        if (required)
            problem(table.source(), QStringLiteral("%1 needs servers = [\"NAME\", ...] or [\"*\"]").arg(section));
        return required ? std::nullopt : std::optional<ServerScope>(ServerScope{{}, true});
    }
    ServerScope choice;
    const auto names = texts(table, "servers");
    for (const auto& [name, where] : names) {
        if (name == u'*')
            choice.every = true;
        else if (name.trimmed().isEmpty())
            problem(where, QStringLiteral("a server's name cannot be empty"));
        else
            choice.names.append(name);
    }
    if (names.isEmpty()) {
        problem(table.get("servers")->source(), QStringLiteral("servers names none; use [\"*\"] for every server"));
        return std::nullopt;
    }
    return choice;
}

QString Reader::name(const toml::table& table, const QString& section, QSet<QString>& taken)
{
    const std::optional<QString> name = text(table, "name", section, true);
    if (!name)
        return {};
    if (name->trimmed().isEmpty()) {
        problem(table.get("name")->source(), QStringLiteral("%1's name cannot be empty").arg(section));
    } else if (taken.contains(*name)) {
        problem(table.get("name")->source(), QStringLiteral("another %1 is named \"%2\"").arg(section, *name));
    }
    taken.insert(*name);
    return *name;
}

void Reader::readSchedule(const toml::table& table)
{
    const QString section = QStringLiteral("a schedule");
    refuseUnknownKeys(table, section, {"name", "servers", "cron", "every", "commands", "missed"});
    ScheduledJob job;
    job.name = name(table, section, scheduleNames_);
    const std::optional<ServerScope> servers = this->servers(table, section, true);
    bool ok = servers.has_value() && !job.name.isEmpty();
    if (servers)
        job.servers = *servers;

    const toml::node* cron = table.get("cron");
    const toml::node* every = table.get("every");
    if (cron && every) {
        problem(every->source(), QStringLiteral("a schedule has cron or every, not both"));
        ok = false;
    } else if (!cron && !every) {
        problem(table.source(),
                QStringLiteral("a schedule needs cron = \"MIN HOUR DAY MONTH WEEKDAY\" or every = \"30m\""));
        ok = false;
    } else if (const std::optional<QString> when = text(table, cron ? "cron" : "every", section, true)) {
        const toml::source_region& where = (cron ? cron : every)->source();
        if (cron) {
            auto parsed = CronSchedule::parse(*when);
            if (const auto* fault = std::get_if<CronSchedule::Problem>(&parsed)) {
                problem(where, QStringLiteral("cron: ") + fault->message, fault->column);
                ok = false;
            } else {
                job.when = std::get<CronSchedule>(parsed);
                job.whenText = QStringLiteral("cron ") + *when;
            }
        } else {
            auto parsed = parseEvery(*when);
            if (const auto* fault = std::get_if<CronSchedule::Problem>(&parsed)) {
                problem(where, QStringLiteral("every: ") + fault->message, fault->column);
                ok = false;
            } else {
                job.when = std::get<std::chrono::seconds>(parsed);
                job.whenText = QStringLiteral("every ") + *when;
            }
        }
    } else {
        ok = false;
    }

    const auto commands = texts(table, "commands");
    if (!table.get("commands") || commands.isEmpty()) {
        problem(table.source(), QStringLiteral("a schedule needs commands = ['...']"));
        ok = false;
    }
    for (const auto& [command, where] : commands) {
        const std::optional<QByteArray> bytes = windows1252::encode(command);
        const auto control = [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; };
        if (!bytes) {
            problem(where, QStringLiteral("a command holds a character the server's table has not"));
        } else if (bytes->trimmed().isEmpty()) {
            problem(where, QStringLiteral("a command cannot be empty"));
        } else if (std::any_of(bytes->cbegin(), bytes->cend(), control)) {
            problem(where, QStringLiteral("a command cannot hold a line break or another control character"));
        } else if (bytes->size() > ConsoleSession::kMaxCommandLength) {
            problem(where,
                    QStringLiteral("a command is %1 bytes; the server takes at most %2")
                        .arg(bytes->size())
                        .arg(ConsoleSession::kMaxCommandLength));
        } else if (secrets::isLoginCommand(*bytes)) {
            problem(where, QStringLiteral("a schedule cannot log in: the watch is logged in already"));
        } else {
            job.commands.append(*bytes);
            continue;
        }
        ok = false;
    }

    if (const std::optional<QString> missed = text(table, "missed", section, false)) {
        if (*missed == QLatin1String("once")) {
            job.missed = ScheduledJob::Missed::Once;
        } else if (*missed != QLatin1String("skip")) {
            problem(table.get("missed")->source(), QStringLiteral("missed is \"skip\" or \"once\""));
            ok = false;
        }
    }
    if (ok)
        file_.schedules.append(job);
}

Watchlist Reader::readPlayers(const toml::table& table, const QString& section, JoinRule* rule)
{
    if (rule)
        refuseUnknownKeys(table, section, {"hash", "address", "name", "players", "time"});
    else
        refuseUnknownKeys(table, section, {"hash", "address", "name"});
    QList<WatchEntry> entries;
    const auto add = [&](const char* key, WatchEntry::Kind kind) {
        for (const auto& [pattern, where] : texts(table, key)) {
            WatchEntry entry;
            entry.kind = kind;
            entry.pattern = pattern.trimmed();
            if (const QString fault = watchEntryProblem(entry); !fault.isEmpty())
                problem(where, fault);
            else
                entries.append(entry);
        }
    };
    add("hash", WatchEntry::Kind::Hash);
    add("address", WatchEntry::Kind::Address);
    add("name", WatchEntry::Kind::Name);
    if (!rule)
        return Watchlist(entries);

    if (const toml::node* players = table.get("players")) {
        static const QRegularExpression comparison(QStringLiteral("^\\s*(<=|>=|<|>|=|==)?\\s*(\\d{1,3})\\s*$"));
        const QRegularExpressionMatch match = players->is_string()
            ? comparison.match(fromToml(players->as_string()->get()))
            : QRegularExpressionMatch();
        if (players->is_integer() && players->as_integer()->get() >= 0) {
            rule->players = PlayerCount{PlayerCount::Compare::GreaterOrEqual, int(players->as_integer()->get())};
        } else if (match.hasMatch()) {
            const QString op = match.captured(1);
            using Compare = PlayerCount::Compare;
            const Compare compare = op == u"<" ? Compare::Less
                : op == u"<="                  ? Compare::LessOrEqual
                : op == u">"                   ? Compare::Greater
                : op.isEmpty() || op == u">="  ? Compare::GreaterOrEqual
                                               : Compare::Equal;
            rule->players = PlayerCount{compare, match.captured(2).toInt()};
        } else {
            problem(players->source(), QStringLiteral("players is a count with a comparison, such as \">= 20\""));
        }
    }
    if (const toml::node* time = table.get("time")) {
        static const QRegularExpression span(QStringLiteral("^\\s*(\\d{1,2}:\\d{2})\\s*-\\s*(\\d{1,2}:\\d{2})\\s*$"));
        const QRegularExpressionMatch match = time->is_string() ? span.match(fromToml(time->as_string()->get()))
                                                                : QRegularExpressionMatch();
        const QTime from = QTime::fromString(match.captured(1), QStringLiteral("H:mm"));
        const QTime to = QTime::fromString(match.captured(2), QStringLiteral("H:mm"));
        if (match.hasMatch() && from.isValid() && to.isValid() && from != to)
            rule->time = DayTimes{from, to};
        else
            problem(time->source(), QStringLiteral("time is a span of the day, such as \"22:00-06:00\""));
    }
    return Watchlist(entries);
}

void Reader::readRule(const toml::table& table)
{
    const QString section = QStringLiteral("a rule");
    refuseUnknownKeys(table, section,
                      {"name", "servers", "when", "except", "action", "ban", "reason", "message", "dry_run"});
    const qsizetype problemsBefore = problems_.size();
    JoinRule rule;
    rule.name = name(table, section, ruleNames_);
    if (const std::optional<ServerScope> servers = this->servers(table, section, false))
        rule.servers = *servers;
    for (const char* key : {"when", "except"}) {
        const toml::node* node = table.get(key);
        if (!node)
            continue;
        if (const auto* conditions = node->as_table()) {
            const bool when = key == std::string_view("when");
            const Watchlist players = readPlayers(*conditions, QStringLiteral("a rule's %1").arg(QLatin1String(key)),
                                                  when ? &rule : nullptr);
            (when ? rule.when : rule.except) = players;
        } else {
            problem(node->source(), QStringLiteral("%1 is a table: { hash = [...], ... }").arg(QLatin1String(key)));
        }
    }

    if (const std::optional<QString> action = text(table, "action", section, false)) {
        static const QList<JoinRule::Action> actions = {JoinRule::Action::Notify, JoinRule::Action::Say,
                                                        JoinRule::Action::Kick, JoinRule::Action::Ban};
        const auto found = std::find_if(actions.cbegin(), actions.cend(),
                                        [&](JoinRule::Action a) { return actionName(a) == *action; });
        if (found == actions.cend())
            problem(table.get("action")->source(),
                    QStringLiteral("action is \"notify\", \"say\", \"kick\" or \"ban\""));
        else
            rule.action = *found;
    }
    if (const std::optional<QString> ban = text(table, "ban", section, false)) {
        const std::optional<fleet_admin::BanDuration> duration = fleet_admin::parseBanDuration(*ban);
        if (rule.action != JoinRule::Action::Ban)
            problem(table.get("ban")->source(), QStringLiteral("ban is for action = \"ban\""));
        else if (!duration)
            problem(table.get("ban")->source(), QStringLiteral("ban is \"round\", \"perm\" or a time such as \"1d\""));
        else
            rule.ban = *duration;
    } else if (rule.action == JoinRule::Action::Ban) {
        problem(table.source(),
                QStringLiteral("a rule with action = \"ban\" needs ban = \"round\", \"perm\" or a time"));
    }
    rule.reason = text(table, "reason", section, false).value_or(QString());
    if (const std::optional<QString> message = text(table, "message", section, false)) {
        const std::optional<QByteArray> bytes = windows1252::encode(*message);
        if (!bytes)
            problem(table.get("message")->source(),
                    QStringLiteral("message holds a character the server's table has not"));
        else if (!fleet_admin::sayAllCommand(*bytes))
            problem(table.get("message")->source(), QStringLiteral("message is too long for the server"));
        rule.message = *message;
    }
    if (rule.action == JoinRule::Action::Say && rule.message.isEmpty())
        problem(table.source(), QStringLiteral("a rule with action = \"say\" needs message = \"...\""));
    rule.dryRun = flag(table, "dry_run").value_or(false);
    if (problems_.size() == problemsBefore)
        file_.rules.append(rule);
}

void Reader::readWebhook(const toml::table& table)
{
    const QString section = QStringLiteral("a webhook");
    refuseUnknownKeys(table, section, {"url", "format", "events"});
    const qsizetype problemsBefore = problems_.size();
    WebhookTarget target;
    if (const std::optional<QString> url = text(table, "url", section, true)) {
        target.url = QUrl(*url, QUrl::StrictMode);
        const QString scheme = target.url.scheme();
        if (!target.url.isValid() || target.url.host().isEmpty() || (scheme != u"http" && scheme != u"https"))
            problem(table.get("url")->source(), QStringLiteral("url is an http:// or https:// address"));
    }
    if (const std::optional<QString> format = text(table, "format", section, false)) {
        if (*format == QLatin1String("discord"))
            target.format = WebhookTarget::Format::Discord;
        else if (*format != QLatin1String("json"))
            problem(table.get("format")->source(), QStringLiteral("format is \"json\" or \"discord\""));
    }
    static const QStringList known = eventNames();
    for (const auto& [event, where] : texts(table, "events")) {
        if (known.contains(event))
            target.events.append(event);
        else
            problem(where, QStringLiteral("no event is called \"%1\"; events are %2").arg(event, known.join(u", ")));
    }
    if (problems_.size() == problemsBefore)
        file_.webhooks.append(target);
}

AutomationRead Reader::read(const QByteArray& text)
{
    toml::table document;
    try {
        document = toml::parse(std::string_view(text.constData(), std::size_t(text.size())));
    } catch (const toml::parse_error& error) {
        problem(error.source(), fromToml(error.description()));
        return {{}, problems_};
    }
    const std::pair<const char*, void (Reader::*)(const toml::table&)> sections[] = {
        {"schedule", &Reader::readSchedule}, {"rule", &Reader::readRule}, {"webhook", &Reader::readWebhook}};
    for (auto&& [key, node] : document) {
        const std::string_view name = key.str();
        const auto section = std::find_if(std::begin(sections), std::end(sections),
                                          [&](const auto& s) { return name == s.first; });
        const toml::array* entries = node.as_array();
        if (section == std::end(sections)) {
            problem(key.source(),
                    QStringLiteral("the file has no section \"%1\"; it has [[schedule]], [[rule]] "
                                   "and [[webhook]]")
                        .arg(fromToml(key.str())));
        } else if (!entries || !entries->is_array_of_tables()) {
            problem(node.source(), QStringLiteral("write [[%1]] for each %1").arg(QLatin1String(section->first)));
        } else {
            for (const toml::node& entry : *entries)
                (this->*section->second)(*entry.as_table());
        }
    }
    std::sort(problems_.begin(), problems_.end(), [](const FileProblem& a, const FileProblem& b) {
        return std::pair(a.line, a.column) < std::pair(b.line, b.column);
    });
    return {problems_.isEmpty() ? file_ : AutomationFile(), problems_};
}

} // namespace

bool PlayerCount::holds(int players) const
{
    switch (compare) {
    case Compare::Less: return players < count;
    case Compare::LessOrEqual: return players <= count;
    case Compare::Equal: return players == count;
    case Compare::GreaterOrEqual: return players >= count;
    case Compare::Greater: return players > count;
    }
    return false;
}

bool DayTimes::holds(QTime time) const
{
    return from < to ? (time >= from && time < to) : (time >= from || time < to);
}

bool JoinRule::matches(const WatchEvent& player, const RuleScene& scene) const
{
    if (!servers.takes(scene.server) || (players && !players->holds(scene.players))
        || (time && !time->holds(scene.localTime)))
        return false;
    if (!when.entries().isEmpty() && when.matches(player).isEmpty())
        return false;
    return except.entries().isEmpty() || except.matches(player).isEmpty();
}

QString actionName(JoinRule::Action action)
{
    switch (action) {
    case JoinRule::Action::Notify: return QStringLiteral("notify");
    case JoinRule::Action::Say: return QStringLiteral("say");
    case JoinRule::Action::Kick: return QStringLiteral("kick");
    case JoinRule::Action::Ban: return QStringLiteral("ban");
    }
    return {};
}

AutomationRead readAutomation(const QByteArray& text)
{
    return Reader().read(text);
}

AutomationRead readAutomationFile(const QString& path)
{
    return readWrittenFileWith(path, readAutomation);
}
