#pragma once

// Runs an automation file against a fleet: its schedules at their times, its
// rules on every player who joins, renames or moves, and its webhooks on
// every event. Everything it does can be seen afterwards: each schedule's run
// on each server (its commands, replies and outcome) goes to the store, each
// firing of a rule (done or, in a dry run, only said) is an event and an
// audit record, and every command it sends is an Action event with how it
// went.
//
// Commands go through each server's watch, one at a time between the watch's
// own. Only servers this program holds a claim on are acted on (see
// ServerClaims): the window and a watch service never both act on one.

#include "automation/automation_file.h"
#include "automation/schedule_run.h"
#include "automation/server_claims.h"
#include "watch/fleet.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QTimeZone>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QNetworkAccessManager;
class WebhookSender;

class AutomationRunner : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>; // now, in UTC

    struct Options
    {
        // Where the claims' lock files go; empty: every server is held.
        QString claimFolder;
        QTimeZone zone = QTimeZone::systemTimeZone();
        Clock clock = &QDateTime::currentDateTimeUtc;
        // For the webhooks; none: webhooks are not sent.
        QNetworkAccessManager* network = nullptr;
        // The local user its actions are recorded under.
        QString user;
    };

    // What the window shows of a schedule.
    struct ScheduleStatus
    {
        QString name;
        QString timing;
        QString servers;
        std::optional<QDateTime> next;   // in UTC
        std::optional<ScheduleRun> last; // on any server
        bool running = false;
    };

    AutomationRunner(AutomationFile file, Fleet& fleet, Options options, QObject* parent = nullptr);
    ~AutomationRunner() override;

    const AutomationFile& file() const { return file_; }

    // Starts the schedules, the rules and the webhooks. `lastRuns` are the
    // runs the store knows of: the last result shown, and for `missed =
    // "once"` whether a run fell due while nothing ran.
    void start(const QList<ScheduleRun>& lastRuns = {});
    // Runs a schedule now, on each server of it that is held.
    void runNow(qsizetype schedule);

    QList<ScheduleStatus> schedules() const;
    // Tells the webhooks of an event that came from elsewhere (a drift check).
    void publish(const WatchEvent& event);
    // Every event handed to a webhook has been delivered (or given up on).
    bool webhooksDelivered() const;
    // The fleet's servers whose automation another program runs, with who.
    QList<QPair<QString, QString>> heldElsewhere() const;

signals:
    // The runner's own events: rules fired, schedules run, commands sent.
    void eventMade(const WatchEvent& event);
    void scheduleRan(const ScheduleRun& run);
    // A record for the audit log, for a server ("host:port").
    void auditLine(const QByteArray& server, const QByteArray& line);
    void logLine(const QByteArray& line);
    // What schedules() or heldElsewhere() gives changed.
    void changed();

private:
    struct RunKey
    {
        qsizetype schedule;
        QString server;
        friend bool operator==(const RunKey&, const RunKey&) = default;
        friend size_t qHash(const RunKey& key, size_t seed = 0) { return qHashMulti(seed, key.schedule, key.server); }
    };

    void claimServers();
    void onObserved(const QList<WatchEvent>& events, const QList<PopulationSample>& samples);
    void fireRules(const WatchEvent& player);
    void act(const JoinRule& rule, const WatchEvent& player, ServerWatch& watch);

    void armTimer();
    void onTimer();
    void runOn(qsizetype schedule, ServerWatch& watch, bool manual);
    void sendNext(const std::shared_ptr<ScheduleRun>& run, const QList<QByteArray>& commands, ServerWatch* watch);
    void finishRun(const ScheduleRun& run, const QString& address);

    // Sends a command for an action and makes its Action event once answered.
    void sendAction(ServerWatch& watch, const QByteArray& command, const QString& what);
    void emitEvent(WatchEvent event);
    std::optional<QDateTime> nextRun(qsizetype schedule, const QDateTime& after) const;
    QString addressOf(const ServerWatch& watch) const;

    AutomationFile file_;
    Fleet& fleet_;
    Options options_;
    ServerClaims claims_;
    QHash<QString, QString> claimed_; // the servers claimed, their addresses by name
    std::vector<std::unique_ptr<WebhookSender>> webhooks_;
    QTimer timer_;
    bool started_ = false;

    QList<std::optional<QDateTime>> next_; // by schedule
    QList<QDateTime> anchors_;             // by schedule: where an "every" counts from
    QHash<RunKey, ScheduleRun> last_;      // the last run of each schedule on each server
    QSet<RunKey> running_;
    QSet<RunKey> missed_; // runs missed while nothing ran, made up for when the server is up
    // The rules that fired for a player on a server, by rule, server and
    // player, until they leave: a rename does not fire a rule again.
    QSet<QString> fired_;
};
