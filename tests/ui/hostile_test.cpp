// A hostile or broken server through the real window, on the practice
// server's fault hooks: floods that would fill the log, a list line without
// end, a server that never reads, markup in a list line, connections that die
// or never greet; and the stored files a crash or a damaged table could lose.
// While a flood runs, the resident memory stays under a stated figure, loose
// on purpose so that the sanitizer build does not fail it. How long the event
// loop stalls meanwhile is a timing figure, measured by
// bench/hostile_window.cpp, not tested here.

#include "app/list_box.h"
#include "app/string_grid.h"
#include "app/text_codec.h"
#include "session/console_session.h"
#include "storage/grid_file.h"
#include "window_fixture.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHelpEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QToolTip>

#include <algorithm>
#include <chrono>
#include <sys/stat.h>

using namespace std::chrono_literals;

namespace {

using Lines = QList<QByteArray>;

constexpr qint64 kMiB = 1024 * 1024;

// How much a flood may add to the resident memory: the bounded buffers (a
// 16 MiB line and its copies in the session and the list, 1 MiB reads, 10,000
// log lines) and room for the allocator. The sanitizer build also keeps freed
// memory in quarantine (256 MiB by default) and guard bytes around each block.
#if defined(__SANITIZE_ADDRESS__)
constexpr qint64 kFloodGrowthLimit = (96 + 384) * kMiB;
#else
constexpr qint64 kFloodGrowthLimit = 96 * kMiB;
#endif
// Enough for any flood here on a slow machine.
constexpr auto kFloodTimeout = 120s;

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

// A 10 ms timer that notes the peak resident memory.
class LoopWatch
{
public:
    LoopWatch()
        : start_(residentBytes())
        , peak_(start_)
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] { peak_ = std::max(peak_, residentBytes()); });
        timer_.start(10ms);
    }

    qint64 growth() const { return peak_ - start_; }

private:
    QTimer timer_;
    qint64 start_;
    qint64 peak_;
};

// The count a folded log line stands for: "line (n times)" is n, "line" is 1,
// anything else 0.
qsizetype timesLogged(const QByteArray& logLine, const QByteArray& line)
{
    if (logLine == line)
        return 1;
    if (!logLine.startsWith(line + " (") || !logLine.endsWith(" times)"))
        return 0;
    return logLine.mid(line.size() + 2, logLine.size() - line.size() - 2 - 7).toLongLong();
}

} // namespace

class HostileServerTest : public WindowTest
{
protected:
    QPlainTextEdit& logView() { return control<QPlainTextEdit>("logView"); }

    // Runs the flood until it has sent `bytes`, then stops it, and gives the
    // bytes it sent. `meanwhile` runs once the flood has begun.
    qint64 flood(const QByteArray& pattern, qint64 bytes, const std::function<void()>& meanwhile = {})
    {
        const qint64 before = server().floodedBytes();
        server().startFlood(pattern);
        if (meanwhile)
            meanwhile();
        EXPECT_TRUE(WaitUntil([&] { return server().floodedBytes() - before >= bytes; }, kFloodTimeout))
            << server().floodedBytes() - before << " bytes flooded";
        server().stopFlood();
        server().resumeReading();
        return server().floodedBytes() - before;
    }

    void expectBounded(const LoopWatch& watch, const char* name)
    {
        EXPECT_LT(watch.growth(), kFloodGrowthLimit)
            << name << ": resident memory grew by " << watch.growth() / kMiB << " MiB";
    }
};

