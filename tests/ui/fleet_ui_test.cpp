// The Fleet window against practice servers in their stock timing: every
// saved server with its state, players and map; kick, ban and chat with the
// exact bytes on each server's wire; a watched player's arrival.

#include "app/accessibility.h"
#include "app/ban_dialog.h"
#include "app/fleet_window.h"
#include "app/main_window.h"
#include "store/player_store.h"
#include "store/store_location.h"
#include "store/store_writer.h"
#include "window_fixture.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

using namespace std::chrono_literals;

namespace {

const QByteArray kWatchedHash = "0123456789abcdef0123456789abcdef";

class FleetTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (int i = 0; i < 2; ++i) {
            RconSimOptions options;
            options.players = 3 + i;
            options.bans = 0;
            servers_.push_back(std::make_unique<RconSimServer>(options));
            ASSERT_TRUE(servers_.back()->listen());
        }
    }

    // Saves the practice servers, and one more whose password the keyring
    // has wrong, and opens the window on them.
    FleetWindow& open(bool withWrongPassword = false, const QString& automationPath = {},
                      const QString& desiredStatePath = {})
    {
        SavedServers saved;
        for (std::size_t i = 0; i < servers_.size(); ++i) {
            const SavedServer server{"EU " + QByteArray::number(int(i) + 1), "127.0.0.1",
                                     QByteArray::number(servers_[i]->port())};
            saved.put(server);
            keyring_->passwords.insert(server.keyringKey(), "secret");
        }
        if (withWrongPassword) {
            refusing_ = std::make_unique<RconSimServer>();
            EXPECT_TRUE(refusing_->listen());
            const SavedServer server{"Refusing", "127.0.0.1", QByteArray::number(refusing_->port())};
            saved.put(server);
            keyring_->passwords.insert(server.keyringKey(), "wrong");
        }
        FleetWindowOptions options;
        options.dialogs = dialogs_;
        options.desktop = desktop_;
        options.passwordStore = keyring_;
        options.storeWriter = &writer_;
        options.storeUrl = storeUrl();
        options.timing.interval = 500ms;
        options.automationPath = automationPath;
        options.desiredStatePath = desiredStatePath;
        options.claimFolder = folder_.filePath(QStringLiteral("claims"));
        window_ = std::make_unique<FleetWindow>(options);
        window_->show();
        window_->setServers(saved);
        return *window_;
    }

    QTableView& table(const char* name) { return *window_->findChild<QTableView*>(QLatin1String(name)); }
    QString cell(const char* tableName, int row, int column)
    {
        QTableView& view = table(tableName);
        return view.model()->index(row, column).data().toString();
    }
    // The row of the servers table that shows `name`, as sorted.
    int serverRow(const QString& name)
    {
        for (int row = 0; row < table("serverTable").model()->rowCount(); ++row)
            if (cell("serverTable", row, 0) == name)
                return row;
        return -1;
    }
    QString serverCell(const QString& name, int column) { return cell("serverTable", serverRow(name), column); }
    void select(const char* tableName, int row)
    {
        table(tableName).setCurrentIndex(table(tableName).model()->index(row, 0));
    }
    void click(const char* name) { window_->findChild<QPushButton*>(QLatin1String(name))->click(); }
    bool sent(const RconSimServer& server, const QByteArray& command)
    {
        return server.receivedLines().contains('\x02' + command);
    }
    bool bothUp()
    {
        return serverCell(QStringLiteral("EU 1"), FleetServerModel::State) == "up"
            && serverCell(QStringLiteral("EU 2"), FleetServerModel::State) == "up"
            && !serverCell(QStringLiteral("EU 2"), FleetServerModel::Map).isEmpty();
    }

    QString storeUrl() const { return folder_.filePath(QStringLiteral("players.sqlite")); }

    QTemporaryDir folder_;
    StoreWriter writer_{*parseStoreLocation(storeUrl())};
    std::vector<std::unique_ptr<RconSimServer>> servers_;
    std::unique_ptr<RconSimServer> refusing_;
    std::shared_ptr<AnsweringDialogs> dialogs_ = std::make_shared<AnsweringDialogs>();
    std::shared_ptr<RecordingDesktop> desktop_ = std::make_shared<RecordingDesktop>();
    std::shared_ptr<MemoryKeyring> keyring_ = std::make_shared<MemoryKeyring>();
    std::unique_ptr<FleetWindow> window_;
};

