#include "cli/desired_main.h"

#include "cli/cli_options.h"
#include "cli/exit_status.h"
#include "cli/server_choice.h"
#include "core/json_line.h"
#include "desired/desired_state.h"
#include "desired/server_change.h"
#include "session/console_session.h"
#include "storage/file_locations.h"
#include "storage/keyring_password_store.h"
#include "store/player_store.h"
#include "store/store_location.h"
#include "watch/server_watch.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kChangesFound = 5;  // plan: something would change
constexpr int kServerFailed = 6;  // apply, undo: a server failed (and was put back)
constexpr int kCanaryDropped = 7; // apply: the canary lost players; the rest was left alone
const QString kBeforeApply = QStringLiteral("before apply");

int usage(const QByteArray& message)
{
    std::fprintf(stderr, "ravelin-cli: %s\n", message.constData());
    return int(ExitStatus::Usage);
}

void print(const QByteArray& text)
{
    std::fwrite(text.constData(), 1, std::size_t(text.size()), stdout);
    std::fflush(stdout);
}

const char* resultWord(ChangeReport::Result result)
{
    switch (result) {
    case ChangeReport::Result::Planned: return "planned";
    case ChangeReport::Result::Unchanged: return "unchanged";
    case ChangeReport::Result::Applied: return "applied";
    case ChangeReport::Result::RolledBack: return "rolled back";
    case ChangeReport::Result::Failed: return "failed";
    }
    return "";
}

// One server's change over a session of its own: logs in, then hands the
// session's commands to a ServerChange.
class ServerLink : public QObject
{
    Q_OBJECT

public:
    ServerLink(const ServerTarget& target, std::chrono::milliseconds replyTimeout)
        : target_(target)
    {
        session_.setPasswordSource([this] { return target_.password; });
        session_.setReplyTimeout(replyTimeout);
        session_.setGiveUpTimeout(std::max(replyTimeout, std::chrono::milliseconds(60000)));
        connect(&session_, &ConsoleSession::logLine, this, [this](const QByteArray& line) { lastLine_ = line; });
        // The session takes no command while it reads the reply that logged it in.
        connect(&session_, &ConsoleSession::loggedIn, this,
                [this] { QTimer::singleShot(0, this, [this] { emit ready(); }); });
        connect(&session_, &ConsoleSession::loginFailed, this, [this] { fail("the password was refused"); });
        connect(&session_, &ConsoleSession::connectFailed, this, [this] { fail("it could not be reached"); });
        connect(&session_, &ConsoleSession::disconnected, this, [this] { fail("the connection was lost"); });
        change_ = std::make_unique<ServerChange>(
            target.name, [this](const QByteArray& command) { return session_.sendCommand(command); });
        connect(change_.get(), &ServerChange::finished, this, [this](const ChangeReport& report) {
            done_ = true;
            emit finished(report);
            session_.disconnectFromServer();
        });
    }

    void open() { session_.connectToServer(target_.host, QByteArray::number(target_.port)); }
    ServerChange& change() { return *change_; }
    const ServerTarget& target() const { return target_; }

signals:
    void ready();
    void finished(const ChangeReport& report);

private:
    void fail(const char* why)
    {
        if (done_)
            return;
        done_ = true;
        ChangeReport report;
        report.server = target_.name;
        report.result = ChangeReport::Result::Failed;
        report.problem = QString::fromLatin1(why)
            + (lastLine_.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(QString::fromUtf8(lastLine_)));
        emit finished(report);
    }

    ServerTarget target_;
    ConsoleSession session_;
    std::unique_ptr<ServerChange> change_;
    QByteArray lastLine_;
    bool done_ = false;
};

// A server's outcome for a person: its name, then its plan's lines or what became of it.
QByteArray reportText(const ChangeReport& report)
{
    QByteArray text = report.server.toUtf8() + ":";
    const QStringList lines = report.plan.lines();
    switch (report.result) {
    case ChangeReport::Result::Planned:
    case ChangeReport::Result::Unchanged: text += lines.isEmpty() ? " as wanted\n" : "\n"; break;
    case ChangeReport::Result::Applied: text += " applied and read back as wanted\n"; break;
    case ChangeReport::Result::RolledBack:
        text += " put back as its snapshot shows: " + report.problem.toUtf8() + '\n';
        break;
    case ChangeReport::Result::Failed: text += " failed: " + report.problem.toUtf8() + '\n'; break;
    }
    for (const QString& line : lines)
        text += "  " + line.toUtf8() + '\n';
    return text;
}

QByteArray reportJson(const ChangeReport& report)
{
    JsonLine line;
    line.text("server", QStringView(report.server))
        .text("result", QStringView(QString::fromLatin1(resultWord(report.result))));
    if (!report.problem.isEmpty())
        line.text("problem", QStringView(report.problem));
    line.number("applied", report.applied)
        .raw("changes", QJsonDocument(report.plan.toJson()).toJson(QJsonDocument::Compact));
    return line.finish();
}