TEST_F(HostileServerTest, AFloodOfRepliesKeepsTheLogBoundedAndCountsEveryLine)
{
    struct Case
    {
        const char* name;
        QByteArray typedCommand; // typed once the flood has begun, so that the flood is its reply, logged line by line
        QByteArray pattern;
        qint64 bytes;
        QByteArray folded; // the line the log folds with a count, when the count must add up
    };
    // The typed command's reply must not time out before the flood ends.
    replyTimeout_ = 10min;
    const QList<Case> cases = {
        {"unknown commands", {}, "unknown command: 'x'\n\x04", 16 * kMiB, "Unknown Command"},
        // Lines that differ from the one before are not folded: the log's own
        // bound keeps them to 10,000.
        {"a typed command's reply of endless lines", "bf2cc pl", "a\nb\n", 8 * kMiB, {}},
    };
    for (const Case& c : cases) {
        createWindow();
        connectAndLogin();
        const qsizetype before = logLines().size();
        {
            LoopWatch watch;
            const qint64 flooded = flood(c.pattern, c.bytes, [&] {
                if (c.typedCommand.isEmpty())
                    return;
                // Its own reply never comes: the flood is all it gets.
                server().stallNextReply(600000);
                fill("commandEdit", c.typedCommand);
                button("sendCommandButton").click();
            });
            if (!c.folded.isEmpty()) {
                const qsizetype replies = flooded / c.pattern.size();
                qsizetype counted = 0;
                EXPECT_TRUE(WaitUntil(
                    [&] {
                        counted = 0;
                        for (const QByteArray& line : logLinesSince(before))
                            counted += timesLogged(line, c.folded);
                        return counted == replies;
                    },
                    kFloodTimeout))
                    << c.name << ": " << counted << " of " << replies << " replies logged";
            } else {
                // Once a line sent after the flood shows, the log has taken all of it.
                server().sendRaw("\nthe end\n"); // ending first whatever line the flood cut off
                EXPECT_TRUE(
                    WaitUntil([&] { return logView().document()->lastBlock().text() == u"the end"; }, kFloodTimeout))
                    << c.name;
                EXPECT_EQ(logView().document()->blockCount(), 10000) << c.name << ": the log keeps its newest lines";
            }
            expectBounded(watch, c.name);
        }
    }
}

TEST_F(HostileServerTest, AListLineWithoutEndIsCutAt16MiBWhileTheRestIsPassedOver)
{
    createWindow();
    connectAndLogin();
    const qsizetype before = logLines().size();
    {
        LoopWatch watch;
        server().sendRaw("Key: ");
        // Far more than the memory limit, so that a line kept whole would break it.
        flood(QByteArray(64, 'k'), 160 * kMiB);
        server().sendRaw("\n\x04");
        ASSERT_TRUE(WaitUntil([&] { return list("banList").count() == 1; }, kFloodTimeout));
        expectBounded(watch, "a line without end");
    }
    const QByteArrayView entry = list("banList").entries().at(0);
    EXPECT_EQ(entry.size(), ReplyReader::kMaxLineLength);
    EXPECT_TRUE(entry.startsWith("Key: kkk") && entry.endsWith("kkk"));
    EXPECT_EQ(logLinesSince(before),
              Lines({"Refreshing ban list...", "A list line longer than 16 MiB was cut short..."}));
}

TEST_F(HostileServerTest, AServerThatFloodsAndNeverReadsGetsAtMostAThousandWaitingCommands)
{
    // The reply never ends and never times out here: only the bound can refuse.
    replyTimeout_ = 10min;
    createWindow();
    connectAndLogin();
    server().startFlood("no end to this reply\n");
    ASSERT_TRUE(WaitUntil([&] { return server().floodedBytes() > kMiB; }, kFloodTimeout));
    const qsizetype before = logLines().size();
    LoopWatch watch;
    // One goes on the wire, a thousand wait, the last nine are refused.
    for (int i = 0; i < 1 + 1000 + 9; ++i)
        button("refreshBansButton").click();
    EXPECT_EQ(logLinesSince(before), Lines(9, "Too many commands waiting... please wait and try again"));
    const qint64 flooded = server().floodedBytes();
    EXPECT_TRUE(WaitUntil([&] { return server().floodedBytes() >= flooded + 64 * kMiB; }, kFloodTimeout));
    server().stopFlood();
    expectBounded(watch, "a server that never reads");
    EXPECT_EQ(status(), "Connected to 127.0.0.1");
}