TEST_F(FleetTest, ShowsEveryServerItsPlayersAndAStoppedOneAsDownWithinAPoll)
{
    open(true);
    ASSERT_TRUE(WaitUntil([&] { return bothUp(); }, 15s));
    EXPECT_EQ(serverCell(QStringLiteral("EU 1"), FleetServerModel::Players), "3/64");
    EXPECT_EQ(serverCell(QStringLiteral("EU 2"), FleetServerModel::Players), "4/64");
    EXPECT_EQ(serverCell(QStringLiteral("EU 2"), FleetServerModel::Map),
              QString::fromLatin1(servers_[1]->game().rotation().value(servers_[1]->game().currentMapIndex()).name));
    ASSERT_TRUE(
        WaitUntil([&] { return serverCell(QStringLiteral("Refusing"), FleetServerModel::State) == "refused"; }, 15s));
    EXPECT_EQ(serverCell(QStringLiteral("Refusing"), FleetServerModel::Alerts), "the password was refused");

    select("serverTable", serverRow(QStringLiteral("EU 2")));
    ASSERT_TRUE(WaitUntil([&] { return table("fleetPlayerTable").model()->rowCount() == 4; }));
    QStringList names;
    for (int row = 0; row < 4; ++row)
        names.append(cell("fleetPlayerTable", row, FleetPlayerModel::Name));
    QStringList expected;
    for (const SimPlayer& player : servers_[1]->game().players())
        expected.append(QString::fromLatin1(player.name));
    names.sort();
    expected.sort();
    EXPECT_EQ(names, expected);

    servers_[1].reset();
    ASSERT_TRUE(WaitUntil([&] { return serverCell(QStringLiteral("EU 2"), FleetServerModel::State) == "down"; }, 2s))
        << "a poll is half a second here";
    EXPECT_FALSE(serverCell(QStringLiteral("EU 2"), FleetServerModel::Alerts).isEmpty());
    EXPECT_EQ(table("fleetPlayerTable").model()->rowCount(), 0);
    EXPECT_EQ(serverCell(QStringLiteral("EU 1"), FleetServerModel::State), "up");
}