int statusOf(const QList<ChangeReport>& reports, DesiredOptions::Verb verb)
{
    int status = 0;
    for (const ChangeReport& report : reports) {
        const bool unreachable = report.result == ChangeReport::Result::Failed && !report.before;
        if (unreachable)
            status = int(ExitStatus::ConnectionFailed);
        else if (report.result == ChangeReport::Result::Failed || report.result == ChangeReport::Result::RolledBack)
            status = status == int(ExitStatus::ConnectionFailed) ? status : kServerFailed;
        else if (verb == DesiredOptions::Verb::Plan && !report.plan.changes.isEmpty() && status == 0)
            status = kChangesFound;
    }
    return status;
}

// The canary's players while it is watched: whether they dropped by more
// than the limit from the first look.
class CanaryWatch : public QObject
{
public:
    CanaryWatch(const ServerTarget& target, std::chrono::milliseconds wait, int maxDropPercent)
        : watch_({target.name, target.host, target.port, target.password}, timing())
        , maxDrop_(maxDropPercent)
    {
        end_.setSingleShot(true);
        end_.setInterval(wait);
        connect(&watch_, &ServerWatch::observed, this,
                [this](const QList<WatchEvent>&, const QList<PopulationSample>& samples) {
                    for (const PopulationSample& sample : samples) {
                        if (!first_) {
                            first_ = sample.players;
                            std::fprintf(stderr, "ravelin-cli: watching the canary %s for its players: %d now\n",
                                         qPrintable(sample.server), sample.players);
                        }
                        lowest_ = std::min(lowest_.value_or(sample.players), sample.players);
                    }
                });
        connect(&end_, &QTimer::timeout, this, [this] { QCoreApplication::exit(0); });
    }

    // Runs the event loop until the wait is over; true when the players held.
    bool held()
    {
        watch_.start();
        end_.start();
        QCoreApplication::exec();
        watch_.stop();
        if (!first_ || !lowest_)
            return false;
        return *lowest_ * 100 >= *first_ * (100 - maxDrop_);
    }
    QString said() const
    {
        if (!first_)
            return QStringLiteral("the canary could not be looked at");
        return QStringLiteral("the canary had %1 players, and at its lowest %2").arg(*first_).arg(*lowest_);
    }

private:
    static ServerWatch::Timing timing()
    {
        ServerWatch::Timing timing;
        timing.interval = std::chrono::seconds(5);
        return timing;
    }

    ServerWatch watch_;
    QTimer end_;
    int maxDrop_;
    std::optional<int> first_;
    std::optional<int> lowest_;
};

} // namespace

