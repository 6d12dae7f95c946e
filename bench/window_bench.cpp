// The real window, offscreen, connected and logged in to a console peer on
// loopback: a large ban list and a full player list from the first byte sent
// to the list box painted with every entry, with the time of each read
// handler; and a Kick click to its command line arriving at the peer.

#include "admin/ban_admin.h"
#include "admin/player_admin.h"
#include "app/dialogs.h"
#include "app/list_box.h"
#include "app/main_window.h"
#include "app/start_up.h"
#include "ban_reply.h"
#include "bench_summary.h"
#include "game_state.h"
#include "loopback_peer.h"
#include "session/client_socket.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstddef>
#include <functional>
#include <linux/tcp.h>
#include <memory>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kPlayers = 256;

double toMs(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

// The socket that a read notification is for, when it is one of the
// session's: the session's socket is private, but its read notifiers are
// children of a ClientSocket, and the window's session holds the only one in
// this process (the peer's thread works on plain sockets). -1 otherwise.
int sessionReadSocket(QObject* receiver, QEvent* event)
{
    if (event->type() != QEvent::SockAct)
        return -1;
    const auto* notifier = qobject_cast<QSocketNotifier*>(receiver);
    if (!notifier || notifier->type() != QSocketNotifier::Read || !qobject_cast<ClientSocket*>(notifier->parent()))
        return -1;
    return int(notifier->socket());
}

// How many bytes this process has taken from the TCP socket so far: what the
// connection received less what still waits to be read. Asked again when
// bytes arrived between the two questions. -1 when the socket is gone.
qint64 bytesReadFrom(int socket)
{
    for (;;) {
        tcp_info before{};
        tcp_info after{};
        socklen_t length = sizeof before;
        int waiting = 0;
        if (::getsockopt(socket, IPPROTO_TCP, TCP_INFO, &before, &length) != 0
            || length < offsetof(tcp_info, tcpi_bytes_received) + sizeof before.tcpi_bytes_received
            || ::ioctl(socket, FIONREAD, &waiting) != 0)
            return -1;
        length = sizeof after;
        if (::getsockopt(socket, IPPROTO_TCP, TCP_INFO, &after, &length) != 0)
            return -1;
        if (after.tcpi_bytes_received == before.tcpi_bytes_received)
            return qint64(after.tcpi_bytes_received) - waiting;
    }
}

// Times every event the loop delivers, so that work the read handler leaves
// to later events (laying out and painting the list) is seen too; and times
// the session's read handler on its own, with the bytes it took.
class TimedApplication : public QApplication
{
public:
    using QApplication::QApplication;

    double longestEventMs = 0;
    int longestEventType = 0;
    // Called after each read notification of the session that took bytes.
    std::function<void(double ms, qint64 bytes)> onSessionRead;

    void resetLongestEvent() { longestEventMs = 0, longestEventType = 0; }

    bool notify(QObject* receiver, QEvent* event) override
    {
        const int readSocket = sessionReadSocket(receiver, event);
        // Only events the loop delivers itself count as events: one sent from
        // inside another is part of it.
        const bool loopEvent = depth_ == 0;
        if (!loopEvent && readSocket < 0)
            return deliver(receiver, event);
        const int type = event->type(); // the event may be gone after delivery
        const qint64 readBefore = readSocket >= 0 ? bytesReadFrom(readSocket) : -1;
        const Clock::time_point start = Clock::now();
        const bool result = deliver(receiver, event);
        const double ms = toMs(Clock::now() - start);
        if (loopEvent && ms > longestEventMs) {
            longestEventMs = ms;
            longestEventType = type;
        }
        if (readBefore >= 0) {
            // Nothing is counted for a handler that closed the socket: it can no longer be asked.
            const qint64 readAfter = bytesReadFrom(readSocket);
            if (readAfter > readBefore && onSessionRead)
                onSessionRead(ms, readAfter - readBefore);
        }
        return result;
    }

private:
    bool deliver(QObject* receiver, QEvent* event)
    {
        struct Depth
        {
            int& depth;
            explicit Depth(int& d)
                : depth(++d)
            { }
            ~Depth() { --depth; }
        } depth{depth_};
        return QApplication::notify(receiver, event);
    }

    int depth_ = 0;
};

TimedApplication* timedApp()
{
    return static_cast<TimedApplication*>(QCoreApplication::instance());
}

// Answers every box at once; an error box stops the benchmark that met it.
class QuietDialogs : public Dialogs
{
public:
    QStringList errors;

    std::optional<QString> inputQuery(QWidget*, const QString&, const QString&, int) override { return {}; }
    bool askYesNo(QWidget*, const QString&, const QString&) override { return false; }
    void showError(QWidget*, const QString&, const QString& text) override { errors.append(text); }
    void showModal(QDialog&) override { }
};

// Runs the event loop until `condition` holds; false after `timeout`.
bool spinUntil(const std::function<bool()>& condition, Clock::duration timeout)
{
    // Wakes the loop now and then, so a condition that no event announces is
    // still seen, without spinning the processor.
    QTimer wake;
    wake.start(5);
    const Clock::time_point deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Notes how many entries a list box showed when it was last painted, once the
// refresh under way has emptied it (or it was empty to begin with), so that a
// paint of the old list does not count. The rows its view knows of count, not
// the entries it holds: it shows new entries a little later.
class PaintWatch : public QObject
{
public:
    explicit PaintWatch(ListBox* box)
        : box_(box)
        , armed_(box->count() == 0)
    {
        connect(box->model(), &QAbstractItemModel::modelReset, this, [this] { armed_ = true; });
        box->viewport()->installEventFilter(this);
    }

    int paintedCount = -1;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && armed_)
            paintedCount = box_->model()->rowCount();
        return false;
    }

private:
    ListBox* box_;
    bool armed_;
};

