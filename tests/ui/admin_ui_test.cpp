// The administration tabs through the real window against the practice server:
// each button's command as the server receives it, the log lines it writes, and
// what it changes locally, connected and not.

#include "app/list_box.h"
#include "app/text_codec.h"
#include "form_fixture.h"

#include <QLineEdit>
#include <QPushButton>

#include <functional>

namespace {

using Lines = QList<QByteArray>;

// Sent after an action to bound the wait for it: the connection keeps the
// order, so once the server has this line it has everything the action sent.
// The practice server's answer to it is nothing the window recognises.
constexpr char kMarker[] = "exec ravelin.marker";

qsizetype IndexStartingWith(const Lines& lines, const QByteArray& prefix)
{
    for (qsizetype i = 0; i < lines.size(); ++i)
        if (lines[i].startsWith(prefix))
            return i;
    return -1;
}

} // namespace

class AdminUiTest : public FormTest
{
protected:
    // Runs `action` and gives the lines the server received from it, framing included.
    Lines SentBy(const std::function<void()>& action)
    {
        const qsizetype before = CommandsAfterLogin().size();
        action();
        Form().SendCommand(kMarker);
        EXPECT_TRUE(WaitUntil([&] { return CommandsAfterLogin().mid(before).endsWith(Framed(kMarker)); }));
        Lines sent = CommandsAfterLogin().mid(before);
        if (sent.endsWith(Framed(kMarker)))
            sent.removeLast();
        return sent;
    }

    // Clicks a refresh button on an emptied list and waits until the reply has
    // refilled it with `count` entries.
    void Refresh(QPushButton* button, TListBox* list, qsizetype count)
    {
        list->Clear();
        button->click();
        const ConsoleState& state = Form().SessionState();
        ASSERT_TRUE(WaitUntil([&] {
            return list->Count() == count && !state.playerListContinuation && !state.banListContinuation
                && !state.mapListContinuation;
        })) << "entries: "
            << list->Count() << " of " << count;
    }

    // Selects the first entry that starts with `prefix`, and gives it.
    QByteArray Select(TListBox* list, const QByteArray& prefix)
    {
        const qsizetype index = IndexStartingWith(list->Items(), prefix);
        EXPECT_GE(index, 0) << "no entry starts with " << prefix.constData();
        list->SetItemIndex(int(index));
        return index >= 0 ? list->Items()[index] : QByteArray();
    }
};

TEST_F(AdminUiTest, RefreshButtonsSendTheirListCommandAndTheReplyReplacesTheList)
{
    // Ids of different widths, so that text order and number order differ.
    Server().Game().AddPlayer({20, "Twenty", "10.0.0.20", 2020, "hash20"});
    Server().Game().AddPlayer({100, "Hundred", "10.0.0.100", 1000, "hash100"});
    ConnectAndLogin();
    TMainForm& form = Form();
    const GameState& game = Server().Game();
    Lines players = ListingEntries(game.PlayerListing(), true);
    std::sort(players.begin(), players.end());
    struct Case
    {
        QPushButton* button;
        TListBox* list;
        QByteArray command, log;
        Lines entries;
    };
    const QList<Case> cases = {
        {form.RefreshPlayersButton, form.PlayersListBox, "exec admin.listplayers", "Refreshing player list...",
         players},
        {form.RefeshBansButton, form.BansListBox, "exec admin.listBannedKeys", "Refreshing ban list...",
         ListingEntries(game.BanListing(), false)},
        {form.RefreshMapsButton, form.MapsListBox, "exec maplist.list", "Refreshing map list...",
         ListingEntries(game.MapListing(), false)},
    };
    for (const Case& c : cases) {
        c.list->Append({"stale entry"});
        const qsizetype mark = LogLines().size();
        EXPECT_EQ(SentBy([&] { c.button->click(); }), Lines({Framed(c.command)}));
        EXPECT_TRUE(WaitUntil([&] { return c.list->Items() == c.entries; })) << c.command.constData();
        EXPECT_EQ(LogLinesSince(mark), Lines({c.log}));
    }
    const Lines shown = form.PlayersListBox->Items();
    EXPECT_LT(IndexStartingWith(shown, "Id: 100 - "), IndexStartingWith(shown, "Id: 20 - ")) << "sorted by text";
}

