// The administration tabs' rules: cutting ids, keys and map numbers out of
// list lines, and the command and log texts built around them.

#include "admin/announce_admin.h"
#include "admin/ban_admin.h"
#include "admin/console_admin.h"
#include "admin/fleet_admin.h"
#include "admin/list_export.h"
#include "admin/map_admin.h"
#include "admin/player_admin.h"
#include "support/printers.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <optional>

void PrintTo(const AdminAction& action, std::ostream* os)
{
    *os << "{command ";
    PrintTo(action.command, os);
    *os << ", log ";
    PrintTo(action.logLine, os);
    *os << '}';
}

namespace {

const QByteArray KeyHash = "0123456789abcdef0123456789abcdef";

// One entry of the player list as the reply reader stores it: two reply lines joined.
QByteArray PlayerEntry(const QByteArray& idLine)
{
    return idLine + "         CD-key hash: " + KeyHash;
}

} // namespace

TEST(PlayerAdmin, PlayerIdCutsBetweenPrefixAndTheBlankBeforeTheFirstDash)
{
    struct Case
    {
        QByteArray line;
        std::optional<QByteArray> id;
    };
    // clang-format off
    const Case cases[] = {
        { PlayerEntry("Id:  3 - Name is remote ip: 1.2.3.4:1234 ->"), " 3" }, // sent with its blank
        { PlayerEntry("Id: 12 - Sniper-Wolf is remote ip: 1.2.3.4:1234 ->"), "12" },
        { "Id: 42 no dash at all", "42 no dash at all" },
        { "-Id:abc", "abc" },          // a dash first keeps the whole line
        { "I-d: 5 x", std::nullopt },  // dash at 2 to 6: empty id
        { "Id: 5-", std::nullopt },
        { "Id: 5 -", "5" },            // dash at 7: the single character at 5
        { "Id:", std::nullopt },
        { "Id: ", std::nullopt },
        { "", std::nullopt },
        { "Id: 1 2 - Name", "1 2" },   // a blank inside the id is part of it
        { "Id: C - Name", std::nullopt }, // first "C" is the last character
        { "Id: 3C - Name", std::nullopt },
        { "Id: C3 - Name", "C3" },
        { "Id: CC - Name", "CC" },
        { "Id: 3c - Name", "3c" },     // the test is case-sensitive
        { "         CD-key hash: " + KeyHash, std::nullopt }, // a hash line alone holds no id
    };
    // clang-format on
    for (const Case& c : cases)
        EXPECT_EQ(player_admin::playerId(c.line), c.id) << c.line.constData();
}

TEST(PlayerAdmin, ActionsSendTheIdAsItStands)
{
    EXPECT_EQ(player_admin::kick(" 3"), (AdminAction{"exec admin.kickplayer  3", "Player ID  3 has been kicked..."}));
    EXPECT_EQ(
        player_admin::banForRound("7"),
        (AdminAction{"exec admin.banplayerkey 7 round", "Player ID 7 has been banned for the rest of the round..."}));
    EXPECT_EQ(player_admin::banPermanently("7"),
              (AdminAction{"exec admin.banplayerkey 7 perm", "Player ID 7 has been permanently banned..."}));
}

