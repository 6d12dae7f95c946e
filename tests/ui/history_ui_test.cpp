// The player store from the window: the Player History window finds players
// in a store another program filled and keeps notes in it; Record Players
// keeps what the Player List shows, and closes the sessions when the
// connection ends.

#include "app/list_box.h"
#include "app/player_history_window.h"
#include "storage/file_locations.h"
#include "storage/settings.h"
#include "store/player_store.h"
#include "window_fixture.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTest>
#include <QTextDocument>
#include <QTimeZone>
#include <QTreeWidget>

namespace {

const QString kRecruitHash = QStringLiteral("0123456789abcdef0123456789abcdef");
const QString kVeteranHash = QStringLiteral("fedcba9876543210fedcba9876543210");

class HistoryTest : public WindowTest
{
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        storeUrl_ = workPath(QStringLiteral("players.sqlite"));
    }

    // A store of its own on the same file, as a watch service would have.
    std::unique_ptr<PlayerStore> openStore()
    {
        auto store = std::make_unique<PlayerStore>(*parseStoreLocation(storeUrl_));
        EXPECT_TRUE(store->open()) << store->lastError().toStdString();
        return store;
    }

    PlayerHistoryWindow& openHistory()
    {
        control<QAction>("playerHistoryAction").trigger();
        return control<PlayerHistoryWindow>("playerHistoryWindow");
    }

    template <typename Control>
    Control& part(PlayerHistoryWindow& history, const char* name)
    {
        auto* found = history.findChild<Control*>(QLatin1String(name));
        if (!found)
            throw std::runtime_error(std::string("no control named ") + name);
        return *found;
    }

    static QStringList row(const QTreeWidget& table, int index)
    {
        QStringList texts;
        const QTreeWidgetItem* item = table.topLevelItem(index);
        for (int column = 0; item && column < table.columnCount(); ++column)
            texts.append(item->text(column));
        return texts;
    }

    static WatchEvent playerEvent(WatchEvent::Kind kind, const QDateTime& time, const QString& hash,
                                  const QString& name)
    {
        WatchEvent event;
        event.kind = kind;
        event.time = time;
        event.server = QStringLiteral("EU 1");
        event.serverAddress = QStringLiteral("192.0.2.1:4711");
        event.hash = hash;
        event.name = name;
        event.address = QStringLiteral("198.51.100.7");
        return event;
    }

    static QString shown(const QDateTime& time)
    {
        return time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    }
};

} // namespace

// Part of a name finds the player; their session shows where, as whom and
// when; a player still on says so; a note added goes into the store.
TEST_F(HistoryTest, FindsAPlayerByPartOfANameShowsTheSessionsAndKeepsANote)
{
    const QDateTime joined = QDateTime(QDate(2026, 3, 1), QTime(20, 0), QTimeZone::utc());
    const QDateTime left = joined.addSecs(3600);
    const auto store = openStore();
    ASSERT_TRUE(store->record({playerEvent(WatchEvent::Kind::Join, joined, kRecruitHash, QStringLiteral("Recruit 7")),
                               playerEvent(WatchEvent::Kind::Join, joined, kVeteranHash, QStringLiteral("Veteran")),
                               playerEvent(WatchEvent::Kind::Leave, left, kRecruitHash, QStringLiteral("Recruit 7"))}));

    PlayerHistoryWindow& history = openHistory();
    auto& searchEdit = part<QLineEdit>(history, "historySearchEdit");
    auto& results = part<QTreeWidget>(history, "historyResultList");
    auto& sessions = part<QTreeWidget>(history, "historySessionList");
    QTest::keyClicks(&searchEdit, QStringLiteral("recru"));
    QTest::keyClick(&searchEdit, Qt::Key_Return);
    ASSERT_TRUE(WaitUntil([&] { return results.topLevelItemCount() > 0; }));
    EXPECT_EQ(results.topLevelItemCount(), 1);
    EXPECT_EQ(row(results, 0), (QStringList{QStringLiteral("Recruit 7"), kRecruitHash}));
    results.setCurrentItem(results.topLevelItem(0));
    EXPECT_EQ(row(sessions, 0),
              (QStringList{QStringLiteral("EU 1"), QStringLiteral("Recruit 7"), QStringLiteral("198.51.100.7"),
                           shown(joined), shown(left)}));
    EXPECT_EQ(sessions.topLevelItemCount(), 1);

    auto& noteEdit = part<QLineEdit>(history, "historyNoteEdit");
    QTest::keyClicks(&noteEdit, QStringLiteral("Teamkills at the flag"));
    part<QPushButton>(history, "historyAddNoteButton").click();
    auto& notes = part<QTreeWidget>(history, "historyNoteList");
    ASSERT_TRUE(WaitUntil([&] { return notes.topLevelItemCount() == 1; }));
    EXPECT_EQ(row(notes, 0).mid(1), (QStringList{localUserName(), QStringLiteral("Teamkills at the flag")}));
    const QList<PlayerHistory> kept = store->findPlayers(kRecruitHash);
    ASSERT_EQ(kept.size(), 1);
    ASSERT_EQ(kept[0].notes.size(), 1);
    EXPECT_EQ(kept[0].notes[0].text, QStringLiteral("Teamkills at the flag"));

    // By the key hash, as the Player List's menu searches.
    history.search(kVeteranHash);
    ASSERT_TRUE(WaitUntil([&] { return row(results, 0).value(1) == kVeteranHash; }));
    EXPECT_EQ(row(sessions, 0).value(4), QStringLiteral("still on"));
}

