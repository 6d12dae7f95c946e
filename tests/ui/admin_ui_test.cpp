// The administration tabs through the real window against the practice server:
// each button's command as the server receives it, the log lines it writes, and
// what it changes locally, connected and not.

#include "app/list_box.h"
#include "app/text_codec.h"
#include "window_fixture.h"

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <functional>
#include <sys/stat.h>

namespace {

using Lines = QList<QByteArray>;

qsizetype indexStartingWith(const Lines& lines, const QByteArray& prefix)
{
    for (qsizetype i = 0; i < lines.size(); ++i)
        if (lines[i].startsWith(prefix))
            return i;
    return -1;
}

} // namespace

class AdminUiTest : public WindowTest
{
protected:
    // Clicks a refresh button on an emptied list and waits until the reply has
    // refilled it with `count` entries.
    void refresh(QPushButton* button, ListBox* list, qsizetype count)
    {
        list->clear();
        button->click();
        ASSERT_TRUE(WaitUntil([&] { return list->count() == count; }))
            << "entries: " << list->count() << " of " << count;
    }

    // Selects the first entry that starts with `prefix`, and gives it.
    QByteArray select(ListBox* list, const QByteArray& prefix)
    {
        const qsizetype index = indexStartingWith(list->items(), prefix);
        EXPECT_GE(index, 0) << "no entry starts with " << prefix.constData();
        list->setSelectedIndex(int(index));
        return index >= 0 ? list->items()[index] : QByteArray();
    }
};

TEST_F(AdminUiTest, RefreshButtonsSendTheirListCommandAndTheReplyReplacesTheList)
{
    // Ids of different widths, so that text order and number order differ.
    server().game().addPlayer({20, "Twenty", "10.0.0.20", 2020, "hash20"});
    server().game().addPlayer({100, "Hundred", "10.0.0.100", 1000, "hash100"});
    connectAndLogin();
    const GameState& game = server().game();
    Lines players = listingEntries(game.playerListing(), true);
    std::sort(players.begin(), players.end());
    struct Case
    {
        QPushButton* button;
        ListBox* list;
        QByteArray command, log;
        Lines entries;
    };
    const QList<Case> cases = {
        {&button("refreshPlayersButton"), &list("playerList"), "exec admin.listplayers", "Refreshing player list...",
         players},
        {&button("refreshBansButton"), &list("banList"), "exec admin.listBannedKeys", "Refreshing ban list...",
         listingEntries(game.banListing(), false)},
        {&button("refreshMapsButton"), &list("rotationList"), "exec maplist.list", "Refreshing map list...",
         listingEntries(game.mapListing(), false)},
    };
    for (const Case& c : cases) {
        c.list->append({"stale entry"});
        const qsizetype mark = logLines().size();
        EXPECT_EQ(sentBy([&] { c.button->click(); }, 1), Lines({framed(c.command)}));
        EXPECT_TRUE(WaitUntil([&] { return c.list->items() == c.entries; })) << c.command.constData();
        EXPECT_EQ(logLinesSince(mark), Lines({c.log}));
    }
    const Lines shown = list("playerList").items();
    EXPECT_LT(indexStartingWith(shown, "Id: 100 - "), indexStartingWith(shown, "Id: 20 - ")) << "sorted by text";
}

