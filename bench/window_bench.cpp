// The real window, offscreen, connected and logged in to a console peer on
// loopback: ban lists of 100,000 and 1,000,000 lines from the first byte sent
// to the list box painted with every entry, into an empty list and over a full
// one; the same through the plainest Qt client of the same peer, as the
// yardstick; a ban line of 10 MB arriving and going back; a full player list;
// and a Kick click to its command line arriving at the peer. Throughout, how
// long the event loop kept a user's input waiting.

#include "admin/ban_admin.h"
#include "admin/player_admin.h"
#include "app/dialogs.h"
#include "app/list_box.h"
#include "app/main_window.h"
#include "app/start_up.h"
#include "ban_reply.h"
#include "bench_summary.h"
#include "event_loop.h"
#include "game_state.h"
#include "loopback_peer.h"
#include "session/client_socket.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSocketNotifier>
#include <QTabWidget>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <linux/tcp.h>
#include <malloc.h>
#include <memory>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kPlayers = 256;

double toMs(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

// The bytes of the entries of a ban-list reply: its bytes less the line feeds and the 0x04.
qsizetype entryBytes(int lines)
{
    return banListReplyOf(lines).size() - lines - 1;
}

// What the process holds in memory, in bytes, once the heap has given back
// what it keeps free (so that only memory in use counts).
qsizetype residentBytes()
{
    ::malloc_trim(0);
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * ::sysconf(_SC_PAGESIZE) : -1;
}

// Stands in for the user's input: a thread writes the time into a pipe every
// millisecond, as the display server writes input events into its socket, and
// the event loop reads it when it next looks. The longest wait is the longest
// the window would have kept a key press or a click waiting.
class InputProbe
{
public:
    InputProbe()
    {
        if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
            qFatal("no pipe for the input probe");
        notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { take(); });
        thread_ = std::thread([this] {
            while (!stop_) {
                const Clock::rep now = Clock::now().time_since_epoch().count();
                [[maybe_unused]] const ssize_t written = ::write(pipe_[1], &now, sizeof now);
                std::this_thread::sleep_for(1ms);
            }
        });
    }
    ~InputProbe()
    {
        stop_ = true;
        thread_.join();
        notifier_.reset();
        ::close(pipe_[0]);
        ::close(pipe_[1]);
    }

    // Forgets the waits so far, and what is in the pipe.
    void reset()
    {
        take();
        longestMs_ = 0;
    }
    // The longest wait since the reset, counting what waits now.
    double longestMs()
    {
        take();
        return longestMs_;
    }

private:
    void take()
    {
        Clock::rep sent;
        while (::read(pipe_[0], &sent, sizeof sent) == sizeof sent)
            longestMs_ = std::max(longestMs_, toMs(Clock::now() - Clock::time_point(Clock::duration(sent))));
    }

    int pipe_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    double longestMs_ = 0;
};

InputProbe* inputProbe = nullptr;

// When the client began the read that took the last byte of the reply under way.
struct ReplyReads
{
    void expect(qsizetype bytes)
    {
        expected_ = bytes;
        taken_ = 0;
        lastReadAt.reset();
    }
    void took(Clock::time_point readStart, qsizetype bytes)
    {
        taken_ += bytes;
        if (!lastReadAt && expected_ > 0 && taken_ >= expected_)
            lastReadAt = readStart;
    }

    std::optional<Clock::time_point> lastReadAt;

private:
    qsizetype expected_ = 0;
    qsizetype taken_ = 0;
};

ReplyReads replyReads;

// The socket that a read notification is for, when it is one of the
// session's: its read notifiers are children of a ClientSocket, and the
// window's session holds the only one in this process. -1 otherwise.
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
// connection received less what still waits to be read. -1 when the socket is gone.
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

// Times every event the loop delivers, so that work left to later events
// (painting, timers) is seen too, and the session's read handler on its own.
class TimedApplication : public QApplication
{
public:
    using QApplication::QApplication;

