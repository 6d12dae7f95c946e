// Ban sync: which bans each server lacks, and the copier that adds them one
// command at a time and reads the lists again, against practice servers.

#include "session/console_session.h"
#include "sim_server.h"
#include "support/sim_console.h"
#include "support/wait.h"
#include "watch/ban_sync.h"

#include <QTimer>

#include <gtest/gtest.h>
#include <memory>

using namespace std::chrono_literals;

namespace {

const QDateTime kRead = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC);

// "k:aa Perm <EU 1>", "a:aa 600 <EU 1,EU 2>", "k:rr round-only <EU 1>".
QStringList briefs(const QList<MissingBan>& missing)
{
    static const char* const kCopy[] = {"Perm", "timed", "round-only", "unusable"};
    QStringList words;
    for (const MissingBan& ban : missing)
        words.append(QString::fromLatin1(ban.isAddress ? "a:" : "k:") + ban.ban + u' '
                     + (ban.secondsLeft ? QString::number(*ban.secondsLeft) : QString::fromLatin1(kCopy[int(ban.copy)]))
                     + QStringLiteral(" <") + ban.sources.join(u',') + u'>');
    return words;
}

SeenBan key(const char* text, const char* period, std::optional<qint64> left = {}, bool isAddress = false)
{
    return {QString::fromLatin1(text), isAddress, QString::fromLatin1(period), left};
}

QList<BanSyncResult> resultsOf(BanCopier& copier)
{
    QList<BanSyncResult> results;
    bool done = false;
    const auto heard = QObject::connect(&copier, &BanCopier::finished, [&](const QList<BanSyncResult>& all) {
        results = all;
        done = true;
    });
    EXPECT_TRUE(WaitUntil([&] { return done; }, 60s));
    QObject::disconnect(heard);
    return results;
}

struct Console : SimConsole
{
    using SimConsole::SimConsole;

    ServerBans read(const QString& name)
    {
        ServerBans bans{name, {}, QDateTime::currentDateTimeUtc()};
        bool done = false;
        CommandReply* keys = send("exec admin.listBannedKeys");
        QObject::connect(keys, &CommandReply::finished, [&, keys, this] {
            bans.bans = keyBansFrom(keys->entries());
            CommandReply* addresses = send("exec admin.listBannedAddresses");
            QObject::connect(addresses, &CommandReply::finished, [&, addresses] {
                bans.bans.append(addressBansFrom(addresses->text()));
                done = true;
            });
        });
        EXPECT_TRUE(WaitUntil([&] { return done; }, 10s));
        return bans;
    }
    BanCopier::Send sender()
    {
        return [this](const QByteArray& command) { return send(command); };
    }
};

QString summaryOf(const QString& server, const QList<BanSyncResult>& results)
{
    QList<BanSyncResult> its;
    for (const BanSyncResult& result : results)
        if (result.server == server)
            its.append(result);
    return syncSummary(server, its);
}

RconSimOptions noBans()
{
    RconSimOptions options;
    options.bans = 0;
    return options;
}

} // namespace

