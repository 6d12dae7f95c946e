// The real window, offscreen, connected and logged in to a console peer on
// loopback: a large ban list and a full player list from the first byte sent
// to the list box painted with every entry, with the time of each read
// handler; and a Kick click to its command line arriving at the peer.

#include "admin/ban_admin.h"
#include "admin/player_admin.h"
#include "app/about_form.h"
#include "app/dialogs.h"
#include "app/list_box.h"
#include "app/main_form.h"
#include "ban_reply.h"
#include "bench_summary.h"
#include "game_state.h"
#include "loopback_peer.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kPlayers = 256;

double Ms(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

// Times every event the loop delivers, so that work the read handler leaves
// to later events (laying out and painting the list) is seen too.
class TimedApplication : public QApplication
{
public:
    using QApplication::QApplication;

    double longestEventMs = 0;
    int longestEventType = 0;

    void ResetLongestEvent() { longestEventMs = 0, longestEventType = 0; }

    bool notify(QObject* receiver, QEvent* event) override
    {
        // Only events the loop delivers itself: one sent from inside another is part of it.
        if (depth_ > 0)
            return Deliver(receiver, event);
        const int type = event->type(); // the event may be gone after delivery
        const Clock::time_point start = Clock::now();
        const bool result = Deliver(receiver, event);
        const double ms = Ms(Clock::now() - start);
        if (ms > longestEventMs) {
            longestEventMs = ms;
            longestEventType = type;
        }
        return result;
    }

private:
    bool Deliver(QObject* receiver, QEvent* event)
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

TimedApplication* App()
{
    return static_cast<TimedApplication*>(QCoreApplication::instance());
}

// Answers every box at once; an error box stops the benchmark that met it.
class QuietDialogs : public Dialogs
{
public:
    QStringList errors;

    std::optional<QString> InputQuery(QWidget*, const QString&, const QString&, int) override { return {}; }
    bool AskYesNo(QWidget*, const QString&, const QString&) override { return false; }
    void ShowError(QWidget*, const QString&, const QString& text) override { errors.append(text); }
    void ShowModal(QDialog&) override { }
};

// Runs the event loop until `condition` holds; false after `timeout`.
bool SpinUntil(const std::function<bool()>& condition, Clock::duration timeout)
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

// Notes how many entries a list box held when it was last painted, once the
// refresh under way has emptied it (or it was empty to begin with), so that a
// paint of the old list does not count.
class PaintWatch : public QObject
{
public:
    explicit PaintWatch(TListBox* box)
        : box_(box)
        , armed_(box->Count() == 0)
    {
        connect(box->model(), &QAbstractItemModel::modelReset, this, [this] { armed_ = true; });
        box->viewport()->installEventFilter(this);
    }

    int paintedCount = -1;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && armed_)
            paintedCount = box_->Count();
        return false;
    }

private:
    TListBox* box_;
    bool armed_;
};

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
        form_ = std::make_unique<TMainForm>(TMainForm::Options{settings, dialogs_});

        // Times every read handler, and tells a paced peer what each read took.
        TSocketNotifyEvent original = form_->ClientSocket1->OnRead;
        form_->ClientSocket1->OnRead = [this, original](TClientSocket& sender, TClientWinSocket& socket) {
            const Clock::time_point start = Clock::now();
            original(sender, socket);
            const double ms = Ms(Clock::now() - start);
            const qsizetype bytes = form_->SessionState().receiveBuffer.size();
            peer_.BytesTaken(bytes);
            reads.push_back({ms, bytes});
        };
    }

    ~BenchWindow()
    {
        form_.reset();
        QDir::setCurrent(previousDir_);
    }

    TMainForm& Form() { return *form_; }
    QStringList Errors() const { return dialogs_->errors; }

    // Shows the window on `page`, connects and logs in.
    bool Open(QWidget* page)
    {
        form_->PageControl->setCurrentWidget(page);
        form_->show();
        if (!SpinUntil([&] { return form_->windowHandle() && form_->windowHandle()->isExposed(); }, 5s))
            return false;
        form_->IPEdit->setText(QStringLiteral("127.0.0.1"));
        form_->PortEdit->setText(QString::number(peer_.Port()));
        form_->PasswordEdit->setText(QStringLiteral("secret"));
        form_->ConnectButton->click();
        return SpinUntil([&] { return form_->StatusPanel0->text() == QLatin1String("Connected to 127.0.0.1"); }, 5s)
            && dialogs_->errors.isEmpty();
    }

    std::vector<Read> reads;