    double longestEventMs = 0;
    int longestEventType = 0;
    // Called after each read notification of the session that took bytes.
    std::function<void(Clock::time_point start, double ms, qint64 bytes)> onSessionRead;

    void resetLongestEvent() { longestEventMs = 0, longestEventType = 0; }

    bool notify(QObject* receiver, QEvent* event) override
    {
        const int readSocket = sessionReadSocket(receiver, event);
        // Only events the loop delivers itself count: one sent from inside another is part of it.
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
            const qint64 readAfter = bytesReadFrom(readSocket);
            if (readAfter > readBefore && onSessionRead)
                onSessionRead(start, ms, readAfter - readBefore);
        }
        return result;
    }

private:
    bool deliver(QObject* receiver, QEvent* event)
    {
        ++depth_;
        const auto leave = qScopeGuard([this] { --depth_; });
        return QApplication::notify(receiver, event);
    }

    int depth_ = 0;
};

TimedApplication* timedApp()
{
    return static_cast<TimedApplication*>(QCoreApplication::instance());
}

// Keeps the error box's texts instead of showing it; an error stops the
// benchmark that met it. No other box comes up in these benchmarks.
class QuietDialogs : public QtDialogs
{
public:
    QStringList errors;

    void showError(QWidget*, const QString&, const QString& text) override { errors.append(text); }
};

// Notes when a view was first painted showing `rows` rows, once the refresh
// under way has emptied it (or it was empty to begin with), so that a paint
// of the old list does not count. Rows added below the rows in view change
// only the scroll bar, so its paint counts as much as the rows'.
class PaintWatch : public QObject
{
public:
    PaintWatch(QAbstractItemView* view, int rows)
        : view_(view)
        , rows_(rows)
        , armed_(view->model()->rowCount() == 0)
    {
        connect(view->model(), &QAbstractItemModel::modelReset, this, [this] { armed_ = true; });
        view->viewport()->installEventFilter(this);
        view->verticalScrollBar()->installEventFilter(this);
    }

    std::optional<Clock::time_point> paintedAt;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && armed_ && !paintedAt && view_->model()->rowCount() == rows_)
            paintedAt = Clock::now();
        return false;
    }

private:
    QAbstractItemView* view_;
    int rows_;
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
        MainWindowOptions options;
        options.settingsPath = dir_.filePath(QStringLiteral("settings.ini"));
        options.dialogs = dialogs_;
        window_ = std::make_unique<MainWindow>(options);
        timedApp()->onSessionRead = [this](Clock::time_point start, double ms, qint64 bytes) {
            peer_.bytesTaken(bytes);
            replyReads.took(start, bytes);
            reads.push_back({ms, bytes});
        };
    }

    ~BenchWindow()
    {
        timedApp()->onSessionRead = nullptr;
        window_.reset();
        QDir::setCurrent(previousDir_);
    }

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

// One list reply from the first byte sent to the view painted whole.
struct Shown
{
    bool whole = false;
    double totalMs = 0;         // the reply's first byte sent to the list painted whole
    double afterLastByteMs = 0; // the reply's last byte arrived to the list painted whole
    double afterLastReadMs = 0; // the read that took the last byte began to the list painted whole
    double longestStallMs = 0;  // the longest the input probe waited meanwhile
    double longestEventMs = 0;  // the longest event of any kind meanwhile
    int longestEventType = 0;
};

// Starts a list reply of `replyBytes` bytes with `ask` and waits for `view` to
// be painted showing `rows` rows.
Shown askAndShow(LoopbackPeer& peer, QAbstractItemView* view, int rows, qsizetype replyBytes,
                 const std::function<void()>& ask)
{
    PaintWatch paints(view, rows);
    replyReads.expect(replyBytes);
    const Clock::time_point asked = Clock::now();
    inputProbe->reset();
    timedApp()->resetLongestEvent();
    ask();
    Shown shown;
    shown.whole = spinUntil([&] { return paints.paintedAt.has_value(); }, 120s)
        // The peer's thread notes the last byte just after the send returned.
        && spinUntil([&] { return peer.lastReplyEnd() >= peer.lastReplyStart() && peer.lastReplyStart() >= asked; },
                     5s);
    shown.longestStallMs = inputProbe->longestMs();
    shown.longestEventMs = timedApp()->longestEventMs;
    shown.longestEventType = timedApp()->longestEventType;
    if (shown.whole) {
        shown.totalMs = toMs(*paints.paintedAt - peer.lastReplyStart());
        shown.afterLastByteMs = toMs(*paints.paintedAt - peer.lastReplyEnd());
        if (replyReads.lastReadAt)
            shown.afterLastReadMs = toMs(*paints.paintedAt - *replyReads.lastReadAt);
    }
    return shown;
}

