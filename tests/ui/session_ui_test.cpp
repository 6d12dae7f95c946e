// The console session through the real window against the practice server:
// connecting, logging in, the command channel and the three list replies.

#include "app/list_box.h"
#include "app/text_codec.h"
#include "core/errors.h"
#include "form_fixture.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>

namespace {

using Lines = QList<QByteArray>;

Lines Sorted(Lines lines)
{
    std::stable_sort(lines.begin(), lines.end());
    return lines;
}

} // namespace

class SessionTest : public FormTest
{
};

TEST_F(SessionTest, SendCommandFramesEachCommandExactly)
{
    // A command holding a line feed is two lines to the server; answering both
    // at once keeps this about the bytes, not the stock server's pace.
    serverOptions_.timing = SimTiming::Instant;
    ConnectAndLogin();
    TMainForm& form = Form();
    form.SendCommand("exec admin.listplayers");
    form.SendCommand("");
    form.SendCommand("exec game.sayAll \"a\nb\"");
    const Lines expected = {Framed("exec admin.listplayers"), Framed(""), Framed("exec game.sayAll \"a"), "b\""};
    WaitUntil([&] { return CommandsAfterLogin().size() >= expected.size(); });
    EXPECT_EQ(CommandsAfterLogin(), expected);
}

TEST_F(SessionTest, SendCommandRefusesWhileNotConnectedOrBusy)
{
    TMainForm& form = Form();
    form.SendCommand("exec admin.listplayers");
    EXPECT_EQ(LogLines(), Lines({"Error not connected..."}));

    ConnectAndLogin();
    const qsizetype mark = LogLines().size();
    form.SessionState().busy = true;
    form.SendCommand("exec admin.listplayers");
    form.SessionState().busy = false;
    EXPECT_EQ(LogLinesSince(mark), Lines({"Busy... please wait and try again"}));
    SpinEventLoop(std::chrono::milliseconds(50));
    EXPECT_TRUE(CommandsAfterLogin().isEmpty());
}

TEST_F(SessionTest, ConnectChecksItsInputsInOrder)
{
    struct Case
    {
        const char* host;
        const char* port;
        Lines log;
    };
    const QList<Case> cases = {
        {"", "", {"Please enter the server IP address"}},
        {"", "4711", {"Please enter the server IP address"}},
        {"127.0.0.1", "", {"Please enter the remote console port number"}},
    };
    for (const Case& c : cases) {
        TMainForm& form = CreateForm();
        form.IPEdit->setText(QLatin1String(c.host));
        form.PortEdit->setText(QLatin1String(c.port));
        form.ConnectButton->click();
        EXPECT_EQ(LogLines(), c.log) << c.host << " / " << c.port;
    }

    ConnectAndLogin();
    const qsizetype mark = LogLines().size();
    Form().ConnectButton->click();
    EXPECT_EQ(LogLinesSince(mark), Lines({"Already connected..."}));
}

TEST_F(SessionTest, APortThatIsNotANumberShowsTheErrorBoxAndStartsNothing)
{
    for (const char* port : {"12a", " ", "70000x", "2147483648"}) {
        TMainForm& form = CreateForm();
        dialogs_->shown.clear();
        form.IPEdit->setText(QStringLiteral("some.host"));
        form.PortEdit->setText(QLatin1String(port));
        form.ConnectButton->click();

        ASSERT_EQ(dialogs_->shown.size(), 1) << port;
        EXPECT_EQ(dialogs_->shown[0].kind, QStringLiteral("error"));
        EXPECT_EQ(dialogs_->shown[0].title, ApplicationTitle(QCoreApplication::applicationFilePath()));
        EXPECT_EQ(dialogs_->shown[0].text, QStringLiteral("'%1' is not a valid integer value.").arg(port));
        EXPECT_EQ(form.ClientSocket1->Host(), QByteArray("some.host")) << "the host is set before the port";
        SpinEventLoop(std::chrono::milliseconds(20));
        EXPECT_TRUE(LogLines().isEmpty()) << "no attempt was started";
    }
}

TEST_F(SessionTest, EveryWrittenFormOfThePortConnects)
{
    const quint16 port = Server().Port();
    const QString hex = QString::number(port, 16);
    for (const QString& text : {QString::number(port), QStringLiteral("  %1").arg(port),
                                QStringLiteral("+%1").arg(port), QStringLiteral("$") + hex, QStringLiteral("x") + hex,
                                QStringLiteral("0X") + hex.toUpper(), QString::number(port + 65536)}) {
        TMainForm& form = CreateForm();
        form.IPEdit->setText(QStringLiteral("127.0.0.1"));
        form.PortEdit->setText(text);
        form.PasswordEdit->setText(QStringLiteral("secret"));
        form.ConnectButton->click();
        EXPECT_TRUE(WaitUntil([&] { return Status() == "Connected to 127.0.0.1"; })) << text.toStdString();
        form.DisconnecyButton->click();
    }
}

