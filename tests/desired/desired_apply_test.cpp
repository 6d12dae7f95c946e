// Reading a server's live state and applying commands to it one at a time,
// against practice servers at the stock pace; a state kept as JSON.

#include "desired/drift_check.h"
#include "desired/server_state_json.h"
#include "desired/state_applier.h"
#include "desired/state_reader.h"
#include "session/console_session.h"
#include "sim_server.h"
#include "support/sim_console.h"
#include "support/wait.h"

#include <QTimeZone>

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <variant>

using namespace std::chrono_literals;

namespace {

const QList<QByteArray> kSettings = {"sv.serverName", "sv.ticketRatio", "sv.welcomeMessage"};

struct Console : SimConsole
{
    using SimConsole::SimConsole;

    CommandSender sender()
    {
        return [this](const QByteArray& command) { return send(command); };
    }

    // The state as the reader reads it, or why it could not.
    std::variant<ServerState, StateFailure> read(const QList<QByteArray>& settings = kSettings)
    {
        StateReader reader(sender(), settings);
        std::optional<std::variant<ServerState, StateFailure>> result;
        QObject::connect(&reader, &StateReader::read, [&](const ServerState& state) { result = state; });
        QObject::connect(&reader, &StateReader::failed, [&](const StateFailure& failure) { result = failure; });
        reader.start();
        EXPECT_TRUE(WaitUntil([&] { return result.has_value(); }, 20s));
        return result.value_or(StateFailure{});
    }

    ApplyOutcome apply(
        StateApplier& applier, const QList<QByteArray>& commands,
        std::function<bool(const ServerState&)> satisfied = [](const ServerState&) { return true; })
    {
        std::optional<ApplyOutcome> outcome;
        QObject::connect(&applier, &StateApplier::finished, [&](const ApplyOutcome& done) { outcome = done; });
        EXPECT_TRUE(applier.apply(commands, std::move(satisfied)));
        EXPECT_TRUE(WaitUntil([&] { return outcome.has_value(); }, 20s));
        return outcome.value_or(ApplyOutcome{});
    }
};

// What the practice server holds, in the reader's terms.
ServerState Expected(const GameState& game)
{
    ServerState state;
    for (const SimMap& map : game.rotation())
        state.rotation.append({map.name, map.mode, map.size.toInt()});
    for (const QByteArray& name : kSettings)
        state.settings.insert(name, game.setting(name).value_or("?"));
    const auto period = [](BanKind kind) {
        return kind == BanKind::Perm ? StateBan::Period::Perm
            : kind == BanKind::Round ? StateBan::Period::Round
                                     : StateBan::Period::Seconds;
    };
    const auto seconds = [](BanKind kind, int left) { return kind == BanKind::Timed ? left : 0; };
    for (const SimBan& ban : game.bans())
        state.bans.append({ban.keyHash, false, period(ban.kind), seconds(ban.kind, ban.secondsLeft)});
    for (const SimAddressBan& ban : game.addressBans())
        state.bans.append({ban.address, true, period(ban.kind), seconds(ban.kind, ban.secondsLeft)});
    return state;
}

ServerState WithoutTime(ServerState state)
{
    state.readAt = {};
    return state;
}

} // namespace