// The window's control of that name; the benchmark cannot go on without it.
template <typename Control>
Control* control(const QWidget& window, const char* name)
{
    auto* found = window.findChild<Control*>(QLatin1String(name));
    if (!found)
        qFatal("the window has no %s named %s", Control::staticMetaObject.className(), name);
    return found;
}

// A main window in a working directory of its own, talking to `peer`, with
// every read handler timed.
class BenchWindow
{
public:
    struct Read
    {
        double ms;
        qsizetype bytes;
    };

    explicit BenchWindow(LoopbackPeer& peer)
        : peer_(peer)
    {
        previousDir_ = QDir::currentPath();
        QDir::setCurrent(dir_.path());
        for (const char* name : {"maps.dat", "servermessages.dat"}) {
            const QString file = QLatin1String(name);
            QFile::copy(QStringLiteral(RAVELIN_EXAMPLES_DIR "/") + file, dir_.filePath(file));
        }
        const QString settings = dir_.filePath(QStringLiteral("settings.ini"));
        window_ = std::make_unique<MainWindow>(MainWindowOptions{settings, dialogs_});

        // Tells a paced peer what each read took.
        timedApp()->onSessionRead = [this](double ms, qint64 bytes) {
            peer_.bytesTaken(bytes);
            reads.push_back({ms, bytes});
        };
    }

    ~BenchWindow()
    {
        timedApp()->onSessionRead = nullptr;
        window_.reset();
        QDir::setCurrent(previousDir_);
    }

    MainWindow& window() { return *window_; }
    QStringList errors() const { return dialogs_->errors; }

    template <typename Control>
    Control* find(const char* name) const
    {
        return control<Control>(*window_, name);
    }

    // Shows the window on `page`, connects and logs in.
    bool open(const char* page)
    {
        find<QTabWidget>("pages")->setCurrentWidget(find<QWidget>(page));
        window_->show();
        if (!spinUntil([&] { return window_->windowHandle() && window_->windowHandle()->isExposed(); }, 5s))
            return false;
        find<QLineEdit>("serverAddressEdit")->setText(QStringLiteral("127.0.0.1"));
        find<QLineEdit>("portEdit")->setText(QString::number(peer_.port()));
        find<QLineEdit>("passwordEdit")->setText(QStringLiteral("secret"));
        find<QPushButton>("connectButton")->click();
        const QLabel* status = find<QLabel>("statusLabel");
        return spinUntil([&] { return status->text() == QLatin1String("Connected to 127.0.0.1"); }, 5s)
            && dialogs_->errors.isEmpty();
    }

    std::vector<Read> reads;

private:
    LoopbackPeer& peer_;
    QTemporaryDir dir_;
    QString previousDir_;
    std::shared_ptr<QuietDialogs> dialogs_ = std::make_shared<QuietDialogs>();
    std::unique_ptr<MainWindow> window_;
};

struct Refresh
{
    bool shown = false;
    double totalMs = 0;        // the reply's first byte sent to the list painted whole
    double longestReadMs = 0;  // the longest read handler on the way
    double readsMs = 0;        // all read handlers together
    double longestEventMs = 0; // the longest event of any kind on the way
    int longestEventType = 0;
    size_t reads = 0;
    qsizetype largestRead = 0;
};