TEST_F(AdminUiTest, PlayerActionsSendTheIdCutFromTheSelectedLineAndDropTheLine)
{
    server().game().addPlayer({12, "Rookie", "10.0.0.12", 1212, "hash12"});
    connectAndLogin();
    const GameState& game = server().game();
    refresh(&button("refreshPlayersButton"), &list("playerList"), game.players().size());
    const QByteArray roundKey = game.players()[5].keyHash; // ids 0 to 7 come first, in order
    struct Case
    {
        QPushButton* button;
        QByteArray linePrefix, command, log;
    };
    // A one-digit id keeps the blank in front of it.
    const QList<Case> cases = {
        {&button("kickButton"), "Id:  3 - ", "exec admin.kickplayer  3", "Player ID  3 has been kicked..."},
        {&button("banForRoundButton"), "Id:  5 - ", "exec admin.banplayerkey  5 round",
         "Player ID  5 has been banned for the rest of the round..."},
        {&button("banPermanentlyButton"), "Id: 12 - ", "exec admin.banplayerkey 12 perm",
         "Player ID 12 has been permanently banned..."},
    };
    for (const Case& c : cases) {
        const QByteArray line = select(&list("playerList"), c.linePrefix);
        const qsizetype count = list("playerList").count();
        const qsizetype mark = logLines().size();
        EXPECT_EQ(sentBy([&] { c.button->click(); }, 1), Lines({framed(c.command)}));
        EXPECT_EQ(logLinesSince(mark), Lines({c.log}));
        EXPECT_FALSE(list("playerList").items().contains(line)) << c.linePrefix.constData();
        EXPECT_EQ(list("playerList").count(), count - 1);
    }

    // The server's own lists show the outcome.
    refresh(&button("refreshPlayersButton"), &list("playerList"), 6);
    for (const Case& c : cases)
        EXPECT_EQ(indexStartingWith(list("playerList").items(), c.linePrefix), -1) << c.linePrefix.constData();
    refresh(&button("refreshBansButton"), &list("banList"), game.bans().size());
    EXPECT_TRUE(list("banList").items().contains("Key: " + roundKey + " Round"));
    EXPECT_TRUE(list("banList").items().contains("Key: hash12 Perm"));
}

// The selection goes with the removed line, as in a plain list box: a second
// press must not act on whichever line moved up into its place.
TEST_F(AdminUiTest, ASecondPressAfterALineWasRemovedActsOnNothing)
{
    connectAndLogin();
    const GameState& game = server().game();
    refresh(&button("refreshPlayersButton"), &list("playerList"), game.players().size());
    refresh(&button("refreshBansButton"), &list("banList"), game.bans().size());
    struct Case
    {
        QPushButton* button;
        ListBox* list;
        QByteArray linePrefix, refusal;
    };
    const QList<Case> cases = {
        {&button("kickButton"), &list("playerList"), "Id:  3 - ", "No player selected"},
        {&button("removeBanButton"), &list("banList"), "Key: " + game.bans()[0].keyHash, "No key selected"},
    };
    for (const Case& c : cases) {
        select(c.list, c.linePrefix);
        EXPECT_EQ(sentBy([&] { c.button->click(); }, 1).size(), 1);
        const Lines entries = c.list->items();
        const qsizetype mark = logLines().size();
        EXPECT_EQ(sentBy([&] { c.button->click(); }, 0), Lines()) << "the selection moved on to the next line";
        EXPECT_EQ(logLinesSince(mark), Lines({c.refusal}));
        EXPECT_EQ(c.list->items(), entries);
        EXPECT_EQ(c.list->selectedIndex(), -1);
    }
}

TEST_F(AdminUiTest, ActionsOnALineWithNothingSelectedOnlySaySo)
{
    connectAndLogin();
    const GameState& game = server().game();
    refresh(&button("refreshPlayersButton"), &list("playerList"), game.players().size());
    refresh(&button("refreshBansButton"), &list("banList"), game.bans().size());
    refresh(&button("refreshMapsButton"), &list("rotationList"), game.rotation().size());
    struct Case
    {
        QPushButton* button;
        ListBox* list;
        QByteArray log;
    };
    const QList<Case> cases = {
        {&button("kickButton"), &list("playerList"), "No player selected"},
        {&button("banForRoundButton"), &list("playerList"), "No player selected"},
        {&button("banPermanentlyButton"), &list("playerList"), "No player selected"},
        {&button("removeBanButton"), &list("banList"), "No key selected"},
        {&button("addMapButton"), &list("localMapList"), "No map selected..."},
        {&button("removeMapButton"), &list("rotationList"), "No map selected..."},
    };
    for (const Case& c : cases) {
        c.list->setSelectedIndex(-1);
        const Lines entries = c.list->items();
        const qsizetype mark = logLines().size();
        EXPECT_EQ(sentBy([&] { c.button->click(); }, 0), Lines()) << c.button->text().toStdString();
        EXPECT_EQ(logLinesSince(mark), Lines({c.log}));
        EXPECT_EQ(c.list->items(), entries);
    }
}