// Two servers read, changed by a hand-written list of commands, and read
// back; never more than one command owed to a server.
TEST(StateApply, ReadsTwoServersAndAppliesCommandsOneAtATime)
{
    Console first;
    RconSimOptions odd;
    odd.maps = 2;
    Console second(odd);
    second.server->game().execute("sv.welcomeMessage \"caf\xe9 \x81\x01 end\"");
    second.server->game().addAddressBan({"10.1.2.3", BanKind::Timed, 900});
    second.server->game().addAddressBan({"10.1.2.4", BanKind::Round, 0});

    for (Console* console : {&first, &second}) {
        const auto read = console->read();
        ASSERT_TRUE(std::holds_alternative<ServerState>(read));
        const ServerState& state = std::get<ServerState>(read);
        EXPECT_TRUE(state.readAt.isValid());
        EXPECT_EQ(WithoutTime(state), Expected(console->server->game()));
    }

    const QList<QByteArray> commands = {
        "exec mapList.append gulf_of_oman gpm_cq 32",
        "exec mapList.append \xe9t\xe9_map gpm_ctf 16",
        "exec mapList.remove 0",
        "exec sv.ticketRatio 250",
        "exec admin.addKeyToBanList abcdef 600",
        "exec mapList.save",
    };
    for (Console* console : {&first, &second}) {
        StateApplier applier(console->sender(), kSettings);
        QList<RotationEntry> rotation = Expected(console->server->game()).rotation.mid(1);
        rotation += {{"gulf_of_oman", "gpm_cq", 32}, {"\xe9t\xe9_map", "gpm_ctf", 16}};
        const ApplyOutcome outcome = console->apply(applier, commands, [&](const ServerState& state) {
            return state.rotation == rotation && state.settings.value("sv.ticketRatio") == "250"
                && state.bans.contains(StateBan{"abcdef", false, StateBan::Period::Seconds, 600});
        });
        EXPECT_EQ(outcome.applied, commands.size());
        EXPECT_FALSE(outcome.failure);
        EXPECT_TRUE(outcome.verified);
        ASSERT_TRUE(outcome.after);
        EXPECT_EQ(WithoutTime(*outcome.after), Expected(console->server->game()));
        EXPECT_EQ(console->server->game().saveCount(), 1);
    }
    EXPECT_EQ(first.mostOwed, 1);
    EXPECT_EQ(second.mostOwed, 1);

    // A state that does not satisfy the caller's check is not verified.
    StateApplier again(first.sender(), kSettings);
    EXPECT_FALSE(first.apply(again, {}, [](const ServerState& state) { return state.rotation.isEmpty(); }).verified);
}

// Where an application or a reading stops, and what it says about it.
TEST(StateApply, StopsAtTheFirstFailureAndSaysWhere)
{
    using Kind = StateFailure::Kind;
    const struct
    {
        const char* what;
        QList<QByteArray> commands;
        int closeAfter; // close the server's connections once this many commands went through; -1 never
        int applied;
        Kind kind;
        bool readBack;
    } cases[] = {
        {"a command the server refuses",
         {"exec mapList.append a", "exec mapList.remove 99", "exec mapList.append b"},
         -1,
         1,
         Kind::ReplyRefused,
         true},
        {"an unknown command", {"exec sv.noSuchThing 3", "exec mapList.append b"}, -1, 0, Kind::ReplyRefused, true},
        {"the connection closed",
         {"exec mapList.append a", "exec mapList.append b"},
         1,
         1,
         Kind::ConnectionLost,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Console console;
        const qsizetype before = console.server->game().rotation().size();
        StateApplier applier(console.sender(), kSettings);
        QObject::connect(&applier, &StateApplier::commandApplied, [&](int index) {
            if (index + 1 == c.closeAfter)
                console.server->closeClients();
        });
        const ApplyOutcome outcome = console.apply(applier, c.commands);
        EXPECT_EQ(outcome.applied, c.applied);
        ASSERT_TRUE(outcome.failure);
        EXPECT_EQ(outcome.failure->kind, c.kind);
        EXPECT_EQ(outcome.failure->command, c.commands[c.applied]);
        EXPECT_FALSE(outcome.verified);
        EXPECT_EQ(console.server->game().rotation().size(), before + c.applied) << "nothing sent after the failure";
        EXPECT_EQ(outcome.after.has_value(), c.readBack);
        EXPECT_EQ(outcome.readFailure.has_value(), !c.readBack);
    }

    // A reading names the setting the server lacks, and does not guess at a
    // ban it cannot read ("IP: 10.0.0.6 0 Perm" has no period it knows).
    Console console;
    const auto unknown = console.read({"sv.ticketRatio", "sv.noSuchThing"});
    ASSERT_TRUE(std::holds_alternative<StateFailure>(unknown));
    EXPECT_EQ(std::get<StateFailure>(unknown).kind, Kind::UnknownSetting);
    EXPECT_EQ(std::get<StateFailure>(unknown).message(), "sv.noSuchThing is not a setting of this server");
    const QList<QByteArray> lines = console.server->receivedLines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const QByteArray& line) { return line.contains("sv."); }), 2)
        << "no command after the failure";
    const auto spliced = console.read({"sv.ticketRatio\nexec admin.clearBanList"});
    ASSERT_TRUE(std::holds_alternative<StateFailure>(spliced));
    EXPECT_EQ(std::get<StateFailure>(spliced).kind, Kind::UnknownSetting);
    console.server->game().execute("admin.addAddressToBanList 10.0.0.6 0");
    const auto unreadable = console.read();
    ASSERT_TRUE(std::holds_alternative<StateFailure>(unreadable));
    EXPECT_EQ(std::get<StateFailure>(unreadable).kind, Kind::Unreadable);
}