TEST_F(HostileServerTest, AListLineShowsItsMarkupAsTextInTheTooltip)
{
    const Lines entries = {
        R"(Key: <img src="x" width="20000" height="20000"> Perm)",
        R"(Key: <table width="20000"><tr><td>wide</td></tr></table> Perm)",
        R"(Key: <b>bold</b> &amp; &lt;escaped&gt; Round)",
        // A line as long as a player's two: one row, not wrapped to a narrow box.
        "Key: " + QByteArray(90, 'k') + " Perm",
        "Key: " + QByteArray(3000, 'w') + " Perm",
    };
    createWindow().show();
    // The page first: coming into view while connected, it would ask for the server's list.
    control<QTabWidget>("pages").setCurrentWidget(window().findChild<QWidget*>(QStringLiteral("bansPage")));
    connectAndLogin();
    server().sendRaw(entries.join('\n') + "\n\x04");
    ASSERT_TRUE(WaitUntil([&] { return list("banList").count() == entries.size(); }));
    ListBox& bans = list("banList");

    for (int row = 0; row < entries.size(); ++row) {
        const QModelIndex index = bans.model()->index(row, 0);
        const QString tip = index.data(Qt::ToolTipRole).toString();
        // What the tooltip shows: the bytes, not what they would mark up, in
        // rows that together hold the whole line.
        QTextDocument shown;
        shown.setHtml(tip);
        EXPECT_EQ(toBytes(shown.toPlainText().remove(QLatin1Char('\n'))), entries[row].left(4096)) << row;
        EXPECT_FALSE(tip.contains(QLatin1String("<img")) || tip.contains(QLatin1String("<table"))) << row;

        // And the tooltip Qt puts up for it is no larger than the screen.
        bans.scrollTo(index);
        const QPoint at = bans.visualRect(index).center();
        QHelpEvent help(QEvent::ToolTip, at, bans.viewport()->mapToGlobal(at));
        QApplication::sendEvent(bans.viewport(), &help);
        QLabel* label = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->inherits("QTipLabel") && widget->isVisible())
                label = qobject_cast<QLabel*>(widget);
        }
        ASSERT_NE(label, nullptr) << "no tooltip for row " << row;
        const QSize screen = label->screen()->availableGeometry().size();
        EXPECT_LE(label->width(), screen.width()) << row;
        EXPECT_LE(label->height(), screen.height()) << row;
        if (entries[row].size() <= 100) {
            EXPECT_LE(label->height(), 2 * label->fontMetrics().height()) << row << ": a short line is one row";
        }
        QToolTip::hideText();
    }
}

TEST_F(HostileServerTest, ADeadOrSilentConnectionEndsAndShowsDisconnected)
{
    struct Case
    {
        const char* name;
        QList<QByteArray> greeting; // empty: the usual one, and the login
        std::function<void(RconSimServer&)> fault;
        Lines log; // after "Connecting to 127.0.0.1"
    };
    const QList<Case> cases = {
        {"a reset",
         {},
         [](RconSimServer& sim) { sim.resetClients(); },
         {"Authentication successful", "error 10054", "Disconnected..."}},
        {"a reset in a flood",
         {},
         [](RconSimServer& sim) {
             const qint64 before = sim.floodedBytes();
             sim.startFlood("0:");
             WaitUntil([&] { return sim.floodedBytes() - before > 4 * kMiB; }, kFloodTimeout);
             sim.resetClients();
             sim.stopFlood();
             sim.resumeReading();
         },
         {"Authentication successful", "Refreshing map list...", "error 10054", "Disconnected..."}},
        {"a close",
         {},
         [](RconSimServer& sim) { sim.closeClients(); },
         {"Authentication successful", "Disconnected..."}},
        {"no greeting at all", {""}, nullptr, {"The server sent no greeting in time...", "Disconnected..."}},
        {"a greeting without a seed",
         {"### Battlefield 2 default RCON/admin ready.\n", "\n"},
         nullptr,
         {"The server sent no greeting in time...", "Disconnected..."}},
    };
    for (const Case& c : cases) {
        createWindow();
        // The window waits 15 s for a greeting; the test need not.
        window().findChild<ConsoleSession*>()->setGreetingTimeout(300ms);
        server().setGreeting(c.greeting);
        fill("serverAddressEdit", "127.0.0.1");
        fill("portEdit", QByteArray::number(server().port()));
        fill("passwordEdit", "secret");
        const qsizetype before = logLines().size();
        button("connectButton").click();
        if (c.fault) {
            ASSERT_TRUE(WaitUntil([&] { return status() == "Connected to 127.0.0.1"; })) << c.name;
            c.fault(server());
        }
        EXPECT_TRUE(WaitUntil([&] { return status() == "Disconnected"; }, 10s))
            << c.name << ": " << status().constData();
        EXPECT_EQ(logLinesSince(before), Lines({"Connecting to 127.0.0.1"}) + c.log) << c.name;
        EXPECT_TRUE(dialogs_->errors().isEmpty()) << c.name;
    }
}

