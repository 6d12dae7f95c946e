// The desired-state file and the plan: what the file accepts and where it
// says a fault is, how overrides merge, what a plan says and sends, that its
// commands end at the wanted state without ever emptying the rotation, and
// what undo aims for after time has passed.

#include "command_simulator.h"
#include "desired/desired_plan.h"
#include "desired/desired_state.h"
#include "session/console_session.h"
#include "support/printers.h"

#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QByteArray kKey = "0123456789abcdef0123456789abcdef";
const QByteArray kOtherKey = "fedcba9876543210fedcba9876543210";

// "a" -> a gpm_cq 64: rotations in the tables are strings of one-letter maps.
QList<RotationEntry> maps(const char* letters)
{
    QList<RotationEntry> rotation;
    for (const char* c = letters; *c; ++c)
        rotation.append({QByteArray(1, *c), "gpm_cq", 64});
    return rotation;
}

StateBan perm(const QByteArray& key)
{
    return {key, false, StateBan::Period::Perm, 0};
}
StateBan timed(const QByteArray& key, qint64 seconds)
{
    return {key, false, StateBan::Period::Seconds, seconds};
}
StateBan address(const QByteArray& ip, qint64 seconds = 0)
{
    return {ip, true, seconds ? StateBan::Period::Seconds : StateBan::Period::Perm, seconds};
}

DesiredStateRead read(const QString& text)
{
    return readDesiredState(text.toUtf8());
}

using Settings = QMap<QByteArray, QByteArray>;

ServerState live(const QList<RotationEntry>& rotation, const Settings& settings = {}, const QList<StateBan>& bans = {})
{
    ServerState state;
    state.rotation = rotation;
    state.settings = settings;
    state.bans = bans;
    return state;
}

DesiredServer want(std::optional<QList<RotationEntry>> rotation, const Settings& settings = {},
                   const QList<StateBan>& present = {}, const QList<StateBan>& absent = {})
{
    DesiredServer server;
    server.rotation = rotation;
    server.settings = settings;
    server.bansPresent = present;
    server.bansAbsent = absent;
    return server;
}

} // namespace

