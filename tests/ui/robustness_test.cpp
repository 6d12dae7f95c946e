// Faults on purpose, through the real window: connections that break, stall or
// never complete, replies that are cut, huge or full of odd bytes, and files
// that cannot be written. None of them may crash or freeze the window, or lose
// what is already listed or stored.

#include "app/list_box.h"
#include "app/string_grid.h"
#include "app/text_codec.h"
#include "form_fixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;

namespace {

using Lines = QList<QByteArray>;

Lines Sorted(Lines lines)
{
    std::sort(lines.begin(), lines.end());
    return lines;
}

// The offset just past the first `count` lines of `listing`.
qsizetype OffsetAfterLines(const QByteArray& listing, int count)
{
    qsizetype offset = 0;
    for (int i = 0; i < count; ++i)
        offset = listing.indexOf('\n', offset) + 1;
    return offset;
}

// The longest time the event loop went without running a 10 ms timer: a
// frozen window shows up here even when the work finishes in the end.
class LoopWatch
{
public:
    LoopWatch()
    {
        clock_.start();
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { longest_ = std::max(longest_, clock_.restart()); });
        timer_.start();
    }
    std::chrono::milliseconds Longest() const { return std::chrono::milliseconds(longest_); }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 longest_ = 0;
};

// A listener on 127.0.0.1 whose accept queue is full, so that the next connect
// to it neither completes nor fails until the client gives up.
class FullBacklog
{
public:
    FullBacklog()
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(listener_, 0) != 0
            || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        port_ = ntohs(address.sin_port);
        for (int i = 0; i < 16 && !full_; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            fillers_.push_back(fd);
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
            pollfd poller{fd, POLLOUT, 0};
            full_ = ::poll(&poller, 1, 100) == 0;
        }
    }
    ~FullBacklog()
    {
        for (const int fd : fillers_)
            ::close(fd);
        ::close(listener_);
    }
    bool Full() const { return full_; }
    quint16 Port() const { return port_; }

private:
    int listener_ = -1;
    quint16 port_ = 0;
    bool full_ = false;
    std::vector<int> fillers_;
};

} // namespace

class RobustnessTest : public FormTest
{
protected:
    void Refresh(QPushButton* button, TListBox* list, qsizetype count)
    {
        const ConsoleState& state = Form().SessionState();
        button->click();
        EXPECT_TRUE(WaitUntil([&] {
            return list->Count() == count && !state.mapListContinuation && !state.playerListContinuation
                && !state.banListContinuation;
        })) << "entries: "
            << list->Count() << " of " << count;
    }
};

TEST_F(RobustnessTest, AListReplyCutByTheServerKeepsItsWholeLinesAndTheNextLoginIsClean)
{
    ConnectAndLogin();
    TMainForm& form = Form();
    const GameState& game = Server().Game();
    struct Case
    {
        QPushButton* button;
        TListBox* list;
        QByteArray listing, startLog;
        bool players;
        int wholeLines; // the cut falls in the middle of the line after these
    };
    const QList<Case> cases = {
        {form.RefreshMapsButton, form.MapsListBox, game.MapListing(), "Refreshing map list...", false, 2},
        {form.RefeshBansButton, form.BansListBox, game.BanListing(), "Refreshing ban list...", false, 2},
        // Three lines make one player and the first half of the next.
        {form.RefreshPlayersButton, form.PlayersListBox, game.PlayerListing(), "Refreshing player list...", true, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.startLog.constData());
        const qsizetype whole = OffsetAfterLines(c.listing, c.wholeLines);
        const qsizetype nextLine = c.listing.indexOf('\n', whole) - whole;
        const Lines kept = ListingEntries(c.listing.left(whole), c.players);
        ASSERT_FALSE(kept.isEmpty());

        qsizetype mark = LogLines().size();
        Server().CloseAfterNextReplyBytes(whole + nextLine / 2);
        c.button->click();
        ASSERT_TRUE(WaitUntil([&] { return Status() == "Disconnected"; }));
        SpinEventLoop(30ms);
        EXPECT_EQ(LogLinesSince(mark), Lines({c.startLog, "Disconnected..."}));
        EXPECT_EQ(c.list->Items(), kept) << "only whole entries, the half line is not one";
        EXPECT_FALSE(form.ClientSocket1->Active());

        mark = LogLines().size();
        ConnectAndLogin();
        SpinEventLoop(30ms);
        EXPECT_EQ(LogLinesSince(mark), Lines({"Connecting to 127.0.0.1", "Authentication successful"}));
        EXPECT_EQ(c.list->Items(), kept) << "the greeting is no entry of the cut list";

        const Lines all = ListingEntries(c.listing, c.players);
        Refresh(c.button, c.list, all.size());
        EXPECT_EQ(c.list->Items(), c.players ? Sorted(all) : all);
    }
}

