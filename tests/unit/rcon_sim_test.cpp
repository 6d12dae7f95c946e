// The practice server, end to end over a plain socket, and its game rules.

#include "sim_server.h"
#include "support/printers.h"
#include "support/wait.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QSet>
#include <QTcpSocket>

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

const QByteArray hashA = "0123456789abcdef0123456789abcdef";
const QByteArray hashB = "fedcba9876543210fedcba9876543210";
const QByteArray oddName("N\0\x7f\xff", 4);

// A client that keeps every read apart, so a test can see how the bytes arrived.
class Peer
{
public:
    explicit Peer(quint16 port)
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] { reads.append(socket.readAll()); });
        socket.connectToHost(QHostAddress::LocalHost, port);
    }

    QByteArray All() const { return reads.join(); }

    bool WaitGreeting()
    {
        return WaitUntil([this] { return All().endsWith("\n\n"); });
    }

    QByteArray Seed() const
    {
        const QByteArray all = All();
        return all.mid(all.indexOf("Digest seed: ") + 13, 16);
    }

    // Sends one line and gives what came back up to the closing 0x04.
    QByteArray Ask(const QByteArray& line)
    {
        reads.clear();
        socket.write(line);
        if (!WaitUntil([this] { return All().contains('\x04'); }))
            return "(no reply) " + All();
        return All();
    }

    QByteArray Login(const QByteArray& password)
    {
        WaitGreeting();
        return Ask("\x02login " + QCryptographicHash::hash(Seed() + password, QCryptographicHash::Md5).toHex() + '\n');
    }

    QTcpSocket socket;
    QList<QByteArray> reads;
};

class RconSimTest : public testing::Test
{
protected:
    void SetUp() override
    {
        RconSimOptions options;
        options.password = "pw";
        options.players = 3;
        server = std::make_unique<RconSimServer>(options);
        ASSERT_TRUE(server->listen()) << server->errorString().toStdString();
        ASSERT_NE(server->port(), 0);
    }

    GameState& Game() { return server->game(); }

    std::unique_ptr<RconSimServer> server;
};

TEST_F(RconSimTest, GreetsWithThreeWritesAndASeedOfSixteenLetters)
{
    Peer peer(server->port());
    ASSERT_TRUE(WaitUntil([&] { return peer.reads.size() >= 3; }));
    ASSERT_EQ(peer.reads.size(), 3);
    EXPECT_EQ(peer.reads[0], "### Battlefield 2 default RCON/admin ready.\n");
    EXPECT_TRUE(QRegularExpression("^### Digest seed: [a-zA-Z]{16}\n$").match(QString(peer.reads[1])).hasMatch())
        << peer.reads[1].toStdString();
    EXPECT_EQ(peer.reads[2], "\n");
    EXPECT_EQ(peer.Seed(), server->lastSeed());

    Peer second(server->port());
    ASSERT_TRUE(second.WaitGreeting());
    EXPECT_NE(second.Seed(), peer.Seed()) << "every greeting has a fresh seed";
}