// The figures of several showings, kept as counters of the benchmark's run.
struct ShownFigures
{
    std::vector<double> totals, afterLastByte, afterLastRead;
    double longestStall = 0, longestEvent = 0;
    int longestEventType = 0;

    void add(const Shown& shown)
    {
        totals.push_back(shown.totalMs);
        afterLastByte.push_back(shown.afterLastByteMs);
        afterLastRead.push_back(shown.afterLastReadMs);
        longestStall = std::max(longestStall, shown.longestStallMs);
        if (shown.longestEventMs > longestEvent) {
            longestEvent = shown.longestEventMs;
            longestEventType = shown.longestEventType;
        }
    }
    void report(benchmark::State& state) const
    {
        state.counters["total_ms_min"] = *std::min_element(totals.begin(), totals.end());
        state.counters["total_ms_median"] = median(totals);
        state.counters["after_last_byte_ms_median"] = median(afterLastByte);
        state.counters["after_last_byte_ms_max"] = *std::max_element(afterLastByte.begin(), afterLastByte.end());
        state.counters["after_last_read_ms_median"] = median(afterLastRead);
        state.counters["after_last_read_ms_max"] = *std::max_element(afterLastRead.begin(), afterLastRead.end());
        state.counters["longest_stall_ms"] = longestStall;
        state.counters["longest_event_ms"] = longestEvent;
        state.counters["longest_event_type"] = longestEventType;
    }
};

// Arguments: the lines of the reply, and 1 when each refresh replaces a full
// list (0: the list is emptied first, as when it is asked for the first time).
// Shows the list again for every iteration: `ask` asks for it, and for a
// first fill `empty` empties the view first; `intact` says whether the view
// holds the whole list afterwards. Reports the figures and, for a first fill,
// the resident memory over the entries' bytes; false when a showing failed.
bool measureShowings(benchmark::State& state, LoopbackPeer& peer, QAbstractItemView* view, int lines, bool refresh,
                     const std::function<void()>& ask, const std::function<void()>& empty,
                     const std::function<bool()>& intact)
{
    const qsizetype replyBytes = banListReplyOf(lines).size();
    ShownFigures figures;
    std::vector<double> memory;
    for (auto _ : state) {
        qsizetype before = 0;
        if (!refresh) {
            empty();
            before = residentBytes();
        }
        const Shown shown = askAndShow(peer, view, lines, replyBytes, ask);
        if (!shown.whole || !intact()) {
            state.SkipWithError("the list was never shown whole");
            return false;
        }
        if (!refresh)
            memory.push_back(double(residentBytes() - before) / double(entryBytes(lines)));
        state.SetIterationTime(shown.totalMs / 1000);
        figures.add(shown);
    }
    figures.report(state);
    if (!refresh)
        state.counters["memory_per_byte"] = median(memory);
    state.SetBytesProcessed(int64_t(state.iterations()) * replyBytes);
    return true;
}