// Clicks `button` and waits for `box` to be painted holding `entries` entries.
Refresh refreshAndShow(BenchWindow& window, LoopbackPeer& peer, QPushButton* button, ListBox* box, int entries)
{
    PaintWatch paints(box);
    window.reads.clear();
    timedApp()->resetLongestEvent();
    button->click();
    Refresh refresh;
    refresh.shown = spinUntil([&] { return paints.paintedCount == entries; }, 20s);
    refresh.totalMs = toMs(Clock::now() - peer.lastReplyStart());
    for (const BenchWindow::Read& read : window.reads) {
        refresh.longestReadMs = std::max(refresh.longestReadMs, read.ms);
        refresh.largestRead = std::max(refresh.largestRead, read.bytes);
        refresh.readsMs += read.ms;
    }
    refresh.longestEventMs = timedApp()->longestEventMs;
    refresh.longestEventType = timedApp()->longestEventType;
    refresh.reads = window.reads.size();
    return refresh;
}

// A list reply through the window, iteration by iteration; the figures of all
// iterations go into the counters.
void measureRefreshes(benchmark::State& state, LoopbackPeer& peer, BenchWindow& window, const char* page,
                      const char* button, const char* list, int entries, const QList<QByteArray>& expected = {})
{
    auto* refreshButton = window.find<QPushButton>(button);
    auto* box = window.find<ListBox>(list);
    if (!window.open(page)) {
        state.SkipWithError("could not connect and log in");
        return;
    }
    // A refresh replaces a full list, as it does once the window has been in use.
    if (!refreshAndShow(window, peer, refreshButton, box, entries).shown) {
        state.SkipWithError("the list was never shown whole");
        return;
    }
    if (!expected.isEmpty() && box->items() != expected) {
        state.SkipWithError("the list does not hold the reply's lines");
        return;
    }
    std::vector<double> totals;
    std::vector<double> reads;
    std::vector<double> readsMs;
    double longestRead = 0;
    double longestEvent = 0;
    int longestEventType = 0;
    qsizetype largestRead = 0;
    for (auto _ : state) {
        const Refresh refresh = refreshAndShow(window, peer, refreshButton, box, entries);
        if (!refresh.shown || !window.errors().isEmpty()) {
            state.SkipWithError("the list was never shown whole");
            return;
        }
        state.SetIterationTime(refresh.totalMs / 1000);
        totals.push_back(refresh.totalMs);
        reads.push_back(double(refresh.reads));
        readsMs.push_back(refresh.readsMs);
        if (refresh.longestEventMs > longestEvent) {
            longestEvent = refresh.longestEventMs;
            longestEventType = refresh.longestEventType;
        }
        longestRead = std::max(longestRead, refresh.longestReadMs);
        largestRead = std::max(largestRead, refresh.largestRead);
    }
    state.counters["total_ms_min"] = *std::min_element(totals.begin(), totals.end());
    state.counters["total_ms_median"] = median(totals);
    state.counters["total_ms_max"] = *std::max_element(totals.begin(), totals.end());
    state.counters["longest_read_ms"] = longestRead;
    state.counters["reads"] = median(reads);
    state.counters["reads_ms_median"] = median(readsMs);
    state.counters["longest_event_ms"] = longestEvent;
    state.counters["longest_event_type"] = longestEventType;
    state.counters["largest_read_kib"] = double(largestRead) / 1024;
}

// Arguments: 0 streams the writes, 1 sends each only after the window has read
// the one before; then the size of a write in KiB.
void BM_BanListIntoWindow(benchmark::State& state)
{
    LoopbackPeer peer("secret");
    const QByteArray reply = banListReply();
    peer.setReply(ban_admin::RefreshCommand, reply.chopped(1)); // the peer closes every reply with 0x04
    peer.setWriteSize(state.range(1) << 10);
    peer.setPacing(state.range(0) ? LoopbackPeer::Pacing::OneWritePerRead : LoopbackPeer::Pacing::Stream);
    BenchWindow window(peer);
    QList<QByteArray> lines = reply.split('\n');
    lines.removeLast(); // the closing 0x04
    measureRefreshes(state, peer, window, "bansPage", "refreshBansButton", "banList", kBanLines, lines);
    state.SetBytesProcessed(int64_t(state.iterations()) * reply.size());
}
BENCHMARK(BM_BanListIntoWindow)
    ->Args({0, 64})
    ->Args({1, 64})
    ->Iterations(10)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
