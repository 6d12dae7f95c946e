// The real window, offscreen, against each hostile practice server at full
// speed: the server runs in a thread of its own and floods as fast as the
// window takes its bytes. For each case: the longest stall of the event loop
// (how late a 10 ms timer fired), while the flood runs and then while its last
// bytes arrive and the window settles, the resident memory at the start, at
// its peak and at the end, how many bytes the server sent, and whether the
// three stored files are intact afterwards.
//
// Usage: ravelin_bench_hostile [seconds per case, default 60] [case...]
// Each case runs in a process of its own, so that one case's memory does not
// carry into the next; the figures are printed as "RESULT <key> <value>".

#include "app/dialogs.h"
#include "app/list_box.h"
#include "app/main_window.h"
#include "app/start_up.h"
#include "app/text_codec.h"
#include "bench_summary.h"
#include "event_loop.h"
#include "sim_server.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr double kMiB = 1024.0 * 1024.0;

struct Case
{
    const char* name;
    const char* title;
};

const Case kCases[] = {
    {"unknown_commands", "Flood of \"unknown command: 'x'\\n\\x04\" replies"},
    {"typed_reply_lines", "A typed command answered by endless short lines (\"a\\nb\\n\")"},
    {"endless_list_line", "A ban-list line that never ends"},
    {"never_reads", "A server that floods and never reads, 1,010 commands clicked"},
};

qint64 residentBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return 0;
}

// Processor ticks: all processes of the machine (busy, not idle) and this one.
struct Ticks
{
    qint64 machine = 0;
    qint64 self = 0;

    static Ticks now()
    {
        Ticks t;
        QFile stat(QStringLiteral("/proc/stat"));
        if (stat.open(QIODevice::ReadOnly)) {
            const QList<QByteArray> f = stat.readLine().simplified().split(' ');
            // user nice system idle iowait irq softirq steal
            for (const int i : {1, 2, 3, 6, 7, 8})
                t.machine += f.value(i).toLongLong();
        }
        QFile own(QStringLiteral("/proc/self/stat"));
        if (own.open(QIODevice::ReadOnly)) {
            const QByteArray line = own.readAll();
            const QList<QByteArray> f = line.mid(line.lastIndexOf(')') + 2).split(' ');
            t.self = f.value(11).toLongLong() + f.value(12).toLongLong(); // utime, stime
        }
        return t;
    }
};

// The error box records instead of showing; the bench opens no other box, so
// the rest stay the real ones.
class QuietDialogs : public QtDialogs
{
public:
    QStringList errors;

    void showError(QWidget*, const QString&, const QString& text) override { errors.append(text); }
};

// The practice server in a thread of its own; every call runs there and waits.
class ServerThread
{
public:
    ServerThread()
    {
        thread_.start();
        context_.moveToThread(&thread_);
        call([this] {
            server_ = std::make_unique<RconSimServer>();
            server_->listen();
        });
    }

    ~ServerThread()
    {
        call([this] { server_.reset(); });
        thread_.quit();
        thread_.wait();
    }

    // Runs `f` in the server's thread and gives what it returns.
    template <typename F>
    auto call(F f) -> decltype(f())
    {
        if constexpr (std::is_void_v<decltype(f())>) {
            QMetaObject::invokeMethod(&context_, f, Qt::BlockingQueuedConnection);
        } else {
            decltype(f()) result{};
            QMetaObject::invokeMethod(
                &context_, [&] { result = f(); }, Qt::BlockingQueuedConnection);
            return result;
        }
    }

    RconSimServer& server() { return *server_; }

private:
    QThread thread_;
    QObject context_;
    std::unique_ptr<RconSimServer> server_;
};

// A 10 ms timer that notes how late it fires, and the peak resident memory.
class LoopWatch
{
public:
    LoopWatch()
        : last_(Clock::now())
    {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const Clock::time_point now = Clock::now();
            const double late = std::chrono::duration<double, std::milli>(now - last_).count() - 10;
            if (late > worstMs) {
                worstMs = late;
                worstAtS = std::chrono::duration<double>(now - started_).count();
            }
            if (late > 100)
                ++over100;
            ++ticks;
            last_ = now;
            peak = std::max(peak, residentBytes());
        });
        timer_.start(10ms);
    }

    double worstMs = 0;
    double worstAtS = 0; // when the worst tick came, in seconds since the watch began
    qint64 peak = residentBytes();
    int ticks = 0;
    int over100 = 0; // ticks more than 100 ms late