TEST(DesiredStateFile, ReadsDefaultsAndMergesAServersOverride)
{
    const DesiredStateRead file = read(QStringLiteral(R"(
[defaults]
rotation = [["strike_at_karkand", "gpm_cq", 64], ["dalian_plant", "gpm_cq", 64]]
settings = { "sv.serverName" = "Fleet server", "sv.ticketRatio" = "100" }
bans.keys = [{ key = "0123456789ABCDEF0123456789abcdef", time = "perm" },
             { key = "fedcba9876543210fedcba9876543210", time = 3600 }]

[server."EU 1"]
rotation = [["kubra_dam", "gpm_cq", 256]]
settings = { "sv.servername" = "EU 1 - Caf\u00e9" }
bans.keys = [{ key = "0123456789abcdef0123456789abcdef", absent = true }]
bans.addresses = [{ address = "10.0.0.1", time = "1d" }]
)"));
    ASSERT_TRUE(file.problems.isEmpty()) << file.problems.value(0).text(QStringLiteral("f")).toStdString();
    EXPECT_EQ(file.state.serverNames(), QStringList{QStringLiteral("EU 1")});
    EXPECT_EQ(file.state.overrides[0].line, 8);

    const DesiredServer other = file.state.desiredFor(QStringLiteral("US 1"));
    EXPECT_EQ(other.rotation,
              (QList<RotationEntry>{{"strike_at_karkand", "gpm_cq", 64}, {"dalian_plant", "gpm_cq", 64}}));
    EXPECT_EQ(other.bansPresent, (QList<StateBan>{perm(kKey), timed(kOtherKey, 3600)}));

    const DesiredServer eu = file.state.desiredFor(QStringLiteral("EU 1"));
    EXPECT_EQ(eu.rotation, (QList<RotationEntry>{{"kubra_dam", "gpm_cq", 256}}));
    // One setting in any case, the server's name in the server's table.
    EXPECT_EQ(eu.settings,
              (QMap<QByteArray, QByteArray>{{"sv.servername", "EU 1 - Caf\xe9"}, {"sv.ticketRatio", "100"}}));
    EXPECT_EQ(eu.bansPresent, (QList<StateBan>{timed(kOtherKey, 3600), address("10.0.0.1", 86400)}));
    EXPECT_EQ(eu.bansAbsent, (QList<StateBan>{perm(kKey)}));
}

TEST(DesiredStateFile, RefusesFaultsSayingWhere)
{
    const QString longValue(ConsoleSession::kMaxCommandLength - int(qstrlen("exec sv.serverName ")) + 1, u'x');
    struct Case
    {
        QString text;
        int line, column;
        const char* message;
    };
    const Case cases[] = {
        {"[defaults]\nrotation = [", 2, 13, ""}, // the parser's own words
        {"[default]", 1, 2, "the file has no section \"default\""},
        {"[defaults]\nmaps = []", 2, 1, "[defaults] has no key \"maps\""},
        {"[defaults]\nrotation = []", 2, 12, "rotation cannot be empty"},
        {"[defaults]\nrotation = [[\"a\", \"gpm_cq\"]]", 2, 13, "a rotation entry is"},
        {"[defaults]\nrotation = [[\"a b\", \"gpm_cq\", 64]]", 2, 14, "a map name is"},
        {"[defaults]\nrotation = [[\"a\", \"gpm;cq\", 64]]", 2, 19, "a mode is"},
        {"[defaults]\nrotation = [[\"a\", \"gpm_cq\", 0]]", 2, 29, "a map size is 1-256"},
        {"[defaults]\nrotation = [[\"a\", \"gpm_cq\", 257]]", 2, 29, "a map size is 1-256"},
        {"[defaults]\nsettings = { \"serverName\" = \"x\" }", 2, 14, "a setting is named \"sv.\""},
        {"[defaults]\nsettings = { \"sv.a\" = \"x\", \"sv.A\" = \"y\" }", 2, 14, "is named twice"},
        {"[defaults]\nsettings = { \"sv.a\" = 100 }", 2, 23, "a setting's value is a string"},
        {"[defaults]\nsettings = { \"sv.a\" = \"a\\tb\" }", 2, 23, "control character"},
        {"[defaults]\nsettings = { \"sv.a\" = \"a \\\"b\\\"\" }", 2, 23, "double quote"},
        {"[defaults]\nsettings = { \"sv.a\" = \"\u20ac\u0100\" }", 2, 23, "a character the server's table has not"},
        {"[defaults]\nsettings = { \"sv.serverName\" = \"" + longValue + "\" }", 2, 32, "too long"},
        {"[defaults]\nbans.keys = [{ key = \"0123\", time = \"perm\" }]", 2, 22, "32 hexadecimal digits"},
        {"[defaults]\nbans.addresses = [{ address = \"10.0.0.01\", time = \"perm\" }]", 2, 31, "four numbers"},
        {"[defaults]\nbans.keys = [{ key = \"" + kKey + "\", time = \"soon\" }]", 2, 65, "time is"},
        {"[defaults]\nbans.keys = [{ key = \"" + kKey + "\", time = 2147483648 }]", 2, 65, "time is"},
        {"[defaults]\nbans.keys = [{ key = \"" + kKey + "\", absent = true, time = 60 }]", 2, 80, "has no time"},
        {"[defaults]\nbans.keys = [{ key = \"" + kKey + "\" }]", 2, 14, "needs time"},
        {"[defaults]\nbans.keys = [{ key = \"" + kKey + "\", time = 1 }, { key = \"" + kKey.toUpper()
             + "\", absent = true }]",
         2, 70, "is named twice"},
        {"[defaults]\nbans.players = []", 2, 6, "bans has no key \"players\""},
        {"[server.\"\"]", 1, 9, "a server's name cannot be empty"},
        {"defaults = 1", 1, 12, "as tables"},
    };
    for (const Case& c : cases) {
        const DesiredStateRead file = read(c.text);
        ASSERT_FALSE(file.problems.isEmpty()) << c.text.toStdString();
        EXPECT_EQ(file.problems[0].line, c.line) << c.text.toStdString();
        EXPECT_EQ(file.problems[0].column, c.column) << c.text.toStdString();
        EXPECT_TRUE(file.problems[0].message.contains(QLatin1String(c.message)))
            << c.text.toStdString() << " -> " << file.problems[0].message.toStdString();
        EXPECT_TRUE(file.state.defaults == DesiredServer()) << "a file with a problem gives nothing";
    }
    // The bounds themselves are taken.
    const QString atBounds =
        "[defaults]\nrotation = [[\"a\", \"m\", 1], [\"b\", \"m\", 256]]\nsettings = { \"sv.serverName\" = \""
        + longValue.chopped(1) + "\" }\nbans.keys = [{ key = \"" + kKey + "\", time = 2147483647 }]";
    EXPECT_TRUE(read(atBounds).problems.isEmpty()) << read(atBounds).problems.value(0).message.toStdString();
}

TEST(DesiredStateFile, RefusesAFileLargerThanFourMebibytes)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("desired.toml"));
    for (const qsizetype size : {4 * 1024 * 1024, 4 * 1024 * 1024 + 1}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write('#' + QByteArray(size - 1, 'x'));
        file.close();
        EXPECT_EQ(readDesiredStateFile(path).problems.size(), size > 4 * 1024 * 1024 ? 1 : 0) << size;
    }
}

