// The Fleet window, offscreen, watching 100 practice servers of 64 players
// each (stock timing, a churn step every 5 s, in a process of their own),
// each looked at every 5 s, one server's players shown: how long the event
// loop was held, as how late a 10 ms timer fired. The yardstick is a plain
// QTableView of the same rows over a QStandardItemModel whose every cell is
// set again every 5 s, which is what a table refreshed without care costs.
//
// Usage: ravelin_bench_fleet [seconds, default 60]
// The figures are printed as "RESULT <key> <value>".

#include "app/dialogs.h"
#include "app/fleet_window.h"
#include "app/start_up.h"
#include "bench_summary.h"
#include "event_loop.h"
#include "storage/password_store.h"

#include <QApplication>
#include <QHeaderView>
#include <QProcess>
#include <QStandardItemModel>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kServers = 100;
constexpr int kPlayers = 64;
constexpr quint16 kFirstPort = 24700;

// How late a 10 ms timer fires, tick by tick.
class LoopWatch
{
public:
    LoopWatch()
    {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const Clock::time_point now = Clock::now();
            lateMs.push_back(std::chrono::duration<double, std::milli>(now - last_).count() - 10);
            last_ = now;
        });
        timer_.start(10ms);
    }

    std::vector<double> lateMs;

private:
    QTimer timer_;
    Clock::time_point last_ = Clock::now();
};

class FixedKeyring : public PasswordStore
{
public:
    bool isAvailable() const override { return true; }
    void read(const QString&, std::function<void(std::optional<QByteArray>)> done) override
    {
        done(QByteArray("secret"));
    }
    void write(const QString&, const QByteArray&, std::function<void(QString)> done) override { done({}); }
    void remove(const QString&) override { }
};

void report(const char* name, LoopWatch& watch)
{
    std::vector<double> late = watch.lateMs;
    printResult(std::string(name) + "_worst_ms", late.empty() ? 0 : *std::max_element(late.begin(), late.end()));
    printResult(std::string(name) + "_p99_ms", quantile(late, 0.99));
    printResult(std::string(name) + "_over_16ms",
                double(std::count_if(late.begin(), late.end(), [](double ms) { return ms > 16; })));
    printResult(std::string(name) + "_ticks", double(late.size()));
}

void runFleet(int seconds)
{
    SavedServers servers;
    for (int i = 0; i < kServers; ++i)
        servers.put({"Server " + QByteArray::number(i + 1), "127.0.0.1", QByteArray::number(kFirstPort + i)});
    FleetWindowOptions options;
    options.dialogs = std::make_shared<QtDialogs>();
    options.passwordStore = std::make_shared<FixedKeyring>();
    options.timing.interval = 5s;
    FleetWindow window(options);
    window.resize(1000, 700);
    window.show();
    window.setServers(servers);
    // Every server up and looked at once, the first server's players shown.
    const bool allUp = spinUntil(
        [&] {
            for (qsizetype i = 0; i < window.fleet().size(); ++i)
                if (!window.fleet().server(i).lastLook().isValid())
                    return false;
            return window.fleet().size() == kServers;
        },
        120s);
    if (!allUp)
        std::fprintf(stderr, "not every server came up\n");
    auto* table = window.findChild<QTableView*>(QStringLiteral("serverTable"));
    table->setCurrentIndex(table->model()->index(0, 0));
    LoopWatch watch;
    spinUntil([] { return false; }, std::chrono::seconds(seconds));
    report("fleet", watch);
}

// The same rows in a plain table, every cell set again every 5 s.
void runPlainTable(int seconds)
{
    QWidget window;
    auto* servers = new QTableView(&window);
    auto* players = new QTableView(&window);
    QStandardItemModel serverModel(kServers, 7);
    QStandardItemModel playerModel(kPlayers, 5);
    servers->setModel(&serverModel);
    players->setModel(&playerModel);
    servers->setSortingEnabled(true);
    players->setSortingEnabled(true);
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(servers);
    layout->addWidget(players);
    window.resize(1000, 700);
    window.show();
    int round = 0;
    const auto refresh = [&] {
        ++round;
        for (int row = 0; row < kServers; ++row) {
            const QStringList cells = {QStringLiteral("Server %1").arg(row + 1),
                                       QStringLiteral("127.0.0.1:%1").arg(row),
                                       QStringLiteral("up"),
                                       QStringLiteral("%1/64").arg((row + round) % 65),
                                       QStringLiteral("strike_at_karkand"),
                                       QStringLiteral("12:00"),
                                       QString()};
            for (int column = 0; column < cells.size(); ++column)
                serverModel.setData(serverModel.index(row, column), cells[column]);
        }
        for (int row = 0; row < kPlayers; ++row) {
            const QStringList cells = {
                QStringLiteral("Player %1").arg(row + round), QStringLiteral("0123456789abcdef0123456789abcdef"),
                QStringLiteral("10.0.0.%1").arg(row), QStringLiteral("%1 min").arg(round), QString()};
            for (int column = 0; column < cells.size(); ++column)
                playerModel.setData(playerModel.index(row, column), cells[column]);
        }
    };
    refresh();
    // A hundred servers looked at every 5 s: a server's row every 50 ms.
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, refresh);
    timer.start(5s);
    LoopWatch watch;
    spinUntil([] { return false; }, std::chrono::seconds(seconds));
    report("plain_table", watch);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 60;
    QProcess servers;
    servers.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    servers.start(QStringLiteral(RAVELIN_SIM_PROGRAM),
                  {QStringLiteral("--port"), QString::number(kFirstPort), QStringLiteral("--instances"),
                   QString::number(kServers), QStringLiteral("--players"), QString::number(kPlayers),
                   QStringLiteral("--churn-s"), QStringLiteral("5")});
    if (!servers.waitForStarted()) {
        std::fprintf(stderr, "the practice servers did not start\n");
        return 1;
    }
    runFleet(seconds);
    servers.terminate();
    servers.waitForFinished();
    runPlainTable(seconds);
    return 0;
}