void BM_BanListIntoWindow(benchmark::State& state)
{
    const int lines = int(state.range(0));
    const bool refresh = state.range(1);
    LoopbackPeer peer("secret");
    peer.setReply(ban_admin::RefreshCommand, banListReplyOf(lines).chopped(1));
    BenchWindow window(peer);
    auto* refreshButton = window.find<QPushButton>("refreshBansButton");
    auto* box = window.find<ListBox>("banList");
    if (!window.open("bansPage")) {
        state.SkipWithError("could not connect and log in");
        return;
    }
    const auto ask = [&] { refreshButton->click(); };
    const qsizetype replyBytes = banListReplyOf(lines).size();
    // A first list, checked entry by entry; the window is in use from here on.
    if (!askAndShow(peer, box, lines, replyBytes, ask).whole || box->count() != lines
        || box->entries().byteCount() != entryBytes(lines)) {
        state.SkipWithError("the list was never shown whole");
        return;
    }
    for (qsizetype i = 0; i < lines; i += 997) {
        const QByteArray& reply = banListReplyOf(lines);
        const qsizetype lineStart = i * 43 + i / 2; // lines of 43 and 44 bytes in turn
        if (box->entries().at(i) != QByteArrayView(reply).sliced(lineStart, box->entries().at(i).size())) {
            state.SkipWithError("the list does not hold the reply's lines");
            return;
        }
    }
    const bool measured = measureShowings(
        state, peer, box, lines, refresh, ask, [&] { box->clear(); },
        [&] { return window.errors().isEmpty() && box->count() == lines; });
    if (measured && !refresh)
        state.counters["block_per_byte"] = double(box->entries().memoryUsed()) / double(entryBytes(lines));
}
BENCHMARK(BM_BanListIntoWindow)
    ->Args({100000, 0})
    ->Args({100000, 1})
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BanListIntoWindow)
    ->Args({1000000, 0})
    ->Args({1000000, 1})
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The yardstick: the list as the plainest Qt client shows it. A QTcpSocket
// reads what has arrived, memchr cuts it into lines, each becomes a QString
// row of a list model, appended once a read, and a QListView with uniform
// item sizes, of the window's list's size, shows them.
class PlainListClient : public QObject
{
public:
    class Model : public QAbstractListModel
    {
    public:
        int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : int(rows.size()); }
        QVariant data(const QModelIndex& index, int role) const override
        {
            return role == Qt::DisplayRole ? QVariant(rows.at(index.row())) : QVariant();
        }
        void clear()
        {
            beginResetModel();
            rows = {};
            endResetModel();
        }
        void append(QList<QString>& lines)
        {
            if (lines.isEmpty())
                return;
            beginInsertRows({}, int(rows.size()), int(rows.size() + lines.size()) - 1);
            rows.append(std::move(lines));
            endInsertRows();
            lines.clear();
        }
        QList<QString> rows;
    };

    explicit PlainListClient(quint16 port)
    {
        view.setModel(&model);
        view.setUniformItemSizes(true);
        view.resize(649, 343);
        view.show();
        connect(&socket, &QTcpSocket::readyRead, this, [this] { read(); });
        socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    }

    // Waits for the greeting's end.
    bool open()
    {
        return spinUntil([&] { return view.windowHandle() && view.windowHandle()->isExposed() && greeted_; }, 5s);
    }
    void refresh()
    {
        model.clear();
        socket.write('\x02' + QByteArray(ban_admin::RefreshCommand) + '\n');
    }

    QListView view;
    Model model;

private:
    void read()
    {
        const Clock::time_point start = Clock::now();
        const QByteArray bytes = socket.readAll();
        if (!greeted_) {
            greeted_ = bytes.endsWith("\n\n");
            return;
        }
        replyReads.took(start, bytes.size());
        QList<QString> lines;
        const char* cursor = bytes.constData();
        const char* const end = cursor + bytes.size();
        while (const auto* lineFeed = static_cast<const char*>(std::memchr(cursor, '\n', size_t(end - cursor)))) {
            partial_.append(cursor, lineFeed - cursor);
            lines.append(QString::fromLatin1(partial_));
            partial_.clear();
            cursor = lineFeed + 1;
        }
        partial_.append(cursor, end - cursor);
        if (partial_.endsWith('\x04'))
            partial_.clear();
        model.append(lines);
    }

    QTcpSocket socket;
    QByteArray partial_;
    bool greeted_ = false;
};