TEST_F(AdminUiTest, AddKeyHashSendsTheEntryAsTypedAndNothingOnCancel)
{
    connectAndLogin();
    refresh(&button("refreshBansButton"), &list("banList"), server().game().bans().size());
    const QByteArray key = "00112233445566778899aabbccddeeff";
    struct Case
    {
        std::optional<QString> answer; // nothing: Cancel
        Lines sent, log;
    };
    const QList<Case> cases = {
        {toDisplay(key), {framed("exec admin.addKeyToBanList " + key)}, {key + " added to ban list..."}},
        {QStringLiteral(" padded "),
         {framed("exec admin.addKeyToBanList  padded ")},
         {" padded  added to ban list..."}},
        {QString(), {framed("exec admin.addKeyToBanList ")}, {" added to ban list..."}},
        {std::nullopt, {}, {}},
    };
    for (const Case& c : cases) {
        dialogs_->inputAnswer = c.answer;
        dialogs_->shown.clear();
        const Lines entries = list("banList").items();
        const qsizetype mark = logLines().size();
        EXPECT_EQ(sentBy([&] { button("addKeyHashButton").click(); }, c.sent.size()), c.sent);
        EXPECT_EQ(logLinesSince(mark), c.log);
        EXPECT_EQ(list("banList").items(), entries) << "a typed key shows at the next refresh";
        ASSERT_EQ(dialogs_->shown.size(), 1);
        EXPECT_EQ(dialogs_->shown[0].kind, QStringLiteral("input"));
        EXPECT_EQ(dialogs_->shown[0].title, QStringLiteral("Ravelin"));
        EXPECT_EQ(dialogs_->shown[0].text, QStringLiteral("Please enter a cdkey hash to ban"));
        EXPECT_EQ(dialogs_->shown[0].maxLength, 255);
    }
    refresh(&button("refreshBansButton"), &list("banList"), server().game().bans().size());
    EXPECT_TRUE(list("banList").items().contains("Key: " + key + " Perm"));
}

TEST_F(AdminUiTest, RemoveBanLiftsOnlyAKeyCutFromAPermOrRoundLine)
{
    connectAndLogin();
    const QList<SimBan> bans = server().game().bans();
    ASSERT_GE(bans.size(), 4);
    ASSERT_EQ(bans[2].kind, BanKind::Timed);
    refresh(&button("refreshBansButton"), &list("banList"), bans.size());
    struct Case
    {
        QByteArray key;
        Lines sent, log;
        bool removed;
    };
    const QByteArray perm = bans[0].keyHash, round = bans[1].keyHash, timed = bans[2].keyHash;
    const QList<Case> cases = {
        {perm, {framed("exec admin.removeKeyFromBanList " + perm)}, {perm + " removed from ban list..."}, true},
        {round, {framed("exec admin.removeKeyFromBanList " + round)}, {round + " removed from ban list..."}, true},
        // A "Time Left" line names no key: nothing is sent, so nothing is claimed either.
        {timed, {}, {"No key selected"}, false},
    };
    for (const Case& c : cases) {
        const QByteArray line = select(&list("banList"), "Key: " + c.key + ' ');
        const qsizetype mark = logLines().size();
        EXPECT_EQ(sentBy([&] { button("removeBanButton").click(); }, c.sent.size()), c.sent);
        EXPECT_EQ(logLinesSince(mark), c.log);
        EXPECT_EQ(list("banList").items().contains(line), !c.removed) << line.constData();
    }

    refresh(&button("refreshBansButton"), &list("banList"), bans.size() - 2);
    const Lines shown = list("banList").items();
    EXPECT_EQ(indexStartingWith(shown, "Key: " + perm), -1);
    EXPECT_EQ(indexStartingWith(shown, "Key: " + round), -1);
    EXPECT_EQ(indexStartingWith(shown, "Key: " + timed), 0);
}

TEST_F(AdminUiTest, ClearBanListAsksFirstAndClearsOnlyOnYes)
{
    connectAndLogin();
    const qsizetype bans = server().game().bans().size();
    refresh(&button("refreshBansButton"), &list("banList"), bans);
    const Lines entries = list("banList").items();
    struct Case
    {
        bool yes;
        Lines sent, log, entriesAfter;
        qsizetype serverBans;
    };
    const QList<Case> cases = {
        {false, {}, {}, entries, bans},
        {true, {framed("exec admin.clearbanlist")}, {"Ban list cleared..."}, {}, 0},
    };
    for (const Case& c : cases) {
        dialogs_->yesAnswer = c.yes;
        dialogs_->shown.clear();
        const qsizetype mark = logLines().size();
        EXPECT_EQ(sentBy([&] { button("clearBansButton").click(); }, c.sent.size()), c.sent) << "yes: " << c.yes;
        EXPECT_EQ(logLinesSince(mark), c.log);
        EXPECT_EQ(list("banList").items(), c.entriesAfter);
        EXPECT_EQ(server().game().bans().size(), c.serverBans);
        ASSERT_EQ(dialogs_->shown.size(), 1);
        EXPECT_EQ(dialogs_->shown[0].kind, QStringLiteral("yesno"));
        EXPECT_EQ(dialogs_->shown[0].title, QStringLiteral("Remove Bans"));
        EXPECT_EQ(dialogs_->shown[0].text, QStringLiteral("Are you sure that you want to remove all bans?"));
    }
}