TEST_F(RobustnessTest, AResetIsLoggedAndTheNextCommandEndsTheConnection)
{
    ConnectAndLogin();
    TMainForm& form = Form();
    qsizetype mark = LogLines().size();
    Server().ResetClients();
    ASSERT_TRUE(WaitUntil([&] { return !LogLinesSince(mark).isEmpty(); }));
    SpinEventLoop(50ms);
    // The handler cleared the code, so the notification is dropped: still Active.
    EXPECT_EQ(LogLinesSince(mark), Lines({"error 10054"}));
    EXPECT_TRUE(form.ClientSocket1->Active());
    EXPECT_EQ(Status(), "Connected to 127.0.0.1");

    mark = LogLines().size();
    QElapsedTimer clock;
    clock.start();
    form.RefreshPlayersButton->click();
    EXPECT_LT(clock.elapsed(), 500);
    // The send meets the broken connection (10058, a send after shutdown) and disconnects at once.
    EXPECT_EQ(LogLinesSince(mark), Lines({"error 10058", "Disconnected..."}));
    EXPECT_EQ(Status(), "Disconnected");
    EXPECT_FALSE(form.ClientSocket1->Active());

    mark = LogLines().size();
    form.RefreshPlayersButton->click();
    EXPECT_EQ(LogLinesSince(mark), Lines({"Error not connected..."}));
    ConnectAndLogin(); // and a new connection works
}

TEST_F(RobustnessTest, AServerThatStopsReadingStallsNoClickAndLosesNoCommand)
{
    ConnectAndLogin();
    TMainForm& form = Form();
    const qsizetype mark = LogLines().size();
    Server().PauseReading();

    // One command goes on the wire; the others wait in the window for its reply.
    Lines expected;
    qint64 slowestClick = 0;
    QElapsedTimer clock;
    for (int i = 0; i < 40; ++i) {
        const QByteArray command = "exec game.sayAll \"" + QByteArray::number(i) + '"';
        expected.append(Framed(command));
        form.CommandEdit->setText(ToDisplay(command));
        clock.start();
        form.CommandButton->click();
        slowestClick = std::max(slowestClick, clock.elapsed());
    }
    EXPECT_LT(slowestClick, 100) << "ms for one click";
    EXPECT_LT(form.ClientSocket1->Socket().PendingWriteSize(), 100) << "only one command is written";

    LoopWatch watch;
    SpinEventLoop(100ms);
    EXPECT_LT(watch.Longest(), 100ms);
    EXPECT_TRUE(CommandsAfterLogin().isEmpty());

    Server().ResumeReading();
    EXPECT_TRUE(WaitUntil([&] { return CommandsAfterLogin().size() >= expected.size(); }, 8s));
    SpinEventLoop(50ms);
    EXPECT_TRUE(CommandsAfterLogin() == expected) << "commands lost, doubled or out of order";
    EXPECT_EQ(Server().PipelinedLines(), 0);
    EXPECT_EQ(Server().Game().Chat().size(), expected.size());
    EXPECT_TRUE(LogLinesSince(mark).isEmpty());
    EXPECT_TRUE(form.ClientSocket1->Active());
}