private:
    QTimer timer_;
    Clock::time_point started_ = Clock::now();
    Clock::time_point last_;
};

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

int runCase(const QString& name, int seconds)
{
    QTemporaryDir dir;
    const QString examples = QStringLiteral(RAVELIN_EXAMPLES_DIR);
    for (const char* file : {"maps.dat", "servermessages.dat"})
        QFile::copy(examples + '/' + file, dir.filePath(QLatin1String(file)));
    const QByteArray maps = readAll(dir.filePath(QStringLiteral("maps.dat")));
    const QByteArray messages = readAll(dir.filePath(QStringLiteral("servermessages.dat")));

    ServerThread sim;
    const quint16 port = sim.call([&] { return sim.server().port(); });
    auto dialogs = std::make_shared<QuietDialogs>();
    MainWindowOptions options;
    options.settingsPath = dir.filePath(QStringLiteral("settings.ini"));
    options.mapsPath = dir.filePath(QStringLiteral("maps.dat"));
    options.announcementsPath = dir.filePath(QStringLiteral("servermessages.dat"));
    options.dialogs = dialogs;
    auto window = std::make_unique<MainWindow>(options);
    window->show();
    const auto find = [&](const char* object) { return window->findChild<QWidget*>(QLatin1String(object)); };
    const auto edit = [&](const char* object) { return static_cast<QLineEdit*>(find(object)); };
    const auto button = [&](const char* object) { return static_cast<QPushButton*>(find(object)); };
    auto* log = static_cast<QPlainTextEdit*>(find("logView"));
    auto* status = static_cast<QLabel*>(find("statusLabel"));

    edit("serverAddressEdit")->setText(QStringLiteral("127.0.0.1"));
    edit("portEdit")->setText(QString::number(port));
    edit("passwordEdit")->setText(QStringLiteral("secret"));
    button("connectButton")->click();
    if (!spinUntil([&] { return status->text() == QLatin1String("Connected to 127.0.0.1"); }, 20s)) {
        std::fprintf(stderr, "%s: no login (%s)\n", qPrintable(name), qPrintable(status->text()));
        return 1;
    }
    spinUntil([] { return false; }, 200ms);

    const qint64 startRss = residentBytes();
    const Ticks ticksBefore = Ticks::now();
    const Clock::time_point started = Clock::now();
    int refused = 0;
    qint64 flooded = 0;
    {
        LoopWatch watch;
        if (name == QLatin1String("unknown_commands")) {
            sim.call([&] { sim.server().startFlood("unknown command: 'x'\n\x04"); });
        } else if (name == QLatin1String("typed_reply_lines")) {
            sim.call([&] { sim.server().startFlood("a\nb\n"); });
            edit("commandEdit")->setText(QStringLiteral("bf2cc pl"));
            button("sendCommandButton")->click();
        } else if (name == QLatin1String("endless_list_line")) {
            sim.call([&] {
                sim.server().sendRaw("Key: ");
                sim.server().startFlood(QByteArray(64, 'k'));
            });
        } else if (name == QLatin1String("never_reads")) {
            sim.call([&] { sim.server().startFlood("no end to this reply\n"); });
            for (int i = 0; i < 1010; ++i)
                button("refreshBansButton")->click();
            refused = int(log->toPlainText()
                              .split(QChar(u'\n'))
                              .count(QStringLiteral("Too many commands waiting... please wait and try again")));
        } else {
            std::fprintf(stderr, "unknown case %s\n", qPrintable(name));
            return 2;
        }
        spinUntil([] { return false; }, std::chrono::seconds(seconds));
        const double worstDuringFlood = watch.worstMs;
        flooded = sim.call([&] {
            sim.server().stopFlood();
            return sim.server().floodedBytes();
        });
        if (name == QLatin1String("endless_list_line"))
            sim.call([&] { sim.server().sendRaw("\n\x04"); });
        // What is still in flight arrives, then the loop settles.
        spinUntil([] { return false; }, 2s);
        const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
        const Ticks ticksAfter = Ticks::now();
        const double hz = double(sysconf(_SC_CLK_TCK));
        const double cores = double(sysconf(_SC_NPROCESSORS_ONLN));
        const double others = std::max(0.0,
                                       (ticksAfter.machine - ticksBefore.machine - (ticksAfter.self - ticksBefore.self))
                                           / hz / (elapsed * cores) * 100);
        const double self = (ticksAfter.self - ticksBefore.self) / hz / elapsed * 100;

        const std::string key = name.toStdString();
        printResult(key + "_seconds", seconds);
        printResult(key + "_worst_lateness_ms", watch.worstMs);
        printResult(key + "_worst_lateness_in_flood_ms", worstDuringFlood);
        printResult(key + "_worst_lateness_at_s", watch.worstAtS);
        printResult(key + "_ticks_over_100ms", watch.over100);
        printResult(key + "_ticks", watch.ticks);
        printResult(key + "_rss_start_mib", startRss / kMiB);
        printResult(key + "_rss_peak_mib", watch.peak / kMiB);
        printResult(key + "_rss_end_mib", residentBytes() / kMiB);
        printResult(key + "_flooded_mib", flooded / kMiB);
        printResult(key + "_flood_mib_per_s", flooded / kMiB / seconds);
        printResult(key + "_log_lines", log->document()->blockCount());
        printResult(key + "_others_cpu_pct", others);
        printResult(key + "_own_cpu_pct", self);
        if (name == QLatin1String("never_reads"))
            printResult(key + "_refused", refused);
        if (name == QLatin1String("endless_list_line")) {
            const auto* bans = window->findChild<ListBox*>(QStringLiteral("banList"));
            spinUntil([&] { return bans->count() == 1; }, 20s);
            printResult(key + "_entry_mib", bans->count() == 1 ? bans->entries().at(0).size() / kMiB : -1);
        }
    }

    // Closing writes the settings; the other two files must be as they were.
    const bool connected = status->text() == QLatin1String("Connected to 127.0.0.1");
    window->close();
    window.reset();
    const QByteArray settings = readAll(dir.filePath(QStringLiteral("settings.ini")));
    struct stat info
    {
    };
    ::stat(QFile::encodeName(dir.filePath(QStringLiteral("settings.ini"))).constData(), &info);
    const bool intact = readAll(dir.filePath(QStringLiteral("maps.dat"))) == maps
        && readAll(dir.filePath(QStringLiteral("servermessages.dat"))) == messages
        && settings.contains("ipaddress=127.0.0.1") && settings.contains("port=" + QByteArray::number(port))
        && (info.st_mode & 0777) == 0600
        && QDir(dir.path()).entryList(QDir::Files | QDir::Hidden)
            == QStringList({"maps.dat", "servermessages.dat", "settings.ini"})
        && dialogs->errors.isEmpty();
    printResult(name.toStdString() + "_still_connected", connected ? 1 : 0);
    printResult(name.toStdString() + "_files_intact", intact ? 1 : 0);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    prepareApplication(application);

    QStringList args = application.arguments().mid(1);
    if (args.value(0) == QLatin1String("--case"))
        return runCase(args.value(1), args.value(2).toInt());

    int seconds = 60;
    if (!args.isEmpty() && args.first().toInt() > 0)
        seconds = args.takeFirst().toInt();
    QStringList names = args;
    if (names.isEmpty()) {
        for (const Case& c : kCases)
            names.append(QLatin1String(c.name));
    }
    int failures = 0;
    for (const QString& name : names) {
        std::printf("== %s, %d s\n", qPrintable(name), seconds);
        std::fflush(stdout);
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(), {"--case", name, QString::number(seconds)});
        child.waitForFinished(-1);
        if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0) {
            std::printf("RESULT %s_failed 1\n", qPrintable(name));
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