TEST_F(SessionTest, LoginAnswersTheSeedWithTheTypedPassword)
{
    struct Case
    {
        QByteArray serverPassword, typedPassword;
        Lines log;
        QByteArray status;
    };
    const QList<Case> cases = {
        {"secret", "secret", {"Connecting to localhost", "Authentication successful"}, "Connected to localhost"},
        {"secret", "wrong", {"Connecting to localhost", "Authentication Failed", "Disconnected..."}, "Disconnected"},
        {"", "", {"Connecting to localhost", "Authentication successful"}, "Connected to localhost"},
    };
    for (const Case& c : cases) {
        Server().SetPassword(c.serverPassword);
        TMainForm& form = CreateForm();
        form.IPEdit->setText(QStringLiteral("localhost"));
        form.PortEdit->setText(QString::number(Server().Port()));
        form.PasswordEdit->setText(ToDisplay(c.typedPassword));
        form.ConnectButton->click();
        EXPECT_TRUE(WaitUntil([&] { return LogLines().size() >= c.log.size(); }));
        SpinEventLoop(std::chrono::milliseconds(30));
        EXPECT_EQ(LogLines(), c.log) << c.typedPassword.constData();
        EXPECT_EQ(Status(), c.status);
        form.DisconnecyButton->click();
    }
}

TEST_F(SessionTest, AShortSeedIsStillAnsweredAndAGreetingEndingInItsOnly04IsNot)
{
    Server().SetGreeting({"### Digest seed: abcde\n"});
    ConnectAndLogin();

    Server().SetGreeting({"### Digest seed: ABCDEFGHIJKLMNOP\n\x04"});
    TMainForm& form = CreateForm();
    form.IPEdit->setText(QStringLiteral("127.0.0.1"));
    form.PortEdit->setText(QString::number(Server().Port()));
    form.ConnectButton->click();
    ASSERT_TRUE(WaitUntil([&] { return LogLines().size() >= 2; }));
    SpinEventLoop(std::chrono::milliseconds(50));
    EXPECT_EQ(LogLines(), Lines({"Connecting to 127.0.0.1", "Busy... please wait and try again"}));
    EXPECT_EQ(Status(), "Connecting to 127.0.0.1");
    EXPECT_TRUE(form.ClientSocket1->Active()) << "the connection stays open without a login";
}

TEST_F(SessionTest, ErrorsAreLoggedAndHandled)
{
    TMainForm& form = Form();
    struct Case
    {
        int code;
        Lines log;
    };
    const QList<Case> cases = {
        {10061, {"error 10061"}},
        {10060, {"error 10060", "Connection timed out. Make sure the IP address and port number are correct."}},
    };
    for (const Case& c : cases) {
        const qsizetype mark = LogLines().size();
        int code = c.code;
        form.ClientSocket1Error(*form.ClientSocket1, form.ClientSocket1->Socket(), TErrorEvent::eeConnect, code);
        EXPECT_EQ(LogLinesSince(mark), c.log);
        EXPECT_EQ(code, 0);
    }
}

TEST_F(SessionTest, ARefusedConnectIsOneErrorLineAndNoDisconnect)
{
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    const quint16 closedPort = probe.serverPort();
    probe.close();

    TMainForm& form = Form();
    form.IPEdit->setText(QStringLiteral("127.0.0.1"));
    form.PortEdit->setText(QString::number(closedPort));
    form.ConnectButton->click();
    ASSERT_TRUE(WaitUntil([&] { return LogLines().size() >= 2; }));
    SpinEventLoop(std::chrono::milliseconds(30));
    EXPECT_EQ(LogLines(), Lines({"Connecting to 127.0.0.1", "error 10061"}));
    EXPECT_EQ(Status(), "Connecting to 127.0.0.1");
    EXPECT_FALSE(form.ClientSocket1->Active());
}

TEST_F(SessionTest, DisconnectLogsOnlyWhenConnectedAndBeforeItReturns)
{
    TMainForm& form = Form();
    form.DisconnecyButton->click();
    EXPECT_TRUE(LogLines().isEmpty());
    EXPECT_EQ(Status(), "");

    ConnectAndLogin();
    const qsizetype mark = LogLines().size();
    form.DisconnecyButton->click();
    EXPECT_EQ(LogLinesSince(mark), Lines({"Disconnected..."}));
    EXPECT_EQ(Status(), "Disconnected");
}

TEST_F(SessionTest, ListsFillCorrectlyHoweverTheRepliesAreCutOrJoined)
{
    ConnectAndLogin();
    TMainForm& form = Form();
    const GameState& game = Server().Game();
    const Lines players = Sorted(ListingEntries(game.PlayerListing(), true));
    const Lines bans = ListingEntries(game.BanListing(), false);
    const Lines maps = ListingEntries(game.MapListing(), false);

    for (const int chunkSize : {0, 1, 5, 64}) {
        Server().SetChunking(chunkSize, chunkSize == 1 ? 0 : 1);
        form.PlayersListBox->Clear();
        form.BansListBox->Clear();
        form.MapsListBox->Clear();
        const qsizetype sent = Server().ReceivedLines().size();
        // Three requests in a row: their replies may arrive cut, or joined in one read.
        form.RefreshPlayersButton->click();
        form.RefeshBansButton->click();
        form.RefreshMapsButton->click();
        const ConsoleState& state = form.SessionState();
        const auto allRead = [&] {
            return !state.mapListContinuation && !state.playerListContinuation && !state.banListContinuation
                && Server().ReceivedLines().size() >= sent + 3;
        };
        EXPECT_TRUE(WaitUntil([&] { return form.MapsListBox->Count() == maps.size() && allRead(); }))
            << "chunks of " << chunkSize;
        EXPECT_EQ(form.PlayersListBox->Items(), players) << "chunks of " << chunkSize;
        EXPECT_EQ(form.BansListBox->Items(), bans) << "chunks of " << chunkSize;
        EXPECT_EQ(form.MapsListBox->Items(), maps) << "chunks of " << chunkSize;
    }
}

