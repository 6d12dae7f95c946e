// The automation file as its author writes it, and the runner acting on a
// practice server: rules that kick or only say so, a schedule's run with its
// replies, and a server another program has claimed.

#include "automation/automation_file.h"
#include "automation/automation_runner.h"
#include "sim_server.h"
#include "support/wait.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

const QByteArray kCheatHash = "0123456789abcdef0123456789abcdef";

QStringList problemTexts(const QByteArray& text)
{
    QStringList texts;
    for (const FileProblem& problem : readAutomation(text).problems)
        texts.append(problem.text(QStringLiteral("a.toml")));
    return texts;
}

} // namespace

TEST(AutomationFile, SaysEachFaultWithItsLineAndColumn)
{
    struct Case
    {
        const char* text;
        const char* problem; // the start of the first problem's text
    };
    const Case cases[] = {
        {"[[schedule]]\nname = \"a\"\nservers = [\"*\"]\ncron = \"61 * * * *\"\ncommands = ['x']\n",
         "a.toml:4:9: cron: minute 61"},
        {"[[schedule]]\nname = \"a\"\nservers = [\"*\"]\nevery = \"30s\"\ncommands = ['x']\n", "a.toml:4:"},
        {"[[schedule]]\nname = \"a\"\nservers = [\"*\"]\ncron = \"* * * * *\"\nevery = \"1m\"\ncommands = ['x']\n",
         "a.toml:5:9: a schedule has cron or every, not both"},
        {"[[schedule]]\nname = \"a\"\nservers = [\"*\"]\nevery = \"1m\"\ncommands = ['login secret']\n",
         "a.toml:5:13: a schedule cannot log in"},
        {"[[schedule]]\nname = \"a\"\nservers = [\"*\"]\nevery = \"1m\"\ncommands = [\"say \\u20ac\\u4e00\"]\n",
         "a.toml:5:13: a command holds a character"},
        {"[[rule]]\nname = \"r\"\ndry_rn = true\n", "a.toml:3:1: a rule has no key \"dry_rn\""},
        {"[[rule]]\nname = \"r\"\nwhen = { address = [\"10.1.0.0/33\"] }\n", "a.toml:3:21:"},
        {"[[rule]]\nname = \"r\"\naction = \"ban\"\n", "a.toml:1:1: a rule with action = \"ban\" needs ban"},
        {"[[rule]]\nname = \"r\"\n[[rule]]\nname = \"r\"\n", "a.toml:4:8: another a rule is named"},
        {"[[webhook]]\nurl = \"ftp://example.org/\"\n", "a.toml:2:7: url is an http:// or https:// address"},
        {"[[webhook]]\nurl = \"http://127.0.0.1/\"\nevents = [\"joined\"]\n", "a.toml:3:11: no event is called"},
        {"[[schedule]\n", "a.toml:1:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const QStringList problems = problemTexts(c.text);
        ASSERT_FALSE(problems.isEmpty());
        EXPECT_TRUE(problems.first().startsWith(QLatin1String(c.problem))) << problems.first().toStdString();
    }
    const AutomationRead good = readAutomation("[[schedule]]\nname = \"warn\"\nservers = [\"EU 1\"]\n"
                                               "cron = \"55 5 * * *\"\ncommands = ['exec game.sayAll \"Straße\"']\n"
                                               "missed = \"once\"\n");
    ASSERT_TRUE(good.ok());
    EXPECT_EQ(good.file.schedules.first().commands.first(),
              QByteArray("exec game.sayAll \"Stra\xdf"
                         "e\""));
    EXPECT_EQ(good.file.schedules.first().missed, ScheduledJob::Missed::Once);
}

TEST(AutomationFile, RulesMatchByAnyMarkAndSpareByAnyException)
{
    const AutomationRead read = readAutomation(
        "[[rule]]\nname = \"cheat\"\nservers = [\"EU 1\"]\n"
        "when = { hash = [\""
        + kCheatHash
        + "\"], address = [\"10.1.0.0/16\", \"2001:db8::/32\"], name = \"^\\\\[XX\\\\]\", "
          "players = \">= 2\", time = \"22:00-06:00\" }\n"
          "except = { name = \"admin$\" }\n");
    ASSERT_TRUE(read.ok()) << read.problems.first().message.toStdString();
    const JoinRule& rule = read.file.rules.first();
    const auto player = [](const char* name, const char* address, const QByteArray& hash = {}) {
        WatchEvent event;
        event.kind = WatchEvent::Kind::Join;
        event.name = QString::fromLatin1(name);
        event.address = QString::fromLatin1(address);
        event.hash = QString::fromLatin1(hash);
        return event;
    };
    const RuleScene night{QStringLiteral("EU 1"), 5, QTime(23, 30)};
    struct Case
    {
        const char* what;
        WatchEvent player;
        RuleScene scene;
        bool fires;
    };
    const Case cases[] = {
        {"by hash", player("Bob", "192.0.2.1", kCheatHash.toUpper()), night, true},
        {"by an address in the range", player("Bob", "10.1.200.3"), night, true},
        {"by an IPv6 address in the range", player("Bob", "2001:db8::7"), night, true},
        {"an address just outside", player("Bob", "10.2.0.1"), night, false},
        {"by name pattern", player("[XX]Bob", "192.0.2.1"), night, true},
        {"the pattern is anchored", player("Bob[XX]", "192.0.2.1"), night, false},
        {"spared by the exception", player("[XX]admin", "10.1.0.1"), night, false},
        {"another server", player("[XX]Bob", "10.1.0.1"), {QStringLiteral("EU 2"), 5, QTime(23, 30)}, false},
        {"too few players", player("[XX]Bob", "10.1.0.1"), {QStringLiteral("EU 1"), 1, QTime(23, 30)}, false},
        {"past midnight, still in the span",
         player("[XX]Bob", "10.1.0.1"),
         {QStringLiteral("EU 1"), 5, QTime(5, 59)},
         true},
        {"the span's end is out", player("[XX]Bob", "10.1.0.1"), {QStringLiteral("EU 1"), 5, QTime(6, 0)}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(rule.matches(c.player, c.scene), c.fires);
    }
}

class AutomationRun : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server_.listen());
        timing_.interval = 300ms;
        timing_.mapInterval = 300ms;
        fleet_ = std::make_unique<Fleet>(timing_);
    }

    std::unique_ptr<AutomationRunner> runner(const QByteArray& text, const QString& claimFolder = {})
    {
        const AutomationRead read = readAutomation(text);
        EXPECT_TRUE(read.ok());
        AutomationRunner::Options options;
        options.claimFolder = claimFolder;
        auto made = std::make_unique<AutomationRunner>(read.file, *fleet_, options);
        QObject::connect(made.get(), &AutomationRunner::eventMade, [this](const WatchEvent& e) { events_.append(e); });
        QObject::connect(made.get(), &AutomationRunner::scheduleRan, [this](const ScheduleRun& r) { runs_.append(r); });
        return made;
    }

    void watch()
    {
        fleet_->setServers({{QStringLiteral("EU 1"), "127.0.0.1", server_.port(), "secret"}});
        ASSERT_TRUE(WaitUntil([&] { return fleet_->server(0).isUp() && fleet_->server(0).lastLook().isValid(); }, 10s));
    }

    int joinCheat() { return server_.game().addPlayer({-1, "Recruit", "10.1.2.3", 1234, kCheatHash}); }

    RconSimServer server_{RconSimOptions{}};
    ServerWatch::Timing timing_;
    std::unique_ptr<Fleet> fleet_;
    QList<WatchEvent> events_;
    QList<ScheduleRun> runs_;
};