// Smaller reads, as a slower link delivers them: how the cost grows with the number of reads.
BENCHMARK(BM_BanListIntoWindow)->Args({1, 8})->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

QByteArray playerListing()
{
    return GameState::generated(kPlayers, 0, 0).playerListing();
}

void BM_PlayerListIntoWindow(benchmark::State& state)
{
    LoopbackPeer peer("secret");
    peer.setReply(player_admin::RefreshCommand, playerListing());
    peer.setWriteSize(64 << 10);
    BenchWindow window(peer);
    measureRefreshes(state, peer, window, "playersPage", "refreshPlayersButton", "playerList", kPlayers);
}
BENCHMARK(BM_PlayerListIntoWindow)->Iterations(50)->UseManualTime()->Unit(benchmark::kMillisecond);

// From the click on Kick, with a player selected, to the command line read by
// the peer's thread. Each kicked player is put back before the next click.
void BM_KickClickToWire(benchmark::State& state)
{
    LoopbackPeer peer("secret");
    peer.setReply(player_admin::RefreshCommand, playerListing());
    BenchWindow window(peer);
    auto* players = window.find<ListBox>("playerList");
    auto* kickButton = window.find<QPushButton>("kickButton");
    if (!window.open("playersPage")) {
        state.SkipWithError("could not connect and log in");
        return;
    }
    if (!refreshAndShow(window, peer, window.find<QPushButton>("refreshPlayersButton"), players, kPlayers).shown) {
        state.SkipWithError("the player list was never shown whole");
        return;
    }
    while (peer.nextLine(0ms)) { // the login and the refresh
    }

    std::vector<double> latencies;
    std::vector<double> clicks;
    int row = 0;
    for (auto _ : state) {
        row = (row + 7) % kPlayers; // a different player each time, not always the first row
        players->setSelectedIndex(row);
        const QByteArray line = players->items()[row];
        const QByteArray expected = '\x02' + player_admin::kick(*player_admin::playerId(line)).command;
        const size_t readsBefore = window.reads.size();

        const Clock::time_point start = Clock::now();
        kickButton->click();
        const Clock::time_point clicked = Clock::now();
        const std::optional<LoopbackPeer::Arrival> arrival = peer.nextLine(2s);
        if (!arrival || arrival->line != expected) {
            state.SkipWithError("the kick command did not arrive as sent");
            return;
        }
        const Clock::duration latency = arrival->at - start;
        state.SetIterationTime(std::chrono::duration<double>(latency).count());
        latencies.push_back(toMs(latency) * 1000);
        clicks.push_back(toMs(clicked - start) * 1000);

        // Let the window read the peer's answer and repaint before the next click.
        players->append({line});
        if (!spinUntil([&] { return window.reads.size() > readsBefore; }, 2s)) {
            state.SkipWithError("the peer's answer never arrived");
            return;
        }
        QCoreApplication::processEvents();
    }
    state.counters["median_us"] = median(latencies);
    state.counters["p90_us"] = quantile(latencies, 0.9);
    state.counters["max_us"] = *std::max_element(latencies.begin(), latencies.end());
    state.counters["click_median_us"] = median(clicks);
}
BENCHMARK(BM_KickClickToWire)->Iterations(1000)->UseManualTime()->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The window as the program builds it.
    TimedApplication application(argc, argv);
    prepareApplication(application);

    SummaryReporter reporter;
    if (!runBenchmarks(argc, argv, reporter))
        return 1;

    for (const auto& [name, key] : {std::pair{"BM_BanListIntoWindow/0/64", "bans_stream"},
                                    {"BM_BanListIntoWindow/1/64", "bans_paced"},
                                    {"BM_BanListIntoWindow/1/8", "bans_paced8k"},
                                    {"BM_PlayerListIntoWindow", "players"}}) {
        for (const char* counter : {"total_ms_min", "total_ms_median", "total_ms_max", "longest_read_ms", "reads",
                                    "largest_read_kib", "reads_ms_median", "longest_event_ms", "longest_event_type"})
            printResult(std::string(key) + '_' + counter, reporter.counter(name, counter));
    }
    for (const char* counter : {"median_us", "p90_us", "max_us", "click_median_us"})
        printResult(std::string("kick_") + counter, reporter.counter("BM_KickClickToWire", counter));
    return 0;
}
