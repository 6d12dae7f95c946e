// The console session against the practice server, without widgets: the
// login, the command channel, the three list replies, and connections that
// fail, break, stall or are cut.

#include "core/errors.h"
#include "session/auto_reconnect.h"
#include "session/console_session.h"
#include "sim_server.h"
#include "support/listings.h"
#include "support/printers.h"
#include "support/wait.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;

namespace {

using Lines = QList<QByteArray>;

// The three lists, in the order of ListKind, as the game would fill them now.
std::array<Lines, 3> listsOf(const GameState& game)
{
    return {listingEntries(game.mapListing(), false), sorted(listingEntries(game.playerListing(), true)),
            listingEntries(game.banListing(), false)};
}

// The offset just past the first `count` lines of `listing`.
qsizetype offsetAfterLines(const QByteArray& listing, int count)
{
    qsizetype offset = 0;
    for (int i = 0; i < count; ++i)
        offset = listing.indexOf('\n', offset) + 1;
    return offset;
}

// Loopback ports where a connect is refused (bound, not listening) or neither
// completes nor fails (listening, its accept queue full).
class TroublePorts
{
public:
    TroublePorts()
    {
        int listener = -1;
        refusedPort_ = bind();
        fullPort_ = bind(&listener);
        if (fullPort_ == 0 || ::listen(listener, 0) != 0)
            return;
        const sockaddr_in address = loopback(fullPort_);
        for (int i = 0; i < 16 && !backlogFull_; ++i) {
            const int fd = fds_.emplace_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
            pollfd poller{fd, POLLOUT, 0};
            backlogFull_ = ::poll(&poller, 1, 100) == 0;
        }
    }
    ~TroublePorts()
    {
        for (const int fd : fds_)
            ::close(fd);
    }
    bool ok() const { return refusedPort_ != 0 && backlogFull_; }
    quint16 refusedPort() const { return refusedPort_; }
    quint16 fullPort() const { return fullPort_; }

private:
    static sockaddr_in loopback(quint16 port)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        return address;
    }
    // A socket bound to a free loopback port; gives the port, or 0.
    quint16 bind(int* handle = nullptr)
    {
        const int fd = fds_.emplace_back(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (handle)
            *handle = fd;
        sockaddr_in address = loopback(0);
        socklen_t length = sizeof address;
        const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0
            && ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
        return bound ? ntohs(address.sin_port) : 0;
    }

    std::vector<int> fds_;
    quint16 refusedPort_ = 0, fullPort_ = 0;
    bool backlogFull_ = false;
};

} // namespace

// A session, a practice server with the stock server's pace, and what an
// administrator would see: the log, the status text and the three lists.
class SessionTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        session_.reset();
        server_.reset();
        EXPECT_EQ(errors_, Lines()) << "nothing may reach the error box";
    }

    RconSimServer& server()
    {
        if (!server_) {
            server_ = std::make_unique<RconSimServer>(serverOptions_);
            EXPECT_TRUE(server_->listen()) << server_->errorString().toStdString();
        }
        return *server_;
    }
    // The server goes away, its connections with it.
    void stopServer() { server_.reset(); }
    RconSimServer& replaceServer(const RconSimOptions& options)
    {
        server_.reset();
        serverOptions_ = options;
        return server();
    }

    ConsoleSession& session() { return session_ ? *session_ : newSession(); }
    // A fresh session with empty records, in place of the old one.
    ConsoleSession& newSession()
    {
        session_.reset();
        log_.clear();
        status_.clear();
        lists_ = {};
        session_ = std::make_unique<ConsoleSession>();
        ConsoleSession* s = session_.get();
        s->setPasswordSource([this] { return password_; });
        QObject::connect(s, &ConsoleSession::logLine, [this](const QByteArray& line) { log_.append(line); });
        QObject::connect(s, &ConsoleSession::statusChanged, [this](const QByteArray& text) { status_ = text; });
        QObject::connect(s, &ConsoleSession::errorRaised, [this](const QByteArray& text) { errors_.append(text); });
        QObject::connect(s, &ConsoleSession::listCleared, [this](ListKind kind) { list(kind).clear(); });
        QObject::connect(s, &ConsoleSession::entriesAdded, [this](ListKind kind, const EntryBlock& entries) {
            Lines& entriesSoFar = list(kind);
            for (const QByteArray& entry : entries.toList()) {
                // The player list is sorted by byte order; equal entries keep their order.
                const auto at = kind == ListKind::Players
                    ? std::upper_bound(entriesSoFar.begin(), entriesSoFar.end(), entry)
                    : entriesSoFar.end();
                entriesSoFar.insert(at, entry);
            }
        });
        return *s;
    }

    void connectTo(const QByteArray& host, const QByteArray& port) { session().connectToServer(host, port); }
    void connectAndLogin()
    {
        password_ = "secret";
        connectTo("127.0.0.1", QByteArray::number(server().port()));
        ASSERT_TRUE(WaitUntil([&] { return status_ == "Connected to 127.0.0.1"; })) << "status: " << status_.data();
        linesAtLogin_ = server().receivedLines().size();
    }
    // The lines the server received after the latest login, framing included.
    Lines commandsAfterLogin() { return server().receivedLines().mid(linesAtLogin_); }
    Lines logSince(qsizetype mark) const { return log_.mid(mark); }
    Lines& list(ListKind kind) { return lists_[static_cast<size_t>(kind)]; }

    RconSimOptions serverOptions_;
    QByteArray password_ = "secret";
    Lines log_;
    QByteArray status_;
    std::array<Lines, 3> lists_;
    Lines errors_;