TEST_F(AutomationRun, AKickRuleKicksWithinOneLookAndADryRunOnlySaysSo)
{
    auto automation = runner("[[rule]]\nname = \"known cheat\"\nwhen = { hash = [\"" + kCheatHash
                             + "\"] }\naction = \"kick\"\n"
                               "[[rule]]\nname = \"careful\"\nwhen = { hash = [\""
                             + kCheatHash + "\"] }\naction = \"ban\"\nban = \"1d\"\ndry_run = true\n");
    automation->start();
    watch();
    server_.clearReceivedLines();
    const int id = joinCheat();
    ASSERT_TRUE(WaitUntil([&] { return server_.game().players().size() == 8; }, 10s)) << "the cheat was not kicked";

    const auto firing = [&](const QString& name) {
        return std::find_if(events_.cbegin(), events_.cend(),
                            [&](const WatchEvent& e) { return e.kind == WatchEvent::Kind::Rule && e.text == name; });
    };
    ASSERT_NE(firing(QStringLiteral("known cheat")), events_.cend());
    EXPECT_FALSE(firing(QStringLiteral("known cheat"))->dryRun);
    ASSERT_NE(firing(QStringLiteral("careful")), events_.cend());
    EXPECT_TRUE(firing(QStringLiteral("careful"))->dryRun);
    EXPECT_EQ(firing(QStringLiteral("careful"))->outcome, QStringLiteral("ban"));
    const QList<QByteArray> sent = server_.receivedLines();
    EXPECT_TRUE(std::any_of(sent.cbegin(), sent.cend(), [&](const QByteArray& line) {
        return line.toLower().contains("admin.kickplayer " + QByteArray::number(id));
    }));
    EXPECT_FALSE(
        std::any_of(sent.cbegin(), sent.cend(), [](const QByteArray& line) { return line.contains("banPlayerKey"); }));
    EXPECT_TRUE(server_.game().bans().size() == 4) << "a dry run banned";
}