TEST_F(AdminUiTest, PlayerActionsSendTheIdCutFromTheSelectedLineAndDropTheLine)
{
    Server().Game().AddPlayer({12, "Rookie", "10.0.0.12", 1212, "hash12"});
    ConnectAndLogin();
    TMainForm& form = Form();
    const GameState& game = Server().Game();
    Refresh(form.RefreshPlayersButton, form.PlayersListBox, game.Players().size());
    const QByteArray roundKey = game.Players()[5].keyHash; // ids 0 to 7 come first, in order
    struct Case
    {
        QPushButton* button;
        QByteArray linePrefix, command, log;
    };
    // A one-digit id keeps the blank in front of it.
    const QList<Case> cases = {
        {form.KickButton, "Id:  3 - ", "exec admin.kickplayer  3", "Player ID  3 has been kicked..."},
        {form.TempBanButton, "Id:  5 - ", "exec admin.banplayerkey  5 round",
         "Player ID  5 has been banned for the rest of the round..."},
        {form.BanButton, "Id: 12 - ", "exec admin.banplayerkey 12 perm", "Player ID 12 has been permanently banned..."},
    };
    for (const Case& c : cases) {
        const QByteArray line = Select(form.PlayersListBox, c.linePrefix);
        const qsizetype count = form.PlayersListBox->Count();
        const qsizetype mark = LogLines().size();
        EXPECT_EQ(SentBy([&] { c.button->click(); }), Lines({Framed(c.command)}));
        EXPECT_EQ(LogLinesSince(mark), Lines({c.log}));
        EXPECT_FALSE(form.PlayersListBox->Items().contains(line)) << c.linePrefix.constData();
        EXPECT_EQ(form.PlayersListBox->Count(), count - 1);
    }

    // The server's own lists show the outcome.
    Refresh(form.RefreshPlayersButton, form.PlayersListBox, 6);
    for (const Case& c : cases)
        EXPECT_EQ(IndexStartingWith(form.PlayersListBox->Items(), c.linePrefix), -1) << c.linePrefix.constData();
    Refresh(form.RefeshBansButton, form.BansListBox, game.Bans().size());
    EXPECT_TRUE(form.BansListBox->Items().contains("Key: " + roundKey + " Round"));
    EXPECT_TRUE(form.BansListBox->Items().contains("Key: hash12 Perm"));
}

// The selection goes with the removed line, as in a plain list box: a second
// press must not act on whichever line moved up into its place.
TEST_F(AdminUiTest, ASecondPressAfterALineWasRemovedActsOnNothing)
{
    ConnectAndLogin();
    TMainForm& form = Form();
    const GameState& game = Server().Game();
    Refresh(form.RefreshPlayersButton, form.PlayersListBox, game.Players().size());
    Refresh(form.RefeshBansButton, form.BansListBox, game.Bans().size());
    struct Case
    {
        QPushButton* button;
        TListBox* list;
        QByteArray linePrefix, refusal;
    };
    const QList<Case> cases = {
        {form.KickButton, form.PlayersListBox, "Id:  3 - ", "No player selected"},
        {form.RemoveBanButton, form.BansListBox, "Key: " + game.Bans()[0].keyHash, "No key selected"},
    };
    for (const Case& c : cases) {
        Select(c.list, c.linePrefix);
        EXPECT_EQ(SentBy([&] { c.button->click(); }).size(), 1);
        const Lines entries = c.list->Items();
        const qsizetype mark = LogLines().size();
        EXPECT_EQ(SentBy([&] { c.button->click(); }), Lines()) << "the selection moved on to the next line";
        EXPECT_EQ(LogLinesSince(mark), Lines({c.refusal}));
        EXPECT_EQ(c.list->Items(), entries);
        EXPECT_EQ(c.list->ItemIndex(), -1);
    }
}