TEST(StateJson, KeepsEveryByteAndRefusesWhatItDidNotWrite)
{
    QByteArray everyByte;
    for (int b = 0; b < 256; ++b)
        everyByte += char(b);
    ServerState state;
    state.rotation = {{"m\"a\\p\x81", "gpm_cq", 64}, {QByteArray("\0x", 2), "", 16}};
    state.settings = {{"sv.welcomeMessage", everyByte}, {"sv.serverName", ""}};
    state.bans = {{"k\xff", false, StateBan::Period::Seconds, 1234567890123}, {"10.0.0.1", true}};
    state.readAt = QDateTime::fromMSecsSinceEpoch(1'800'000'000'123, QTimeZone::utc());
    EXPECT_EQ(serverStateFromJson(serverStateJson(state)), state);
    EXPECT_EQ(serverStateFromJson(serverStateJson({})), ServerState{});
    for (const char* bad : {"", "[]", "{\"rotation\":[{\"map\":\"\\u4e00\",\"mode\":\"x\",\"size\":1}]}",
                            "{\"bans\":[{\"ban\":\"k\",\"period\":\"forever\"}]}"})
        EXPECT_EQ(serverStateFromJson(QString::fromUtf8(bad)), std::nullopt) << bad;
}

TEST(StateReader, TakesARotationOnlyWhenEveryLineIsAMap)
{
    const struct
    {
        QByteArray reply;
        std::optional<QList<RotationEntry>> rotation;
    } cases[] = {
        {"", QList<RotationEntry>{}},
        {"0: \"a b\" gpm_cq 64\r\n1: \"\xe9\" gpm_ctf 16\n",
         QList<RotationEntry>{{"a b", "gpm_cq", 64}, {"\xe9", "gpm_ctf", 16}}},
        {"0: \"a\" gpm_cq 64\n2: \"b\" gpm_cq 64\n", std::nullopt},
        {"0: \"a\" gpm_cq\n", std::nullopt},
        {"Unknown object or method!\n", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(rotationFrom(c.reply), c.rotation) << c.reply.toStdString();
}

// A drift check over a fleet's watches: a server that differs from its
// desired state is said once, again when the difference changes, and once
// more, with no lines, when it is back as wanted.
TEST(DriftCheck, SaysADifferenceOnceAndAgainWhenItChanges)
{
    RconSimServer server{RconSimOptions{}};
    ASSERT_TRUE(server.listen());
    const DesiredStateRead read = readDesiredState("[defaults]\nsettings = { \"sv.ticketRatio\" = \"100\" }\n");
    ASSERT_TRUE(read.problems.isEmpty());
    ServerWatch::Timing timing;
    timing.interval = 300ms;
    Fleet fleet(timing);
    DriftCheck check(read.state, fleet, 400ms);
    QStringList said;
    QObject::connect(&check, &DriftCheck::drift, [&](const WatchEvent& event) { said.append(event.text); });
    check.start();
    fleet.setServers({{QStringLiteral("EU 1"), "127.0.0.1", server.port(), "secret"}});
    SpinEventLoop(1500ms);
    EXPECT_TRUE(said.isEmpty()) << "a server as wanted is not a drift";
    server.game().execute("sv.ticketRatio 50");
    ASSERT_TRUE(WaitUntil([&] { return said.size() == 1; }, 5s));
    EXPECT_EQ(said.first(), QStringLiteral("~ sv.ticketRatio: \"50\" -> \"100\""));
    SpinEventLoop(1000ms);
    EXPECT_EQ(said.size(), 1) << "the same difference was said again";
    server.game().execute("sv.ticketRatio 100");
    ASSERT_TRUE(WaitUntil([&] { return said.size() == 2; }, 5s));
    EXPECT_TRUE(said.last().isEmpty());
}