TEST_F(AdminUiTest, AddSendsTheWholeLocalLineAndLeavesBothListsAlone)
{
    connectAndLogin();
    const qsizetype rotation = server().game().rotation().size();
    refresh(&button("refreshMapsButton"), &list("rotationList"), rotation);
    const Lines local = list("localMapList").items();
    const Lines maps = list("rotationList").items();
    ASSERT_EQ(local, Lines({"strike_at_karkand gpm_cq 64", "gulf_of_oman"}));
    for (int i = 0; i < local.size(); ++i) {
        list("localMapList").setSelectedIndex(i);
        const qsizetype mark = logLines().size();
        EXPECT_EQ(sentBy([&] { button("addMapButton").click(); }, 1),
                  Lines({framed("exec mapList.append " + local[i])}));
        EXPECT_EQ(logLinesSince(mark), Lines({local[i] + " has been added to the map rotation..."}));
        EXPECT_EQ(list("localMapList").items(), local);
        EXPECT_EQ(list("rotationList").items(), maps);
    }

    refresh(&button("refreshMapsButton"), &list("rotationList"), rotation + 2);
    const QByteArray n = QByteArray::number(rotation);
    EXPECT_EQ(list("rotationList").items().mid(rotation),
              Lines({n + ": \"strike_at_karkand\" gpm_cq 64",
                     QByteArray::number(rotation + 1) + ": \"gulf_of_oman\" gpm_cq 64"}));
}

TEST_F(AdminUiTest, RemoveSendsTheNumberInFrontOfTheColonAndKeepsTheLine)
{
    QList<SimMap> maps;
    for (int i = 0; i < 14; ++i)
        maps.append({"map" + QByteArray::number(i)});
    server().game().setRotation(maps);
    connectAndLogin();
    refresh(&button("refreshMapsButton"), &list("rotationList"), maps.size());
    for (const QByteArray number : {"12", "0"}) {
        select(&list("rotationList"), number + ": ");
        const Lines entries = list("rotationList").items();
        const qsizetype mark = logLines().size();
        EXPECT_EQ(sentBy([&] { button("removeMapButton").click(); }, 1),
                  Lines({framed("exec mapList.remove " + number)}));
        EXPECT_EQ(logLinesSince(mark), Lines({"Map number " + number + " has been removed..."}));
        EXPECT_EQ(list("rotationList").items(), entries);
    }

    maps.removeAt(12);
    maps.removeAt(0);
    EXPECT_EQ(server().game().rotation(), maps);
    refresh(&button("refreshMapsButton"), &list("rotationList"), maps.size());
    EXPECT_EQ(list("rotationList").items().first(), "0: \"map1\" gpm_cq 64");
    EXPECT_EQ(list("rotationList").items().last(), "11: \"map13\" gpm_cq 64");
}

TEST_F(AdminUiTest, RotationCommandsSendTheirCommandAndLogTheirLine)
{
    connectAndLogin();
    const GameState& game = server().game();
    struct Case
    {
        QPushButton* button;
        QByteArray command, log;
        std::function<bool()> done; // on the server
        QString caption;            // of the pause button afterwards
    };
    const QList<Case> cases = {
        {&button("saveMapsButton"), "exec mapList.save", "Maplist saved to server...",
         [&] { return game.saveCount() == 1; }, "Pause"},
        {&button("runNextMapButton"), "exec admin.runnextlevel", "Running next level...(May take a while to change)",
         [&] { return game.currentMapIndex() == 1; }, "Pause"},
        {&button("restartMapButton"), "exec admin.restartMap", "Map restarting...",
         [&] { return game.restartCount() == 1; }, "Pause"},
        {&button("pauseButton"), "exec gameLogic.togglepause", "Game paused...", [&] { return game.paused(); },
         "UnPause"},
        {&button("pauseButton"), "exec gameLogic.togglepause", "Game unpaused...", [&] { return !game.paused(); },
         "Pause"},
    };
    for (const Case& c : cases) {
        const qsizetype mark = logLines().size();
        EXPECT_EQ(sentBy([&] { c.button->click(); }, 1), Lines({framed(c.command)}));
        EXPECT_EQ(logLinesSince(mark), Lines({c.log}));
        EXPECT_TRUE(c.done()) << c.command.constData();
        EXPECT_EQ(button("pauseButton").text(), c.caption);
    }
}