TEST_F(AdminUiTest, ActionsOnALineWithNothingSelectedOnlySaySo)
{
    ConnectAndLogin();
    TMainForm& form = Form();
    const GameState& game = Server().Game();
    Refresh(form.RefreshPlayersButton, form.PlayersListBox, game.Players().size());
    Refresh(form.RefeshBansButton, form.BansListBox, game.Bans().size());
    Refresh(form.RefreshMapsButton, form.MapsListBox, game.Rotation().size());
    struct Case
    {
        QPushButton* button;
        TListBox* list;
        QByteArray log;
    };
    const QList<Case> cases = {
        {form.KickButton, form.PlayersListBox, "No player selected"},
        {form.TempBanButton, form.PlayersListBox, "No player selected"},
        {form.BanButton, form.PlayersListBox, "No player selected"},
        {form.RemoveBanButton, form.BansListBox, "No key selected"},
        {form.Button2, form.LocalMapsListBox, "No map selected..."},
        {form.Button3, form.MapsListBox, "No map selected..."},
    };
    for (const Case& c : cases) {
        c.list->SetItemIndex(-1);
        const Lines entries = c.list->Items();
        const qsizetype mark = LogLines().size();
        EXPECT_EQ(SentBy([&] { c.button->click(); }), Lines()) << c.button->text().toStdString();
        EXPECT_EQ(LogLinesSince(mark), Lines({c.log}));
        EXPECT_EQ(c.list->Items(), entries);
    }
}

TEST_F(AdminUiTest, AddKeyHashSendsTheEntryAsTypedAndNothingOnCancel)
{
    ConnectAndLogin();
    TMainForm& form = Form();
    Refresh(form.RefeshBansButton, form.BansListBox, Server().Game().Bans().size());
    const QByteArray key = "00112233445566778899aabbccddeeff";
    struct Case
    {
        std::optional<QString> answer; // nothing: Cancel
        Lines sent, log;
    };
    const QList<Case> cases = {
        {ToDisplay(key), {Framed("exec admin.addKeyToBanList " + key)}, {key + " added to ban list..."}},
        {QStringLiteral(" padded "),
         {Framed("exec admin.addKeyToBanList  padded ")},
         {" padded  added to ban list..."}},
        {QString(), {Framed("exec admin.addKeyToBanList ")}, {" added to ban list..."}},
        {std::nullopt, {}, {}},
    };
    for (const Case& c : cases) {
        dialogs_->inputAnswer = c.answer;
        dialogs_->shown.clear();
        const Lines entries = form.BansListBox->Items();
        const qsizetype mark = LogLines().size();
        EXPECT_EQ(SentBy([&] { form.AddHashBanButton->click(); }), c.sent);
        EXPECT_EQ(LogLinesSince(mark), c.log);
        EXPECT_EQ(form.BansListBox->Items(), entries) << "a typed key shows at the next refresh";
        ASSERT_EQ(dialogs_->shown.size(), 1);
        EXPECT_EQ(dialogs_->shown[0].kind, QStringLiteral("input"));
        EXPECT_EQ(dialogs_->shown[0].title, QStringLiteral("Ravelin"));
        EXPECT_EQ(dialogs_->shown[0].text, QStringLiteral("Please enter a cdkey hash to ban"));
        EXPECT_EQ(dialogs_->shown[0].maxLength, 255);
    }
    Refresh(form.RefeshBansButton, form.BansListBox, Server().Game().Bans().size());
    EXPECT_TRUE(form.BansListBox->Items().contains("Key: " + key + " Perm"));
}

