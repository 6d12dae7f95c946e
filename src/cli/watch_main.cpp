#include "cli/watch_main.h"

#include "automation/automation_runner.h"
#include "cli/cli_options.h"
#include "cli/exit_status.h"
#include "cli/output.h"
#include "cli/server_choice.h"
#include "cli/watch_config.h"
#include "desired/drift_check.h"
#include "storage/audit_log.h"
#include "storage/file_locations.h"
#include "storage/keyring_password_store.h"
#include "store/player_store.h"
#include "store/store_writer.h"
#include "watch/event_line.h"
#include "watch/fleet.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

// How long the watch may take to write what it holds once told to stop.
constexpr std::chrono::milliseconds kStopWithin{3000};
// ... and how long its webhooks may take to send what they hold, before that.
constexpr std::chrono::milliseconds kWebhooksWithin{1500};

int failure(const QByteArray& message)
{
    std::fprintf(stderr, "ravelin-cli: %s\n", message.constData());
    return int(ExitStatus::Usage);
}

// SIGTERM and SIGINT, read from a descriptor by the event loop. They are
// blocked before any thread starts, so that every thread leaves them to it.
int stopSignals()
{
    sigset_t stopping;
    sigemptyset(&stopping);
    sigaddset(&stopping, SIGTERM);
    sigaddset(&stopping, SIGINT);
    ::pthread_sigmask(SIG_BLOCK, &stopping, nullptr);
    return ::signalfd(-1, &stopping, SFD_CLOEXEC | SFD_NONBLOCK);
}

// Qt's PostgreSQL driver warns, once for every statement it held, when it
// tidies up after a connection the server ended; the store's own line says
// what happened, once.
QtMessageHandler qtMessages = nullptr;
void withoutDriverNoise(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg && message.startsWith(QLatin1String("Unable to free statement")))
        return;
    qtMessages(type, context, message);
}

} // namespace