TEST_F(RconSimTest, LoginNeedsTheDigestOfSeedAndPassword)
{
    Peer peer(server->port());
    ASSERT_TRUE(peer.WaitGreeting());
    const QByteArray digest = QCryptographicHash::hash(peer.Seed() + "pw", QCryptographicHash::Md5).toHex();
    const QByteArray refused = "error: not authenticated: you can only invoke 'login'\n\x04";
    struct Case
    {
        QByteArray line;
        QByteArray reply;
    };
    const Case cases[] = {
        {"\x02"
         "exec admin.listplayers\n",
         refused},
        {"\x02"
         "nonsense\n",
         refused},
        {"\x02login " + digest.toUpper() + '\n', "Authentication failed.\n\x04"},
        {"\x02login\n", "Authentication failed.\n\x04"},
        {"\x02login " + QCryptographicHash::hash(peer.Seed() + "wrong", QCryptographicHash::Md5).toHex() + '\n',
         "Authentication failed.\n\x04"},
        {"\x02"
         "exec maplist.list\n",
         refused}, // still open, still refused
        {"\x02login " + digest + '\n', "Authentication successful, rcon ready.\n\x04"},
        {"\x02"
         "frob x\n",
         "unknown command: 'frob'\n\x04"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(peer.Ask(c.line), c.reply) << c.line.toStdString();
    EXPECT_EQ(peer.socket.state(), QAbstractSocket::ConnectedState);
}

TEST_F(RconSimTest, FramedLinesEndWithEotAndBareLinesDoNot)
{
    server->setTiming(SimTiming::Instant); // two lines in one write get two answers
    Game().setRotation({{"kubra_dam", "gpm_cq", "16"}});
    Peer peer(server->port());
    ASSERT_EQ(peer.Login("pw"), "Authentication successful, rcon ready.\n\x04");
    server->clearReceivedLines();

    EXPECT_EQ(peer.Ask("\x02"
                       "exec maplist.list\n"),
              "0: \"kubra_dam\" gpm_cq 16\n\x04");
    EXPECT_EQ(peer.Ask("\x02"
                       "exec maplist.list\r\n"),
              "0: \"kubra_dam\" gpm_cq 16\n\x04");
    EXPECT_EQ(peer.Ask("\x02"
                       "exec gameLogic.togglepause\n"),
              "\x04");
    // A bare line gets its bare reply; one without output gets nothing, so the
    // next framed reply is all that arrives.
    EXPECT_EQ(peer.Ask("exec maplist.list\n\x02"
                       "exec admin.restartMap\n"),
              "0: \"kubra_dam\" gpm_cq 16\n\x04");
    EXPECT_EQ(peer.Ask("exec admin.restartMap\n\x02"
                       "exec admin.restartMap\n"),
              "\x04");
    EXPECT_EQ(Game().restartCount(), 3);

    const QList<QByteArray> expected = {"\x02"
                                        "exec maplist.list",
                                        "\x02"
                                        "exec maplist.list\r",
                                        "\x02"
                                        "exec gameLogic.togglepause",
                                        "exec maplist.list",
                                        "\x02"
                                        "exec admin.restartMap",
                                        "exec admin.restartMap",
                                        "\x02"
                                        "exec admin.restartMap"};
    EXPECT_EQ(server->receivedLines(), expected);
}

TEST_F(RconSimTest, ChunkedRepliesArriveInPiecesAndInOrder)
{
    server->setTiming(SimTiming::Instant);
    Peer peer(server->port());
    ASSERT_EQ(peer.Login("pw"), "Authentication successful, rcon ready.\n\x04");
    server->setChunking(7, 5);
    const QByteArray replies[] = {Game().playerListing() + '\x04', Game().mapListing() + '\x04'};
    peer.reads.clear();
    peer.socket.write("\x02"
                      "exec admin.listplayers\n\x02"
                      "exec maplist.list\n");
    const QByteArray expected = replies[0] + replies[1];
    ASSERT_TRUE(WaitUntil([&] { return peer.All().size() >= expected.size(); }));
    EXPECT_EQ(peer.All(), expected);

    // Reads may merge pieces when the reader lags, but never end inside one.
    QSet<qsizetype> pieceEnds;
    qsizetype start = 0;
    for (const QByteArray& reply : replies) {
        for (qsizetype end = 7; end < reply.size(); end += 7)
            pieceEnds.insert(start + end);
        start += reply.size();
        pieceEnds.insert(start);
    }
    qsizetype at = 0;
    for (const QByteArray& read : std::as_const(peer.reads)) {
        at += read.size();
        EXPECT_TRUE(pieceEnds.contains(at)) << "a read ends at " << at;
    }
    EXPECT_GT(peer.reads.size(), 2);
}

TEST_F(RconSimTest, FaultHooksCutStallAndBreakConnections)
{
    Peer peer(server->port());
    ASSERT_EQ(peer.Login("pw"), "Authentication successful, rcon ready.\n\x04");

    server->pauseReading();
    server->clearReceivedLines();
    peer.socket.write("\x02"
                      "exec gameLogic.togglepause\n");
    SpinEventLoop(100ms);
    EXPECT_TRUE(server->receivedLines().isEmpty());
    server->resumeReading();
    ASSERT_TRUE(WaitUntil([&] { return server->receivedLines().size() == 1; }));
    EXPECT_TRUE(Game().paused());

    server->closeAfterNextReplyBytes(10);
    peer.reads.clear();
    peer.socket.write("\x02"
                      "exec admin.listplayers\n");
    ASSERT_TRUE(WaitUntil([&] { return peer.socket.state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_EQ(peer.All(), Game().playerListing().left(10));

    Peer other(server->port());
    ASSERT_TRUE(other.WaitGreeting());
    server->sendRaw("raw\x04");
    ASSERT_TRUE(WaitUntil([&] { return other.All().endsWith("raw\x04"); }));
    server->resetClients();
    ASSERT_TRUE(WaitUntil([&] { return other.socket.state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_EQ(other.socket.error(), QAbstractSocket::RemoteHostClosedError); // how Qt reports ECONNRESET
    EXPECT_EQ(server->clientCount(), 0);
}

// The stock server's pace: one line per frame, and only in a frame whose read
// brought new bytes. A second command written before the first one's reply
// waits, unanswered, until the client writes something more.
TEST_F(RconSimTest, StockTimingAnswersOneLinePerFrameAndOnlyWhenNewBytesCame)
{
    Peer peer(server->port());
    ASSERT_EQ(peer.Login("pw"), "Authentication successful, rcon ready.\n\x04");
    EXPECT_EQ(peer.reads.size(), 1);
    EXPECT_EQ(server->pipelinedLines(), 0);
    server->clearReceivedLines();

    const QByteArray pause = "\x02"
                             "exec gameLogic.togglepause\n";
    const QByteArray restart = "\x02"
                               "exec admin.restartMap\n";
    EXPECT_EQ(peer.Ask(pause + restart), "\x04");
    SpinEventLoop(150ms);
    EXPECT_EQ(peer.All(), "\x04") << "the second line waits";
    EXPECT_EQ(Game().restartCount(), 0);
    EXPECT_EQ(server->pipelinedLines(), 1);

    // Any new bytes let the waiting line through, one frame at a time.
    peer.reads.clear();
    peer.socket.write("\x02"
                      "exec admin.runnextlevel\n");
    ASSERT_TRUE(WaitUntil([&] { return Game().restartCount() == 1; }));
    SpinEventLoop(150ms);
    EXPECT_EQ(peer.All(), "\x04");
    EXPECT_EQ(Game().currentMapIndex(), 0) << "the third line still waits";
    EXPECT_EQ(server->receivedLines(), QList<QByteArray>({pause.chopped(1), restart.chopped(1)}));
    EXPECT_EQ(server->pipelinedLines(), 2);
}

// The stock server's line rule: a line of 1,024 bytes or more, or more than
// 128 bytes without their line feed, closes the connection without a word.
TEST_F(RconSimTest, StockTimingClosesTheConnectionForALineTooLong)
{
    struct Case
    {
        QByteArray sent;
        bool closes;
    };
    const Case cases[] = {
        {"\x02" + QByteArray(1021, 'x') + '\n', false},
        {"\x02" + QByteArray(1022, 'x') + '\n', true},
        {QByteArray(128, 'x'), false},
        {QByteArray(129, 'x'), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sent.size());
        Peer peer(server->port());
        ASSERT_EQ(peer.Login("pw"), "Authentication successful, rcon ready.\n\x04");
        peer.socket.write(c.sent);
        if (c.closes) {
            EXPECT_TRUE(WaitUntil([&] { return peer.socket.state() == QAbstractSocket::UnconnectedState; }));
        } else {
            SpinEventLoop(100ms);
            EXPECT_EQ(peer.socket.state(), QAbstractSocket::ConnectedState);
        }
    }
    EXPECT_EQ(server->linesRefused(), 2);
}

// The game rules, one command after another on the same game.
TEST(GameStateTest, CommandsChangeTheGameAsTheListingsShow)
{
    GameState game;
    game.addPlayer({3, "Bob", "10.0.0.1", 1234, hashA});
    game.addPlayer({12, oddName, "10.0.0.2", 80, hashB});
    game.addBan({"k1", BanKind::Perm, 0});
    game.addBan({"k2", BanKind::Timed, 90});
    game.setRotation({{"a", "gpm_cq", "64"}, {"b", "gpm_coop", "16"}});

    struct Step
    {
        QByteArray command;
        QByteArray reply;
        QByteArray listing;
        QByteArray expected;
    };
    const QByteArray bob = "Id:  3 - Bob is remote ip: 10.0.0.1:1234 ->\n         CD-key hash: " + hashA + '\n';
    const QByteArray odd = "Id: 12 - " + oddName + " is remote ip: 10.0.0.2:80 ->\n         CD-key hash: " + hashB
        + '\n';
    const Step steps[] = {
        {"admin.listplayers", bob + odd, "", ""},
        {"admin.currentLevel", "0\n", "", ""},
        {"admin.listBannedKeys", "Key: k1 Perm\nKey: k2 Time Left: 90\n", "", ""},
        {"maplist.list", "0: \"a\" gpm_cq 64\n1: \"b\" gpm_coop 16\n", "", ""},
        {"admin.kickplayer  3 ", "", "admin.listplayers", odd},
        {"admin.kickplayer 3", "error: no player with id '3'\n", "admin.listplayers", odd},
        {"admin.banplayerkey 12 round", "", "admin.listplayers", ""},
        {"admin.listbannedkeys", "Key: k1 Perm\nKey: k2 Time Left: 90\nKey: " + hashB + " Round\n", "", ""},
        {"admin.addKeyToBanList k3", "", "admin.listBannedKeys",
         "Key: k1 Perm\nKey: k2 Time Left: 90\nKey: " + hashB + " Round\nKey: k3 Perm\n"},
        {"admin.removeKeyFromBanList k1", "", "admin.listBannedKeys",
         "Key: k2 Time Left: 90\nKey: " + hashB + " Round\nKey: k3 Perm\n"},
        {"admin.removeKeyFromBanList k1", "error: no ban for key 'k1'\n", "", ""},
        {"admin.addAddressToBanList 10.0.0.9 round", "", "admin.listBannedAddresses", "IP: 10.0.0.9 Round\n"},
        {"admin.addAddressToBanList 10.0.0.8", "", "admin.listBannedAddresses",
         "IP: 10.0.0.9 Round\nIP: 10.0.0.8 Perm\n"},
        {"admin.runnextlevel", "", "admin.listBannedKeys", "Key: k2 Time Left: 90\nKey: k3 Perm\n"},
        {"admin.currentLevel", "1\n", "admin.listBannedAddresses", "IP: 10.0.0.8 Perm\n"},
        {"admin.removeAddressFromBanList 10.0.0.7", "error: no ban for address '10.0.0.7'\n", "", ""},
        {"admin.addKeyToBanList k4 round", "", "admin.listBannedKeys",
         "Key: k2 Time Left: 90\nKey: k3 Perm\nKey: k4 Round\n"},
        {"admin.addKeyToBanList k5 600", "", "admin.listBannedKeys",
         "Key: k2 Time Left: 90\nKey: k3 Perm\nKey: k4 Round\nKey: k5 Time Left: 600\n"},
        {"admin.addAddressToBanList 10.0.0.6 0", "", "admin.listBannedAddresses",
         "IP: 10.0.0.8 Perm\nIP: 10.0.0.6 0 Perm\n"},
        {"admin.clearbanlist", "", "admin.listBannedKeys", ""},
        {"admin.listBannedAddresses", "", "", ""},
        {"mapList.append c", "", "maplist.list", "0: \"a\" gpm_cq 64\n1: \"b\" gpm_coop 16\n2: \"c\" gpm_cq 64\n"},
        {"mapList.append d gpm_ctf 32", "", "MAPLIST.LIST",
         "0: \"a\" gpm_cq 64\n1: \"b\" gpm_coop 16\n2: \"c\" gpm_cq 64\n3: \"d\" gpm_ctf 32\n"},
        {"mapList.remove 0", "", "maplist.list", "0: \"b\" gpm_coop 16\n1: \"c\" gpm_cq 64\n2: \"d\" gpm_ctf 32\n"},
        {"admin.currentLevel", "0\n", "", ""},
        {"mapList.remove 3", "error: no map at index '3'\n", "", ""},
        {"mapList.remove", "error: no map at index ''\n", "", ""},
        {"mapList.save", "", "", ""},
        {"maplist.jump 1", "Unknown object or method!\n", "", ""},
        {"", "Unknown object or method!\n", "", ""},
    };
    for (const Step& s : steps) {
        EXPECT_EQ(game.execute(s.command), s.reply) << s.command.toStdString();
        if (!s.listing.isEmpty()) {
            EXPECT_EQ(game.execute(s.listing), s.expected) << "after " << s.command.toStdString();
        }
    }
    EXPECT_EQ(game.saveCount(), 1);
    EXPECT_EQ(game.savedRotation(), game.rotation());
    EXPECT_EQ(game.currentMapIndex(), 0);
}

// Settings are read with no value and set with one, in any case; an unknown
// one is an unknown command. The rotation can be emptied, and the next map chosen.
TEST(GameStateTest, SettingsTheRotationsEndAndTheNextMap)
{
    GameState game;
    game.setRotation({{"a", "gpm_cq", "64"}, {"b", "gpm_coop", "16"}, {"c", "gpm_cq", "32"}});
    const struct
    {
        QByteArray command;
        QByteArray reply;
    } steps[] = {
        {"sv.ticketRatio", "100\n"},
        {"SV.TICKETRATIO 250", ""},
        {"sv.ticketratio", "250\n"},
        {"sv.welcomeMessage \"Hi \xe9 there\"", ""},
        {"sv.welcomeMessage", "Hi \xe9 there\n"},
        {"sv.voipEnabled", "1\n"},
        {"sv.numPlayersNeededToStart", "2\n"},
        {"sv.noSuchThing", "Unknown object or method!\n"},
        {"sv.noSuchThing 4", "Unknown object or method!\n"},
        {"admin.nextLevel", "1\n"},
        {"admin.nextLevel 2", ""},
        {"admin.nextLevel 3", "error: no map at index '3'\n"},
        {"admin.nextLevel", "2\n"},
        {"mapList.remove 1", ""},
        {"admin.nextLevel", "1\n"}, // "c" moved up and is still the one to come
        {"admin.runNextLevel", ""},
        {"admin.currentLevel", "1\n"},
        {"admin.nextLevel", "0\n"},
        {"mapList.clear", ""},
        {"maplist.list", ""},
        {"admin.nextLevel 0", "error: no map at index '0'\n"},
        {"mapList.append d", ""},
        {"maplist.list", "0: \"d\" gpm_cq 64\n"},
    };
    for (const auto& s : steps)
        EXPECT_EQ(game.execute(s.command), s.reply) << s.command.toStdString();
    EXPECT_EQ(game.setting("SV.ticketRatio"), QByteArray("250"));
    EXPECT_EQ(game.setting("sv.noSuchThing"), std::nullopt);
}

TEST(GameStateTest, KeepsTheChatAndDemoRecords)
{
    GameState game;
    struct Case
    {
        QByteArray command;
        QByteArray reply;
    };
    const Case cases[] = {
        {"game.sayAll \"Admin: Ops - hi\"", ""},
        {"game.sayTeam 2 \"Admin:  - say \"hello\" \"", ""},
        {"game.sayTeam 1 \"\"", ""},
        {"game.sayTeam 3 \"x\"", "error: the team is 1 or 2\n"},
        {"demo.recorddemo first", ""},
        {"demo.recorddemo first", "error: a demo named 'first' exists already\n"},
        {"demo.recorddemo second", ""},
        {"demo.stoprecording", ""},
        {"demo.stoprecording", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(game.execute(c.command), c.reply) << c.command.toStdString();
    const QList<SimChatLine> chat = {{0, "Admin: Ops - hi"}, {2, "Admin:  - say \"hello\" "}, {1, ""}};
    EXPECT_EQ(game.chat(), chat);
    const QList<SimDemo> demos = {{"first", true}, {"second", true}};
    EXPECT_EQ(game.demos(), demos);
    EXPECT_FALSE(game.recording());
}

TEST(GameStateTest, GeneratedGamesAreRepeatableAndWellFormed)
{
    const GameState game = GameState::generated(8, 4, 6);
    EXPECT_EQ(game.playerListing(), GameState::generated(8, 4, 6).playerListing());
    const QRegularExpression player(
        R"(^Id: [ \d]\d - \S.* is remote ip: \d+\.\d+\.\d+\.\d+:\d+ ->\n {9}CD-key hash: [0-9a-f]{32}\n$)");
    for (const SimPlayer& p : game.players()) {
        GameState one;
        one.addPlayer(p);
        EXPECT_TRUE(player.match(QString(one.playerListing())).hasMatch()) << one.playerListing().toStdString();
    }
    EXPECT_EQ(game.players().size(), 8);
    EXPECT_EQ(game.bans().size(), 4);
    EXPECT_EQ(game.rotation().size(), 6);
    EXPECT_TRUE(game.mapListing().startsWith("0: \"")) << game.mapListing().toStdString();
}

// Every churn step, from a full server and from an empty one, must keep these.
TEST(GameStateTest, ChurnKeepsKeysIdsAndEveryoneElse)
{
    using Players = QList<SimPlayer>;
    const auto find = [](const Players& players, const std::optional<SimPlayer>& p) -> const SimPlayer* {
        const auto at = std::find_if(players.begin(), players.end(),
                                     [&](const SimPlayer& q) { return p && q.keyHash == p->keyHash; });
        return at == players.end() ? nullptr : &*at;
    };
    const auto lowestFreeId = [](const Players& players, const std::optional<SimPlayer>& left) {
        int id = 0;
        while (std::any_of(players.begin(), players.end(),
                           [&](const SimPlayer& p) { return p.id == id && (!left || left->id != id); }))
            ++id;
        return id;
    };
    using Rule = std::function<bool(const Players&, const Players&, const SimChurn&)>;
    const std::pair<const char*, Rule> rules[] = {
        {"one present player leaves, unless none was there",
         [&](auto& before, auto& after, auto& step) {
             return step.left ? find(before, step.left) && !find(after, step.left) : before.isEmpty();
         }},
        {"a recruit with a new key joins on the lowest free id",
         [&](auto& before, auto& after, auto& step) {
             return step.joined && step.joined->name.startsWith("Recruit ") && step.joined->keyHash.size() == 32
                 && !find(before, step.joined) && find(after, step.joined)
                 && step.joined->id == lowestFreeId(before, step.left);
         }},
        {"a rename keeps the key, the id and the address",
         [&](auto& before, auto&, auto& step) {
             const SimPlayer* was = find(before, step.renamed);
             return !step.renamed
                 || (was && was->id == step.renamed->id && was->name != step.renamed->name
                     && was->address == step.renamed->address);
         }},
        {"a move keeps the key, the id and the name",
         [&](auto& before, auto&, auto& step) {
             const SimPlayer* was = find(before, step.moved);
             return !step.moved
                 || (was && was->id == step.moved->id && was->name == step.moved->name
                     && was->address != step.moved->address);
         }},
        {"ids stay unique and in order, the count the same",
         [&](auto& before, auto& after, auto&) {
             return after.size() == std::max<qsizetype>(before.size(), 1)
                 && std::adjacent_find(after.begin(), after.end(), [](auto& a, auto& b) { return a.id >= b.id; })
                 == after.end();
         }},
    };

    for (const int players : {8, 0}) {
        GameState game = GameState::generated(players, 0, 1);
        game.seedChurn(7);
        int renames = 0;
        int moves = 0;
        for (int i = 0; i < 60; ++i) {
            const Players before = game.players();
            const SimChurn step = game.churnStep();
            for (const auto& [what, holds] : rules)
                EXPECT_TRUE(holds(before, game.players(), step)) << what << ", step " << i;
            renames += step.renamed ? 1 : 0;
            moves += step.moved ? 1 : 0;
        }
        // With one player there is nobody but the newcomer to rename or move.
        EXPECT_EQ(renames > 0, players > 1) << players << " players";
        EXPECT_EQ(moves > 0, players > 1) << players << " players";
    }

    GameState one = GameState::generated(8, 0, 1);
    GameState two = GameState::generated(8, 0, 1);
    for (int i = 0; i < 20; ++i) {
        one.churnStep();
        two.churnStep();
    }
    EXPECT_EQ(one.playerListing(), two.playerListing()) << "the same seed gives the same churn";
}

TEST_F(RconSimTest, ChurnsOnItsTimerOnlyWhenAsked)
{
    RconSimOptions options;
    options.players = 2;
    options.churnMs = 5;
    RconSimServer churning(options);
    int steps = 0;
    QObject::connect(&churning, &RconSimServer::churned, [&] { ++steps; });
    ASSERT_TRUE(WaitUntil([&] { return steps >= 3; }));
    EXPECT_TRUE(churning.game().playerListing().contains(" - Recruit "))
        << churning.game().playerListing().toStdString();
    EXPECT_EQ(server->game().playerListing(), GameState::generated(3, 4, 6).playerListing());
}

} // namespace