TEST_F(AdminUiTest, RemoveBanLiftsOnlyAKeyCutFromAPermOrRoundLine)
{
    ConnectAndLogin();
    TMainForm& form = Form();
    const QList<SimBan> bans = Server().Game().Bans();
    ASSERT_GE(bans.size(), 4);
    ASSERT_EQ(bans[2].kind, BanKind::Timed);
    Refresh(form.RefeshBansButton, form.BansListBox, bans.size());
    struct Case
    {
        QByteArray key;
        Lines sent, log;
        bool removed;
    };
    const QByteArray perm = bans[0].keyHash, round = bans[1].keyHash, timed = bans[2].keyHash;
    const QList<Case> cases = {
        {perm, {Framed("exec admin.removeKeyFromBanList " + perm)}, {perm + " removed from ban list..."}, true},
        {round, {Framed("exec admin.removeKeyFromBanList " + round)}, {round + " removed from ban list..."}, true},
        // A "Time Left" line names no key: nothing is sent, so nothing is claimed either.
        {timed, {}, {"No key selected"}, false},
    };
    for (const Case& c : cases) {
        const QByteArray line = Select(form.BansListBox, "Key: " + c.key + ' ');
        const qsizetype mark = LogLines().size();
        EXPECT_EQ(SentBy([&] { form.RemoveBanButton->click(); }), c.sent);
        EXPECT_EQ(LogLinesSince(mark), c.log);
        EXPECT_EQ(form.BansListBox->Items().contains(line), !c.removed) << line.constData();
    }

    Refresh(form.RefeshBansButton, form.BansListBox, bans.size() - 2);
    const Lines shown = form.BansListBox->Items();
    EXPECT_EQ(IndexStartingWith(shown, "Key: " + perm), -1);
    EXPECT_EQ(IndexStartingWith(shown, "Key: " + round), -1);
    EXPECT_EQ(IndexStartingWith(shown, "Key: " + timed), 0);
}

TEST_F(AdminUiTest, ClearBanListAsksFirstAndClearsOnlyOnYes)
{
    ConnectAndLogin();
    TMainForm& form = Form();
    const qsizetype bans = Server().Game().Bans().size();
    Refresh(form.RefeshBansButton, form.BansListBox, bans);
    const Lines entries = form.BansListBox->Items();
    struct Case
    {
        bool yes;
        Lines sent, log, entriesAfter;
        qsizetype serverBans;
    };
    const QList<Case> cases = {
        {false, {}, {}, entries, bans},
        {true, {Framed("exec admin.clearbanlist")}, {"Ban list cleared..."}, {}, 0},
    };
    for (const Case& c : cases) {
        dialogs_->yesAnswer = c.yes;
        dialogs_->shown.clear();
        const qsizetype mark = LogLines().size();
        EXPECT_EQ(SentBy([&] { form.ClearBanListButton->click(); }), c.sent) << "yes: " << c.yes;
        EXPECT_EQ(LogLinesSince(mark), c.log);
        EXPECT_EQ(form.BansListBox->Items(), c.entriesAfter);
        EXPECT_EQ(Server().Game().Bans().size(), c.serverBans);
        ASSERT_EQ(dialogs_->shown.size(), 1);
        EXPECT_EQ(dialogs_->shown[0].kind, QStringLiteral("yesno"));
        EXPECT_EQ(dialogs_->shown[0].title, QStringLiteral("Remove Bans"));
        EXPECT_EQ(dialogs_->shown[0].text, QStringLiteral("Are you sure that you want to remove all bans?"));
    }
}

TEST_F(AdminUiTest, AddSendsTheWholeLocalLineAndLeavesBothListsAlone)
{
    ConnectAndLogin();
    TMainForm& form = Form();
    const qsizetype rotation = Server().Game().Rotation().size();
    Refresh(form.RefreshMapsButton, form.MapsListBox, rotation);
    const Lines local = form.LocalMapsListBox->Items();
    const Lines maps = form.MapsListBox->Items();
    ASSERT_EQ(local, Lines({"strike_at_karkand gpm_cq 64", "gulf_of_oman"}));
    for (int i = 0; i < local.size(); ++i) {
        form.LocalMapsListBox->SetItemIndex(i);
        const qsizetype mark = LogLines().size();
        EXPECT_EQ(SentBy([&] { form.Button2->click(); }), Lines({Framed("exec mapList.append " + local[i])}));
        EXPECT_EQ(LogLinesSince(mark), Lines({local[i] + " has been added to the map rotation..."}));
        EXPECT_EQ(form.LocalMapsListBox->Items(), local);
        EXPECT_EQ(form.MapsListBox->Items(), maps);
    }

    Refresh(form.RefreshMapsButton, form.MapsListBox, rotation + 2);
    const QByteArray n = QByteArray::number(rotation);
    EXPECT_EQ(form.MapsListBox->Items().mid(rotation),
              Lines({n + ": \"strike_at_karkand\" gpm_cq 64",
                     QByteArray::number(rotation + 1) + ": \"gulf_of_oman\" gpm_cq 64"}));
}