void BM_PlainClientIntoView(benchmark::State& state)
{
    const int lines = int(state.range(0));
    const bool refresh = state.range(1);
    LoopbackPeer peer("secret");
    peer.setReply(ban_admin::RefreshCommand, banListReplyOf(lines).chopped(1));
    PlainListClient client(peer.port());
    if (!client.open()) {
        state.SkipWithError("could not connect");
        return;
    }
    const auto ask = [&] { client.refresh(); };
    const qsizetype replyBytes = banListReplyOf(lines).size();
    if (!askAndShow(peer, &client.view, lines, replyBytes, ask).whole) {
        state.SkipWithError("the list was never shown whole");
        return;
    }
    measureShowings(
        state, peer, &client.view, lines, refresh, ask, [&] { client.model.clear(); }, [] { return true; });
}
BENCHMARK(BM_PlainClientIntoView)
    ->Args({100000, 0})
    ->Args({100000, 1})
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainClientIntoView)
    ->Args({1000000, 0})
    ->Args({1000000, 1})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// A ban line of 10 MB among a few short ones: the longest the window kept
// input waiting while it arrived, and while its key went back with Remove.
void BM_TenMegabyteBanLine(benchmark::State& state)
{
    static const char digits[] = "0123456789abcdef";
    QByteArray key(10 * 1024 * 1024, Qt::Uninitialized);
    for (qsizetype i = 0; i < key.size(); ++i)
        key[i] = digits[(i * 7 + i / 4093) % 16];
    const QByteArray reply = banListReplyOf(5).chopped(1) + "Key: " + key + " Perm\n";
    LoopbackPeer peer("secret");
    peer.setReply(ban_admin::RefreshCommand, reply);
    BenchWindow window(peer);
    auto* refreshButton = window.find<QPushButton>("refreshBansButton");
    auto* removeButton = window.find<QPushButton>("removeBanButton");
    auto* box = window.find<ListBox>("banList");
    if (!window.open("bansPage")) {
        state.SkipWithError("could not connect and log in");
        return;
    }
    const QByteArray command = '\x02' + ban_admin::removeKey(key).command;
    std::vector<double> arrivals, removals;
    double arrivalStall = 0, removalStall = 0;
    for (auto _ : state) {
        const Shown shown = askAndShow(peer, box, 6, reply.size() + 1, [&] { refreshButton->click(); });
        if (!shown.whole || box->entries().at(5) != "Key: " + key + " Perm") {
            state.SkipWithError("the long line did not arrive whole");
            return;
        }
        arrivals.push_back(shown.totalMs);
        arrivalStall = std::max(arrivalStall, shown.longestStallMs);

        while (peer.nextLine(0ms)) { // what was sent so far
        }
        box->setSelectedIndex(5);
        inputProbe->reset();
        const Clock::time_point clicked = Clock::now();
        removeButton->click();
        std::optional<LoopbackPeer::Arrival> arrival;
        if (!spinUntil([&] { return (arrival = peer.nextLine(0ms)).has_value(); }, 20s) || arrival->line != command) {
            state.SkipWithError("the key did not go back whole");
            return;
        }
        removals.push_back(toMs(arrival->at - clicked));
        removalStall = std::max(removalStall, inputProbe->longestMs());
        state.SetIterationTime((shown.totalMs + removals.back()) / 1000);
    }
    state.counters["arrival_ms_median"] = median(arrivals);
    state.counters["arrival_stall_ms"] = arrivalStall;
    state.counters["removal_ms_median"] = median(removals);
    state.counters["removal_stall_ms"] = removalStall;
}
BENCHMARK(BM_TenMegabyteBanLine)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

QByteArray playerListing()
{
    return GameState::generated(kPlayers, 0, 0).playerListing();
}

