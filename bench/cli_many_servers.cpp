// ravelin-cli on many servers at once: the time for 100 practice servers to
// answer "exec admin.listPlayers", from the first connect to the last
// disconnect, against the slowest of the same servers taken one at a time in
// the same run. The servers keep the stock server's pace (a line per 30 ms
// frame) and run in a thread of their own, as a server on another machine
// would. The client side is measured twice: the program's own ServerGroup in
// this thread, and the real ravelin-cli program (-H for one server, --servers
// for all), from its start to its exit.
//
// Usage: ravelin_bench_cli_many_servers [RUNS] (default 5). Prints a line per
// run, then "RESULT <key> <value>" lines (milliseconds, and the ratio).

#include "cli/command_feed.h"
#include "cli/server_group.h"
#include "sim_server.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kServers = 100;
constexpr char kCommand[] = "exec admin.listPlayers";

double toMs(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double minimum(const std::vector<double>& values)
{
    return *std::min_element(values.begin(), values.end());
}

// The practice servers, created, run and destroyed in their own thread.
class ServerThread
{
public:
    explicit ServerThread(int count)
    {
        thread_.start();
        context_.moveToThread(&thread_);
        QMetaObject::invokeMethod(
            &context_,
            [this, count] {
                for (int i = 0; i < count; ++i) {
                    auto& server = *servers_.emplace_back(std::make_unique<RconSimServer>());
                    if (!server.listen())
                        std::fprintf(stderr, "cannot listen: %s\n", qPrintable(server.errorString()));
                    ports_.append(server.port());
                }
            },
            Qt::BlockingQueuedConnection);
    }
    ~ServerThread()
    {
        QMetaObject::invokeMethod(
            &context_, [this] { servers_.clear(); }, Qt::BlockingQueuedConnection);
        thread_.quit();
        thread_.wait();
    }
    const QList<quint16>& ports() const { return ports_; }

private:
    QThread thread_;
    QObject context_;
    std::vector<std::unique_ptr<RconSimServer>> servers_;
    QList<quint16> ports_;
};

ServerTarget targetFor(int i, quint16 port)
{
    return {QStringLiteral("srv%1").arg(i), "127.0.0.1", port, "secret"};
}

// One run of the client side in this process; the time to the last server's end.
double timeGroup(const QList<ServerTarget>& targets, std::FILE* sink)
{
    Output output(sink, stderr);
    CommandFeed feed;
    feed.append(kCommand);
    feed.close();
    RunSettings settings;
    ServerGroup group(targets, feed, output, settings);
    QEventLoop loop;
    QObject::connect(&group, &ServerGroup::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    const Clock::time_point start = Clock::now();
    group.start();
    loop.exec();
    const double ms = toMs(Clock::now() - start);
    if (group.status() != ExitStatus::Answered)
        std::fprintf(stderr, "a run failed: %s\n", group.summary().join("\n").constData());
    return ms;
}

// The real program, from its start to its exit.
double timeProgram(const QStringList& arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("RAVELIN_PASSWORD"), QStringLiteral("secret"));
    // Its audit log goes to a folder of this run, not the user's own.
    static const QTemporaryDir state;
    environment.insert(QStringLiteral("XDG_STATE_HOME"), state.path());
    process.setProcessEnvironment(environment);
    process.setStandardOutputFile(QProcess::nullDevice());
    const Clock::time_point start = Clock::now();
    process.start(QStringLiteral(RAVELIN_CLI_PROGRAM), arguments + QStringList{kCommand});
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    if (process.state() != QProcess::NotRunning)
        loop.exec();
    const double ms = toMs(Clock::now() - start);
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        std::fprintf(stderr, "ravelin-cli failed: %s\n", process.readAllStandardError().constData());
    return ms;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    const ServerThread servers(kServers);
    QList<ServerTarget> all;
    QByteArray list;
    for (int i = 0; i < kServers; ++i) {
        all.append(targetFor(i, servers.ports()[i]));
        list += "srv" + QByteArray::number(i) + " 127.0.0.1 " + QByteArray::number(servers.ports()[i]) + '\n';
    }
    QTemporaryDir folder;
    const QString serversFile = folder.filePath(QStringLiteral("servers"));
    QFile file(serversFile);
    if (!file.open(QIODevice::WriteOnly) || file.write(list) != list.size())
        return 1;
    file.close();
    std::FILE* sink = std::fopen("/dev/null", "w");

    std::vector<double> slowestSingles, groups, ratios;
    std::vector<double> slowestPrograms, programs, programRatios;
    for (int run = 0; run < runs; ++run) {
        double slowest = 0;
        double slowestProgram = 0;
        for (const ServerTarget& target : all) {
            slowest = std::max(slowest, timeGroup({target}, sink));
            slowestProgram = std::max(slowestProgram,
                                      timeProgram({QStringLiteral("-H"), QStringLiteral("127.0.0.1"),
                                                   QStringLiteral("-P"), QString::number(target.port)}));
        }
        const double group = timeGroup(all, sink);
        const double program = timeProgram({QStringLiteral("--servers"), serversFile});
        slowestSingles.push_back(slowest);
        groups.push_back(group);
        ratios.push_back(group / slowest);
        slowestPrograms.push_back(slowestProgram);
        programs.push_back(program);
        programRatios.push_back(program / slowestProgram);
        std::printf("run %d: in-process: slowest single server %.1f ms, %d at once %.1f ms (%.2f x); "
                    "program: slowest single server %.1f ms, %d at once %.1f ms (%.2f x)\n",
                    run + 1, slowest, kServers, group, group / slowest, slowestProgram, kServers, program,
                    program / slowestProgram);
        std::fflush(stdout);
    }
    std::fclose(sink);

    const auto result = [](const char* key, double value) { std::printf("RESULT %s %.2f\n", key, value); };
    result("cli_slowest_single_ms_min", minimum(slowestSingles));
    result("cli_slowest_single_ms_median", median(slowestSingles));
    result("cli_100_servers_ms_min", minimum(groups));
    result("cli_100_servers_ms_median", median(groups));
    result("cli_100_servers_ratio_min", minimum(ratios));
    result("cli_100_servers_ratio_median", median(ratios));
    result("cli_program_slowest_single_ms_min", minimum(slowestPrograms));
    result("cli_program_slowest_single_ms_median", median(slowestPrograms));
    result("cli_program_100_servers_ms_min", minimum(programs));
    result("cli_program_100_servers_ms_median", median(programs));
    result("cli_program_100_servers_ratio_min", minimum(programRatios));
    result("cli_program_100_servers_ratio_median", median(programRatios));
    return 0;
}