int watchMain(const QList<QByteArray>& arguments, int& argc, char** argv, const TerminalText& terminal)
{
    const WatchCommandLine commandLine = parseWatchCommandLine(arguments, CliEnvironment::fromProcess());
    if (commandLine.exitStatus) {
        std::fputs(commandLine.output.constData(), commandLine.outputIsError ? stderr : stdout);
        return *commandLine.exitStatus;
    }
    const WatchOptions& options = commandLine.options;
    const int stopFd = stopSignals();

    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ravelin-cli"));
    qtMessages = qInstallMessageHandler(withoutDriverNoise);

    // The command line first, then the environment, then watch.conf.
    const LocationFolders folders = userFolders();
    QString configFile = options.configFile;
    if (configFile.isEmpty() && QFileInfo::exists(QDir(folders.userConfigDir).filePath(QStringLiteral("watch.conf"))))
        configFile = QDir(folders.userConfigDir).filePath(QStringLiteral("watch.conf"));
    WatchConfig config;
    if (!configFile.isEmpty()) {
        config = readWatchConfig(configFile);
        if (!config.error.isEmpty())
            return failure(config.error);
    }
    const QString serversFile = !options.serversFile.isEmpty() ? options.serversFile
        : !config.servers.isEmpty()                            ? config.servers
                                                               : savedServersFile({});
    if (!QFileInfo::exists(serversFile))
        return failure("no servers to watch: " + QFile::encodeName(serversFile) + " does not exist");
    auto chosen = chooseServers({{}, serversFile, {}, 4711, {}}, terminal);
    if (const auto* error = std::get_if<QByteArray>(&chosen))
        return failure(*error);
    QList<ChosenServer>& servers = std::get<QList<ChosenServer>>(chosen);
    KeyringPasswordStore keyring;
    if (const QByteArray error = findPasswords(servers, false, {options.replyTimeout, &keyring, terminal});
        !error.isEmpty())
        return failure(error);

    // The store, opened here so that a wrong URL or an unreachable database
    // is said at once; from then on it is written on a thread of its own,
    // and a store that fails later leaves the watch going.
    QString storeError;
    const std::optional<StoreLocation> location = parseStoreLocation(
        chooseStoreUrl(options.database.value_or(config.database.value_or(QString())), {}), &storeError);
    if (!location)
        return failure(storeError.toUtf8());
    const int retentionDays = options.retentionDays.value_or(config.retentionDays.value_or(0));
    QList<ScheduleRun> lastRuns; // for the automation's missed runs and last results
    {
        PlayerStore store(*location);
        if (!store.open() || (retentionDays > 0 && !store.removeOlderThan(retentionDays))) {
            return failure("the store " + location->description().toUtf8()
                           + " could not be opened: " + store.lastError().toUtf8());
        }
        lastRuns = store.lastScheduleRuns();
    }
    StoreWriter writer(*location);

    ServerWatch::Timing timing;
    timing.interval = options.interval.value_or(config.interval.value_or(ServerWatch::kDefaultInterval));
    timing.replyTimeout = options.replyTimeout;

    Output output(stdout, stderr, terminal);
    const auto print = [&](const WatchEvent& event) {
        output.writeReply(options.json ? eventJson(event) : eventText(event));
    };
    Fleet fleet(timing);
    QList<ServerWatch::Target> targets;
    for (const ChosenServer& server : servers) {
        const ServerTarget& target = server.target;
        targets.append({target.name, target.host, target.port, target.password});
    }
    QObject::connect(&fleet, &Fleet::observed, &application,
                     [&](const QList<WatchEvent>& events, const QList<PopulationSample>& samples) {
                         for (const WatchEvent& event : events)
                             print(event);
                         output.flushReplies();
                         writer.submit(events, samples);
                     });
    if (options.verbose) {
        QObject::connect(&fleet, &Fleet::logLine, &application, [&output](const QString& name, const QByteArray& line) {
            output.writeMessage(name.toUtf8() + ": " + serverTextAsUtf8(line));
        });
    }

    // The automation file, when there is one: read whole before anything
    // runs, so that a mistake in it stops the watch rather than half of it.
    QString automationFile = !options.automationFile.isEmpty() ? options.automationFile : config.automation;
    const QString defaultAutomation = QDir(folders.userConfigDir).filePath(QStringLiteral("automation.toml"));
    if (automationFile.isEmpty() && QFileInfo::exists(defaultAutomation))
        automationFile = defaultAutomation;
    std::unique_ptr<AutomationRunner> automation;
    std::unique_ptr<AuditLog> audit;
    QNetworkAccessManager network;
    if (!automationFile.isEmpty()) {
        const AutomationRead read = readAutomationFile(automationFile);
        if (!read.ok()) {
            QByteArray message;
            for (const FileProblem& problem : read.problems)
                message += problem.text(automationFile).toUtf8() + '\n';
            message.chop(1);
            return failure(message);
        }
        audit = std::make_unique<AuditLog>(folders.userStateDir);
        AutomationRunner::Options automationOptions;
        automationOptions.claimFolder = automationClaimFolder(folders);
        automationOptions.network = &network;
        automationOptions.user = localUserName();
        automation = std::make_unique<AutomationRunner>(read.file, fleet, automationOptions);
        QObject::connect(automation.get(), &AutomationRunner::eventMade, &application, [&](const WatchEvent& event) {
            print(event);
            output.flushReplies();
            writer.submit({event});
        });
        QObject::connect(automation.get(), &AutomationRunner::scheduleRan, &application,
                         [&writer](const ScheduleRun& run) { writer.submitChange(run); });
        QObject::connect(
            automation.get(), &AutomationRunner::auditLine, &application,
            [&audit](const QByteArray& server, const QByteArray& line) { audit->appendFor(server, {line}); });
        QObject::connect(automation.get(), &AutomationRunner::logLine, &application,
                         [&output](const QByteArray& line) { output.writeMessage(line); });
    }

    QObject::connect(&writer, &StoreWriter::logLine, &application,
                     [&output](const QByteArray& line) { output.writeMessage(line); });

    QSocketNotifier stopNotifier(stopFd, QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &application, [&] {
        signalfd_siginfo received{};
        [[maybe_unused]] const auto got = ::read(stopFd, &received, sizeof received);
        stopNotifier.setEnabled(false);
        fleet.stop();
        QTimer::singleShot(0, &application, &QCoreApplication::quit);
    });
    // The desired state, when there is one: a drift check every few minutes.
    std::unique_ptr<DriftCheck> drift;
    const QString desiredFile = !options.desiredFile.isEmpty() ? options.desiredFile : config.desired;
    if (!desiredFile.isEmpty()) {
        const DesiredStateRead read = readDesiredStateFile(desiredFile);
        if (!read.problems.isEmpty()) {
            QByteArray message;
            for (const FileProblem& problem : read.problems)
                message += problem.text(desiredFile).toUtf8() + '\n';
            message.chop(1);
            return failure(message);
        }
        drift = std::make_unique<DriftCheck>(read.state, fleet);
        QObject::connect(drift.get(), &DriftCheck::drift, &application, [&](const WatchEvent& event) {
            print(event);
            output.flushReplies();
            writer.submit({event});
            if (automation)
                automation->publish(event);
        });
        QObject::connect(drift.get(), &DriftCheck::logLine, &application,
                         [&output](const QByteArray& line) { output.writeMessage(line); });
    }

    fleet.setServers(targets);
    if (automation)
        automation->start(lastRuns);
    if (drift)
        drift->start();
    QCoreApplication::exec();
    // The webhooks get a moment to tell of the watch's end.
    QElapsedTimer stopping;
    stopping.start();
    while (automation && !automation->webhooksDelivered() && stopping.elapsed() < kWebhooksWithin.count())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    // What waits is written now, or said to be lost.
    writer.flush(kStopWithin);
    ::close(stopFd);
    return int(ExitStatus::Answered);
}