TEST_F(RobustnessTest, ATenMegabyteBanLineArrivesWholeAndGoesBackWhole)
{
    // Every byte depends on its place, so a piece lost, doubled or moved shows.
    static const char digits[] = "0123456789abcdef";
    QByteArray key(10 * 1024 * 1024, Qt::Uninitialized);
    for (qsizetype i = 0; i < key.size(); ++i)
        key[i] = digits[(i * 7 + i / 4093) % 16];
    Server().Game().AddBan({key, BanKind::Perm});
    ConnectAndLogin();
    TMainForm& form = Form();
    const Lines bans = ListingEntries(Server().Game().BanListing(), false);

    LoopWatch watch;
    QElapsedTimer clock;
    clock.start();
    Refresh(form.RefeshBansButton, form.BansListBox, bans.size());
    const qsizetype huge = bans.size() - 1;
    ASSERT_EQ(form.BansListBox->Count(), bans.size());
    EXPECT_EQ(form.BansListBox->Items()[huge].size(), bans[huge].size());
    EXPECT_TRUE(form.BansListBox->Items()[huge] == "Key: " + key + " Perm") << "the long entry's bytes differ";
    EXPECT_EQ(form.BansListBox->Items().mid(0, huge), bans.mid(0, huge));
    EXPECT_LT(watch.Longest(), 500ms) << "the window froze while the line arrived";

    const qsizetype sent = Server().ReceivedLines().size();
    form.BansListBox->SetItemIndex(int(huge));
    form.RemoveBanButton->click();
    ASSERT_TRUE(WaitUntil([&] { return Server().ReceivedLines().size() > sent; }, 5s));
    EXPECT_TRUE(Server().ReceivedLines().at(sent) == Framed("exec admin.removeKeyFromBanList " + key))
        << "the key did not go back byte for byte";
    // The log shows the start of so long a line, not all of it.
    EXPECT_TRUE((key + " removed from ban list...").startsWith(LogLines().last()));
    EXPECT_GE(LogLines().last().size(), 32);
    EXPECT_LT(watch.Longest(), 500ms) << "the window froze while the key went out";

    Refresh(form.RefeshBansButton, form.BansListBox, bans.size() - 1);
    EXPECT_EQ(form.BansListBox->Items(), bans.mid(0, huge));
    EXPECT_LT(clock.elapsed(), 6000);
}

TEST_F(RobustnessTest, NulDelAndFFBytesGoIntoTheListsAndBackToTheServerUnchanged)
{
    const QByteArray odd("\x00\x7f\xff\x81", 4);
    Server().Game().AddPlayer({30, "Odd" + odd + "Name", "10.0.0.30", 3030, "hash" + odd});
    Server().Game().AddBan({"key" + odd + "end", BanKind::Perm});
    ConnectAndLogin();
    TMainForm& form = Form();
    const GameState& game = Server().Game();
    Refresh(form.RefreshPlayersButton, form.PlayersListBox, game.Players().size());
    EXPECT_EQ(form.PlayersListBox->Items(), Sorted(ListingEntries(game.PlayerListing(), true)));
    Refresh(form.RefeshBansButton, form.BansListBox, game.Bans().size());
    EXPECT_EQ(form.BansListBox->Items(), ListingEntries(game.BanListing(), false));

    const QByteArray banLine = "Key: key" + odd + "end Perm";
    const int banIndex = int(form.BansListBox->Items().indexOf(banLine));
    ASSERT_GE(banIndex, 0);
    form.BansListBox->SetItemIndex(banIndex);
    qsizetype sent = Server().ReceivedLines().size();
    form.RemoveBanButton->click();
    ASSERT_TRUE(WaitUntil([&] { return Server().ReceivedLines().size() > sent; }));
    EXPECT_EQ(Server().ReceivedLines().at(sent), Framed("exec admin.removeKeyFromBanList key" + odd + "end"));
    EXPECT_EQ(LogLines().last(), "key" + odd + "end removed from ban list...");
    EXPECT_TRUE(WaitUntil([&] { return game.Bans().size() == 4; })) << "the server found the key it holds";

    // A player id made of odd bytes: a scripted reply, as the practice server numbers its players.
    const QByteArray playerLine = "Id: " + odd + " - x is remote ip: 10.0.0.1:1 ->";
    const QByteArray hashLine = "         CD-key hash: " + odd;
    Server().SendRaw(playerLine + '\n' + hashLine + "\n\x04");
    ASSERT_TRUE(WaitUntil([&] { return form.PlayersListBox->Items() == Lines({playerLine + hashLine}); }));
    form.PlayersListBox->SetItemIndex(0);
    sent = Server().ReceivedLines().size();
    form.KickButton->click();
    ASSERT_TRUE(WaitUntil([&] { return Server().ReceivedLines().size() > sent; }));
    EXPECT_EQ(Server().ReceivedLines().at(sent), Framed("exec admin.kickplayer " + odd));
    EXPECT_EQ(LogLines().last(), "Player ID " + odd + " has been kicked...");
}