TEST_F(FleetTest, BansForADayWithAReasonOnEveryServer)
{
    open();
    ASSERT_TRUE(WaitUntil([&] { return bothUp(); }, 15s));
    select("serverTable", serverRow(QStringLiteral("EU 1")));
    ASSERT_TRUE(WaitUntil([&] { return table("fleetPlayerTable").model()->rowCount() == 3; }));
    select("fleetPlayerTable", 0);
    const QString hash = cell("fleetPlayerTable", 0, FleetPlayerModel::Hash);
    const QString name = cell("fleetPlayerTable", 0, FleetPlayerModel::Name);
    int id = -1;
    for (const SimPlayer& player : servers_[0]->game().players())
        if (QString::fromLatin1(player.name) == name)
            id = player.id;
    ASSERT_GE(id, 0);

    dialogs_->onModal = [](QDialog& dialog) {
        dialog.findChild<QComboBox*>(QStringLiteral("banDurationBox"))->setCurrentText(QStringLiteral("1 day"));
        dialog.findChild<QComboBox*>(QStringLiteral("banReasonBox"))->setCurrentText(QStringLiteral("team killing"));
        dialog.findChild<QLineEdit*>(QStringLiteral("banMessageEdit"))->setText(QStringLiteral("Banned: team killing"));
        dialog.findChild<QRadioButton*>(QStringLiteral("banEveryServerButton"))->setChecked(true);
        ASSERT_TRUE(static_cast<BanDialog&>(dialog).order());
        dialog.accept();
    };
    click("fleetBanButton");
    const QByteArray byId = "exec admin.banPlayerKey " + QByteArray::number(id) + " 86400";
    const QByteArray byKey = "exec admin.addKeyToBanList " + hash.toLatin1() + " 86400";
    ASSERT_TRUE(WaitUntil([&] { return sent(*servers_[0], byId) && sent(*servers_[1], byKey); }, 10s));
    EXPECT_TRUE(sent(*servers_[0], "exec game.sayAll \"Banned: team killing\""));
    EXPECT_TRUE(sent(*servers_[1], "exec game.sayAll \"Banned: team killing\""));
    EXPECT_FALSE(sent(*servers_[1], byId)) << "the player's number means someone else elsewhere";
    for (const auto& server : servers_)
        EXPECT_EQ(server->linesRefused(), 0) << "one command at a time on each wire";
    auto* log = window_->findChild<QPlainTextEdit*>(QStringLiteral("fleetLog"));
    ASSERT_TRUE(WaitUntil([&] {
        return log->toPlainText().count(QStringLiteral("ban %1 for 1 day: team killing: done").arg(name)) == 2;
    })) << log->toPlainText().toStdString();

    // The store keeps the ban of each server with its reason, as the Ban List's tooltip shows it.
    ASSERT_TRUE(writer_.flush(10s));
    PlayerStore store(*parseStoreLocation(storeUrl()));
    const QList<BanRecord> records = store.banRecords(hash);
    ASSERT_EQ(records.size(), 2) << store.lastError().toStdString();
    for (const BanRecord& record : records) {
        EXPECT_EQ(record.reason, "team killing");
        EXPECT_EQ(record.seconds, 86400);
        EXPECT_EQ(record.playerName, name);
    }
    EXPECT_TRUE(banSummary(writer_.newestBan(hash).value_or(BanRecord())).endsWith("for 1 day: team killing"))
        << banSummary(writer_.newestBan(hash).value_or(BanRecord())).toStdString();
}

TEST_F(FleetTest, KicksAndSpeaksToOneServerOrToAll)
{
    open();
    ASSERT_TRUE(WaitUntil([&] { return bothUp(); }, 15s));
    select("serverTable", serverRow(QStringLiteral("EU 2")));
    ASSERT_TRUE(WaitUntil([&] { return table("fleetPlayerTable").model()->rowCount() == 4; }));
    select("fleetPlayerTable", 0);
    const QString name = cell("fleetPlayerTable", 0, FleetPlayerModel::Name);
    click("fleetKickButton");
    ASSERT_TRUE(WaitUntil([&] { return table("fleetPlayerTable").model()->rowCount() == 3; }, 10s));
    for (const SimPlayer& player : servers_[1]->game().players())
        EXPECT_NE(QString::fromLatin1(player.name), name);

    auto* message = window_->findChild<QLineEdit*>(QStringLiteral("fleetMessageEdit"));
    message->setText(QStringLiteral("One server"));
    click("fleetSendMessageButton");
    window_->findChild<QCheckBox*>(QStringLiteral("fleetEveryServerCheck"))->setChecked(true);
    message->setText(QStringLiteral("Every server"));
    click("fleetSendMessageButton");
    const auto said = [&](int server, const char* text) {
        return servers_[std::size_t(server)]->game().chat().contains(SimChatLine{0, text});
    };
    ASSERT_TRUE(WaitUntil([&] { return said(1, "One server") && said(0, "Every server") && said(1, "Every server"); }));
    EXPECT_FALSE(said(0, "One server"));
}