void BM_PlayerListIntoWindow(benchmark::State& state)
{
    LoopbackPeer peer("secret");
    peer.setReply(player_admin::RefreshCommand, playerListing());
    BenchWindow window(peer);
    auto* refreshButton = window.find<QPushButton>("refreshPlayersButton");
    auto* box = window.find<ListBox>("playerList");
    if (!window.open("playersPage")) {
        state.SkipWithError("could not connect and log in");
        return;
    }
    const auto ask = [&] { refreshButton->click(); };
    const qsizetype replyBytes = playerListing().size() + 1;
    ShownFigures figures;
    for (auto _ : state) {
        const Shown shown = askAndShow(peer, box, kPlayers, replyBytes, ask);
        if (!shown.whole) {
            state.SkipWithError("the list was never shown whole");
            return;
        }
        state.SetIterationTime(shown.totalMs / 1000);
        figures.add(shown);
    }
    figures.report(state);
}
BENCHMARK(BM_PlayerListIntoWindow)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);

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
    const auto ask = [&] { window.find<QPushButton>("refreshPlayersButton")->click(); };
    if (!askAndShow(peer, players, kPlayers, playerListing().size() + 1, ask).whole) {
        state.SkipWithError("the player list was never shown whole");
        return;
    }
    while (peer.nextLine(0ms)) { // the login and the refresh
    }

    std::vector<double> latencies;
    int row = 0;
    for (auto _ : state) {
        row = (row + 7) % kPlayers; // a different player each time, not always the first row
        players->setSelectedIndex(row);
        const QByteArray line = players->items()[row];
        const QByteArray expected = '\x02' + player_admin::kick(*player_admin::playerId(line)).command;
        const size_t readsBefore = window.reads.size();

        const Clock::time_point start = Clock::now();
        kickButton->click();
        const std::optional<LoopbackPeer::Arrival> arrival = peer.nextLine(2s);
        if (!arrival || arrival->line != expected) {
            state.SkipWithError("the kick command did not arrive as sent");
            return;
        }
        const Clock::duration latency = arrival->at - start;
        state.SetIterationTime(std::chrono::duration<double>(latency).count());
        latencies.push_back(toMs(latency) * 1000);

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
}
BENCHMARK(BM_KickClickToWire)->Iterations(300)->UseManualTime()->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The window as the program builds it.
    TimedApplication application(argc, argv);
    prepareApplication(application);
    InputProbe probe;
    inputProbe = &probe;

    SummaryReporter reporter;
    if (!runBenchmarks(argc, argv, reporter))
        return 1;

    const auto figure = [&](const std::string& name, const std::string& key, const char* counter) {
        printResult(key + '_' + counter, reporter.counter(name, counter));
    };
    for (const auto& [lines, size] : {std::pair{"100000", "100k"}, {"1000000", "1m"}}) {
        for (const auto& [refresh, fill] : {std::pair{"0", "first"}, {"1", "refresh"}}) {
            for (const auto& [bench, who] :
                 {std::pair{"BM_BanListIntoWindow/", "window"}, {"BM_PlainClientIntoView/", "plain"}}) {
                const std::string name = std::string(bench) + lines + '/' + refresh;
                const std::string key = std::string(who) + '_' + size + '_' + fill;
                for (const char* counter :
                     {"total_ms_min", "total_ms_median", "after_last_byte_ms_median", "after_last_byte_ms_max",
                      "after_last_read_ms_median", "after_last_read_ms_max", "longest_stall_ms", "longest_event_ms",
                      "longest_event_type"})
                    figure(name, key, counter);
                if (std::string(refresh) == "0")
                    figure(name, key, "memory_per_byte");
                if (std::string(refresh) == "0" && std::string(who) == "window")
                    figure(name, key, "block_per_byte");
            }
        }
    }
    for (const char* counter : {"arrival_ms_median", "arrival_stall_ms", "removal_ms_median", "removal_stall_ms"})
        figure("BM_TenMegabyteBanLine", "tenmb", counter);
    for (const char* counter : {"total_ms_median", "longest_stall_ms"})
        figure("BM_PlayerListIntoWindow", "players", counter);
    for (const char* counter : {"median_us", "p90_us", "max_us"})
        figure("BM_KickClickToWire", "kick", counter);
    return 0;
}