private:
    std::unique_ptr<RconSimServer> server_;
    std::unique_ptr<ConsoleSession> session_;
    qsizetype linesAtLogin_ = 0;
};

TEST(LoginCommand, IsLoginAndTheLowercaseMd5OfSeedAndPassword)
{
    struct Case
    {
        QByteArray seed, password, digest;
    };
    const Case cases[] = {
        {"", "", "d41d8cd98f00b204e9800998ecf8427e"},
        {"", "a", "0cc175b9c0f1b6a831c399e269772661"},
        {"ab", "c", "900150983cd24fb0d6963f7d28e17f72"},
        {"message ", "digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnop", "qrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOP", "QRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"1234567890123456", "7890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(loginCommand(c.seed, c.password), "login " + c.digest) << c.seed.data() << c.password.data();
}

TEST_F(SessionTest, SendCommandFramesEachCommandExactly)
{
    // A command holding a line feed is two lines to the server; answering both
    // at once keeps this about the bytes, not the stock server's pace.
    serverOptions_.timing = SimTiming::Instant;
    connectAndLogin();
    for (const QByteArray command : {"exec admin.listplayers", "", "exec game.sayAll \"a\nb\""})
        session().sendCommand(command);
    const Lines expected = {framed("exec admin.listplayers"), framed(""), framed("exec game.sayAll \"a"), "b\""};
    WaitUntil([&] { return commandsAfterLogin().size() >= expected.size(); });
    EXPECT_EQ(commandsAfterLogin(), expected);
}

// Nothing is sent without a connection, nor while a read whose only 0x04 is
// its last byte is handled: a greeting like that is not answered, and a
// command that a slot sends during that read is refused too.
TEST_F(SessionTest, SendCommandRefusesWhileNotConnectedOrBusy)
{
    session().sendCommand("exec admin.listplayers");
    EXPECT_EQ(log_, Lines({"Error not connected..."}));

    server().setGreeting({"### Digest seed: abcde\n"});
    connectAndLogin(); // a short seed is still answered

    server().setGreeting({"### Digest seed: ABCDEFGHIJKLMNOP\n\x04"});
    const qsizetype linesBefore = server().receivedLines().size();
    newSession();
    connectTo("127.0.0.1", QByteArray::number(server().port()));
    ASSERT_TRUE(WaitUntil([&] { return log_.size() >= 2; }));
    SpinEventLoop(100ms);
    EXPECT_EQ(log_, Lines({"Connecting to 127.0.0.1", "Busy... please wait and try again"}));
    EXPECT_EQ(status_, "Connecting to 127.0.0.1");
    EXPECT_TRUE(session().isConnected()) << "the connection stays open without a login";
    EXPECT_EQ(server().receivedLines().size(), linesBefore) << "the login did not go out";
}

TEST_F(SessionTest, ConnectChecksItsInputsInOrder)
{
    struct Case
    {
        QByteArray host, port;
        Lines log;
        QByteArray raised;
    };
    const Case cases[] = {
        {"", "", {"Please enter the server IP address"}, {}},
        {"", "4711", {"Please enter the server IP address"}, {}},
        {"", "12a", {"Please enter the server IP address"}, {}},
        {"127.0.0.1", "", {"Please enter the remote console port number"}, {}},
        {"some.host", "12a", {}, "'12a' is not a valid integer value"},
    };
    for (const Case& c : cases) {
        newSession();
        QByteArray raised;
        try {
            connectTo(c.host, c.port);
        } catch (const ConvertError& e) {
            raised = e.message();
        }
        SpinEventLoop(20ms);
        EXPECT_EQ(log_, c.log) << c.host.data() << " / " << c.port.data();
        EXPECT_EQ(raised, c.raised);
    }

    connectAndLogin();
    const qsizetype mark = log_.size();
    connectTo("127.0.0.1", QByteArray::number(server().port()));
    EXPECT_EQ(logSince(mark), Lines({"Already connected..."}));
}

TEST_F(SessionTest, EveryWrittenFormOfThePortConnects)
{
    const quint16 port = server().port();
    const QByteArray hex = QByteArray::number(port, 16);
    for (const QByteArray& text :
         {QByteArray::number(port), "  " + QByteArray::number(port), "+" + QByteArray::number(port), "$" + hex,
          "x" + hex, "0X" + hex.toUpper(), QByteArray::number(port + 65536)}) {
        newSession();
        connectTo("127.0.0.1", text);
        EXPECT_TRUE(WaitUntil([&] { return status_ == "Connected to 127.0.0.1"; })) << text.data();
    }
}

// However the greeting and the login's outcome are cut into reads, the right
// password logs in and a wrong one is refused, against the stock server. Each
// password is typed only after the connect has started: the login takes the one
// that stands when the greeting arrives.
TEST_F(SessionTest, LoginAnswersTheSeedWithTheTypedPasswordHoweverTheGreetingIsCut)
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
    const Way ways[] = {
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
        QByteArray serverPassword, typedPassword;
        bool accepted;
    };
    const Login logins[] = {{"secret", "secret", true}, {"secret", "wrong", false}, {"", "", true}};
    const Lines loggedIn = {"Connecting to localhost", "Authentication successful"};
    const Lines refused = {"Connecting to localhost", "Authentication Failed", "Disconnected..."};
    for (const Way& way : ways) {
        RconSimOptions options;
        options.frameMs = way.frameMs;
        options.chunkSize = way.replyChunk;
        replaceServer(options).setGreeting(way.greeting);
        for (const Login& login : logins) {
            SCOPED_TRACE(std::string(way.name) + ", password '" + login.typedPassword.toStdString() + "'");
            server().setPassword(login.serverPassword);
            newSession();
            password_ = login.typedPassword + "?";
            connectTo("localhost", QByteArray::number(server().port()));
            password_ = login.typedPassword;
            const QByteArray status = login.accepted ? "Connected to localhost" : "Disconnected";
            EXPECT_TRUE(WaitUntil([&] { return status_ == status; }));
            SpinEventLoop(60ms);
            EXPECT_EQ(log_, login.accepted ? loggedIn : refused);
            const QByteArray seed = way.greeting.isEmpty() ? server().lastSeed() : "QwErTyUiOpAsDfGh";
            EXPECT_EQ(server().receivedLines().mid(server().receivedLines().size() - 1),
                      Lines({framed(loginCommand(seed, login.typedPassword))}));
        }
    }
}

// A failed attempt is logged once, with no disconnect after a connect that
// failed, and each connect starts afresh (a host is looked up again). A
// disconnect while the attempt is under way changes nothing.
TEST_F(SessionTest, AFailedConnectIsLoggedAndHandledAndEachConnectTriesAfresh)
{
    TroublePorts ports;
    ASSERT_TRUE(ports.ok()) << "could not set up the refusing and the stalling port";
    struct Case
    {
        QByteArray host;
        quint16 port;
        Lines log;
        QByteArray status;
    };
    const Case cases[] = {
        {"127.0.0.1", ports.refusedPort(), {"Connecting to 127.0.0.1", "error 10061"}, "Connecting to 127.0.0.1"},
        {"127.0.0.1",
         ports.fullPort(),
         {"Connecting to 127.0.0.1", "error 10060",
          "Connection timed out. Make sure the IP address and port number are correct."},
         "Connecting to 127.0.0.1"},
        // The lookup fails before any connect is tried, so there is no "Connecting to" line.
        {"no-such-host.ravelin.invalid", 4711, {"error 11001", "Disconnected..."}, "Disconnected"},
    };
    for (const Case& c : cases) {
        newSession().setConnectTimeout(300ms);
        for (int attempt = 1; attempt <= 2; ++attempt) {
            SCOPED_TRACE(testing::Message() << c.log.at(1).data() << ", attempt " << attempt);
            const qsizetype mark = log_.size();
            connectTo(c.host, QByteArray::number(c.port));
            ASSERT_TRUE(WaitUntil([&] { return !logSince(mark).isEmpty(); }));
            session().disconnectFromServer();
            ASSERT_TRUE(WaitUntil([&] { return logSince(mark).size() >= c.log.size(); }));
            SpinEventLoop(50ms);
            EXPECT_EQ(logSince(mark), c.log);
            EXPECT_EQ(status_, c.status);
            EXPECT_FALSE(session().isConnected());
        }
    }
}

TEST_F(SessionTest, DisconnectLogsOnlyWhenConnectedAndBeforeItReturns)
{
    session().disconnectFromServer();
    EXPECT_TRUE(log_.isEmpty());
    EXPECT_EQ(status_, "");

    connectAndLogin();
    const qsizetype mark = log_.size();
    session().disconnectFromServer();
    EXPECT_EQ(logSince(mark), Lines({"Disconnected..."}));
    EXPECT_EQ(status_, "Disconnected");
}

// A list reply that the server cuts by closing keeps its whole entries; the
// next connection's greeting is no entry of it and its login is clean.
TEST_F(SessionTest, AListReplyCutByTheServerKeepsItsWholeLinesAndTheNextLoginIsClean)
{
    connectAndLogin();
    const GameState& game = server().game();
    struct Case
    {
        QByteArray command;
        ListKind list;
        QByteArray listing, startLog;
        bool players;
        int wholeLines; // the cut falls in the middle of the line after these
    };
    const Case cases[] = {
        {"exec maplist.list", ListKind::Maps, game.mapListing(), "Refreshing map list...", false, 0},
        {"exec maplist.list", ListKind::Maps, game.mapListing(), "Refreshing map list...", false, 2},
        {"exec admin.listBannedKeys", ListKind::Bans, game.banListing(), "Refreshing ban list...", false, 2},
        // Three lines make one player and the first half of the next.
        {"exec admin.listplayers", ListKind::Players, game.playerListing(), "Refreshing player list...", true, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.startLog.data() << " cut after " << c.wholeLines << " lines");
        const qsizetype whole = offsetAfterLines(c.listing, c.wholeLines);
        const qsizetype nextLine = c.listing.indexOf('\n', whole) - whole;
        const Lines kept = listingEntries(c.listing.left(whole), c.players);

        qsizetype mark = log_.size();
        server().closeAfterNextReplyBytes(whole + nextLine / 2);
        session().sendCommand(c.command);
        ASSERT_TRUE(WaitUntil([&] { return status_ == "Disconnected"; }));
        SpinEventLoop(30ms);
        EXPECT_EQ(logSince(mark), Lines({c.startLog, "Disconnected..."}));
        EXPECT_EQ(list(c.list), kept) << "only whole entries, the half line is not one";
        EXPECT_FALSE(session().isConnected());

        mark = log_.size();
        connectAndLogin();
        SpinEventLoop(30ms);
        EXPECT_EQ(logSince(mark), Lines({"Connecting to 127.0.0.1", "Authentication successful"}));
        EXPECT_EQ(list(c.list), kept) << "the greeting is no entry of the cut list";

        const Lines all = listingEntries(c.listing, c.players);
        session().sendCommand(c.command);
        EXPECT_TRUE(WaitUntil([&] { return list(c.list).size() == all.size(); }));
        SpinEventLoop(50ms); // an entry too many would show now
        EXPECT_EQ(list(c.list), c.players ? sorted(all) : all);
    }
}

// A stock server reads one line per frame and answers a second command written
// before the first one's reply only when more bytes come. Commands sent faster
// than the server answers wait in the session, in order; the list replies that
// follow each other may arrive cut anywhere, or joined in one read.
TEST_F(SessionTest, ABurstOfCommandsGoesOutOneAtATimeAndEachListShowsItsOwnReply)
{
    connectAndLogin();
    const GameState& game = server().game();
    const Lines commands = {
        "exec admin.listplayers",     "exec admin.listBannedKeys", "exec maplist.list",
        "exec gameLogic.togglepause", "exec maplist.list",         "exec mapList.save",
        "exec gameLogic.togglepause", "exec admin.listplayers",    "exec admin.restartMap",
        "exec demo.stoprecording",
    };
    Lines expected;
    for (const QByteArray& command : commands)
        expected.append(framed(command));
    for (const int chunkSize : {0, 1, 5, 64}) {
        SCOPED_TRACE(testing::Message() << "replies in chunks of " << chunkSize);
        server().setChunking(chunkSize, chunkSize == 1 ? 0 : 1);
        server().clearReceivedLines();
        // As listed when asked: the restart lifts the bans for the round after.
        const std::array<Lines, 3> lists = listsOf(game);
        lists_ = {};
        list(ListKind::Players) = {"stale"};
        for (const QByteArray& command : commands)
            session().sendCommand(command);
        EXPECT_TRUE(WaitUntil([&] { return server().receivedLines().size() >= expected.size(); }));
        SpinEventLoop(100ms);
        EXPECT_EQ(server().receivedLines(), expected);
        EXPECT_EQ(lists_, lists);
    }
    EXPECT_EQ(server().pipelinedLines(), 0) << "a command went out before the previous reply had ended";
    EXPECT_EQ(game.restartCount(), 4);
    EXPECT_EQ(game.saveCount(), 4);
}

// A stock server that stops for longer than the timeout, as during a map
// change, while two commands wait: had the next one gone out, the server
// would have read both lines at once and stayed a command behind for good.
// The late reply goes to its own command, each list shows its own reply, and
// no later command waits out a timeout. A server silent past the give-up
// bound is left: a new login is the only way to empty its buffer.
TEST_F(SessionTest, AfterAStallEveryReplyGoesToItsOwnCommandAndASilentServerIsLeft)
{
    session().setReplyTimeout(400ms);
    server().setStall(2, 1200);
    connectAndLogin();
    const qsizetype mark = log_.size();
    lists_ = {};
    const std::array<Lines, 3> lists = listsOf(server().game());
    // What each command's own handle told: "<command>: <how it ended> <its list's entries or its text>".
    Lines answers;
    const auto send = [&](const QByteArray& command, ConsoleSession::Reply reply = ConsoleSession::Reply::ReaderOnly) {
        CommandReply* answer = session().sendCommand(command, reply);
        ASSERT_TRUE(answer);
        QObject::connect(answer, &CommandReply::finished, [&answers, answer] {
            static constexpr const char* kEnds[] = {"waiting", "answered", "failed"};
            static constexpr const char* kFailures[] = {"", " (not sent)", " (connection lost)"};
            QByteArray line = answer->command() + ": " + kEnds[int(answer->state())] + kFailures[int(answer->failure())]
                + (answer->isLate() ? " late" : "");
            line += answer->list() ? " " + QByteArray::number(answer->entries().size()) + " entries"
                                   : " " + answer->text().trimmed();
            answers.append(line.trimmed());
        });
    };
    send("exec maplist.list");
    send("exec admin.listplayers");
    send("exec admin.listBannedKeys");
    send("exec sv.serverName", ConsoleSession::Reply::Logged);
    ASSERT_TRUE(WaitUntil([&] { return answers.size() == 4; }, 10s));
    EXPECT_EQ(logSince(mark),
              Lines({"The server did not answer in time...", "Refreshing map list...", "Refreshing player list...",
                     "Refreshing ban list...", "Ravelin practice server"}));
    EXPECT_EQ(lists_, lists);
    const auto entries = [&](ListKind kind) { return QByteArray::number(lists[size_t(kind)].size()) + " entries"; };
    EXPECT_EQ(answers,
              Lines({"exec maplist.list: answered late " + entries(ListKind::Maps),
                     "exec admin.listplayers: answered " + entries(ListKind::Players),
                     "exec admin.listBannedKeys: answered " + entries(ListKind::Bans),
                     "exec sv.serverName: answered Ravelin practice server"}));
    EXPECT_EQ(server().pipelinedLines(), 0) << "a command went out while a reply was owed";

    // Commands still waiting when the connection ends are not sent on the next one.
    answers.clear();
    server().stallNextReply(2000);
    send("exec admin.listplayers");
    send("exec admin.restartMap");
    ASSERT_TRUE(WaitUntil([&] { return commandsAfterLogin().endsWith(framed("exec admin.listplayers")); }));
    session().disconnectFromServer();
    connectAndLogin();
    SpinEventLoop(400ms);
    EXPECT_TRUE(commandsAfterLogin().isEmpty());
    EXPECT_EQ(server().game().restartCount(), 0);
    EXPECT_EQ(answers,
              Lines({"exec admin.listplayers: failed (connection lost)", "exec admin.restartMap: failed (not sent)"}));

    answers.clear();
    session().setGiveUpTimeout(800ms);
    server().stallNextReply(3000);
    const qsizetype silent = log_.size();
    send("exec sv.serverName");
    ASSERT_TRUE(WaitUntil([&] { return !answers.isEmpty(); }, 5s));
    EXPECT_EQ(logSince(silent),
              Lines({"The server did not answer in time...",
                     "The server has not answered for 0.8 seconds; closing the connection...", "Disconnected..."}));
    EXPECT_EQ(answers, Lines({"exec sv.serverName: failed (connection lost) late"}));
}

// A reset is no connection any more: once the error is logged, the session
// shows it as ended, and a new connection works.
TEST_F(SessionTest, AResetIsLoggedAndEndsTheConnection)
{
    connectAndLogin();
    qsizetype mark = log_.size();
    server().resetClients();
    ASSERT_TRUE(WaitUntil([&] { return logSince(mark).size() >= 2; }));
    SpinEventLoop(50ms);
    EXPECT_EQ(logSince(mark), Lines({"error 10054", "Disconnected..."}));
    EXPECT_FALSE(session().isConnected());
    EXPECT_EQ(status_, "Disconnected");

    mark = log_.size();
    session().sendCommand("exec admin.listplayers");
    EXPECT_EQ(logSince(mark), Lines({"Error not connected..."}));
    connectAndLogin(); // and a new connection works
}

// A big read is handled in pieces, each reported done, so the event loop gets
// turns in between; the bytes that came before the server closed are all
// handled, in order, before the connection is shown as ended.
TEST_F(SessionTest, ABigReadIsHandledInPiecesAndAllOfItBeforeTheClose)
{
    connectAndLogin();
    int piecesHandled = 0;
    QObject::connect(&session(), &ConsoleSession::readHandled, [&] { ++piecesHandled; });
    Lines lines;
    QByteArray reply;
    // Several slices, the last of them taking several turns too.
    for (int i = 0; i < 250000; ++i) {
        lines.append("line " + QByteArray::number(i));
        reply += lines.last() + '\n';
    }
    // A typed command whose reply is the flood above, and then the close.
    server().stallNextReply(600000);
    session().sendCommand("exec sv.serverName", ConsoleSession::Reply::Logged);
    ASSERT_TRUE(WaitUntil([&] { return commandsAfterLogin().size() == 1; }));
    const qsizetype mark = log_.size();
    server().sendRaw(reply + '\x04');
    server().closeClients();
    ASSERT_TRUE(WaitUntil([&] { return status_ == "Disconnected"; }, 20s));
    const Lines logged = logSince(mark);
    ASSERT_EQ(logged.size(), lines.size() + 1);
    EXPECT_TRUE(logged == lines + Lines({"Disconnected..."})) << "the lines came out of order";
    EXPECT_GE(piecesHandled, reply.size() / (2 * ConsoleSession::kReadPiece)) << reply.size() << " bytes";
}

// Each piece of a read here takes longer than a turn's budget, so a read of
// many pieces is handled over several turns of the event loop.
TEST_F(SessionTest, ABigReadIsHandledOverSeveralTurnsOnceATurnsBudgetIsSpent)
{
    connectAndLogin();
    QObject turns;
    int piecesThisTurn = 0, mostInOneTurn = 0, piecesThisRead = 0, mostInOneRead = 0;
    QObject::connect(&session(), &ConsoleSession::readHandled, [&] {
        std::this_thread::sleep_for(ConsoleSession::kReadBudget + 1ms);
        // Posted now, this runs at the next turn of the event loop.
        if (piecesThisTurn++ == 0)
            QMetaObject::invokeMethod(
                &turns, [&] { piecesThisTurn = 0; }, Qt::QueuedConnection);
        mostInOneTurn = std::max(mostInOneTurn, piecesThisTurn);
        ++piecesThisRead;
        mostInOneRead = std::max(mostInOneRead, piecesThisRead);
        if (session().bytesWaiting() == 0)
            piecesThisRead = 0;
    });
    server().stallNextReply(600000);
    session().sendCommand("exec sv.serverName", ConsoleSession::Reply::Logged);
    ASSERT_TRUE(WaitUntil([&] { return commandsAfterLogin().size() == 1; }));
    const qsizetype mark = log_.size();
    // A slice of lines, each its own so that none is folded.
    QByteArray reply;
    for (int i = 0; reply.size() < ConsoleSession::kReadSlice; ++i)
        reply += QByteArray::number(i).rightJustified(99, ' ') + '\n';
    server().sendRaw(reply + '\x04');
    ASSERT_TRUE(WaitUntil([&] { return logSince(mark).size() == reply.count('\n'); }, 60s));
    ASSERT_GT(mostInOneRead, 2) << "no read was big enough to need several turns";
    EXPECT_LT(mostInOneTurn, mostInOneRead);
}

// A typed command's reply is logged line by line; a line keeps its first
// 16 MiB, however many reads bring it.
TEST_F(SessionTest, ATypedReplysLineIsLoggedToItsFirst16MiB)
{
    session().setReplyTimeout(10min);
    connectAndLogin();
    const qsizetype limit = 16 * 1024 * 1024; // the stated bound, not the constant
    qsizetype received = 0;
    // The line's end comes in a read of its own, or with the line's last bytes.
    for (const auto& [length, endApart] : {std::pair{limit, true}, {limit + 1, true}, {limit + 100000, false}}) {
        server().stallNextReply(600000);
        QObject::connect(session().sendCommand("exec sv.serverName", ConsoleSession::Reply::Logged),
                         &CommandReply::data, [&](QByteArrayView bytes) { received += bytes.size(); });
        const qsizetype mark = log_.size();
        received = 0;
        server().sendRaw(QByteArray(length, 'x') + (endApart ? "" : "\n\x04"));
        if (endApart) {
            ASSERT_TRUE(WaitUntil([&] { return received == length; }, 60s)) << received << " of " << length;
            server().sendRaw("\n\x04");
        }
        ASSERT_TRUE(WaitUntil([&] { return !logSince(mark).isEmpty(); }));
        const Lines logged = logSince(mark);
        ASSERT_EQ(logged.size(), 1);
        EXPECT_EQ(logged[0].size(), std::min(length, limit)) << "a line of " << length << " bytes";
        EXPECT_EQ(logged[0].count('x'), logged[0].size());
    }
}

TEST_F(SessionTest, AServerThatStopsReadingLosesNoCommand)
{
    connectAndLogin();
    const qsizetype mark = log_.size();
    server().pauseReading();

    // One command goes on the wire; the others wait in the session for its reply.
    Lines expected;
    for (int i = 0; i < 40; ++i) {
        const QByteArray command = "exec game.sayAll \"" + QByteArray::number(i) + '"';
        expected.append(framed(command));
        session().sendCommand(command);
    }
    SpinEventLoop(100ms);
    EXPECT_TRUE(commandsAfterLogin().isEmpty());

    server().resumeReading();
    EXPECT_TRUE(WaitUntil([&] { return commandsAfterLogin().size() >= expected.size(); }, 20s));
    SpinEventLoop(50ms);
    EXPECT_EQ(commandsAfterLogin(), expected) << "commands lost, doubled or out of order";
    EXPECT_EQ(server().pipelinedLines(), 0) << "more than one command was on the wire";
    EXPECT_EQ(server().game().chat().size(), expected.size());
    EXPECT_EQ(logSince(mark), Lines());
    EXPECT_TRUE(session().isConnected());
}

namespace {

// The retries' clock, advanced by hand: it records each wait asked for and
// runs the pending call only when told.
struct ManualClock
{
    std::vector<std::chrono::milliseconds> waits;
    std::function<void()> due;

    void advance() { std::exchange(due, nullptr)(); }
};

class ManualRetryTimer : public RetryTimer
{
public:
    explicit ManualRetryTimer(std::shared_ptr<ManualClock> clock)
        : clock_(std::move(clock))
    { }
    void start(std::chrono::milliseconds delay, std::function<void()> due) override
    {
        clock_->waits.push_back(delay);
        clock_->due = std::move(due);
    }
    void stop() override { clock_->due = nullptr; }

private:
    std::shared_ptr<ManualClock> clock_;
};

} // namespace

// A server that restarts: the session tries again after 1, 2, 4, ... 60
// seconds until a login holds, and stops on a refused password or a Disconnect.
TEST_F(SessionTest, AutoReconnectFollowsTheServerThroughARestart)
{
    auto clock = std::make_shared<ManualClock>();
    auto held = std::make_shared<ManualClock>();
    AutoReconnect reconnect(session(), std::make_unique<ManualRetryTimer>(clock),
                            std::make_unique<ManualRetryTimer>(held));
    reconnect.setEnabled(true);
    int lost = 0, restored = 0;
    QObject::connect(&reconnect, &AutoReconnect::logLine, [this](const QByteArray& line) { log_.append(line); });
    QObject::connect(&reconnect, &AutoReconnect::connectionLost, [&] { ++lost; });
    QObject::connect(&reconnect, &AutoReconnect::connectionRestored, [&] { ++restored; });
    connectAndLogin();
    RconSimOptions options = serverOptions_;
    options.port = server().port();
    const QByteArray where = "127.0.0.1:" + QByteArray::number(options.port);

    const qsizetype mark = log_.size();
    stopServer();
    ASSERT_TRUE(WaitUntil([&] { return bool(clock->due); }));
    EXPECT_EQ(lost, 1);
    for (size_t attempts = 1; attempts < 8; ++attempts) {
        clock->advance();
        ASSERT_TRUE(WaitUntil([&] { return clock->waits.size() > attempts; })) << "attempt " << attempts;
    }
    using std::chrono::seconds;
    EXPECT_EQ(clock->waits,
              std::vector<std::chrono::milliseconds>({seconds(1), seconds(2), seconds(4), seconds(8), seconds(16),
                                                      seconds(32), seconds(60), seconds(60)}));
    const Lines log = logSince(mark);
    EXPECT_TRUE(log.contains("The connection to " + where + " was lost; reconnecting automatically."));
    EXPECT_TRUE(log.contains("Reconnecting in 1 second (attempt 1)..."));
    EXPECT_TRUE(log.contains("Reconnecting in 60 seconds (attempt 8)..."));
    EXPECT_EQ(log.count("Connecting to 127.0.0.1"), 7);

    replaceServer(options);
    clock->advance();
    ASSERT_TRUE(WaitUntil([&] { return log_.contains("Reconnected to " + where + '.'); }));
    EXPECT_EQ(log_.mid(log_.size() - 2), Lines({"Authentication successful", "Reconnected to " + where + '.'}));
    EXPECT_EQ(status_, "Connected to 127.0.0.1");
    EXPECT_FALSE(clock->due) << "a login ends the retries";
    EXPECT_EQ(restored, 0) << "not back until the login has held";
    EXPECT_EQ(held->waits.back(), AutoReconnect::kHeldAfter);
    held->advance();
    EXPECT_EQ(restored, 1);

    // A server that drops each login at once: the waits keep growing until a
    // login has held; the desktop hears once of the drop, once of the return.
    struct Drop
    {
        bool loginHeld;
        std::chrono::seconds wait;
        int lost, restored;
    };
    const Drop drops[] = {{false, 1s, 2, 1}, {false, 2s, 2, 1}, {false, 4s, 2, 1}, {true, 1s, 3, 2}};
    for (const Drop& drop : drops) {
        if (drop.loginHeld)
            held->advance();
        server().closeClients();
        ASSERT_TRUE(WaitUntil([&] { return bool(clock->due); }));
        EXPECT_EQ(std::tuple(clock->waits.back(), lost, restored),
                  std::tuple(std::chrono::milliseconds(drop.wait), drop.lost, drop.restored));
        clock->advance();
        ASSERT_TRUE(WaitUntil([&] { return bool(held->due); }));
    }

    // A password the restarted server refuses ends the retries at once.
    server().setPassword("changed");
    server().closeClients();
    ASSERT_TRUE(WaitUntil([&] { return bool(clock->due); }));
    clock->advance();
    ASSERT_TRUE(WaitUntil([&] { return log_.contains("The password was refused; reconnecting stopped."); }));
    SpinEventLoop(50ms);
    EXPECT_FALSE(clock->due);

    // Disconnect is the administrator's own: nothing is tried again.
    server().setPassword("secret");
    connectAndLogin();
    const size_t waits = clock->waits.size();
    reconnect.stop();
    session().disconnectFromServer();
    SpinEventLoop(50ms);
    EXPECT_EQ(clock->waits.size(), waits);
    EXPECT_EQ(lost, 3);
}