TEST(BanSync, EachServerLacksWhatAnotherHasWithTheTimeToCopy)
{
    struct Case
    {
        const char* what;
        QList<ServerBans> servers;
        QList<QStringList> missing; // for each server
    };
    const QDateTime later = kRead.addSecs(300);
    const Case cases[] = {
        {"a key and an address of the same text are two bans",
         {{"EU 1", {key("aa", "Perm")}, kRead}, {"EU 2", {key("aa", "Perm", {}, true)}, kRead}},
         {{"a:aa Perm <EU 2>"}, {"k:aa Perm <EU 1>"}}},
        {"perm wins over time left; a server with a round ban has the ban",
         {{"EU 1", {key("aa", "Time Left: 600", 600), key("bb", "Round")}, kRead},
          {"EU 2", {key("aa", "Perm")}, kRead},
          {"EU 3", {key("bb", "Perm")}, kRead}},
         {{}, {"k:bb Perm <EU 1,EU 3>"}, {"k:aa Perm <EU 1,EU 2>"}}},
        {"of two timed bans the one that ends last, whenever it was read",
         {{"EU 1", {key("aa", "Time Left: 600", 600)}, kRead},
          {"EU 2", {key("aa", "Time Left: 400", 400)}, later},
          {"EU 3", {}, kRead}},
         {{}, {}, {"k:aa 400 <EU 1,EU 2>"}}},
        {"a round ban, an unknown period and a text with a blank or a line break are not copyable",
         {{"EU 1", {key("rr", "Round"), key("10.0.0.1", "", {}, true), key("a b", "Perm"), key("a\nb", "Perm")}, kRead},
          {"EU 2", {}, kRead}},
         {{},
          {"k:rr round-only <EU 1>", "a:10.0.0.1 unusable <EU 1>", "k:a b unusable <EU 1>", "k:a\nb unusable <EU 1>"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QList<ServerLack> lacks = missingBans(c.servers);
        ASSERT_EQ(lacks.size(), c.missing.size());
        for (qsizetype i = 0; i < lacks.size(); ++i) {
            EXPECT_EQ(lacks[i].server, c.servers[i].server);
            EXPECT_EQ(briefs(lacks[i].missing), c.missing[i]) << lacks[i].server.toStdString();
        }
    }
}

// Time left is run down from the read to the send, to no less than a second
// and to no more than was read.
TEST(BanCopier, SendsTheTimeLeftAtTheSend)
{
    Console eu1(noBans());
    BanCopier copier;
    copier.setClock([] { return kRead; });
    const auto timed = [](const char* key, qint64 left, qint64 readMsAgo) {
        return MissingBan{key, false, BanCopy::Timed, left, kRead.addMSecs(-readMsAgo), {"EU 2"}};
    };
    ASSERT_TRUE(copier.copy({{"EU 1",
                              eu1.sender(),
                              {{"pp", false, BanCopy::Perm, {}, kRead.addDays(-1), {"EU 2"}},
                               timed("t500", 600, 100'000),
                               timed("t1", 2, 1'500),
                               timed("gone", 2, 2'000),
                               timed("ahead", 60, -5'000)}}}));
    EXPECT_EQ(summaryOf("EU 1", resultsOf(copier)), "EU 1: 4 bans copied, 1 expired");
    EXPECT_EQ(eu1.server->game().banListing(),
              "Key: pp Perm\nKey: t500 Time Left: 500\nKey: t1 Time Left: 1\nKey: ahead Time Left: 60\n")
        << "a clock set back gives no more time than was read";
}

// Two servers with different bans each end with the other's, their time
// left about as it was, nothing removed, one command on each wire at a time.
TEST(BanCopier, CopiesMissingBansBetweenPracticeServersAndVerifies)
{
    Console eu1(noBans());
    Console eu2(noBans());
    const QByteArray k1(32, 'a'), k2(32, 'b'), k3(32, 'c');
    for (const QByteArray& args : {k1 + " perm", k2 + " 600", k3 + " round"})
        eu1.send("exec admin.addKeyToBanList " + args);
    eu1.send("exec admin.addAddressToBanList 10.0.0.1 perm");
    eu2.send("exec admin.addKeyToBanList " + k1 + " round");
    eu2.send("exec admin.addAddressToBanList 10.0.0.2 1200");
    ASSERT_TRUE(WaitUntil([&] { return eu1.owed + eu2.owed == 0; }));
    const QByteArray keysOfEu1 = eu1.server->game().banListing();

    const QList<ServerLack> lacks = missingBans({eu1.read("EU 1"), eu2.read("EU 2")});
    eu1.mostOwed = eu2.mostOwed = 0;
    BanCopier copier;
    ASSERT_TRUE(copier.copy({{"EU 1", eu1.sender(), lacks[0].missing}, {"EU 2", eu2.sender(), lacks[1].missing}}));
    const QList<BanSyncResult> results = resultsOf(copier);
    EXPECT_EQ(summaryOf("EU 1", results), "EU 1: 1 ban copied");
    EXPECT_EQ(summaryOf("EU 2", results), "EU 2: 2 bans copied, 1 not copyable");

    EXPECT_EQ(eu1.server->game().banListing(), keysOfEu1);
    const QList<SimAddressBan>& addresses1 = eu1.server->game().addressBans();
    ASSERT_EQ(addresses1.size(), 2);
    EXPECT_EQ(addresses1[1].address, "10.0.0.2");
    EXPECT_GE(addresses1[1].secondsLeft, 1190);
    const QList<SimBan>& keys2 = eu2.server->game().bans();
    ASSERT_EQ(keys2.size(), 2) << "a round ban is not copied, and EU 2 kept its own ban of k1";
    EXPECT_EQ(keys2[0].kind, BanKind::Round);
    EXPECT_EQ(keys2[1].keyHash, k2);
    EXPECT_GE(keys2[1].secondsLeft, 590);
    EXPECT_LE(keys2[1].secondsLeft, 600);
    EXPECT_EQ(eu2.server->game().addressBanListing(), "IP: 10.0.0.2 Time Left: 1200\nIP: 10.0.0.1 Perm\n");

    // Removal is a call of its own.
    ASSERT_TRUE(copier.remove({{"EU 2", eu2.sender(), {key(k1.constData(), "Round")}}}));
    EXPECT_EQ(summaryOf("EU 2", resultsOf(copier)), "EU 2: 1 ban removed");
    EXPECT_EQ(eu2.server->game().bans().size(), 1);
    EXPECT_EQ(eu1.mostOwed, 1);
    EXPECT_EQ(eu2.mostOwed, 1);
    EXPECT_EQ(eu1.server->pipelinedLines() + eu2.server->pipelinedLines(), 0);
}

// A server stopped in the middle of its copy: each of its bans failed and
// why, while the other server's copy completes.
TEST(BanCopier, AServerThatDropsMidCopyFailsItsBansWhileTheOtherCompletes)
{
    Console eu1(noBans());
    Console eu2(noBans());
    for (char digit = 'a'; digit < 'f'; ++digit)
        eu2.send("exec admin.addKeyToBanList " + QByteArray(32, digit) + " perm");
    eu1.send("exec admin.addAddressToBanList 10.0.0.1 perm");
    ASSERT_TRUE(WaitUntil([&] { return eu1.owed + eu2.owed == 0; }));
    const QList<ServerLack> lacks = missingBans({eu1.read("EU 1"), eu2.read("EU 2")});
    int adds = 0;
    QObject::connect(eu1.server.get(), &RconSimServer::lineReceived, [&](const QByteArray& line) {
        if (line.contains("addKeyToBanList") && ++adds == 2)
            QTimer::singleShot(0, [&] { eu1.server.reset(); });
    });

    BanCopier copier;
    ASSERT_TRUE(copier.copy({{"EU 1", eu1.sender(), lacks[0].missing}, {"EU 2", eu2.sender(), lacks[1].missing}}));
    const QList<BanSyncResult> results = resultsOf(copier);
    EXPECT_TRUE(summaryOf("EU 1", results).startsWith("EU 1: 0 bans copied, 5 failed ("))
        << summaryOf("EU 1", results).toStdString();
    EXPECT_EQ(summaryOf("EU 2", results), "EU 2: 1 ban copied");
}
