// Watching servers: what two looks tell, and a watch that follows a practice
// server at the stock server's pace through joins, leaves, a kick and a
// restart.

#include "sim_server.h"
#include "support/printers.h"
#include "support/wait.h"
#include "watch/poll_diff.h"
#include "watch/server_watch.h"
#include "watch/watchlist.h"

#include <gtest/gtest.h>
#include <memory>

using namespace std::chrono_literals;

namespace {

// An event in a few words: "join Bob", "rename Al>Bob", "ban k:ff Perm".
QString brief(const WatchEvent& event)
{
    QString words = QString::fromLatin1(eventName(event.kind));
    switch (event.kind) {
    case WatchEvent::Kind::Join:
    case WatchEvent::Kind::Leave: return words + u' ' + event.name;
    case WatchEvent::Kind::Rename: return words + u' ' + event.previous + u'>' + event.name;
    case WatchEvent::Kind::Address: return words + u' ' + event.name + u' ' + event.previous + u'>' + event.address;
    case WatchEvent::Kind::Map: return words + u' ' + event.previous + u'>' + event.map;
    case WatchEvent::Kind::Ban:
    case WatchEvent::Kind::Unban:
        return words + u' ' + (event.banIsAddress ? u'a' : u'k') + u':' + event.ban + u' ' + event.banPeriod;
    default: return words;
    }
}

QStringList briefs(const QList<WatchEvent>& events)
{
    QStringList words;
    for (const WatchEvent& event : events)
        words.append(brief(event));
    return words;
}

} // namespace