TEST_F(HostileServerTest, StoredFilesSurviveDamageAndLeftoversAndStayPrivate)
{
    struct File
    {
        QString name;
        std::optional<QByteArray> bytes; // nothing: absent
        mode_t mode = 0;                 // 0: whatever it is
    };
    enum class Action { None, AddLine, Save, SaveTwice, Close };
    struct Case
    {
        const char* name;
        QList<File> before;
        Action action;
        QList<File> after;
        QByteArray lastLog; // empty: the log gained nothing
        int rows = -1;      // the table's rows afterwards; -1: not checked
    };
    const QByteArray full = "1\r\n" + QByteArray::number(kMaxGridRows) + "\r\n";
    const QByteArray nearlyFull = "1\r\n" + QByteArray::number(kMaxGridRows - 1) + "\r\n";
    const QByteArray damaged = "1\r\n2x\r\nhello\r\n";
    const QByteArray settings = "; mine\n[Settings]\nipaddress=kept\n";
    const QString messages = QStringLiteral("servermessages.dat");
    const QString backup = QStringLiteral("servermessages.dat.bak");
    const QString ini = QStringLiteral("settings.ini");
    const QList<Case> cases = {
        {"Add Line at the most rows",
         {{messages, full}},
         Action::AddLine,
         {},
         "The table already has 100000 rows, the most it can load...",
         kMaxGridRows},
        {"Add Line one short of it", {{messages, nearlyFull}}, Action::AddLine, {}, {}, kMaxGridRows},
        {"a damaged table is kept on Save",
         {{messages, damaged}, {backup, "an older backup"}},
         Action::SaveTwice,
         {{messages, "1\r\n20\r\n" + QByteArray("\r\n").repeated(20)}, {backup, damaged}},
         "servermessages.dat could not be read at start-up; it was kept as servermessages.dat.bak..."},
        {"a missing table is not", {{messages, std::nullopt}}, Action::Save, {{backup, std::nullopt}}, {}},
        {"a readable table is not",
         {{messages, "1\r\n1\r\nhello\r\n"}},
         Action::Save,
         {{messages, "1\r\n1\r\nhello\r\n"}, {backup, std::nullopt}},
         {}},
        {"cut-short saves are removed, other files kept",
         {{QStringLiteral(".settings.ini.k2x9"), "half"},
          {QStringLiteral(".servermessages.dat.0"), "half"},
          {QStringLiteral(".servermessages.dat.abcdefghijklm"), "half"},
          {QStringLiteral(".servers.txt.k2x9"), "half"},
          {QStringLiteral(".console_history.k2x9"), "half"},
          {QStringLiteral(".settings.ini.ABC"), "not ours"},
          {QStringLiteral(".settings.ini.abcdefghijklmn"), "not ours"},
          {QStringLiteral(".settings.ini."), "not ours"},
          {QStringLiteral(".maps.dat.k2x9"), "not ours"},
          {QStringLiteral("settings.ini.k2x9"), "not ours"}},
         Action::None,
         {{QStringLiteral(".settings.ini.k2x9"), std::nullopt},
          {QStringLiteral(".servermessages.dat.0"), std::nullopt},
          {QStringLiteral(".servermessages.dat.abcdefghijklm"), std::nullopt},
          {QStringLiteral(".servers.txt.k2x9"), std::nullopt},
          {QStringLiteral(".console_history.k2x9"), std::nullopt},
          {QStringLiteral(".settings.ini.ABC"), "not ours"},
          {QStringLiteral(".settings.ini.abcdefghijklmn"), "not ours"},
          {QStringLiteral(".settings.ini."), "not ours"},
          {QStringLiteral(".maps.dat.k2x9"), "not ours"},
          {QStringLiteral("settings.ini.k2x9"), "not ours"}},
         {}},
        {"settings readable by all become private",
         {{ini, settings, 0644}},
         Action::Close,
         {{ini, std::nullopt, 0600}},
         {}},
        {"settings readable by the group too", {{ini, settings, 0640}}, Action::Close, {{ini, std::nullopt, 0600}}, {}},
        {"new settings", {{ini, std::nullopt}}, Action::Close, {{ini, std::nullopt, 0600}}, {}},
    };
    savedServersPath_ = workPath(QStringLiteral("servers.txt"));
    for (const Case& c : cases) {
        destroyWindow();
        writeFile(messages, "1\r\n1\r\nhello\r\n");
        for (const QString& name : QDir(workPath({})).entryList(QDir::Files | QDir::Hidden)) {
            if (name != messages && name != QStringLiteral("maps.dat"))
                removeFile(name);
        }
        for (const File& file : c.before) {
            if (!file.bytes) {
                removeFile(file.name);
                continue;
            }
            writeFile(file.name, *file.bytes);
            if (file.mode) {
                ASSERT_EQ(::chmod(QFile::encodeName(workPath(file.name)).constData(), file.mode), 0) << c.name;
            }
        }
        dialogs_->shown.clear();
        createWindow();
        const qsizetype before = logLines().size();
        StringGrid& grid = control<StringGrid>("announcementGrid");
        switch (c.action) {
        case Action::None: break;
        case Action::AddLine: button("addLineButton").click(); break;
        case Action::Save: button("saveAnnouncementsButton").click(); break;
        case Action::SaveTwice:
            button("saveAnnouncementsButton").click();
            grid.setCell(0, 0, "changed");
            button("saveAnnouncementsButton").click();
            grid.setCell(0, 0, QByteArray());
            button("saveAnnouncementsButton").click();
            break;
        case Action::Close: window().close(); break;
        }
        const Lines logged = logLinesSince(before);
        EXPECT_EQ(logged.isEmpty() ? QByteArray() : logged.last(), c.lastLog) << c.name;
        if (c.rows >= 0) {
            EXPECT_EQ(grid.rowCount(), c.rows) << c.name;
        }
        for (const File& file : c.after) {
            const QByteArray path = QFile::encodeName(workPath(file.name));
            struct stat info
            {
            };
            const bool exists = ::stat(path.constData(), &info) == 0;
            if (file.mode) {
                EXPECT_TRUE(exists) << c.name << ": " << file.name.toStdString();
                EXPECT_EQ(info.st_mode & 0777, file.mode) << c.name << ": " << file.name.toStdString();
            } else if (!file.bytes) {
                EXPECT_FALSE(exists) << c.name << ": " << file.name.toStdString();
            }
            if (file.bytes) {
                EXPECT_EQ(readFile(file.name), *file.bytes) << c.name << ": " << file.name.toStdString();
            }
        }
    }
}