// The shipped example and the manual's example must read as they say: a
// fault in either would greet whoever copies them.
TEST(DesiredStateFile, TheShippedExamplesReadWithoutProblems)
{
    const DesiredStateRead example = readDesiredStateFile(QStringLiteral(RAVELIN_SOURCE_DIR "/examples/desired.toml"));
    ASSERT_TRUE(example.problems.isEmpty())
        << example.problems.value(0).text(QStringLiteral("desired.toml")).toStdString();
    EXPECT_EQ(example.state.serverNames(), (QStringList{QStringLiteral("EU 1"), QStringLiteral("US 1")}));
    // Its comment says the address ban is lifted on US 1 only.
    const DesiredServer us = example.state.desiredFor(QStringLiteral("US 1"));
    EXPECT_TRUE(us.bansAbsent.contains(address("10.0.0.1")));
    EXPECT_TRUE(example.state.desiredFor(QStringLiteral("EU 1")).bansPresent.contains(address("10.0.0.1", 7 * 86400)));

    // The manual's first example block is the file, its second the plan it prints for
    // "EU 1" against the server its text describes.
    QFile page(QStringLiteral(RAVELIN_SOURCE_DIR "/share/man/ravelin-fleet.5.in"));
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    QList<QByteArray> blocks;
    QByteArray* block = nullptr;
    for (const QByteArray& line : page.readAll().split('\n')) {
        if (line == ".EX")
            block = &blocks.emplace_back();
        else if (line == ".EE")
            block = nullptr;
        else if (block)
            *block += QByteArray(line).replace("\\(dq", "\"").replace("\\(ti", "~").replace("\\-", "-") + '\n';
    }
    ASSERT_EQ(blocks.size(), 2);
    const DesiredStateRead manual = readDesiredState(blocks[0]);
    ASSERT_TRUE(manual.problems.isEmpty()) << manual.problems.value(0).text(QStringLiteral("man")).toStdString();
    const ServerState server = live({{"dalian_plant", "gpm_cq", 64}, {"strike_at_karkand", "gpm_cq", 64}},
                                    {{"sv.serverName", "Server"}, {"sv.ticketRatio", "80"}, {"sv.friendlyFire", "1"}});
    EXPECT_EQ(planFor(server, manual.state.desiredFor(QStringLiteral("EU 1"))).lines().join(u'\n') + u'\n',
              QString::fromUtf8(blocks[1]));
}