TEST_F(AdminUiTest, RemoveSendsTheNumberInFrontOfTheColonAndKeepsTheLine)
{
    QList<SimMap> maps;
    for (int i = 0; i < 14; ++i)
        maps.append({"map" + QByteArray::number(i)});
    Server().Game().SetRotation(maps);
    ConnectAndLogin();
    TMainForm& form = Form();
    Refresh(form.RefreshMapsButton, form.MapsListBox, maps.size());
    for (const QByteArray number : {"12", "0"}) {
        Select(form.MapsListBox, number + ": ");
        const Lines entries = form.MapsListBox->Items();
        const qsizetype mark = LogLines().size();
        EXPECT_EQ(SentBy([&] { form.Button3->click(); }), Lines({Framed("exec mapList.remove " + number)}));
        EXPECT_EQ(LogLinesSince(mark), Lines({"Map number " + number + " has been removed..."}));
        EXPECT_EQ(form.MapsListBox->Items(), entries);
    }

    maps.removeAt(12);
    maps.removeAt(0);
    EXPECT_EQ(Server().Game().Rotation(), maps);
    Refresh(form.RefreshMapsButton, form.MapsListBox, maps.size());
    EXPECT_EQ(form.MapsListBox->Items().first(), "0: \"map1\" gpm_cq 64");
    EXPECT_EQ(form.MapsListBox->Items().last(), "11: \"map13\" gpm_cq 64");
}

TEST_F(AdminUiTest, RotationCommandsSendTheirCommandAndLogTheirLine)
{
    ConnectAndLogin();
    TMainForm& form = Form();
    const GameState& game = Server().Game();
    struct Case
    {
        QPushButton* button;
        QByteArray command, log;
        std::function<bool()> done; // on the server
        QString caption;            // of the pause button afterwards
    };
    const QList<Case> cases = {
        {form.SaveMapsButton, "exec mapList.save", "Maplist saved to server...", [&] { return game.SaveCount() == 1; },
         "Pause"},
        {form.RunNextMapButton, "exec admin.runnextlevel", "Running next level...(May take a while to change)",
         [&] { return game.CurrentMapIndex() == 1; }, "Pause"},
        {form.RestartMapButton, "exec admin.restartMap", "Map restarting...", [&] { return game.RestartCount() == 1; },
         "Pause"},
        {form.PauseButton, "exec gameLogic.togglepause", "Game paused...", [&] { return game.Paused(); }, "UnPause"},
        {form.PauseButton, "exec gameLogic.togglepause", "Game unpaused...", [&] { return !game.Paused(); }, "Pause"},
    };
    for (const Case& c : cases) {
        const qsizetype mark = LogLines().size();
        EXPECT_EQ(SentBy([&] { c.button->click(); }), Lines({Framed(c.command)}));
        EXPECT_EQ(LogLinesSince(mark), Lines({c.log}));
        EXPECT_TRUE(c.done()) << c.command.constData();
        EXPECT_EQ(form.PauseButton->text(), c.caption);
    }
}