TEST_F(AdminUiTest, SendHandsOverTheTypedTextAsTheWholeCommand)
{
    connectAndLogin();
    struct Case
    {
        QByteArray typed;
        Lines replyLog; // the reply as the log shows it: a list or an unknown command as ever, the rest line by line
        bool refillsPlayers;
    };
    const QByteArray odd("\xe9\x00\x81", 3);
    server().game().execute("sv.serverName \"Ops" + odd + " server\"");
    const QList<Case> cases = {
        {"exec admin.listplayers", {"Refreshing player list..."}, true},
        {"frobnicate now", {"Unknown Command"}, false},
        {"", {"Unknown Command"}, false},
        {"exec sv.serverName", {"Ops" + odd + " server"}, false},
        {"exec admin.kickplayer 99", {"error: no player with id '99'"}, false},
        {"exec gameLogic.togglepause", {}, false},
    };
    for (const Case& c : cases) {
        edit("commandEdit").setText(toDisplay(c.typed));
        list("playerList").clear();
        const qsizetype mark = logLines().size();
        Lines logAfterClick;
        EXPECT_EQ(sentBy(
                      [&] {
                          button("sendCommandButton").click();
                          logAfterClick = logLinesSince(mark);
                      },
                      1),
                  Lines({framed(c.typed)}));
        EXPECT_EQ(logAfterClick, Lines()) << "the operation itself logs nothing";
        EXPECT_TRUE(WaitUntil([&] { return logLinesSince(mark) == c.replyLog; })) << c.typed.constData();
        SpinEventLoop(std::chrono::milliseconds(60));
        EXPECT_EQ(logLinesSince(mark), c.replyLog) << "and nothing more";
        if (c.refillsPlayers) {
            EXPECT_TRUE(WaitUntil([&] { return list("playerList").count() == server().game().players().size(); }));
        }
        EXPECT_EQ(edit("commandEdit").text(), toDisplay(c.typed)) << "kept for the next send";
    }
}

// The stock server closes the connection, without a word, for a line of
// 1,024 bytes or more: a command or a chat message that long is refused with
// a log line, not cut, and the connection stays up.
TEST_F(AdminUiTest, ACommandOrMessageTooLongForTheServerIsRefusedAndTheConnectionStays)
{
    connectAndLogin();
    struct Case
    {
        const char* box;
        QByteArray text;
        const char* button;
        QByteArray said;
    };
    const Case cases[] = {
        {"commandEdit", "exec " + QByteArray(1095, 'x'), "sendCommandButton",
         "The command is too long for the server (1,100 bytes, at most 1,021)..."},
        // "exec game.sayAll \"Admin: " + chat name + " - " + message + '"'
        {"messageEdit", QByteArray(1021 - 30, 'y'), "sendMessageButton",
         "The command is too long for the server (1,022 bytes, at most 1,021)..."},
    };
    control<QCheckBox>("mecCheck").setChecked(true);
    control<QCheckBox>("usmcCheck").setChecked(true);
    fill("chatNameEdit", "ab");
    for (const Case& c : cases) {
        fill(c.box, c.text);
        const qsizetype mark = logLines().size();
        EXPECT_EQ(sentBy([&] { button(c.button).click(); }, 0), Lines());
        EXPECT_EQ(logLinesSince(mark), Lines({c.said}));
    }
    fill("messageEdit", QByteArray(1021 - 31, 'y'));
    EXPECT_EQ(sentBy([&] { button("sendMessageButton").click(); }, 1).size(), 1) << "the longest line goes out";
    EXPECT_EQ(server().linesRefused(), 0);
    EXPECT_EQ(status(), "Connected to 127.0.0.1");
}