TEST(PollDiff, FollowsPlayersByHashAndTheRestByNameAndAddress)
{
    const SeenPlayer al{1, "Al", "10.0.0.1", "aa"};
    const SeenPlayer bo{2, "Bo", "10.0.0.2", "bb"};
    const SeenPlayer noHash{3, "Cy", "10.0.0.3", ""};
    struct Case
    {
        const char* what;
        std::optional<QList<SeenPlayer>> before;
        QList<SeenPlayer> now;
        QStringList events;
    };
    const Case cases[] = {
        {"the first look: everyone joins", std::nullopt, {al, bo}, {"join Al", "join Bo"}},
        {"nobody changed", QList{al, bo}, {bo, al}, {}},
        {"one came, one went", QList{al}, {bo}, {"join Bo", "leave Al"}},
        {"a new name for the same hash", QList{al}, {{1, "Alan", "10.0.0.1", "aa"}}, {"rename Al>Alan"}},
        {"a new address, and a new id, for the same hash",
         QList{al},
         {{7, "Al", "10.9.9.9", "aa"}},
         {"address Al 10.0.0.1>10.9.9.9"}},
        {"both at once",
         QList{al},
         {{1, "Alan", "10.9.9.9", "aa"}},
         {"rename Al>Alan", "address Alan 10.0.0.1>10.9.9.9"}},
        {"no hash: a rename is a new player", QList{noHash}, {{3, "Cyd", "10.0.0.3", ""}}, {"join Cyd", "leave Cy"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(briefs(playerChanges(c.before, c.now, {})), c.events);
    }
}

TEST(PollDiff, BansAppearAndGoWhateverTheirTimeLeft)
{
    EntryBlock keys;
    keys.append("Key: ff Perm");
    keys.append("Key: ee Time Left: 1800");
    const QList<SeenBan> now = keyBansFrom(keys)
        + addressBansFrom("Address: 10.1.2.3 Perm\nUnknown object or method!\n");
    ASSERT_EQ(now.size(), 3);
    EXPECT_EQ(now[1].secondsLeft, 1800);
    EXPECT_EQ(briefs(banChanges(std::nullopt, now, {})),
              QStringList({"ban k:ff Perm", "ban k:ee Time Left: 1800", "ban a:10.1.2.3 Perm"}));
    QList<SeenBan> later = now;
    later[1].period = "Time Left: 1785";
    later.removeLast();
    later.append({"dd", false, "Round", std::nullopt});
    EXPECT_EQ(briefs(banChanges(now, later, {})), QStringList({"ban k:dd Round", "unban a:10.1.2.3 Perm"}));
}

// A watch at the stock server's pace: the first look finds everyone, a kick
// is a leave at the next look, a restart of the server is down and up again.
namespace {

WatchEntry Entry(WatchEntry::Kind kind, const QString& pattern)
{
    WatchEntry entry;
    entry.kind = kind;
    entry.pattern = pattern;
    return entry;
}

} // namespace

// Which entries a player matches, at the edges of ranges and patterns, and
// which entries are refused when made.
TEST(Watchlist, MatchesByHashRangeAndNamePatternAndRefusesWhatCannotMatch)
{
    using Kind = WatchEntry::Kind;
    struct Case
    {
        Kind kind;
        const char* pattern;
        const char* hash;
        const char* name;
        const char* address;
        bool matches;
    };
    const Case cases[] = {
        {Kind::Hash, "0123456789ABCDEF0123456789ABCDEF", "0123456789abcdef0123456789abcdef", "", "", true},
        {Kind::Hash, "0123456789abcdef0123456789abcdef", "0123456789abcdef0123456789abcdee", "", "", false},
        {Kind::Hash, "0123456789abcdef0123456789abcdef", "", "0123456789abcdef0123456789abcdef", "", false},
        {Kind::Address, "0.0.0.0/0", "", "", "203.0.113.9", true},
        {Kind::Address, "0.0.0.0/0", "", "", "2001:db8::1", false},
        {Kind::Address, "203.0.113.9/32", "", "", "203.0.113.9", true},
        {Kind::Address, "203.0.113.9/32", "", "", "203.0.113.10", false},
        {Kind::Address, "203.0.113.9", "", "", "203.0.113.9", true},
        {Kind::Address, "198.51.100.0/24", "", "", "198.51.100.0", true},
        {Kind::Address, "198.51.100.0/24", "", "", "198.51.100.255", true},
        {Kind::Address, "198.51.100.0/24", "", "", "198.51.101.0", false},
        {Kind::Address, "198.51.100.77/24", "", "", "198.51.100.1", true},
        {Kind::Address, "2001:db8::/32", "", "", "2001:db8:ffff::1", true},
        {Kind::Address, "2001:db8::/32", "", "", "2001:db9::1", false},
        {Kind::Address, "2001:DB8::1", "", "", "2001:db8:0::1", true},
        {Kind::Address, "10.0.0.0/8", "", "", "", false},
        {Kind::Name, "camp", "", "xXCamperXx", "", true},
        {Kind::Name, "^camp", "", "xXCamperXx", "", false},
        {Kind::Name, "^\\[TK\\]", "", "[tk]Bob", "", true},
        {Kind::Name, "bob$", "", "[tk]Bob ", "", false},
        {Kind::Name, "^Ä", "", "äsop", "", true},
        {Kind::Name, ".*", "", "", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pattern << " / " << c.hash << c.name << c.address);
        const WatchEntry entry = Entry(c.kind, QString::fromUtf8(c.pattern));
        ASSERT_EQ(watchEntryProblem(entry), QString());
        const QList<WatchEntry> found = Watchlist({entry}).matches(QLatin1String(c.hash), QString::fromUtf8(c.name),
                                                                   QLatin1String(c.address));
        EXPECT_EQ(found.size(), c.matches ? 1 : 0);
    }

    const struct
    {
        Kind kind;
        const char* pattern;
        const char* said;
    } refused[] = {
        {Kind::Hash, "0123456789abcdef0123456789abcde", "32 hexadecimal digits"},
        {Kind::Hash, "0123456789abcdef0123456789abcdeg", "32 hexadecimal digits"},
        {Kind::Address, "10.0.0.0/33", "not an address"},
        {Kind::Address, "2001:db8::/129", "not an address"},
        {Kind::Address, "bob.example", "not an address"},
        {Kind::Name, "[tk", "not a valid regular expression"},
        {Kind::Name, "", "cannot be empty"},
    };
    for (const auto& r : refused) {
        const WatchEntry entry = Entry(r.kind, QLatin1String(r.pattern));
        EXPECT_TRUE(watchEntryProblem(entry).contains(QLatin1String(r.said))) << r.pattern;
        EXPECT_TRUE(Watchlist({entry}).entries().isEmpty()) << r.pattern;
    }
}

TEST(ServerWatch, FollowsAServerThroughAKickAndARestart)
{
    auto server = std::make_unique<RconSimServer>(RconSimOptions{});
    ASSERT_TRUE(server->listen());
    const quint16 port = server->port();
    ServerWatch::Timing timing;
    timing.interval = 300ms;
    timing.mapInterval = 300ms;
    ServerWatch watch({"EU 1", "127.0.0.1", port, "secret"}, timing);
    QStringList seen;
    QList<PopulationSample> samples;
    QObject::connect(&watch, &ServerWatch::observed,
                     [&](const QList<WatchEvent>& events, const QList<PopulationSample>& more) {
                         seen.append(briefs(events));
                         samples.append(more);
                     });
    const auto seenSince = [&](qsizetype mark) { return seen.mid(mark); };
    watch.start();
    ASSERT_TRUE(WaitUntil([&] { return !samples.isEmpty(); }, 10s));
    const QList<SimPlayer> players = server->game().players();
    ASSERT_EQ(seen.size(), 1 + players.size() + server->game().bans().size());
    EXPECT_EQ(seen.first(), "up");
    EXPECT_EQ(seen[1], "join " + QString::fromLatin1(players.first().name));
    EXPECT_EQ(samples.first().players, players.size());
    EXPECT_EQ(samples.first().maxPlayers, 64);
    // The stock server gives the level's number; its name comes from the rotation.
    EXPECT_EQ(samples.first().map, QString::fromLatin1(server->game().rotation().first().name));

    const qsizetype mark = seen.size();
    server->game().execute("admin.kickPlayer " + QByteArray::number(players.first().id));
    ASSERT_TRUE(WaitUntil([&] { return !seenSince(mark).isEmpty(); }, 10s));
    EXPECT_EQ(seenSince(mark), QStringList({"leave " + QString::fromLatin1(players.first().name)}));
    const qsizetype beforeMapChange = seen.size();
    server->game().execute("admin.runNextLevel");
    ASSERT_TRUE(WaitUntil([&] { return seen.size() > beforeMapChange; }, 10s));
    EXPECT_EQ(seen.last(),
              "map " + QString::fromLatin1(server->game().rotation()[0].name) + u'>'
                  + QString::fromLatin1(server->game().rotation()[1].name));

    // The server goes away and comes back on the same port.
    const qsizetype beforeRestart = seen.size();
    server.reset();
    ASSERT_TRUE(WaitUntil([&] { return !watch.isUp(); }, 10s));
    RconSimOptions again;
    again.port = port;
    server = std::make_unique<RconSimServer>(again);
    ASSERT_TRUE(server->listen());
    ASSERT_TRUE(WaitUntil([&] { return seen.size() > beforeRestart + 2; }, 20s));
    const QStringList restart = seenSince(beforeRestart);
    EXPECT_EQ(restart.mid(0, 2), QStringList({"down", "up"}));
    EXPECT_EQ(restart[2], "join " + QString::fromLatin1(server->game().players().first().name))
        << "a new connection looks afresh";
    watch.stop();
    EXPECT_EQ(seen.last(), "down");
}