TEST(DesiredPlan, SaysEachChangeAndTheCommandsInOrder)
{
    struct Case
    {
        const char* name;
        ServerState live;
        DesiredServer want;
        QStringList lines;
        QList<QByteArray> commands;
    };
    DesiredServer timeLeft = want(std::nullopt, {}, {timed(kKey, 3000)});
    timeLeft.matchTimeLeft = true;
    const Case cases[] = {
        {"identical",
         live(maps("ab"), {{"sv.ticketRatio", "100"}}, {perm(kKey)}),
         want(maps("ab"), {{"sv.ticketRatio", "100"}}, {perm(kKey)}, {address("10.0.0.9")}),
         {},
         {}},
        {"appended",
         live(maps("ab")),
         want(maps("abc")),
         {"+ rotation 2: c gpm_cq 64"},
         {"exec mapList.append c gpm_cq 64", "exec mapList.save"}},
        {"removed",
         live(maps("abc")),
         want(maps("ac")),
         {"- rotation 1: b gpm_cq 64"},
         {"exec mapList.remove 1", "exec mapList.save"}},
        {"one changed",
         live(maps("abc")),
         want(maps("axc")),
         {"+ rotation 1: x gpm_cq 64", "+ rotation 2: c gpm_cq 64", "- rotation 1: b gpm_cq 64",
          "- rotation 2: c gpm_cq 64"},
         {"exec mapList.append x gpm_cq 64", "exec mapList.append c gpm_cq 64", "exec mapList.remove 2",
          "exec mapList.remove 1", "exec mapList.save"}},
        {"reordered",
         live(maps("abc")),
         want(maps("bca")),
         {"+ rotation 2: a gpm_cq 64", "- rotation 0: a gpm_cq 64"},
         {"exec mapList.append a gpm_cq 64", "exec mapList.remove 0", "exec mapList.save"}},
        {"no rotation wanted", live(maps("abc")), want(std::nullopt), {}, {}},
        {"empty rotation wanted",
         live(maps("a")),
         want(QList<RotationEntry>()),
         {"! rotation: the rotation cannot be made empty"},
         {}},
        {"settings",
         live({}, {{"sv.serverName", "Old"}, {"sv.ticketRatio", "80"}, {"sv.motd", "same"}}),
         want(std::nullopt,
              {{"sv.serverName", "EU 1"}, {"sv.ticketRatio", "100"}, {"SV.MOTD", "same"}, {"sv.welcome", ""}}),
         {"~ sv.serverName: \"Old\" -> \"EU 1\"", "~ sv.ticketRatio: \"80\" -> \"100\"",
          "~ sv.welcome: (not read) -> \"\""},
         {"exec sv.serverName \"EU 1\"", "exec sv.ticketRatio 100", "exec sv.welcome \"\""}},
        {"bans, adds before removals",
         live({}, {}, {address("10.0.0.1"), timed(kOtherKey, 3600)}),
         want(std::nullopt, {}, {address("10.0.0.2", 3600), perm(kKey), perm(kOtherKey)}, {address("10.0.0.1")}),
         {"+ ban address 10.0.0.2 3600 s", "+ ban key " + kKey + " perm",
          "~ ban key " + kOtherKey + " 3600 s left -> perm", "- ban address 10.0.0.1"},
         {"exec admin.addAddressToBanList 10.0.0.2 3600", "exec admin.addKeyToBanList " + kKey + " perm",
          "exec admin.removeKeyFromBanList " + kOtherKey, "exec admin.addKeyToBanList " + kOtherKey + " perm",
          "exec admin.removeAddressFromBanList 10.0.0.1"}},
        {"a running timed ban is the one wanted",
         live({}, {}, {timed(kKey.toUpper(), 10)}),
         want(std::nullopt, {}, {timed(kKey, 86400)}),
         {},
         {}},
        {"a round ban cannot be placed",
         live({}),
         want(std::nullopt, {}, {{kKey, false, StateBan::Period::Round, 0}}),
         {"! ban key " + kKey + ": a round ban cannot be put on a list"},
         {}},
        {"time left within the tolerance", live({}, {}, {timed(kKey, 3000 + kTimeLeftTolerance)}), timeLeft, {}, {}},
        {"time left beyond it",
         live({}, {}, {timed(kKey, 3001 + kTimeLeftTolerance)}),
         timeLeft,
         {"~ ban key " + kKey + " 3011 s left -> 3000 s"},
         {"exec admin.removeKeyFromBanList " + kKey, "exec admin.addKeyToBanList " + kKey + " 3000"}},
        {"every kind, settings first and the rotation last",
         live(maps("a"), {{"sv.ticketRatio", "80"}}, {perm(kKey)}),
         want(maps("b"), {{"sv.ticketRatio", "100"}}, {}, {perm(kKey)}),
         {"~ sv.ticketRatio: \"80\" -> \"100\"", "- ban key " + kKey, "+ rotation 0: b gpm_cq 64",
          "- rotation 0: a gpm_cq 64"},
         {"exec sv.ticketRatio 100", "exec admin.removeKeyFromBanList " + kKey, "exec mapList.append b gpm_cq 64",
          "exec mapList.remove 0", "exec mapList.save"}},
    };
    for (const Case& c : cases) {
        const ServerPlan plan = planFor(c.live, c.want);
        EXPECT_EQ(plan.lines().join(u'\n'), c.lines.join(u'\n')) << c.name;
        EXPECT_EQ(plan.commands, c.commands) << c.name;
        EXPECT_EQ(satisfies(c.live, c.want), c.lines.isEmpty()) << c.name;
    }
    const QJsonArray json =
        planFor(live({}, {{"sv.ticketRatio", "80"}}), want({}, {{"sv.ticketRatio", "100"}})).toJson();
    EXPECT_EQ(
        json,
        QJsonArray({QJsonObject{{"op", "~"}, {"what", "sv.ticketRatio"}, {"before", "\"80\""}, {"after", "\"100\""}}}));
}