TEST_F(AutomationRun, AScheduleRunsItsCommandsInTurnAndKeepsTheirReplies)
{
    auto automation = runner("[[schedule]]\nname = \"warn\"\nservers = [\"EU 1\", \"EU 9\"]\nevery = \"1h\"\n"
                             "commands = ['exec game.sayAll \"Restart soon\"', 'exec sv.maxPlayers']\n");
    automation->start();
    watch();
    automation->runNow(0);
    ASSERT_TRUE(WaitUntil([&] { return !runs_.isEmpty(); }, 10s));
    const ScheduleRun& run = runs_.first();
    EXPECT_EQ(run.outcome, QStringLiteral("done"));
    EXPECT_EQ(run.commands, QStringList({"exec game.sayAll \"Restart soon\"", "exec sv.maxPlayers"}));
    ASSERT_EQ(run.replies.size(), 2);
    EXPECT_EQ(run.replies[1], QStringLiteral("64"));
    EXPECT_TRUE(run.manual);
    ASSERT_FALSE(events_.isEmpty());
    EXPECT_EQ(events_.last().kind, WatchEvent::Kind::Schedule);
    EXPECT_EQ(server_.pipelinedLines(), 0) << "a command was written while a reply was owed";
    const auto next = automation->schedules().first().next;
    ASSERT_TRUE(next.has_value());
    EXPECT_GT(*next, QDateTime::currentDateTimeUtc().addSecs(3500));
}

TEST_F(AutomationRun, AServerClaimedElsewhereIsLeftAlone)
{
    QTemporaryDir claims;
    const QByteArray text =
        "[[schedule]]\nname = \"warn\"\nservers = [\"*\"]\nevery = \"1h\"\ncommands = ['exec sv.maxPlayers']\n";
    auto first = runner(text, claims.path());
    first->start();
    watch();
    auto second = runner(text, claims.path());
    second->start();
    ASSERT_EQ(second->heldElsewhere().size(), 1);
    EXPECT_TRUE(first->heldElsewhere().isEmpty());
    second->runNow(0);
    first->runNow(0);
    ASSERT_TRUE(WaitUntil([&] { return !runs_.isEmpty(); }, 10s));
    SpinEventLoop(200ms);
    EXPECT_EQ(runs_.size(), 1) << "both programs ran the schedule";

    // Closing them lets the server go: the next program to try holds it.
    first.reset();
    second.reset();
    auto third = runner(text, claims.path());
    third->start();
    EXPECT_TRUE(third->heldElsewhere().isEmpty());
}
