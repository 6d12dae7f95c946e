#pragma once

// The automation file, ~/.config/ravelin/automation.toml: scheduled jobs,
// rules checked when a player joins, and webhooks that hear of events. It is
// read whole; a fault anywhere is a problem with its line and column, and a
// file with a problem runs nothing, since half a file of jobs and rules is
// not what its author meant. Keys the file does not know are problems too:
// a misspelt "dry_run" must not leave a rule kicking for real.

#include "admin/fleet_admin.h"
#include "automation/cron_schedule.h"
#include "automation/webhook_sender.h"
#include "core/file_problem.h"
#include "watch/watchlist.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTime>

#include <chrono>
#include <optional>
#include <variant>

// Which saved servers an entry acts on: names, or every server ("*").
struct ServerScope
{
    QStringList names;
    bool every = false;

    bool takes(const QString& server) const { return every || names.contains(server); }
    // "every server", or the names.
    QString text() const { return every ? QStringLiteral("every server") : names.join(QStringLiteral(", ")); }
};

struct ScheduledJob
{
    enum class Missed {
        Skip, // a run that fell due while nothing ran is let go
        Once, // ... is made up for with one run at start
    };

    QString name;
    ServerScope servers;
    // When it runs: by cron, or every period from when the runner began or
    // last ran it (the runner knows that).
    std::variant<std::chrono::seconds, CronSchedule> when{std::chrono::seconds(60)};
    QString whenText;           // as written: "cron 55 5 * * *", "every 30m"
    QList<QByteArray> commands; // the bytes sent, in the server's character table
    Missed missed = Missed::Skip;
};

// How many players a server holds, compared with a number: "players = '>= 20'".
struct PlayerCount
{
    enum class Compare { Less, LessOrEqual, Equal, GreaterOrEqual, Greater };
    Compare compare = Compare::GreaterOrEqual;
    int count = 0;

    bool holds(int players) const;
};

// A time of day, local, from its start up to (not including) its end; it may
// run over midnight: "22:00-06:00".
struct DayTimes
{
    QTime from;
    QTime to;

    bool holds(QTime time) const;
};

// Where and when a player came, as a rule looks at it.
struct RuleScene
{
    QString server;
    int players = 0; // on the server, the player included
    QTime localTime;
};

struct JoinRule
{
    enum class Action { Notify, Say, Kick, Ban };

    QString name;
    ServerScope servers;
    // The player: by key hash, address or range, name pattern. A player
    // matches `when` by any one of them (none given: every player), and is
    // spared by any one of `except`'s.
    Watchlist when;
    Watchlist except;
    std::optional<PlayerCount> players;
    std::optional<DayTimes> time;
    Action action = Action::Notify;
    fleet_admin::BanDuration ban;
    QString reason;
    QString message; // said to the server by "say", and before a kick or ban; "{name}" is the player's
    bool dryRun = false;

    // True when the rule fires for the player of a Join, Rename or Address event.
    bool matches(const WatchEvent& player, const RuleScene& scene) const;
};

// The word each action has in the file: "notify", "say", "kick", "ban".
QString actionName(JoinRule::Action action);

struct AutomationFile
{
    QList<ScheduledJob> schedules;
    QList<JoinRule> rules;
    QList<WebhookTarget> webhooks;

    bool isEmpty() const { return schedules.isEmpty() && rules.isEmpty() && webhooks.isEmpty(); }
};

struct AutomationRead
{
    AutomationFile file;
    QList<FileProblem> problems; // in the order of the file

    bool ok() const { return problems.isEmpty(); }
};

// Reads the text of an automation file (UTF-8).
AutomationRead readAutomation(const QByteArray& text);
// Reads a file; a missing or unreadable file is a problem without a place.
AutomationRead readAutomationFile(const QString& path);