// Every pair of a set of rotations, run through a server: each ends as
// wanted, each command is one the server takes, and no moment leaves the
// rotation empty.
TEST(DesiredPlan, RotationEndsAsWantedAndIsNeverEmpty)
{
    const char* const rotations[] = {"", "a", "b", "ab", "ba", "abc", "cba", "aa", "caba", "abcd", "dcba", "aab"};
    for (const char* from : rotations) {
        for (const char* to : rotations) {
            if (!*to)
                continue;
            const ServerPlan plan = planFor(live(maps(from)), want(maps(to)));
            const Simulation run = simulate(live(maps(from)), plan.commands);
            const std::string name = std::string(from) + " -> " + to;
            EXPECT_EQ(run.end.rotation, maps(to)) << name;
            EXPECT_TRUE(run.faults.isEmpty()) << name << ": " << run.faults.join(u"; ").toStdString();
            EXPECT_FALSE(run.rotationEmptied) << name;
            EXPECT_EQ(run.saves, QByteArray(from) == to ? 0 : 1) << name;
        }
    }
}

TEST(DesiredPlan, UndoReachesTheSnapshotLessTheTimePassed)
{
    const QDateTime then = QDateTime::fromString(QStringLiteral("2027-01-01T12:00:00Z"), Qt::ISODate);
    const StateBan round{"10.0.0.3", true, StateBan::Period::Round, 0};
    ServerState snapshot = live(
        maps("ab"), {{"sv.serverName", "EU 1"}, {"sv.ticketRatio", "100"}},
        {perm(kKey), timed(kOtherKey, 3600), address("10.0.0.1", 100), round, address("10.0.0.2", 7200)});
    snapshot.readAt = then;
    // Ten minutes on: the rotation and settings were changed, a key ban made
    // perm, a new one placed, an address ban lifted, one has run out.
    ServerState now = live(maps("c"), {{"sv.serverName", "Other"}, {"sv.ticketRatio", "100"}},
                           {perm(kKey), perm(kOtherKey), round, perm("abababababababababababababababab")});
    now.readAt = then.addSecs(600);
    const DesiredServer undo = snapshotAsDesired(snapshot, now);
    EXPECT_EQ(undo.bansAbsent, (QList<StateBan>{address("10.0.0.1", -500), perm("abababababababababababababababab")}));

    const ServerPlan plan = planFor(now, undo);
    const Simulation run = simulate(now, plan.commands);
    EXPECT_TRUE(run.faults.isEmpty()) << run.faults.join(u"; ").toStdString();
    EXPECT_FALSE(run.rotationEmptied);
    EXPECT_EQ(run.end.rotation, snapshot.rotation);
    EXPECT_EQ(run.end.settings, snapshot.settings);
    EXPECT_EQ(run.end.bans, (QList<StateBan>{perm(kKey), round, timed(kOtherKey, 3000), address("10.0.0.2", 6600)}));
    EXPECT_TRUE(satisfies(run.end, undo));

    // A round ban lifted since cannot be put back, and undo says so.
    ServerState noRound = now;
    noRound.bans.removeAll(round);
    EXPECT_TRUE(planFor(noRound, undo).lines().contains("! ban address 10.0.0.3: a round ban cannot be put on a list"));
}
