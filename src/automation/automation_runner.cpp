#include "automation/automation_runner.h"

#include "automation/webhook_sender.h"
#include "core/windows1252.h"
#include "watch/event_line.h"

#include <QPointer>

#include <algorithm>

namespace {

// How long the runner sleeps at most before it looks at the clock again, so
// that a clock set forward, or a machine woken from sleep, is noticed.
constexpr std::chrono::milliseconds kLongestSleep{30000};

QString playerText(const WatchEvent& player)
{
    return player.hash.isEmpty() ? player.name : QStringLiteral("%1 (%2)").arg(player.name, player.hash);
}

} // namespace

AutomationRunner::AutomationRunner(AutomationFile file, Fleet& fleet, Options options, QObject* parent)
    : QObject(parent)
    , file_(std::move(file))
    , fleet_(fleet)
    , options_(std::move(options))
    , claims_(options_.claimFolder)
{
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &AutomationRunner::onTimer);
    connect(&claims_, &ServerClaims::changed, this, [this] {
        for (const auto& [name, holder] : heldElsewhere())
            emit logLine(QStringLiteral("%1: automation is left to %2").arg(name, holder).toUtf8());
        emit changed();
    });
    if (options_.network) {
        for (const WebhookTarget& target : std::as_const(file_.webhooks)) {
            auto& sender = *webhooks_.emplace_back(std::make_unique<WebhookSender>(target, options_.network));
            connect(&sender, &WebhookSender::logLine, this, &AutomationRunner::logLine);
        }
    }
    next_.resize(file_.schedules.size());
    anchors_.resize(file_.schedules.size());
}

AutomationRunner::~AutomationRunner() = default;

void AutomationRunner::start(const QList<ScheduleRun>& lastRuns)
{
    if (started_)
        return;
    started_ = true;
    connect(&fleet_, &Fleet::observed, this, &AutomationRunner::onObserved);
    // The fleet's servers can change (the window's list is edited): claim anew.
    connect(&fleet_, &Fleet::serverChanged, this, [this] { claimServers(); });
    claimServers();

    const QDateTime now = options_.clock();
    for (qsizetype i = 0; i < file_.schedules.size(); ++i) {
        const ScheduledJob& job = file_.schedules[i];
        QDateTime newest;
        for (const ScheduleRun& run : lastRuns) {
            if (run.schedule != job.name)
                continue;
            last_.insert({i, run.server}, run);
            if (!newest.isValid() || run.started > newest)
                newest = run.started;
        }
        // "every" counts from the last run, so a restart does not move it.
        anchors_[i] = newest.isValid() && newest <= now ? newest : now;
        next_[i] = nextRun(i, now);
        if (job.missed == ScheduledJob::Missed::Once && newest.isValid() && newest < now) {
            const std::optional<QDateTime> due = nextRun(i, newest);
            if (due && *due <= now) {
                emit logLine(
                    QStringLiteral("schedule \"%1\": a run fell due at %2 while nothing ran; running it once now")
                        .arg(job.name, due->toTimeZone(options_.zone).toString(Qt::ISODate))
                        .toUtf8());
                // On each server once it is up: at start the fleet is still logging in.
                for (qsizetype s = 0; s < fleet_.size(); ++s) {
                    if (job.servers.takes(fleet_.server(s).target().name))
                        missed_.insert({i, fleet_.server(s).target().name});
                }
            }
        }
    }
    armTimer();
    emit changed();
}

void AutomationRunner::claimServers()
{
    QHash<QString, QString> addresses;
    for (qsizetype i = 0; i < fleet_.size(); ++i)
        addresses.insert(fleet_.server(i).target().name, addressOf(fleet_.server(i)));
    if (addresses == claimed_)
        return;
    claimed_ = addresses;
    claims_.claim(addresses);
}

QString AutomationRunner::addressOf(const ServerWatch& watch) const
{
    return QString::fromUtf8(watch.target().host) + u':' + QString::number(watch.target().port);
}

std::optional<QDateTime> AutomationRunner::nextRun(qsizetype schedule, const QDateTime& after) const
{
    const ScheduledJob& job = file_.schedules[schedule];
    if (const auto* cron = std::get_if<CronSchedule>(&job.when))
        return ScheduleTiming(*cron).nextAfter(after, options_.zone);
    return ScheduleTiming(std::get<std::chrono::seconds>(job.when), anchors_[schedule]).nextAfter(after, options_.zone);
}