TEST_F(FleetTest, AWatchedPlayerWhoJoinsIsNotifiedWithinAPoll)
{
    {
        PlayerStore store(*parseStoreLocation(storeUrl()));
        ASSERT_TRUE(
            store.addNote(QString::fromLatin1(kWatchedHash), QStringLiteral("came back"), QStringLiteral("ops")));
    }
    FleetWindow& window = open();
    QSignalSpy logged(&window, &FleetWindow::logLine);
    // Kept in the store, whose answer the watchlist waits for.
    window.findChild<QLineEdit*>(QStringLiteral("watchPatternEdit"))->setText(QString::fromLatin1(kWatchedHash));
    window.findChild<QLineEdit*>(QStringLiteral("watchNoteEdit"))->setText(QStringLiteral("ban evasion"));
    click("addWatchButton");
    auto* watchList = window.findChild<QTreeWidget*>(QStringLiteral("watchList"));
    ASSERT_TRUE(WaitUntil([&] { return watchList->topLevelItemCount() == 1; }));
    ASSERT_TRUE(WaitUntil([&] { return bothUp(); }, 15s));
    servers_[1]->game().addPlayer({-1, "Sneaky", "10.1.2.3", 1234, kWatchedHash});
    ASSERT_TRUE(WaitUntil([&] { return !desktop_->notifications.isEmpty(); }, 2s)) << "a poll is half a second here";
    EXPECT_EQ(desktop_->notifications[0],
              QStringList({"Watched player on EU 2", "Sneaky (" + kWatchedHash + ") from 10.1.2.3: ban evasion"}));
    ASSERT_EQ(logged.size(), 1);
    EXPECT_EQ(logged[0][0].toByteArray(),
              "Watched player Sneaky (" + kWatchedHash + ") is on EU 2 from 10.1.2.3: ban evasion");
    EXPECT_TRUE(WaitUntil([&] {
        return serverCell(QStringLiteral("EU 2"), FleetServerModel::Alerts) == "Watched: Sneaky (ban evasion)";
    }));
    select("serverTable", serverRow(QStringLiteral("EU 2")));
    EXPECT_TRUE(WaitUntil([&] {
        for (int row = 0; row < table("fleetPlayerTable").model()->rowCount(); ++row)
            if (cell("fleetPlayerTable", row, FleetPlayerModel::Name) == "Sneaky")
                return cell("fleetPlayerTable", row, FleetPlayerModel::Marks) == "Watched: ban evasion; Noted";
        return false;
    }));
    ASSERT_TRUE(writer_.flush(10s));
    PlayerStore store(*parseStoreLocation(storeUrl()));
    ASSERT_TRUE(store.open());
    QSqlQuery watched(QSqlDatabase::database(store.connectionName()));
    ASSERT_TRUE(watched.exec(QStringLiteral("SELECT detail FROM events WHERE kind = 'watched'")));
    ASSERT_TRUE(watched.next());
    EXPECT_EQ(watched.value(0).toString(), "ban evasion");
}