// A store that cannot be opened is said in the window, search after search,
// and never in an error box.
TEST_F(HistoryTest, AStoreThatCannotBeOpenedIsSaidInTheWindow)
{
    writeFile(QStringLiteral("not-a-folder"), "x");
    storeUrl_ = workPath(QStringLiteral("not-a-folder/players.sqlite"));
    PlayerHistoryWindow& history = openHistory();
    auto& status = part<QLabel>(history, "historyStatusLabel");
    for (int attempt = 0; attempt < 2; ++attempt) {
        history.search(QStringLiteral("recru"));
        ASSERT_TRUE(WaitUntil([&] { return status.text().contains(QStringLiteral("could not be opened")); }))
            << status.text().toStdString();
        status.clear();
    }
    EXPECT_TRUE(dialogs_->shown.isEmpty());
}

// Refreshing the Player List records who is on; disconnecting closes their sessions.
TEST_F(HistoryTest, RecordPlayersKeepsThePlayerListAndClosesSessionsOnDisconnect)
{
    ASSERT_TRUE(control<QAction>("recordPlayersAction").isChecked());
    connectAndLogin();
    const auto store = openStore();
    const auto count = [&](const char* sql) {
        QSqlQuery query(QSqlDatabase::database(store->connectionName()));
        return query.exec(QLatin1String(sql)) && query.next() ? query.value(0).toInt() : -1;
    };
    const int onServer = int(server().game().players().size());
    ASSERT_GT(onServer, 0);
    button("refreshPlayersButton").click();
    ASSERT_TRUE(WaitUntil([&] { return count("SELECT COUNT(*) FROM sessions WHERE left_at IS NULL") == onServer; }));

    button("disconnectButton").click();
    ASSERT_TRUE(WaitUntil([&] { return count("SELECT COUNT(*) FROM sessions WHERE left_at IS NULL") == 0; }));
    EXPECT_EQ(count("SELECT COUNT(*) FROM sessions"), onServer);
}

