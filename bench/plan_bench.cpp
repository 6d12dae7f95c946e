// `ravelin-cli plan` for 100 practice servers, against reading the same state
// with plain commands: `ravelin-cli --servers FILE` sending maplist.list, the
// two settings the file names and both ban lists. The plan reads each server
// one command at a time and compares; the baseline only reads, so the
// difference is what planning costs over the reads it needs.
//
// The servers are one rcon-sim process of 100 instances at the stock server's
// pace (a line per 30 ms frame), as servers on another machine would be; the
// program is timed from its start to its exit. The desired state differs from
// every server (another ticket ratio, a ban to place), so each plan has lines
// to print, and its exit status (5) shows it read every server.
//
// Usage: ravelin_bench_plan [RUNS] (default 5). Prints a line per run, then
// "RESULT <key> <value>" lines (milliseconds, and the ratio).

#include "bench_summary.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kServers = 100;

const char kDesired[] = R"(# What every server should hold: the plan reads all of it.
[defaults]
rotation = [
    ["strike_at_karkand", "gpm_cq", 64],
    ["dalian_plant", "gpm_cq", 64],
]
settings = { "sv.serverName" = "Ravelin practice server", "sv.ticketRatio" = "150" }
bans.keys = [{ key = "0123456789abcdef0123456789abcdef", time = "perm" }]
bans.addresses = [{ address = "10.0.0.1", absent = true }]
)";

// The same state read with plain commands.
const QStringList kBaselineCommands = {
    QStringLiteral("exec maplist.list"),
    QStringLiteral("exec sv.serverName"),
    QStringLiteral("exec sv.ticketRatio"),
    QStringLiteral("exec admin.listBannedKeys"),
    QStringLiteral("exec admin.listBannedAddresses"),
};

double toMs(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The practice servers in a process of their own, on free ports. Their
// output (a line per command received) is read and dropped, so that a full
// pipe never holds them up.
class SimProcess
{
public:
    bool start()
    {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(
            QStringLiteral(RAVELIN_SIM_PROGRAM),
            {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--instances"), QString::number(kServers)});
        if (!process_.waitForStarted())
            return false;
        static const QRegularExpression listening(QStringLiteral(" listening on 127\\.0\\.0\\.1:(\\d+),"));
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(30);
        while (ports_.size() < kServers && Clock::now() < deadline) {
            if (!process_.canReadLine() && !process_.waitForReadyRead(1000))
                continue;
            while (process_.canReadLine()) {
                const QRegularExpressionMatch match = listening.match(QString::fromUtf8(process_.readLine()));
                if (match.hasMatch())
                    ports_.append(match.captured(1).toInt());
            }
        }
        QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] { process_.readAllStandardOutput(); });
        return ports_.size() == kServers;
    }
    ~SimProcess()
    {
        process_.terminate();
        if (!process_.waitForFinished(5000))
            process_.kill();
    }
    const QList<int>& ports() const { return ports_; }

private:
    QProcess process_;
    QList<int> ports_;
};

struct Run
{
    double ms = 0;
    int exitCode = -1;
    QByteArray output;
};

// The real program, from its start to its exit, with folders of this run for
// everything it reads or keeps, so that no file of the user's comes into it.
Run timeProgram(const QStringList& arguments, const QString& home)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("RAVELIN_PASSWORD"), QStringLiteral("secret"));
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"})
        environment.insert(QLatin1String(name), home + u'/' + QLatin1String(name));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    Run run;
    QObject::connect(&process, &QProcess::readyRead, [&] { run.output += process.readAll(); });
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    const Clock::time_point start = Clock::now();
    process.start(QStringLiteral(RAVELIN_CLI_PROGRAM), arguments);
    if (process.state() != QProcess::NotRunning)
        loop.exec();
    run.ms = toMs(Clock::now() - start);
    run.output += process.readAll();
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    SimProcess servers;
    if (!servers.start()) {
        std::fprintf(stderr, "the practice servers did not start\n");
        return 1;
    }
    QTemporaryDir folder;
    QByteArray list;
    for (int i = 0; i < kServers; ++i)
        list += "srv" + QByteArray::number(i) + " 127.0.0.1 " + QByteArray::number(servers.ports()[i]) + '\n';
    const QString serversFile = folder.filePath(QStringLiteral("servers"));
    const QString desiredFile = folder.filePath(QStringLiteral("desired.toml"));
    const QString home = folder.filePath(QStringLiteral("home"));
    if (!writeFile(serversFile, list) || !writeFile(desiredFile, kDesired) || !QDir().mkpath(home))
        return 1;

    const QStringList planArguments = {QStringLiteral("plan"), QStringLiteral("--servers"), serversFile,
                                       QStringLiteral("--desired"), desiredFile};
    const QStringList baselineArguments = QStringList{QStringLiteral("--servers"), serversFile} + kBaselineCommands;

    std::vector<double> plans, baselines, ratios;
    for (int run = 0; run < runs; ++run) {
        // Taken in turn, so that whatever else the machine does weighs on both alike.
        const Run baseline = timeProgram(baselineArguments, home);
        const Run plan = timeProgram(planArguments, home);
        // Every server differs from the file: 5 says each was read and planned,
        // 3 that one could not be read. A figure of a failed run means nothing.
        if (baseline.exitCode != 0 || plan.exitCode != 5) {
            std::fprintf(stderr, "run %d: the baseline exited with %d, the plan with %d (5 wanted)\n%s\n%s\n", run + 1,
                         baseline.exitCode, plan.exitCode, baseline.output.right(2000).constData(),
                         plan.output.right(2000).constData());
            return 1;
        }
        plans.push_back(plan.ms);
        baselines.push_back(baseline.ms);
        ratios.push_back(plan.ms / baseline.ms);
        std::printf("run %d: plan of %d servers %.1f ms, the same reads with plain commands %.1f ms (%.2f x)\n",
                    run + 1, kServers, plan.ms, baseline.ms, plan.ms / baseline.ms);
        std::fflush(stdout);
    }

    const auto result = [](const char* key, double value) { std::printf("RESULT %s %.2f\n", key, value); };
    result("plan_100_servers_ms_min", minimum(plans));
    result("plan_100_servers_ms_median", median(plans));
    result("plan_baseline_reads_ms_min", minimum(baselines));
    result("plan_baseline_reads_ms_median", median(baselines));
    result("plan_ratio_min", minimum(ratios));
    result("plan_ratio_median", median(ratios));
    return 0;
}