TEST_F(FleetTest, CopiesTheBansEachServerLacksWithTheirTimeLeftAndRemovesNone)
{
    servers_[0]->game().addBan({"aaaa0000aaaa0000aaaa0000aaaa0000", BanKind::Timed, 3600});
    servers_[1]->game().addAddressBan({"10.9.9.9", BanKind::Perm, 0});
    servers_[1]->game().addBan({"bbbb0000bbbb0000bbbb0000bbbb0000", BanKind::Round, 0});
    const qsizetype bansBefore[] = {servers_[0]->game().bans().size(), servers_[1]->game().bans().size()};
    open();
    ASSERT_TRUE(WaitUntil([&] { return bothUp(); }, 15s));
    auto* missing = window_->findChild<QTreeWidget*>(QStringLiteral("missingBanList"));
    ASSERT_TRUE(WaitUntil([&] { return missing->topLevelItemCount() == 3; }, 10s));
    click("copyBansButton");
    const auto hasKey = [&](int server, const QByteArray& key) {
        for (const SimBan& ban : servers_[std::size_t(server)]->game().bans())
            if (ban.keyHash == key)
                return std::optional(ban);
        return std::optional<SimBan>();
    };
    ASSERT_TRUE(WaitUntil(
        [&] { return hasKey(1, "aaaa0000aaaa0000aaaa0000aaaa0000") && servers_[0]->game().addressBans().size() == 1; },
        10s));
    const SimBan copied = *hasKey(1, "aaaa0000aaaa0000aaaa0000aaaa0000");
    EXPECT_EQ(copied.kind, BanKind::Timed);
    EXPECT_GT(copied.secondsLeft, 3500);
    EXPECT_LE(copied.secondsLeft, 3600);
    EXPECT_EQ(servers_[0]->game().addressBans()[0].kind, BanKind::Perm);
    EXPECT_FALSE(hasKey(0, "bbbb0000bbbb0000bbbb0000bbbb0000")) << "a round ban means nothing elsewhere";
    EXPECT_EQ(servers_[0]->game().bans().size(), bansBefore[0]);
    EXPECT_EQ(servers_[1]->game().bans().size(), bansBefore[1] + 1);
    // What is left is the round ban alone.
    ASSERT_TRUE(WaitUntil([&] { return missing->topLevelItemCount() == 1; }, 10s));
    EXPECT_EQ(missing->topLevelItem(0)->text(3), "round only; not copied");
    for (const auto& server : servers_)
        EXPECT_EQ(server->linesRefused(), 0);
}