void AutomationRunner::armTimer()
{
    const QDateTime now = options_.clock();
    std::optional<QDateTime> soonest;
    for (const std::optional<QDateTime>& next : std::as_const(next_)) {
        if (next && (!soonest || *next < *soonest))
            soonest = next;
    }
    if (!soonest)
        return;
    const qint64 wait = std::clamp<qint64>(now.msecsTo(*soonest), 0, kLongestSleep.count());
    timer_.start(std::chrono::milliseconds(wait));
}

void AutomationRunner::onTimer()
{
    const QDateTime now = options_.clock();
    bool ran = false;
    for (qsizetype i = 0; i < file_.schedules.size(); ++i) {
        if (!next_[i] || *next_[i] > now)
            continue;
        // However long the program slept, a schedule runs once for it; an
        // "every" counts on from when this run was due, so that it keeps its
        // step whatever a run takes.
        anchors_[i] = *next_[i];
        next_[i] = nextRun(i, now);
        const ScheduledJob& job = file_.schedules[i];
        for (qsizetype s = 0; s < fleet_.size(); ++s) {
            ServerWatch& watch = fleet_.server(s);
            if (job.servers.takes(watch.target().name) && claims_.holds(watch.target().name))
                runOn(i, watch, false);
        }
        ran = true;
    }
    armTimer();
    if (ran)
        emit changed();
}

void AutomationRunner::runNow(qsizetype schedule)
{
    if (schedule < 0 || schedule >= file_.schedules.size())
        return;
    const ScheduledJob& job = file_.schedules[schedule];
    bool any = false;
    for (qsizetype s = 0; s < fleet_.size(); ++s) {
        ServerWatch& watch = fleet_.server(s);
        if (!job.servers.takes(watch.target().name))
            continue;
        any = true;
        if (claims_.holds(watch.target().name))
            runOn(schedule, watch, true);
        else
            emit logLine(QStringLiteral("schedule \"%1\" on %2: not run here; %3 runs its automation")
                             .arg(job.name, watch.target().name, claims_.holder(watch.target().name))
                             .toUtf8());
    }
    if (!any)
        emit logLine(QStringLiteral("schedule \"%1\" names no server of the fleet").arg(job.name).toUtf8());
    emit changed();
}

void AutomationRunner::runOn(qsizetype schedule, ServerWatch& watch, bool manual)
{
    const ScheduledJob& job = file_.schedules[schedule];
    const RunKey key{schedule, watch.target().name};
    auto run = std::make_shared<ScheduleRun>();
    run->schedule = job.name;
    run->server = watch.target().name;
    run->started = options_.clock();
    run->manual = manual;
    if (running_.contains(key)) {
        // A run that has not ended by the next is stuck or slow; two at once
        // would interleave their commands.
        run->finished = run->started;
        run->outcome = QStringLiteral("skipped: the last run has not ended");
        finishRun(*run, addressOf(watch));
        return;
    }
    if (!watch.isUp()) {
        run->finished = run->started;
        run->outcome = QStringLiteral("not run: the server is not up")
            + (watch.trouble().isEmpty() ? QString() : QStringLiteral(" (%1)").arg(watch.trouble()));
        finishRun(*run, addressOf(watch));
        return;
    }
    running_.insert(key);
    sendNext(run, job.commands, &watch);
}

void AutomationRunner::sendNext(const std::shared_ptr<ScheduleRun>& run, const QList<QByteArray>& commands,
                                ServerWatch* watch)
{
    const qsizetype sent = run->commands.size();
    const QString address = addressOf(*watch);
    if (sent == commands.size()) {
        run->finished = options_.clock();
        run->outcome = QStringLiteral("done");
        finishRun(*run, address);
        return;
    }
    const QByteArray& command = commands[sent];
    run->commands.append(windows1252::decode(command));
    CommandReply* reply = watch->send(command);
    if (!reply) {
        run->replies.append(QString());
        run->finished = options_.clock();
        run->outcome =
            QStringLiteral("failed: the server went down after %1 of %2 commands").arg(sent).arg(commands.size());
        finishRun(*run, address);
        return;
    }
    QPointer<ServerWatch> target(watch);
    connect(reply, &CommandReply::finished, this, [this, reply, run, commands, target, address] {
        run->replies.append(windows1252::decode(reply->text()).trimmed());
        if (reply->state() != CommandReply::State::Answered || !target) {
            run->finished = options_.clock();
            run->outcome = QStringLiteral("failed: the connection was lost before the server answered \"%1\"")
                               .arg(run->commands.last());
            finishRun(*run, address);
            return;
        }
        sendNext(run, commands, target);
    });
}