TEST_F(SessionTest, AReplyCutShortByADisconnectDoesNotSwallowTheNextGreeting)
{
    ConnectAndLogin();
    TMainForm& form = Form();
    Server().CloseAfterNextReplyBytes(12);
    form.RefreshMapsButton->click();
    ASSERT_TRUE(WaitUntil([&] { return Status() == "Disconnected"; }));
    EXPECT_TRUE(form.SessionState().mapListContinuation == false);

    form.ConnectButton->click();
    ASSERT_TRUE(WaitUntil([&] { return Status() == "Connected to 127.0.0.1"; }));
    EXPECT_TRUE(form.MapsListBox->Items().isEmpty()) << "the greeting is not a map entry";
}

// A stock server reads one line per frame and answers a second command written
// before the first one's reply only when more bytes come. Clicks made faster
// than the server answers wait in the window, in order.
TEST_F(SessionTest, ABurstOfClicksGoesOutOneCommandAtATimeAndEachListShowsItsOwnReply)
{
    ConnectAndLogin();
    TMainForm& form = Form();
    const GameState& game = Server().Game();
    QPushButton* const clicks[] = {
        form.RefreshPlayersButton, form.RefeshBansButton, form.RefreshMapsButton, form.PauseButton,
        form.RefreshMapsButton,    form.SaveMapsButton,   form.PauseButton,       form.RefreshPlayersButton,
        form.RestartMapButton,     form.StopButton,
    };
    const Lines expected = {
        Framed("exec admin.listplayers"),     Framed("exec admin.listBannedKeys"), Framed("exec maplist.list"),
        Framed("exec gameLogic.togglepause"), Framed("exec maplist.list"),         Framed("exec mapList.save"),
        Framed("exec gameLogic.togglepause"), Framed("exec admin.listplayers"),    Framed("exec admin.restartMap"),
        Framed("exec demo.stoprecording"),
    };
    // As listed when asked: the restart lifts the bans for the round after.
    const Lines players = Sorted(ListingEntries(game.PlayerListing(), true));
    const Lines bans = ListingEntries(game.BanListing(), false);
    const Lines maps = ListingEntries(game.MapListing(), false);
    form.PlayersListBox->Append({"stale"});
    for (QPushButton* button : clicks)
        button->click();
    EXPECT_TRUE(WaitUntil([&] { return CommandsAfterLogin().size() >= expected.size(); }));
    SpinEventLoop(std::chrono::milliseconds(100));
    EXPECT_EQ(CommandsAfterLogin(), expected);
    EXPECT_EQ(Server().PipelinedLines(), 0) << "a command went out before the previous reply had ended";
    EXPECT_EQ(form.PlayersListBox->Items(), players);
    EXPECT_EQ(form.BansListBox->Items(), bans);
    EXPECT_EQ(form.MapsListBox->Items(), maps);
    EXPECT_EQ(game.RestartCount(), 1);
    EXPECT_EQ(game.SaveCount(), 1);
}

TEST_F(SessionTest, AReplyThatNeverComesIsGivenUpAndTheWaitingCommandsMoveOn)
{
    replyTimeout_ = std::chrono::milliseconds(300);
    ConnectAndLogin();
    TMainForm& form = Form();
    const qsizetype mark = LogLines().size();
    Server().SwallowNextReply();
    form.RefreshPlayersButton->click();
    form.RefeshBansButton->click();
    ASSERT_TRUE(WaitUntil([&] { return form.BansListBox->Count() == Server().Game().Bans().size(); }));
    EXPECT_EQ(LogLinesSince(mark), Lines({"The server did not answer in time...", "Refreshing ban list..."}));
    EXPECT_TRUE(form.PlayersListBox->Items().isEmpty());

    // Commands still waiting when the connection ends are not sent on the next one.
    Server().SwallowNextReply();
    form.RefreshPlayersButton->click();
    form.RestartMapButton->click();
    ASSERT_TRUE(WaitUntil([&] { return CommandsAfterLogin().endsWith(Framed("exec admin.listplayers")); }));
    form.DisconnecyButton->click();
    ConnectAndLogin();
    SpinEventLoop(std::chrono::milliseconds(400));
    EXPECT_TRUE(CommandsAfterLogin().isEmpty());
    EXPECT_EQ(Server().Game().RestartCount(), 0);
}