// However the greeting and the login's outcome are cut into reads, the right
// password logs in and the wrong one is refused, against the stock server.
TEST_F(RobustnessTest, TheLoginOutcomeIsTheSameHoweverTheGreetingIsCut)
{
    const QByteArray banner = "### Battlefield 2 default RCON/admin ready.\n";
    const QByteArray seedLine = "### Digest seed: QwErTyUiOpAsDfGh\n";
    Lines bytewise;
    for (const char byte : banner + seedLine + '\n')
        bytewise.append(QByteArray(1, byte));
    struct Way
    {
        const char* name;
        Lines greeting; // empty: the stock greeting
        int frameMs, replyChunk;
    };
    const QList<Way> ways = {
        {"the stock greeting", {}, 30, 0},
        {"cut inside the banner", {banner.left(20), banner.mid(20) + seedLine, "\n"}, 30, 0},
        {"cut inside the seed, the outcome in pieces of 5",
         {banner + seedLine.left(25), seedLine.mid(25) + '\n'},
         30,
         5},
        {"one byte per write, the outcome too", bytewise, 2, 1},
    };
    struct Login
    {
        QByteArray password;
        Lines log;
        QByteArray status;
    };
    const QList<Login> logins = {
        {"secret", {"Connecting to 127.0.0.1", "Authentication successful"}, "Connected to 127.0.0.1"},
        {"wrong", {"Connecting to 127.0.0.1", "Authentication Failed", "Disconnected..."}, "Disconnected"},
    };
    for (const Way& way : ways) {
        RconSimOptions options;
        options.frameMs = way.frameMs;
        options.chunkSize = way.replyChunk;
        ReplaceServer(options).SetGreeting(way.greeting);
        for (const Login& login : logins) {
            SCOPED_TRACE(std::string(way.name) + ", password " + login.password.toStdString());
            TMainForm& form = CreateForm();
            form.IPEdit->setText(QStringLiteral("127.0.0.1"));
            form.PortEdit->setText(QString::number(Server().Port()));
            form.PasswordEdit->setText(ToDisplay(login.password));
            form.ConnectButton->click();
            EXPECT_TRUE(WaitUntil([&] { return Status() == login.status; }));
            SpinEventLoop(60ms);
            EXPECT_EQ(LogLines(), login.log);
            EXPECT_EQ(Form().SessionState().digestSeed,
                      way.greeting.isEmpty() ? Server().LastSeed() : "QwErTyUiOpAsDfGh");
        }
    }
}

TEST_F(RobustnessTest, AHostThatDoesNotResolveIsLookedUpAgainAtEachConnect)
{
    TMainForm& form = Form();
    form.IPEdit->setText(QStringLiteral("no-such-host.ravelin.invalid"));
    form.PortEdit->setText(QStringLiteral("4711"));
    for (int attempt = 1; attempt <= 2; ++attempt) {
        SCOPED_TRACE(attempt);
        const qsizetype mark = LogLines().size();
        form.ConnectButton->click();
        // The lookup fails before any connect is tried, so there is no "Connecting to" line.
        ASSERT_TRUE(WaitUntil([&] { return LogLinesSince(mark).size() >= 2; }));
        SpinEventLoop(30ms);
        EXPECT_EQ(LogLinesSince(mark), Lines({"error 11001", "Disconnected..."}));
        EXPECT_EQ(Status(), "Disconnected");
        EXPECT_FALSE(form.ClientSocket1->Active());
    }
}