void AutomationRunner::finishRun(const ScheduleRun& run, const QString& address)
{
    const auto found = std::find_if(file_.schedules.cbegin(), file_.schedules.cend(),
                                    [&](const ScheduledJob& job) { return job.name == run.schedule; });
    const qsizetype schedule = found - file_.schedules.cbegin();
    running_.remove({schedule, run.server});
    last_.insert({schedule, run.server}, run);

    WatchEvent event;
    event.kind = WatchEvent::Kind::Schedule;
    event.time = run.finished;
    event.server = run.server;
    event.serverAddress = address;
    event.text = run.schedule;
    event.outcome = run.outcome;
    event.user = options_.user;
    emitEvent(event);
    emit scheduleRan(run);
    QByteArray audit = QStringLiteral("schedule \"%1\"%2: %3")
                           .arg(run.schedule, run.manual ? QStringLiteral(" (run now)") : QString(), run.outcome)
                           .toUtf8();
    for (qsizetype i = 0; i < run.commands.size(); ++i)
        audit += QStringLiteral("; %1 -> %2").arg(run.commands[i], run.replies.value(i)).toUtf8();
    emit auditLine(address.toUtf8(), audit);
    emit changed();
}

void AutomationRunner::onObserved(const QList<WatchEvent>& events, const QList<PopulationSample>& samples)
{
    // A look has ended on these servers: they are up and take commands.
    for (const PopulationSample& sample : samples) {
        const std::optional<qsizetype> index = fleet_.indexOf(sample.server);
        for (qsizetype i = 0; index && i < file_.schedules.size(); ++i) {
            if (claims_.holds(sample.server) && missed_.remove({i, sample.server}))
                runOn(i, fleet_.server(*index), false);
        }
    }
    // The hooks hear of the look first, then of what the rules made of it,
    // as the watch's own output says them.
    for (const WatchEvent& event : events) {
        if (claims_.holds(event.server)) {
            for (const auto& sender : webhooks_)
                sender->post(event);
        }
    }
    for (const WatchEvent& event : events) {
        if (!claims_.holds(event.server))
            continue;
        switch (event.kind) {
        case WatchEvent::Kind::Join:
        case WatchEvent::Kind::Rename:
        case WatchEvent::Kind::Address: fireRules(event); break;
        case WatchEvent::Kind::Leave:
            fired_.removeIf(
                [&](const QString& key) { return key.endsWith(u'\n' + event.server + u'\n' + event.playerKey()); });
            break;
        case WatchEvent::Kind::Down:
            fired_.removeIf([&](const QString& key) { return key.contains(u'\n' + event.server + u'\n'); });
            break;
        default: break;
        }
    }
}

void AutomationRunner::fireRules(const WatchEvent& player)
{
    const std::optional<qsizetype> index = fleet_.indexOf(player.server);
    if (!index)
        return;
    ServerWatch& watch = fleet_.server(*index);
    const RuleScene scene{player.server, int(watch.players().size()),
                          options_.clock().toTimeZone(options_.zone).time()};
    for (qsizetype r = 0; r < file_.rules.size(); ++r) {
        const JoinRule& rule = file_.rules[r];
        const QString key = QString::number(r) + u'\n' + player.server + u'\n' + player.playerKey();
        if (fired_.contains(key) || !rule.matches(player, scene))
            continue;
        fired_.insert(key);

        WatchEvent firing = player;
        firing.kind = WatchEvent::Kind::Rule;
        firing.time = options_.clock();
        firing.previous.clear();
        firing.text = rule.name;
        firing.outcome = actionName(rule.action);
        firing.dryRun = rule.dryRun;
        firing.user = options_.user;
        emitEvent(firing);

        const QString done = rule.dryRun ? QStringLiteral("would %1 (dry run)") : QStringLiteral("%1");
        const QString line = QStringLiteral("rule \"%1\" fired for %2 on %3: %4")
                                 .arg(rule.name, playerText(player), player.server, done.arg(actionName(rule.action)))
            + (rule.reason.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(rule.reason));
        emit logLine(line.toUtf8());
        emit auditLine(addressOf(watch).toUtf8(), line.toUtf8());
        if (!rule.dryRun)
            act(rule, player, watch);
    }
}