// The Automation page runs the automation file while the window is open:
// Run now sends a schedule's commands to every server it names and shows how
// it went; a rule on a joining player's hash brings a notification.
TEST_F(FleetTest, RunsTheAutomationFileAndShowsEachScheduleLastResult)
{
    const QString path = folder_.filePath(QStringLiteral("automation.toml"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[[schedule]]\nname = \"warn\"\nservers = [\"EU 2\"]\ncron = \"55 5 * * *\"\n"
               "commands = ['exec game.sayAll \"Restart soon\"']\n"
               "[[rule]]\nname = \"known\"\nwhen = { hash = [\""
               + kWatchedHash + "\"] }\n");
    file.close();
    open(false, path);
    ASSERT_TRUE(WaitUntil([&] { return bothUp(); }, 15s));
    EXPECT_TRUE(window_->findChild<QLabel*>(QStringLiteral("automationLabel"))
                    ->text()
                    .startsWith(path + QStringLiteral(": 1 schedule, 1 rule, 0 webhooks.")));
    auto* schedules = window_->findChild<QTreeWidget*>(QStringLiteral("scheduleList"));
    ASSERT_EQ(schedules->topLevelItemCount(), 1);
    EXPECT_EQ(schedules->topLevelItem(0)->text(4), QStringLiteral("not run yet"));
    schedules->setCurrentItem(schedules->topLevelItem(0));
    click("runNowButton");
    ASSERT_TRUE(WaitUntil([&] { return schedules->topLevelItem(0)->text(4).startsWith(u"done on EU 2"); }, 10s));
    EXPECT_TRUE(servers_[1]->game().chat().contains(SimChatLine{0, "Restart soon"}));
    EXPECT_FALSE(servers_[0]->game().chat().contains(SimChatLine{0, "Restart soon"}));

    servers_[0]->game().addPlayer({-1, "Known", "10.0.0.9", 1, kWatchedHash});
    ASSERT_TRUE(WaitUntil([&] { return !desktop_->notifications.isEmpty(); }, 10s));
    EXPECT_EQ(desktop_->notifications.last().value(0), QStringLiteral("Rule \"known\" on EU 1"));
}

// The Desired State page plans the file against both servers, applies it to
// the chosen one alone, to the others only once the user says yes, and undoes
// it from the snapshot this run kept or, in a window opened later, from the
// store's; no button can start a second change while one runs.
TEST_F(FleetTest, PlansAppliesAndUndoesTheDesiredStateOfEachServer)
{
    const QString path = folder_.filePath(QStringLiteral("desired.toml"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[defaults]\nrotation = [[\"dalian_plant\", \"gpm_cq\", 64], [\"kubra_dam\", \"gpm_cq\", 32]]\n"
               "settings = { \"sv.ticketRatio\" = \"80\" }\n[server.\"EU 9\"]\nsettings = {}\n");
    file.close();
    FleetWindow& window = open(false, {}, path);
    ASSERT_TRUE(WaitUntil([&] { return bothUp(); }, 15s));
    const QList<SimMap> rotationBefore[] = {servers_[0]->game().rotation(), servers_[1]->game().rotation()};
    const QList<SimMap> wanted{{"dalian_plant", "gpm_cq", "64"}, {"kubra_dam", "gpm_cq", "32"}};
    ASSERT_NE(rotationBefore[0], wanted);

    auto* plan = window.findChild<QTreeWidget*>(QStringLiteral("planTree"));
    auto* planButton = window.findChild<QPushButton*>(QStringLiteral("planButton"));
    const auto summary = [&](int server) { return plan->topLevelItem(server)->text(1); };
    const auto lines = [&](int server) {
        QStringList found;
        for (int i = 0; i < plan->topLevelItem(server)->childCount(); ++i)
            found.append(plan->topLevelItem(server)->child(i)->text(1));
        return found;
    };
    click("planButton");
    ASSERT_TRUE(WaitUntil([&] { return summary(0).endsWith(u" changes") && summary(1).endsWith(u" changes"); }));
    EXPECT_TRUE(lines(1).contains(QStringLiteral("~ sv.ticketRatio: \"100\" -> \"80\"")));
    EXPECT_TRUE(lines(1).contains(QStringLiteral("+ rotation 1: kubra_dam gpm_cq 32")));
    EXPECT_TRUE(window.findChild<QLabel*>(QStringLiteral("desiredLabel"))
                    ->text()
                    .contains(u"there is no saved server \"EU 9\""));

    // The chosen server alone, with no question asked.
    plan->topLevelItem(0)->child(0)->setSelected(true);
    click("applyButton");
    EXPECT_FALSE(planButton->isEnabled());
    ASSERT_TRUE(WaitUntil([&] { return summary(0) == "applied"; }));
    EXPECT_EQ(servers_[0]->game().rotation(), wanted);
    EXPECT_EQ(servers_[0]->game().setting("sv.ticketRatio"), "80");
    EXPECT_TRUE(summary(1).endsWith(u" changes"));
    EXPECT_EQ(servers_[1]->game().setting("sv.ticketRatio"), "100");

    // Every server only once the user says yes.
    plan->clearSelection();
    click("applyButton");
    ASSERT_EQ(dialogs_->shown.size(), 1);
    EXPECT_TRUE(planButton->isEnabled());
    dialogs_->yesAnswer = true;
    click("applyButton");
    ASSERT_TRUE(WaitUntil([&] { return summary(1) == "applied"; }));
    EXPECT_EQ(dialogs_->shown.value(1).text, QStringLiteral("Apply the planned changes to EU 2?"));
    EXPECT_EQ(servers_[1]->game().rotation(), wanted);
    EXPECT_EQ(servers_[1]->game().setting("sv.ticketRatio"), "80");
    EXPECT_TRUE(planButton->isEnabled());

    // This run's own snapshot, at once.
    plan->topLevelItem(0)->setSelected(true);
    click("undoButton");
    ASSERT_TRUE(WaitUntil([&] { return summary(0) == "undone"; }));
    EXPECT_EQ(servers_[0]->game().rotation(), rotationBefore[0]);
    EXPECT_EQ(servers_[0]->game().setting("sv.ticketRatio"), "100");
    EXPECT_EQ(servers_[1]->game().rotation(), wanted);

    // The store's, in a window opened later, as the page opens.
    const auto kept = [&](const QString& label) {
        PlayerStore store(*parseStoreLocation(storeUrl()));
        return store.open() ? store.latestSnapshots({}, label).size() : -1;
    };
    ASSERT_TRUE(WaitUntil([&] { return kept(QStringLiteral("before apply")) == 2; }));
    window_.reset();
    FleetWindow& later = open(false, {}, path);
    QSignalSpy logged(&later, &FleetWindow::logLine);
    ASSERT_TRUE(WaitUntil([&] { return bothUp(); }, 15s));
    later.findChild<QTabWidget*>(QStringLiteral("fleetPages"))
        ->setCurrentWidget(later.findChild<QWidget*>(QStringLiteral("fleetDesiredPage")));
    plan = later.findChild<QTreeWidget*>(QStringLiteral("planTree"));
    ASSERT_TRUE(WaitUntil([&] { return later.findChild<QPushButton*>(QStringLiteral("undoButton"))->isEnabled(); }));
    click("undoButton");
    ASSERT_TRUE(WaitUntil([&] { return summary(0) == "as the snapshot" && summary(1) == "undone"; }));
    EXPECT_EQ(servers_[1]->game().rotation(), rotationBefore[1]);
    EXPECT_EQ(servers_[1]->game().setting("sv.ticketRatio"), "100");
    EXPECT_TRUE(std::any_of(logged.begin(), logged.end(), [](const QList<QVariant>& line) {
        return line.value(0).toByteArray() == "Fleet: EU 2: undone";
    }));
    EXPECT_TRUE(WaitUntil([&] { return kept(QStringLiteral("before undo")) == 2; }));
}

class FleetMenuTest : public WindowTest
{
};

TEST_F(FleetMenuTest, TheFleetWindowComesBackAtTheNextStartAsItWasLeft)
{
    installAccessibility(); // as start-up does, before any window
    auto* action = window().findChild<QAction*>(QStringLiteral("fleetAction"));
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+F")));
    action->trigger();
    auto* fleet = window().findChild<FleetWindow*>();
    ASSERT_NE(fleet, nullptr);
    EXPECT_TRUE(fleet->isVisible());
    // A window of its own to a screen reader, and every control in it named.
    EXPECT_EQ(QAccessible::queryAccessibleInterface(fleet)->role(), QAccessible::Window);
    for (QWidget* control : fleet->findChildren<QWidget*>()) {
        // A table's headers and corner are parts of the table's own interface.
        const bool partOfTable = qobject_cast<QHeaderView*>(control)
            || qobject_cast<QAbstractItemView*>(control->parentWidget());
        if (partOfTable
            || (!qobject_cast<QAbstractButton*>(control) && !qobject_cast<QLineEdit*>(control)
                && !qobject_cast<QAbstractItemView*>(control) && !qobject_cast<QComboBox*>(control)))
            continue;
        EXPECT_FALSE(QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name).isEmpty())
            << control->metaObject()->className() << " " << control->objectName().toStdString();
    }
    fleet->resize(700, 500);
    window().close();
    EXPECT_TRUE(readFile(QStringLiteral("settings.ini")).endsWith("[Fleet]\r\nopen=1\r\nwidth=700\r\nheight=500\r\n"));
    destroyWindow();

    createWindow().show();
    ASSERT_TRUE(WaitUntil([&] { return window().findChild<FleetWindow*>() != nullptr; }));
    fleet = window().findChild<FleetWindow*>();
    EXPECT_TRUE(fleet->isVisible());
    EXPECT_EQ(fleet->size(), QSize(700, 500));
    fleet->close();
    window().close();
    EXPECT_TRUE(readFile(QStringLiteral("settings.ini")).contains("[Fleet]\r\nopen=0\r\n"));
}

} // namespace