int desiredMain(const QList<QByteArray>& arguments, int& argc, char** argv, const TerminalText& terminal)
{
    const DesiredCommandLine commandLine = parseDesiredCommandLine(arguments, CliEnvironment::fromProcess());
    if (commandLine.exitStatus) {
        std::fputs(commandLine.output.constData(), commandLine.outputIsError ? stderr : stdout);
        return *commandLine.exitStatus;
    }
    const DesiredOptions& options = commandLine.options;
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ravelin-cli"));

    const LocationFolders folders = userFolders();
    const QString serversFile = !options.serversFile.isEmpty() ? options.serversFile : savedServersFile({});
    auto chosen = chooseServers({{}, serversFile, {}, 4711, {}}, terminal);
    if (const auto* error = std::get_if<QByteArray>(&chosen))
        return usage(*error);
    QList<ChosenServer>& servers = std::get<QList<ChosenServer>>(chosen);
    QStringList names;
    for (const ChosenServer& server : servers)
        names.append(server.target.name);

    DesiredState desired;
    if (options.verb != DesiredOptions::Verb::Undo) {
        const QString path = !options.desiredFile.isEmpty()
            ? options.desiredFile
            : QDir(folders.userConfigDir).filePath(QStringLiteral("desired.toml"));
        DesiredStateRead read = readDesiredStateFile(path);
        for (const DesiredOverride& override : read.state.overrides) {
            if (!names.contains(override.name))
                read.problems.append(
                    {override.line, override.column,
                     QStringLiteral("no server is named \"%1\" in %2").arg(override.name, serversFile)});
        }
        if (!read.problems.isEmpty()) {
            for (const FileProblem& problem : read.problems)
                std::fprintf(stderr, "%s\n", problem.text(path).toUtf8().constData());
            return int(ExitStatus::Usage);
        }
        desired = read.state;
    }
    if (!options.canary.isEmpty() && !names.contains(options.canary))
        return usage("no server is named '" + options.canary.toUtf8() + "' in " + QFile::encodeName(serversFile));

    // The store keeps the snapshots an apply takes and an undo goes back to.
    std::unique_ptr<PlayerStore> store;
    if (options.verb != DesiredOptions::Verb::Plan) {
        QString storeError;
        const std::optional<StoreLocation> location = parseStoreLocation(
            chooseStoreUrl(options.database.value_or(QString()), {}), &storeError);
        if (!location)
            return usage(storeError.toUtf8());
        store = std::make_unique<PlayerStore>(*location);
        if (!store->open())
            return usage("the store " + location->description().toUtf8()
                         + " could not be opened: " + store->lastError().toUtf8());
    }
    QHash<QString, StateSnapshot> undoTo;
    if (options.verb == DesiredOptions::Verb::Undo) {
        if (options.snapshot) {
            const std::optional<StateSnapshot> snapshot = store->snapshot(*options.snapshot);
            if (!snapshot)
                return usage("the store has no snapshot " + QByteArray::number(*options.snapshot)
                             + (store->lastError().isEmpty() ? QByteArray() : ": " + store->lastError().toUtf8()));
            if (!names.contains(snapshot->server))
                return usage("snapshot " + QByteArray::number(*options.snapshot) + " is of '"
                             + snapshot->server.toUtf8() + "', which is not in " + QFile::encodeName(serversFile));
            undoTo.insert(snapshot->server, *snapshot);
        } else {
            for (const QString& name : std::as_const(names)) {
                for (const StateSnapshot& taken : store->snapshotsTaken(name, 200)) {
                    if (taken.label != kBeforeApply)
                        continue;
                    if (const std::optional<StateSnapshot> snapshot = store->snapshot(taken.id))
                        undoTo.insert(name, *snapshot);
                    break;
                }
            }
        }
        if (undoTo.isEmpty())
            return usage("the store holds no snapshot taken before an apply of these servers");
        servers.removeIf([&](const ChosenServer& server) { return !undoTo.contains(server.target.name); });
    }

    KeyringPasswordStore keyring;
    if (const QByteArray error = findPasswords(servers, false, {options.replyTimeout, &keyring, terminal});
        !error.isEmpty())
        return usage(error);

    const QString user = localUserName();
    const auto keep = [&](const QString& server, const QString& label) -> ServerChange::SnapshotKeeper {
        return [&store, server, label, user](const ServerState& before) {
            const std::optional<qint64> id = store->saveSnapshot(server, before, label, user);
            if (id)
                std::fprintf(stderr, "ravelin-cli: %s: snapshot %lld kept (%s)\n", qPrintable(server), qint64(*id),
                             qPrintable(label));
            else
                std::fprintf(stderr, "ravelin-cli: %s: the snapshot could not be kept: %s\n", qPrintable(server),
                             qPrintable(store->lastError()));
            return id.has_value();
        };
    };

    // Runs the change on these servers at once, each one command at a time.
    QList<ChangeReport> reports;
    const auto run = [&](const QList<ChosenServer>& group) {
        std::vector<std::unique_ptr<ServerLink>> links;
        qsizetype left = group.size();
        for (const ChosenServer& server : group) {
            auto& link = *links.emplace_back(std::make_unique<ServerLink>(server.target, options.replyTimeout));
            const QString name = server.target.name;
            QObject::connect(&link, &ServerLink::ready, &application, [&, name] {
                switch (options.verb) {
                case DesiredOptions::Verb::Plan: link.change().plan(desired.desiredFor(name)); break;
                case DesiredOptions::Verb::Apply:
                    link.change().apply(desired.desiredFor(name), keep(name, kBeforeApply));
                    break;
                case DesiredOptions::Verb::Undo:
                    link.change().undo(undoTo.value(name).state, keep(name, QStringLiteral("before undo")));
                    break;
                }
            });
            QObject::connect(&link, &ServerLink::finished, &application, [&](const ChangeReport& report) {
                reports.append(report);
                print(options.json ? reportJson(report) : reportText(report));
                if (--left == 0)
                    QTimer::singleShot(0, &application, [] { QCoreApplication::exit(0); });
            });
        }
        if (group.isEmpty())
            return;
        for (const auto& link : links)
            link->open();
        QCoreApplication::exec();
    };

    if (!options.canary.isEmpty()) {
        const auto canary = std::find_if(servers.cbegin(), servers.cend(), [&](const ChosenServer& server) {
            return server.target.name == options.canary;
        });
        run({*canary});
        const ChangeReport& outcome = reports.last();
        if (outcome.result != ChangeReport::Result::Applied && outcome.result != ChangeReport::Result::Unchanged) {
            std::fprintf(stderr, "ravelin-cli: the canary %s was not changed as wanted; the others are left alone\n",
                         qPrintable(options.canary));
            return statusOf(reports, options.verb);
        }
        if (options.wait.count() > 0) {
            CanaryWatch watch(canary->target, options.wait, options.maxDropPercent);
            if (!watch.held()) {
                std::fprintf(stderr,
                             "ravelin-cli: %s, a drop of more than %d %%: the others are left alone; "
                             "'ravelin-cli undo' puts the canary back\n",
                             qPrintable(watch.said()), options.maxDropPercent);
                return kCanaryDropped;
            }
            std::fprintf(stderr, "ravelin-cli: %s; going on\n", qPrintable(watch.said()));
        }
        servers.removeIf([&](const ChosenServer& server) { return server.target.name == options.canary; });
    }
    run(servers);
    return statusOf(reports, options.verb);
}

#include "desired_main.moc"