private:
    LoopbackPeer& peer_;
    QTemporaryDir dir_;
    QString previousDir_;
    std::shared_ptr<QuietDialogs> dialogs_ = std::make_shared<QuietDialogs>();
    std::unique_ptr<TMainForm> form_;
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
Refresh RefreshAndShow(BenchWindow& window, LoopbackPeer& peer, QPushButton* button, TListBox* box, int entries)
{
    PaintWatch paints(box);
    window.reads.clear();
    App()->ResetLongestEvent();
    button->click();
    Refresh refresh;
    refresh.shown = SpinUntil([&] { return paints.paintedCount == entries; }, 20s);
    refresh.totalMs = Ms(Clock::now() - peer.LastReplyStart());
    for (const BenchWindow::Read& read : window.reads) {
        refresh.longestReadMs = std::max(refresh.longestReadMs, read.ms);
        refresh.largestRead = std::max(refresh.largestRead, read.bytes);
        refresh.readsMs += read.ms;
    }
    refresh.longestEventMs = App()->longestEventMs;
    refresh.longestEventType = App()->longestEventType;
    refresh.reads = window.reads.size();
    return refresh;
}

// A list reply through the window, iteration by iteration; the figures of all
// iterations go into the counters.
void MeasureRefreshes(benchmark::State& state, LoopbackPeer& peer, BenchWindow& window, QWidget* page,
                      QPushButton* button, TListBox* box, int entries, const QList<QByteArray>& expected = {})
{
    if (!window.Open(page)) {
        state.SkipWithError("could not connect and log in");
        return;
    }
    // A refresh replaces a full list, as it does once the window has been in use.
    if (!RefreshAndShow(window, peer, button, box, entries).shown) {
        state.SkipWithError("the list was never shown whole");
        return;
    }
    if (!expected.isEmpty() && box->Items() != expected) {
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
        const Refresh refresh = RefreshAndShow(window, peer, button, box, entries);
        if (!refresh.shown || !window.Errors().isEmpty()) {
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
    state.counters["total_ms_median"] = Median(totals);
    state.counters["total_ms_max"] = *std::max_element(totals.begin(), totals.end());
    state.counters["longest_read_ms"] = longestRead;
    state.counters["reads"] = Median(reads);
    state.counters["reads_ms_median"] = Median(readsMs);
    state.counters["longest_event_ms"] = longestEvent;
    state.counters["longest_event_type"] = longestEventType;
    state.counters["largest_read_kib"] = double(largestRead) / 1024;
}

// Arguments: 0 streams the writes, 1 sends each only after the window has read
// the one before; then the size of a write in KiB.
void BM_BanListIntoWindow(benchmark::State& state)
{
    LoopbackPeer peer("secret");
    const QByteArray reply = BanListReply();
    peer.SetReply(ban_admin::RefreshCommand, reply.chopped(1)); // the peer closes every reply with 0x04
    peer.SetWriteSize(state.range(1) << 10);
    peer.SetPacing(state.range(0) ? LoopbackPeer::Pacing::OneWritePerRead : LoopbackPeer::Pacing::Stream);
    BenchWindow window(peer);
    TMainForm& form = window.Form();
    QList<QByteArray> lines = reply.split('\n');
    lines.removeLast(); // the closing 0x04
    MeasureRefreshes(state, peer, window, form.BansTabSheet, form.RefeshBansButton, form.BansListBox, kBanLines, lines);
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

QByteArray PlayerListing()
{
    return GameState::Generated(kPlayers, 0, 0).PlayerListing();
}

void BM_PlayerListIntoWindow(benchmark::State& state)
{
    LoopbackPeer peer("secret");
    peer.SetReply(player_admin::RefreshCommand, PlayerListing());
    peer.SetWriteSize(64 << 10);
    BenchWindow window(peer);
    TMainForm& form = window.Form();
    MeasureRefreshes(state, peer, window, form.PlayerTabSheet, form.RefreshPlayersButton, form.PlayersListBox,
                     kPlayers);
}
BENCHMARK(BM_PlayerListIntoWindow)->Iterations(50)->UseManualTime()->Unit(benchmark::kMillisecond);

// From the click on Kick, with a player selected, to the command line read by
// the peer's thread. Each kicked player is put back before the next click.
void BM_KickClickToWire(benchmark::State& state)
{
    LoopbackPeer peer("secret");
    peer.SetReply(player_admin::RefreshCommand, PlayerListing());
    BenchWindow window(peer);
    TMainForm& form = window.Form();
    if (!window.Open(form.PlayerTabSheet)) {
        state.SkipWithError("could not connect and log in");
        return;
    }
    if (!RefreshAndShow(window, peer, form.RefreshPlayersButton, form.PlayersListBox, kPlayers).shown) {
        state.SkipWithError("the player list was never shown whole");
        return;
    }
    while (peer.NextLine(0ms)) { // the login and the refresh
    }

    std::vector<double> latencies;
    std::vector<double> clicks;
    int row = 0;
    for (auto _ : state) {
        row = (row + 7) % kPlayers; // a different player each time, not always the first row
        form.PlayersListBox->SetItemIndex(row);
        const QByteArray line = form.PlayersListBox->Items()[row];
        const QByteArray expected = '\x02' + player_admin::Kick(*player_admin::PlayerIdOf(line)).command;
        const size_t readsBefore = window.reads.size();

        const Clock::time_point start = Clock::now();
        form.KickButton->click();
        const Clock::time_point clicked = Clock::now();
        const std::optional<LoopbackPeer::Arrival> arrival = peer.NextLine(2s);
        if (!arrival || arrival->line != expected) {
            state.SkipWithError("the kick command did not arrive as sent");
            return;
        }
        const Clock::duration latency = arrival->at - start;
        state.SetIterationTime(std::chrono::duration<double>(latency).count());
        latencies.push_back(Ms(latency) * 1000);
        clicks.push_back(Ms(clicked - start) * 1000);

        // Let the window read the peer's answer and repaint before the next click.
        form.PlayersListBox->Add(line);
        if (!SpinUntil([&] { return window.reads.size() > readsBefore; }, 2s)) {
            state.SkipWithError("the peer's answer never arrived");
            return;
        }
        QCoreApplication::processEvents();
    }
    state.counters["median_us"] = Median(latencies);
    state.counters["p90_us"] = Quantile(latencies, 0.9);
    state.counters["max_us"] = *std::max_element(latencies.begin(), latencies.end());
    state.counters["click_median_us"] = Median(clicks);
}
BENCHMARK(BM_KickClickToWire)->Iterations(1000)->UseManualTime()->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The window as the program builds it.
    TimedApplication application(argc, argv);
    InitRavelinResources();
    QApplication::setStyle(QStringLiteral("Windows"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/ravelin/ravelin.png")));

    SummaryReporter reporter;
    if (!RunBenchmarks(argc, argv, reporter))
        return 1;

    for (const auto& [name, key] : {std::pair{"BM_BanListIntoWindow/0/64", "bans_stream"},
                                    {"BM_BanListIntoWindow/1/64", "bans_paced"},
                                    {"BM_BanListIntoWindow/1/8", "bans_paced8k"},
                                    {"BM_PlayerListIntoWindow", "players"}}) {
        for (const char* counter : {"total_ms_min", "total_ms_median", "total_ms_max", "longest_read_ms", "reads",
                                    "largest_read_kib", "reads_ms_median", "longest_event_ms", "longest_event_type"})
            PrintResult(std::string(key) + '_' + counter, reporter.Counter(name, counter));
    }
    for (const char* counter : {"median_us", "p90_us", "max_us", "click_median_us"})
        PrintResult(std::string("kick_") + counter, reporter.Counter("BM_KickClickToWire", counter));
    return 0;
}