TEST(BanAdmin, BanKeyCutsBeforePermOrElseRound)
{
    struct Case
    {
        QByteArray line;
        std::optional<QByteArray> key;
    };
    const Case cases[] = {
        {"Key: " + KeyHash + " Perm", KeyHash},
        {"Key: " + KeyHash + " Round", KeyHash},
        {"Key: " + KeyHash + " Round Time Left: 120", KeyHash},
        {"Key: abc Round Perm", "abc Round"}, // "Perm" is looked for first
        {"Key: abc Perm Round", "abc"},
        {"Key: Perm", ""}, // the word at position 7 or earlier: empty key
        {"Key: xPerm", ""},
        {"Round", ""},
        {"Key: ab Perm", "ab"},
        {"Key: " + KeyHash, std::nullopt}, // neither word: no key at all
        {"Key: abc perm round", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ban_admin::banKey(c.line), c.key) << c.line.constData();
}

TEST(BanAdmin, EmptyKeysAndEntriesStillMakeTheirCommand)
{
    EXPECT_EQ(ban_admin::addKey(""), (AdminAction{"exec admin.addKeyToBanList ", " added to ban list..."}));
    EXPECT_EQ(ban_admin::addKey(" ab "), (AdminAction{"exec admin.addKeyToBanList  ab ", " ab  added to ban list..."}));
    EXPECT_EQ(ban_admin::removeKey(""), (AdminAction{"exec admin.removeKeyFromBanList ", " removed from ban list..."}));
}

TEST(MapAdmin, MapNumberIsTheTextBeforeTheFirstColon)
{
    struct Case
    {
        QByteArray line;
        QByteArray number;
    };
    const Case cases[] = {
        {"0: gulf_of_oman gpm_cq 32", "0"},
        {"12: strike_at_karkand gpm_cq 64", "12"},
        {"3:4:5", "3"},
        {"no colon", ""},
        {": starts with one", ""},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(map_admin::mapNumber(c.line), c.number) << c.line.constData();

    EXPECT_EQ(map_admin::removeMap("").logLine, "Map number  has been removed...");
    EXPECT_EQ(map_admin::appendMap(" dalian plant ").command, "exec mapList.append  dalian plant ");
}

TEST(MapAdmin, PauseTogglesByTheExactCaption)
{
    const map_admin::PauseToggle pause = map_admin::togglePause(map_admin::PauseCaption);
    EXPECT_EQ(pause, (map_admin::PauseToggle{"exec gameLogic.togglepause", "UnPause", "Game paused..."}));

    const map_admin::PauseToggle unpause = map_admin::togglePause(pause.caption);
    EXPECT_EQ(unpause, (map_admin::PauseToggle{"exec gameLogic.togglepause", "Pause", "Game unpaused..."}));

    for (const QByteArray caption : {"pause", "PAUSE", "Pause ", ""})
        EXPECT_EQ(map_admin::togglePause(caption), unpause) << caption.constData();
}

TEST(AnnounceAdmin, AdminMessageGoesToTheChosenTeams)
{
    using announce_admin::adminMessage;
    EXPECT_EQ(adminMessage(true, false, "Ops", "hi"),
              (AdminAction{"exec game.sayTeam 1 \"Admin: Ops - hi\"", "Message sent to MEC/China..."}));
    EXPECT_EQ(adminMessage(false, true, "Ops", "hi"),
              (AdminAction{"exec game.sayTeam 2 \"Admin: Ops - hi\"", "Message sent to USMC..."}));
    EXPECT_EQ(adminMessage(true, true, "Ops", "hi"),
              (AdminAction{"exec game.sayAll \"Admin: Ops - hi\"", "Message sent to all..."}));
    EXPECT_EQ(adminMessage(false, false, "Ops", "hi"), std::nullopt);

    EXPECT_EQ(adminMessage(true, true, "", "say \"go\"")->command, "exec game.sayAll \"Admin:  - say \"go\"\"");
}

TEST(AnnounceAdmin, RowMessageIsTheFirstCell)
{
    using announce_admin::rowMessage;
    EXPECT_EQ(rowMessage({"Welcome to the server"}), "Welcome to the server");
    EXPECT_EQ(rowMessage({"first", "second"}), "first");
    EXPECT_EQ(rowMessage({"", "second"}), "");
    EXPECT_EQ(rowMessage({}), "");
    EXPECT_EQ(announce_admin::announceCommand(""), "exec game.sayAll \"\"");
}

TEST(AnnounceAdmin, AnnouncerCyclesThroughTheRows)
{
    // Twenty rows, only the first filled: every twentieth tick sends it.
    QList<QByteArray> table(20);
    table[0] = "Visit our forum";
    int index = 0;
    QList<int> filledTicks;
    for (int tick = 0; tick < 60; ++tick) {
        const announce_admin::AnnounceStep step = announce_admin::stepAnnounceRow(index, table.size());
        ASSERT_EQ(step.row, tick % 20);
        if (!announce_admin::rowMessage({table[step.row]}).isEmpty())
            filledTicks << tick;
        index = step.nextIndex;
    }
    EXPECT_EQ(filledTicks, (QList<int>{0, 20, 40}));
}

TEST(AnnounceAdmin, AShortenedTableStartsOverAtRowZero)
{
    using Step = announce_admin::AnnounceStep;
    EXPECT_EQ(announce_admin::stepAnnounceRow(15, 10), (Step{0, 1}));
    EXPECT_EQ(announce_admin::stepAnnounceRow(10, 10), (Step{0, 1}));
    EXPECT_EQ(announce_admin::stepAnnounceRow(9, 10), (Step{9, 0}));
    EXPECT_EQ(announce_admin::stepAnnounceRow(4, 10), (Step{4, 5}));
    EXPECT_EQ(announce_admin::stepAnnounceRow(3, 1), (Step{0, 0}));
    EXPECT_EQ(announce_admin::stepAnnounceRow(0, 1), (Step{0, 0}));
}

TEST(AnnounceAdmin, AnnouncerKeepsItsRowAndSaysTheFirstCell)
{
    // Two cells per row: only the first is announced.
    QList<QList<QByteArray>> table = {{"Welcome", "note"}, {"", "x"}, {"say \"hi\"", "y"}};
    QList<int> rowsAsked;
    const auto cellsOfRow = [&](int row) {
        rowsAsked << row;
        return table.value(row);
    };
    announce_admin::Announcer announcer;
    QList<QByteArray> sent;
    for (int tick = 0; tick < 4; ++tick)
        sent << announcer.nextCommand(int(table.size()), cellsOfRow);
    EXPECT_EQ(sent,
              (QList<QByteArray>{"exec game.sayAll \"Welcome\"", "exec game.sayAll \"\"",
                                 "exec game.sayAll \"say \"hi\"\"", "exec game.sayAll \"Welcome\""}));
    EXPECT_EQ(rowsAsked, (QList<int>{0, 1, 2, 0}));
    EXPECT_EQ(announcer.nextRow(), 1);

    // At row 2 of a table that shrank to two rows: row 0 is next, then row 1.
    announcer.nextCommand(int(table.size()), cellsOfRow);
    ASSERT_EQ(announcer.nextRow(), 2);
    table.removeLast();
    rowsAsked.clear();
    EXPECT_EQ(announcer.nextCommand(int(table.size()), cellsOfRow), "exec game.sayAll \"Welcome\"");
    EXPECT_EQ(announcer.nextCommand(int(table.size()), cellsOfRow), "exec game.sayAll \"\"");
    EXPECT_EQ(rowsAsked, (QList<int>{0, 1}));
    EXPECT_EQ(announcer.nextRow(), 0);
}

TEST(ConsoleAdmin, RecordNeedsADemoName)
{
    EXPECT_EQ(console_admin::recordDemo(""), std::nullopt);
    const std::optional<AdminAction> blanks = console_admin::recordDemo("  ");
    ASSERT_TRUE(blanks.has_value());
    EXPECT_EQ(blanks->command, "exec demo.recorddemo   ");
    EXPECT_EQ(console_admin::recordDemo("final")->command, "exec demo.recorddemo final");
}

// A name a player chose must reach a spreadsheet as text, never as a formula.
TEST(ListExport, CsvFieldsThatCouldRunAsFormulasGetAQuoteInFront)
{
    struct Case
    {
        QByteArray text, field;
    };
    const Case cases[] = {
        {"=HYPERLINK(\"http://x\")", "\"'=HYPERLINK(\"\"http://x\"\")\""},
        {"+1", "'+1"},
        {"-2+3", "'-2+3"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"=a,b", "\"'=a,b\""},
        {"a=b", "a=b"},
        {" =1", "\" =1\""},
        {"'quoted", "'quoted"},
        {"Plain", "Plain"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(list_export::csvField(c.text), c.field) << c.text.constData();
    EXPECT_EQ(
        list_export::playersCsv({"Id:  3 - =1+1 is remote ip: 10.0.0.7:1234 ->         CD-key hash: 4f00ab"}).last(),
        "3,'=1+1,10.0.0.7,1234,4f00ab");
}

// A typed command that changes who plays, what is played or what is said is
// kept as an action; anything else, look-alikes included, is not.
TEST(ConsoleAdmin, TypedActionsAreNamedWhateverTheCase)
{
    const struct
    {
        QByteArray typed;
        std::optional<QByteArray> action;
    } cases[] = {
        {"exec admin.banPlayer 2 round", "Ban typed in the console: exec admin.banPlayer 2 round"},
        {"  EXEC \tADMIN.KICKPLAYER 7", "Kick typed in the console:   EXEC \tADMIN.KICKPLAYER 7"},
        {"admin.removeKeyFromBanList abc", "Unban typed in the console: admin.removeKeyFromBanList abc"},
        {"exec admin.clearbanlist", "Clear typed in the console: exec admin.clearbanlist"},
        {"exec admin.runnextlevel", "Map change typed in the console: exec admin.runnextlevel"},
        {"exec mapList.append dalian_plant gpm_cq 64",
         "Map change typed in the console: exec mapList.append dalian_plant gpm_cq 64"},
        {"exec game.sayAll \"hi\"", "Chat typed in the console: exec game.sayAll \"hi\""},
        {"exec admin.listPlayers", std::nullopt},
        {"exec admin.banPlayers 2", std::nullopt},
        {"exec", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(console_admin::typedAction(c.typed), c.action) << c.typed.constData();
}

TEST(FleetAdmin, DurationsAsTypedBecomeTheWordTheBanCommandsTake)
{
    struct Case
    {
        const char* typed;
        std::optional<QByteArray> argument; // none: refused
        const char* words = "";
    };
    const Case cases[] = {
        {"round", "round", "for the rest of the round"},
        {" PERM ", "perm", "permanently"},
        {"Permanent", "perm", "permanently"},
        {"90", "90", "for 90 seconds"},
        {"90m", "5400", "for 90 minutes"},
        {"1 hour", "3600", "for 1 hour"},
        {"1d", "86400", "for 1 day"},
        {"7 days", "604800", "for 7 days"},
        {"2w", "1209600", "for 14 days"},
        {"30d", "2592000", "for 30 days"},
        {"2147483647", "2147483647", "for 2147483647 seconds"},
        {"2147483648", std::nullopt},
        {"24856d", std::nullopt}, // one day past what 31 bits hold
        {"0", std::nullopt},
        {"-5", std::nullopt},
        {"1y", std::nullopt},
        {"", std::nullopt},
        {"1d2h", std::nullopt},
    };
    for (const Case& c : cases) {
        const auto duration = fleet_admin::parseBanDuration(QString::fromUtf8(c.typed));
        ASSERT_EQ(duration.has_value(), c.argument.has_value()) << c.typed;
        if (!duration)
            continue;
        EXPECT_EQ(fleet_admin::durationArgument(*duration), *c.argument) << c.typed;
        EXPECT_EQ(fleet_admin::durationText(*duration), QString::fromUtf8(c.words)) << c.typed;
    }
}

TEST(FleetAdmin, BanCommandsAndTheServersLineLimit)
{
    using fleet_admin::BanDuration;
    const BanDuration day{BanDuration::Kind::Seconds, 86400};
    EXPECT_EQ(fleet_admin::banPlayerCommand(7, day), "exec admin.banPlayerKey 7 86400");
    EXPECT_EQ(fleet_admin::banKeyCommand(KeyHash, day), "exec admin.addKeyToBanList " + KeyHash + " 86400");
    EXPECT_EQ(fleet_admin::banKeyCommand(KeyHash, {BanDuration::Kind::Permanent, 0}),
              "exec admin.addKeyToBanList " + KeyHash + " perm");
    EXPECT_EQ(fleet_admin::banKeyCommand(KeyHash, {BanDuration::Kind::Round, 0}), std::nullopt)
        << "only the player's own server can ban for the round";
    EXPECT_EQ(fleet_admin::kickCommand(12), "exec admin.kickplayer 12");

    // "exec game.sayAll " and the two quotes take 19 of the 1,021 bytes.
    const QByteArray longest(1021 - 19, 'x');
    EXPECT_EQ(fleet_admin::sayAllCommand(longest).value_or("").size(), 1021);
    EXPECT_EQ(fleet_admin::sayAllCommand(longest + 'x'), std::nullopt);
}

TEST(FleetAdmin, BanReasonsComeFromTheFileOrElseAFewCommonOnes)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ban_reasons.txt"));
    EXPECT_TRUE(fleet_admin::banReasons(path).contains(QStringLiteral("team killing")));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("# one a line\n\n  spawn camping  \r\nAimbot \xc3\xa9\nspawn camping\n");
    file.close();
    EXPECT_EQ(fleet_admin::banReasons(path), QStringList({"spawn camping", QString::fromUtf8("Aimbot \xc3\xa9")}));
}