void AutomationRunner::act(const JoinRule& rule, const WatchEvent& player, ServerWatch& watch)
{
    if (!rule.message.isEmpty()) {
        QString message = rule.message;
        message.replace(QStringLiteral("{name}"), player.name);
        const std::optional<QByteArray> bytes = windows1252::encode(message);
        if (const std::optional<QByteArray> say = fleet_admin::sayAllCommand(bytes.value_or(QByteArray())))
            sendAction(watch, *say, QStringLiteral("rule \"%1\": say \"%2\"").arg(rule.name, message));
        else
            emit logLine(QStringLiteral("rule \"%1\": the message for %2 is too long to say")
                             .arg(rule.name, player.name)
                             .toUtf8());
    }
    if (player.playerId < 0)
        return;
    const QString reason = rule.reason.isEmpty() ? QString() : QStringLiteral(": ") + rule.reason;
    switch (rule.action) {
    case JoinRule::Action::Notify:
    case JoinRule::Action::Say: break;
    case JoinRule::Action::Kick:
        sendAction(watch, fleet_admin::kickCommand(player.playerId),
                   QStringLiteral("rule \"%1\": kick %2%3").arg(rule.name, playerText(player), reason));
        watch.lookSoon();
        break;
    case JoinRule::Action::Ban:
        sendAction(watch, fleet_admin::banPlayerCommand(player.playerId, rule.ban),
                   QStringLiteral("rule \"%1\": ban %2 %3%4")
                       .arg(rule.name, playerText(player), fleet_admin::durationText(rule.ban), reason));
        watch.lookSoon(true);
        break;
    }
}

void AutomationRunner::sendAction(ServerWatch& watch, const QByteArray& command, const QString& what)
{
    WatchEvent event;
    event.kind = WatchEvent::Kind::Action;
    event.server = watch.target().name;
    event.serverAddress = addressOf(watch);
    event.text = what;
    event.user = options_.user;
    CommandReply* reply = watch.send(command);
    if (!reply) {
        event.time = options_.clock();
        event.outcome = QStringLiteral("not sent, the server is not up");
        emitEvent(event);
        return;
    }
    connect(reply, &CommandReply::finished, this, [this, reply, event]() mutable {
        const QString answer = windows1252::decode(reply->text()).trimmed();
        event.time = options_.clock();
        event.outcome = reply->state() == CommandReply::State::Answered
            ? (answer.isEmpty() ? QStringLiteral("done") : answer)
            : QStringLiteral("the connection was lost before the server answered");
        emit auditLine(event.serverAddress.toUtf8(), (event.text + QStringLiteral(": ") + event.outcome).toUtf8());
        emitEvent(event);
    });
}

void AutomationRunner::emitEvent(WatchEvent event)
{
    for (const auto& sender : webhooks_)
        sender->post(event);
    emit eventMade(event);
}

QList<AutomationRunner::ScheduleStatus> AutomationRunner::schedules() const
{
    QList<ScheduleStatus> statuses;
    for (qsizetype i = 0; i < file_.schedules.size(); ++i) {
        const ScheduledJob& job = file_.schedules[i];
        ScheduleStatus status{job.name, job.whenText, job.servers.text(), next_.value(i), {}, false};
        for (auto it = last_.cbegin(); it != last_.cend(); ++it) {
            if (it.key().schedule == i && (!status.last || it->started > status.last->started))
                status.last = *it;
        }
        status.running = std::any_of(running_.cbegin(), running_.cend(),
                                     [i](const RunKey& key) { return key.schedule == i; });
        statuses.append(status);
    }
    return statuses;
}

void AutomationRunner::publish(const WatchEvent& event)
{
    if (!claims_.holds(event.server))
        return;
    for (const auto& sender : webhooks_)
        sender->post(event);
}

bool AutomationRunner::webhooksDelivered() const
{
    return std::all_of(webhooks_.cbegin(), webhooks_.cend(),
                       [](const std::unique_ptr<WebhookSender>& sender) { return sender->waiting() == 0; });
}

QList<QPair<QString, QString>> AutomationRunner::heldElsewhere() const
{
    QList<QPair<QString, QString>> held;
    for (qsizetype i = 0; i < fleet_.size(); ++i) {
        const QString name = fleet_.server(i).target().name;
        if (const QString holder = claims_.holder(name); !holder.isEmpty())
            held.append({name, holder});
    }
    return held;
}