// Up and Down in the console box walk the commands sent before, kept across
// restarts; a login, or the password in the box, is never kept.
TEST_F(AdminUiTest, UpAndDownWalkTheCommandsSentBeforeEvenAfterARestart)
{
    fill("passwordEdit", "hunter2");
    const Lines typed = {"exec sv.serverName", "login 0123456789abcdef0123456789abcdef",
                         "  LOGIN hunter2",    "exec sv.password hunter2",
                         "exec sv.maxPlayers", "exec sv.maxPlayers"};
    for (const QByteArray& command : typed) {
        fill("commandEdit", command);
        button("sendCommandButton").click();
    }
    createWindow(); // closed and started again
    QLineEdit& box = edit("commandEdit");
    fill("commandEdit", "half typed");
    const auto press = [&](Qt::Key key) {
        QTest::keyClick(&box, key);
        return toBytes(box.text());
    };
    EXPECT_EQ(press(Qt::Key_Up), "exec sv.maxPlayers");
    EXPECT_EQ(press(Qt::Key_Up), "exec sv.serverName") << "no login, and a repeat is kept once";
    EXPECT_EQ(press(Qt::Key_Up), "exec sv.serverName") << "the oldest stays";
    EXPECT_EQ(press(Qt::Key_Down), "exec sv.maxPlayers");
    EXPECT_EQ(press(Qt::Key_Down), "half typed") << "past the newest, what was being typed";
    EXPECT_FALSE(readFile(QStringLiteral("console_history")).toLower().contains("login"));
    EXPECT_FALSE(readFile(QStringLiteral("console_history")).contains("hunter2"));
    struct stat info
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(workPath(QStringLiteral("console_history"))).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(AdminUiTest, RecordNeedsANameAndStopIsSentEveryTime)
{
    connectAndLogin();
    const QByteArray recording = "Recording.. (unless a demo already exists with that name :()";
    struct Case
    {
        QPushButton* button;
        QString name;
        Lines sent, log;
    };
    const QList<Case> cases = {
        {&button("recordButton"), "", {}, {"Please enter a name for your demo..."}},
        {&button("recordButton"), "final_round", {framed("exec demo.recorddemo final_round")}, {recording}},
        {&button("recordButton"), "  ", {framed("exec demo.recorddemo   ")}, {recording}},
        {&button("stopButton"), "  ", {framed("exec demo.stoprecording")}, {"Stopping recording..."}},
        {&button("stopButton"), "  ", {framed("exec demo.stoprecording")}, {"Stopping recording..."}},
    };
    for (const Case& c : cases) {
        edit("demoNameEdit").setText(c.name);
        const qsizetype mark = logLines().size();
        EXPECT_EQ(sentBy([&] { c.button->click(); }, c.sent.size()), c.sent) << c.button->text().toStdString();
        EXPECT_EQ(logLinesSince(mark), c.log);
        EXPECT_EQ(edit("demoNameEdit").text(), c.name);
    }
    EXPECT_EQ(server().game().demos(), QList<SimDemo>({{"final_round", true}}));
}

TEST_F(AdminUiTest, WhileNotConnectedEachTabLogsTheRefusalAndStillMakesItsLocalChange)
{
    list("playerList").append({"Id:  3 - Lt.Dan is remote ip: 10.0.0.3:1234 ->         CD-key hash: 0a1b"});
    list("playerList").setSelectedIndex(0);
    list("banList").append({"Key: 0a1b Perm", "Key: 2c3d Round"});
    dialogs_->yesAnswer = true;
    struct Case
    {
        QPushButton* button;
        QByteArray log;
        std::function<bool()> changed; // empty: the action changes nothing here
    };
    const QList<Case> cases = {
        {&button("kickButton"), "Player ID  3 has been kicked...", [&] { return list("playerList").count() == 0; }},
        {&button("clearBansButton"), "Ban list cleared...", [&] { return list("banList").count() == 0; }},
        {&button("pauseButton"), "Game paused...",
         [&] { return button("pauseButton").text() == QStringLiteral("UnPause"); }},
        {&button("stopButton"), "Stopping recording...", {}},
    };
    for (const Case& c : cases) {
        const qsizetype mark = logLines().size();
        c.button->click();
        EXPECT_EQ(logLinesSince(mark), Lines({"Error not connected...", c.log}));
        if (c.changed) {
            EXPECT_TRUE(c.changed()) << c.log.constData();
        }
    }
}