TEST_F(AdminUiTest, SendHandsOverTheTypedTextAsTheWholeCommand)
{
    ConnectAndLogin();
    TMainForm& form = Form();
    struct Case
    {
        QByteArray typed, replyLog;
        bool refillsPlayers;
    };
    const QList<Case> cases = {
        {"exec admin.listplayers", "Refreshing player list...", true},
        {"frobnicate now", "Unknown Command", false},
        {"", "Unknown Command", false},
    };
    for (const Case& c : cases) {
        form.CommandEdit->setText(ToDisplay(c.typed));
        form.PlayersListBox->Clear();
        const qsizetype mark = LogLines().size();
        Lines logAfterClick;
        EXPECT_EQ(SentBy([&] {
                      form.CommandButton->click();
                      logAfterClick = LogLinesSince(mark);
                  }),
                  Lines({Framed(c.typed)}));
        EXPECT_EQ(logAfterClick, Lines()) << "the operation itself logs nothing";
        EXPECT_TRUE(WaitUntil([&] { return LogLinesSince(mark) == Lines({c.replyLog}); })) << c.typed.constData();
        if (c.refillsPlayers) {
            EXPECT_TRUE(WaitUntil([&] { return form.PlayersListBox->Count() == Server().Game().Players().size(); }));
        }
        EXPECT_EQ(form.CommandEdit->text(), ToDisplay(c.typed)) << "kept for the next send";
    }
}

TEST_F(AdminUiTest, RecordNeedsANameAndStopIsSentEveryTime)
{
    ConnectAndLogin();
    TMainForm& form = Form();
    const QByteArray recording = "Recording.. (unless a demo already exists with that name :()";
    struct Case
    {
        QPushButton* button;
        QString name;
        Lines sent, log;
    };
    const QList<Case> cases = {
        {form.RecordButton, "", {}, {"Please enter a name for your demo..."}},
        {form.RecordButton, "final_round", {Framed("exec demo.recorddemo final_round")}, {recording}},
        {form.RecordButton, "  ", {Framed("exec demo.recorddemo   ")}, {recording}},
        {form.StopButton, "  ", {Framed("exec demo.stoprecording")}, {"Stopping recording..."}},
        {form.StopButton, "  ", {Framed("exec demo.stoprecording")}, {"Stopping recording..."}},
    };
    for (const Case& c : cases) {
        form.DemoNameEdit->setText(c.name);
        const qsizetype mark = LogLines().size();
        EXPECT_EQ(SentBy([&] { c.button->click(); }), c.sent) << c.button->text().toStdString();
        EXPECT_EQ(LogLinesSince(mark), c.log);
        EXPECT_EQ(form.DemoNameEdit->text(), c.name);
    }
    EXPECT_EQ(Server().Game().Demos(), QList<SimDemo>({{"final_round", true}}));
}

TEST_F(AdminUiTest, WhileNotConnectedEachTabLogsTheRefusalAndStillMakesItsLocalChange)
{
    TMainForm& form = Form();
    form.PlayersListBox->Append({"Id:  3 - Lt.Dan is remote ip: 10.0.0.3:1234 ->         CD-key hash: 0a1b"});
    form.PlayersListBox->SetItemIndex(0);
    form.BansListBox->Append({"Key: 0a1b Perm", "Key: 2c3d Round"});
    dialogs_->yesAnswer = true;
    struct Case
    {
        QPushButton* button;
        QByteArray log;
        std::function<bool()> changed;
    };
    const QList<Case> cases = {
        {form.KickButton, "Player ID  3 has been kicked...", [&] { return form.PlayersListBox->Count() == 0; }},
        {form.ClearBanListButton, "Ban list cleared...", [&] { return form.BansListBox->Count() == 0; }},
        {form.PauseButton, "Game paused...", [&] { return form.PauseButton->text() == QStringLiteral("UnPause"); }},
        {form.StopButton, "Stopping recording...", [] { return true; }},
    };
    for (const Case& c : cases) {
        const qsizetype mark = LogLines().size();
        c.button->click();
        EXPECT_EQ(LogLinesSince(mark), Lines({"Error not connected...", c.log}));
        EXPECT_TRUE(c.changed()) << c.log.constData();
    }
}