TEST_F(RobustnessTest, AConnectThatNeverCompletesTimesOutWhileTheWindowRuns)
{
    FullBacklog listener;
    ASSERT_TRUE(listener.Full()) << "could not fill the accept queue";
    TMainForm& form = Form();
    form.ClientSocket1->SetConnectTimeout(300ms);
    form.IPEdit->setText(QStringLiteral("127.0.0.1"));
    form.PortEdit->setText(QString::number(listener.Port()));
    const Lines timedOut = {"Connecting to 127.0.0.1", "error 10060",
                            "Connection timed out. Make sure the IP address and port number are correct."};
    for (int attempt = 1; attempt <= 2; ++attempt) {
        SCOPED_TRACE(attempt);
        const qsizetype mark = LogLines().size();
        LoopWatch watch;
        QElapsedTimer clock;
        clock.start();
        form.ConnectButton->click();
        EXPECT_LT(clock.elapsed(), 100);
        SpinEventLoop(150ms);
        EXPECT_EQ(LogLinesSince(mark), Lines({"Connecting to 127.0.0.1"}));
        form.DisconnecyButton->click(); // nothing is established, so nothing happens
        ASSERT_TRUE(WaitUntil([&] { return LogLinesSince(mark).size() >= 3; }, 3s));
        SpinEventLoop(30ms);
        EXPECT_EQ(LogLinesSince(mark), timedOut);
        EXPECT_GE(clock.elapsed(), 290);
        EXPECT_LT(watch.Longest(), 100ms);
        // No disconnect follows a failed connect, so the status keeps its text.
        EXPECT_EQ(Status(), "Connecting to 127.0.0.1");
        EXPECT_FALSE(form.ClientSocket1->Active());
    }
}

TEST_F(RobustnessTest, AFullDiskKeepsTheStoredFilesWhole)
{
    const QString small = WorkPath(QStringLiteral("small"));
    ASSERT_TRUE(QDir().mkpath(small));
    const QByteArray mountPoint = QFile::encodeName(small);
    if (::mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root): " << std::strerror(errno);
    std::unique_ptr<TMainForm> form;
    const auto unmount = qScopeGuard([&] {
        form.reset();
        QDir::setCurrent(WorkPath(QString()));
        ::umount2(mountPoint.constData(), MNT_DETACH);
    });

    const QByteArray settings = "[Settings]\r\nipaddress=kept\r\nport=4711\r\n";
    const QByteArray table = "1\r\n2\r\nfirst\r\nsecond\r\n";
    const auto write = [&](const char* name, const QByteArray& bytes) {
        QFile file(small + '/' + QLatin1String(name));
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };
    ASSERT_TRUE(write("settings.ini", settings) && write("servermessages.dat", table) && write("maps.dat", "map\r\n"));
    QDir::setCurrent(small);
    form = std::make_unique<TMainForm>(TMainForm::Options{small + QStringLiteral("/settings.ini"), dialogs_});
    ASSERT_TRUE(dialogs_->Errors().isEmpty());

    QFile filler(small + QStringLiteral("/filler"));
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
    while (filler.write(QByteArray(4096, 'f')) == 4096 && filler.flush()) { }
    filler.close();
    const auto read = [&](const char* name) {
        QFile file(small + '/' + QLatin1String(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
    };

    form->AnnounceStringGrid->SetCell(0, 0, "changed");
    form->SaveButton->click();
    EXPECT_EQ(dialogs_->Errors(), QList<QString>({QStringLiteral("Disk full.")}));
    EXPECT_EQ(read("servermessages.dat"), table);

    dialogs_->shown.clear();
    form->show();
    form->IPEdit->setText(QStringLiteral("changed"));
    form->Exit1->trigger();
    // A settings write that fails for any reason says which file it could not write.
    EXPECT_EQ(dialogs_->Errors(), QList<QString>({"Unable to write to " + small + "/settings.ini."}));
    EXPECT_FALSE(form->isVisible()) << "the window still closes";
    EXPECT_EQ(read("settings.ini"), settings);
    EXPECT_EQ(QDir(small).entryList(QDir::Files | QDir::Hidden),
              QStringList({"filler", "maps.dat", "servermessages.dat", "settings.ini"}))
        << "no temporary file is left behind";
}