// A Ban List line's tooltip tells what the store knows of its ban, and the
// player's history lists the bans placed on them.
TEST_F(HistoryTest, TheBanListAndThePlayerHistoryShowTheBansTheStoreKeeps)
{
    const QDateTime placed(QDate(2026, 12, 9), QTime(7, 10), QTimeZone::utc());
    BanRecord ban;
    // The server the window connects to, as the store names one not saved.
    ban.server = QStringLiteral("127.0.0.1:%1").arg(server().port());
    ban.ban = kRecruitHash;
    ban.period = BanRecord::Period::Seconds;
    ban.seconds = 86400;
    ban.reason = QStringLiteral("<b>team</b> killing");
    ban.placedBy = QStringLiteral("ops");
    ban.placed = placed;
    {
        const auto store = openStore();
        ASSERT_TRUE(store->record(
            {playerEvent(WatchEvent::Kind::Join, placed.addSecs(-60), kRecruitHash, QStringLiteral("Recruit 7"))}));
        ASSERT_TRUE(store->recordBan(ban)) << store->lastError().toStdString();
    }

    createWindow().show();
    control<QTabWidget>("pages").setCurrentWidget(window().findChild<QWidget*>(QStringLiteral("bansPage")));
    connectAndLogin();
    const QByteArray banned = "Key: " + kRecruitHash.toLatin1() + " Perm";
    const QByteArray unknown = "Key: " + kVeteranHash.toLatin1() + " Round";
    const QByteArray timed = "Key: " + kRecruitHash.toLatin1() + " Time Left: 86000";
    server().sendRaw(banned + '\n' + unknown + '\n' + timed + "\n\x04");
    ASSERT_TRUE(WaitUntil([&] { return list("banList").count() == 3; }));
    const auto tip = [&](int row) {
        QTextDocument shown;
        shown.setHtml(list("banList").model()->index(row, 0).data(Qt::ToolTipRole).toString());
        return shown.toPlainText();
    };
    // The store is read on the writer's thread at the first look.
    ASSERT_TRUE(WaitUntil([&] { return tip(0) != QString::fromLatin1(banned); })) << tip(0).toStdString();
    EXPECT_EQ(tip(0), banSummary(ban)) << "shown as plain text";
    EXPECT_EQ(tip(1), QString::fromLatin1(unknown));
    EXPECT_EQ(tip(2), banSummary(ban)) << "a timed ban's line names its key too";

    PlayerHistoryWindow& history = openHistory();
    history.search(kRecruitHash);
    auto& bans = part<QTreeWidget>(history, "historyBanList");
    ASSERT_TRUE(WaitUntil([&] { return bans.topLevelItemCount() == 1; }));
    EXPECT_EQ(row(bans, 0),
              (QStringList{ban.server, shown(placed), QStringLiteral("1 day"), ban.reason, QString(),
                           QStringLiteral("ops"), QStringLiteral("no")}));

    // Lifting it in the window records who did and where.
    list("banList").setCurrentIndex(list("banList").model()->index(0, 0));
    button("removeBanButton").click();
    const auto store = openStore();
    ASSERT_TRUE(WaitUntil([&] { return store->banRecords(kRecruitHash).value(0).lifted.isValid(); }));
    EXPECT_EQ(store->banRecords(kRecruitHash)[0].liftedBy, localUserName());
    EXPECT_EQ(store->banRecords(kRecruitHash)[0].liftReason, "removed from the Ban List");
}

// The store chosen in the window is kept in settings.ini for the next start;
// a URL that names no store is refused and nothing is saved.
TEST_F(HistoryTest, ThePlayerStoreChosenInTheWindowIsKeptForTheNextStart)
{
    dialogs_->inputAnswer = QStringLiteral("postgresql://admin@db.example.org:70000/players");
    control<QAction>("playerStoreAction").trigger();
    ASSERT_EQ(dialogs_->errors().size(), 1);
    EXPECT_TRUE(dialogs_->errors().front().contains(QStringLiteral("70000")))
        << dialogs_->errors().front().toStdString();
    EXPECT_FALSE(loadSettings(settingsPath(), 10).database);

    dialogs_->inputAnswer = QStringLiteral(" postgresql://admin@db.example.org/players ");
    control<QAction>("playerStoreAction").trigger();
    EXPECT_EQ(loadSettings(settingsPath(), 10).database, QByteArray("postgresql://admin@db.example.org/players"));
    EXPECT_EQ(dialogs_->errors().size(), 1);

    // Shown again as it was saved, and kept by the window's own save at exit.
    destroyWindow();
    createWindow();
    dialogs_->inputAnswer.reset();
    control<QAction>("playerStoreAction").trigger();
    EXPECT_EQ(dialogs_->shown.back().initialText, QStringLiteral("postgresql://admin@db.example.org/players"));
    destroyWindow();
    EXPECT_TRUE(readFile(QStringLiteral("settings.ini"))
                    .contains("[Store]\r\ndatabase=postgresql://admin@db.example.org/players"))
        << readFile(QStringLiteral("settings.ini")).toStdString();
}
