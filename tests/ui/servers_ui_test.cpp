// The Servers menu, reconnecting after a drop, the audit log and lists to take
// away, through the window: saved servers with a keyring and without one, a
// server that goes away and comes back, the day file of what the log pane
// showed, and lists saved as CSV and text.

#include "app/list_box.h"
#include "app/server_dialogs.h"
#include "app/string_grid.h"
#include "app/text_codec.h"
#include "window_fixture.h"

#include <QAction>
#include <QClipboard>
#include <QDate>
#include <QDialogButtonBox>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

using namespace std::chrono_literals;

namespace {

class ServersTest : public WindowTest
{
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        savedServersPath_ = workPath(QStringLiteral("config/servers.txt"));
        auditLogFolder_ = workPath(QStringLiteral("state"));
    }

    void trigger(const char* action) { control<QAction>(action).trigger(); }

    // Saves the server in the login boxes under `name` through the dialog.
    void saveServerAs(const QByteArray& name)
    {
        dialogs_->onModal = [&](QDialog& dialog) {
            dialog.findChild<QLineEdit*>(QStringLiteral("serverNameEdit"))->setText(toDisplay(name));
            dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        };
        trigger("saveServerAction");
        dialogs_->onModal = nullptr;
    }

    QStringList savedServerCaptions()
    {
        QStringList captions;
        for (QAction* action : control<QMenu>("serversMenu").actions())
            if (action->objectName().startsWith(QLatin1String("savedServerAction")))
                captions.append(action->text());
        return captions;
    }

    QString keyOf(quint16 port) const { return QStringLiteral("127.0.0.1:%1").arg(port); }
};

} // namespace

// Three servers saved with a keyring: after a restart the menu lists them in
// order, one choice fills the boxes and logs in with the keyring's password,
// and managing them renames, reorders and deletes, passwords included.
TEST_F(ServersTest, SavedServersRoundTripWithTheKeyring)
{
    const quint16 port = server().port();
    fill("serverAddressEdit", "127.0.0.1");
    for (const auto& [name, portText] : {std::pair<QByteArray, QByteArray>{"Main \xe9 & co", QByteArray::number(port)},
                                         {"Second", "4712"},
                                         {"Third", "4713"}}) {
        fill("portEdit", portText);
        fill("passwordEdit", name == "Second" ? "pw2" : "secret");
        saveServerAs(name);
    }
    EXPECT_TRUE(WaitUntil([&] { return keyring_->passwords.size() == 3; }));
    EXPECT_EQ(keyring_->passwords.value(keyOf(port)), "secret");
    EXPECT_EQ(keyring_->passwords.value(QStringLiteral("127.0.0.1:4712")), "pw2");
    EXPECT_EQ(readFile("config/servers.txt"),
              "# Ravelin's saved servers: name, address and port, separated by tabs.\r\n"
              "Main \xe9 & co\t127.0.0.1\t"
                  + QByteArray::number(port)
                  + "\r\n"
                    "Second\t127.0.0.1\t4712\r\nThird\t127.0.0.1\t4713\r\n");
    EXPECT_FALSE(readFile("config/servers.txt").contains("secret")) << "no password in the file";

    destroyWindow();
    createWindow();
    EXPECT_EQ(savedServerCaptions(),
              QStringList({QStringLiteral("&1 Main \u00e9 && co (127.0.0.1:%1)").arg(port),
                           "&2 Second (127.0.0.1:4712)", "&3 Third (127.0.0.1:4713)"}));
    fill("serverAddressEdit", "elsewhere");
    fill("passwordEdit", "");
    trigger("savedServerAction0");
    ASSERT_TRUE(WaitUntil([&] { return status() == "Connected to 127.0.0.1"; })) << status().constData();
    EXPECT_EQ(edit("portEdit").text(), QString::number(port));

    // Rename the second, move it to the top, delete the third.
    dialogs_->inputAnswer = QStringLiteral("Backup");
    dialogs_->onModal = [&](QDialog& dialog) {
        auto* list = dialog.findChild<QListWidget*>(QStringLiteral("serverList"));
        list->setCurrentRow(1);
        dialog.findChild<QPushButton*>(QStringLiteral("renameServerButton"))->click();
        dialog.findChild<QPushButton*>(QStringLiteral("moveServerUpButton"))->click();
        list->setCurrentRow(2);
        dialog.findChild<QPushButton*>(QStringLiteral("deleteServerButton"))->click();
        dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    };
    trigger("manageServersAction");
    ASSERT_FALSE(dialogs_->shown.isEmpty());
    EXPECT_EQ(dialogs_->shown.last().initialText, QStringLiteral("Second")) << "the rename starts from the name";
    EXPECT_EQ(
        savedServerCaptions(),
        QStringList({"&1 Backup (127.0.0.1:4712)", QStringLiteral("&2 Main \u00e9 && co (127.0.0.1:%1)").arg(port)}));
    EXPECT_TRUE(
        readFile("config/servers.txt")
            .endsWith("Backup\t127.0.0.1\t4712\r\nMain \xe9 & co\t127.0.0.1\t" + QByteArray::number(port) + "\r\n"));
    EXPECT_FALSE(keyring_->passwords.contains(QStringLiteral("127.0.0.1:4713"))) << "a deleted server's password";
    EXPECT_EQ(keyring_->passwords.size(), 2);

    // Cancel changes nothing.
    dialogs_->onModal = [&](QDialog& dialog) {
        dialog.findChild<QPushButton*>(QStringLiteral("deleteServerButton"))->click();
        dialog.reject();
    };
    trigger("manageServersAction");
    EXPECT_EQ(savedServerCaptions().size(), 2);
}

// Without a keyring the dialog says the password is not kept, nothing else
// keeps it, and choosing the server asks for it before connecting.
TEST_F(ServersTest, WithoutAKeyringThePasswordIsTypedAtConnect)
{
    keyring_->available = false;
    fill("serverAddressEdit", "127.0.0.1");
    fill("portEdit", QByteArray::number(server().port()));
    fill("passwordEdit", "secret");
    QString note;
    dialogs_->onModal = [&](QDialog& dialog) {
        note = dialog.findChild<QLabel*>(QStringLiteral("passwordNote"))->text();
        dialog.findChild<QLineEdit*>(QStringLiteral("serverNameEdit"))->setText(QStringLiteral("Practice"));
        dialog.accept();
    };
    trigger("saveServerAction");
    EXPECT_EQ(note, passwordNote(false));
    EXPECT_TRUE(note.contains(QLatin1String("not kept")));
    EXPECT_TRUE(keyring_->passwords.isEmpty());
    EXPECT_FALSE(readFile("config/servers.txt").contains("secret"));

    fill("serverAddressEdit", "10.9.9.9");
    fill("passwordEdit", "typed for another server");
    const qsizetype mark = logLines().size();
    trigger("savedServerAction0");
    EXPECT_EQ(edit("serverAddressEdit").text(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(edit("passwordEdit").text(), QString()) << "another server's password is not sent here";
    EXPECT_EQ(logLinesSince(mark), QList<QByteArray>({"Type the password for Practice and press Enter to connect."}));
    EXPECT_EQ(server().clientCount(), 0);

    fill("passwordEdit", "secret");
    QTest::keyClick(&edit("passwordEdit"), Qt::Key_Return);
    ASSERT_TRUE(WaitUntil([&] { return status() == "Connected to 127.0.0.1"; }));
}

// Reconnect Automatically: a server that restarts is logged in to again with
// no hand on the mouse, the desktop is told both times, and the choice is
// kept in settings.ini without touching the other keys.
TEST_F(ServersTest, ReconnectFollowsARestartAndIsRemembered)
{
    const QByteArray settings = "[Settings]\r\nipaddress=x\r\nport=1\r\npassword=\r\ndelay=10\r\nchatname=\r\n";
    writeFile(QStringLiteral("settings.ini"), settings);
    reconnectHeldAfter_ = std::chrono::milliseconds(100);
    createWindow();
    EXPECT_FALSE(control<QAction>("reconnectAction").isChecked());
    control<QAction>("reconnectAction").trigger();
    connectAndLogin();

    RconSimOptions options = serverOptions_;
    options.port = server().port();
    server().closeClients();
    ASSERT_TRUE(WaitUntil([&] { return logLines().contains("Reconnecting in 1 second (attempt 1)..."); }));
    replaceServer(options);
    ASSERT_TRUE(WaitUntil([&] { return desktop_->notifications.size() == 2; }, 10s));
    EXPECT_EQ(status(), "Connected to 127.0.0.1");
    const QString where = QStringLiteral("127.0.0.1:%1").arg(options.port);
    EXPECT_EQ(desktop_->notifications,
              QList<QStringList>(
                  {{"Connection lost", "The connection to " + where + " was lost. Reconnecting automatically."},
                   {"Connection restored", "Connected to " + where + " again."}}));

    control<QAction>("exitAction").trigger();
    EXPECT_EQ(readFile(QStringLiteral("settings.ini")).right(17), "autoreconnect=1\r\n");
    createWindow();
    EXPECT_TRUE(control<QAction>("reconnectAction").isChecked());
    control<QAction>("reconnectAction").trigger();
    control<QAction>("exitAction").trigger();
    EXPECT_TRUE(readFile(QStringLiteral("settings.ini")).endsWith("\r\nautoreconnect=0\r\n"));
}

// Every line of the log pane reaches the day's file with its time, in UTF-8,
// and a typed ban as what it is; a password that is also a word is left in
// other words, and no digest goes in. Open Log Folder opens where they are.
TEST_F(ServersTest, TheAuditLogHoldsWhatThePaneShowedAndTypedActionsButNoDigest)
{
    server().setPassword("owl");
    connectAndLogin("owl");
    for (const QByteArray command :
         {"exec sv.serverName \"Night Owls \xe4 owl\"", "exec sv.serverName", "exec admin.banPlayer 2 round"}) {
        fill("commandEdit", command);
        button("sendCommandButton").click();
        ASSERT_TRUE(WaitUntil([&] { return commandsAfterLogin().contains('\x02' + command); }));
    }
    ASSERT_TRUE(WaitUntil([&] { return logLines().contains("Night Owls \xe4 owl"); }));
    const qsizetype paneLines = logLines().size();
    // Copied from the pane, the log is blotted as the file is: the password
    // is not blotted where it is a word of the server's name.
    trigger("logViewCopyAllAction");
    EXPECT_TRUE(QGuiApplication::clipboard()->text().contains(QString::fromUtf8("Night Owls \xc3\xa4 owl")));
    trigger("openLogFolderAction");
    EXPECT_EQ(desktop_->openedFolders, QStringList({auditLogFolder_}));
    destroyWindow();

    const QString day = QStringLiteral("state/audit-%1.log").arg(QDate::currentDate().toString(Qt::ISODate));
    QByteArray audit = readFile(day);
    if (audit.isEmpty()) // the day turned while the test ran
        audit = readFile(
            QStringLiteral("state/audit-%1.log").arg(QDate::currentDate().addDays(-1).toString(Qt::ISODate)));
    const QList<QByteArray> lines = audit.split('\n');
    ASSERT_GE(lines.size(), 2);
    EXPECT_TRUE(lines[0].endsWith(" Connecting to 127.0.0.1")) << lines[0].constData();
    EXPECT_EQ(lines[0].indexOf(' ', 11), 19) << "a local date and time first: " << lines[0].constData();
    const QByteArray server = " 127.0.0.1:" + QByteArray::number(this->server().port()) + ' ';
    EXPECT_TRUE(audit.contains(server + "Night Owls \xc3\xa4 owl\n")) << audit.constData();
    EXPECT_TRUE(audit.contains(server + "Ban typed in the console: exec admin.banPlayer 2 round\n"));
    EXPECT_FALSE(audit.contains("login "));
    EXPECT_FALSE(audit.contains("*"));
    EXPECT_EQ(lines.size() - 1, paneLines + 1) << "one line of the file for each of the pane, and the ban";
}

// A server that floods the log cannot fill the disk through the audit log:
// alternating replies fold, the day's file stops at its cap, the status bar
// says lines are being dropped, the file says how many, and saving still works.
TEST_F(ServersTest, AFloodStopsAtTheAuditCapWithALastingNotice)
{
    constexpr qint64 kCap = 64 * 1024;
    auditLogDayCap_ = kCap;
    replyTimeout_ = 10min; // the flood is one endless reply
    createWindow();
    connectAndLogin("secret");
    QLabel& notice = control<QLabel>("auditNoticeLabel");
    EXPECT_TRUE(notice.isHidden());
    // Alternating lines, among more distinct ones than a fold window remembers.
    QByteArray pattern;
    for (int i = 0; i < 2 * AuditLog::kFoldLines; ++i)
        pattern += "a\nb\nPlayer " + QByteArray::number(i) + " joined\n";
    server().startFlood(pattern);
    // The typed command's own reply never comes: the flood is all it gets.
    server().stallNextReply(600000);
    fill("commandEdit", "bf2cc pl");
    button("sendCommandButton").click();
    ASSERT_TRUE(WaitUntil([&] { return !notice.isHidden(); }, 120s));
    server().stopFlood();
    server().resumeReading();
    EXPECT_TRUE(notice.text().startsWith(QLatin1String("Audit log: "))) << notice.text().toStdString();

    control<StringGrid>("announcementGrid").setCell(0, 0, "still saved");
    button("saveAnnouncementsButton").click();
    EXPECT_TRUE(dialogs_->errors().isEmpty());
    destroyWindow();
    EXPECT_TRUE(readFile(QStringLiteral("servermessages.dat")).contains("still saved"));

    const QString day = QStringLiteral("state/audit-%1.log").arg(QDate::currentDate().toString(Qt::ISODate));
    const QByteArray audit = readFile(day);
    EXPECT_LE(audit.size(), kCap);
    EXPECT_TRUE(audit.contains(" lines were dropped from the audit log (the day's file reached its cap of 64 KiB)\n"))
        << audit.right(300).constData();
    EXPECT_EQ(audit.count(" a\n"), 1) << "an alternating line is written once a fold window";
}

// A player and a ban list saved as CSV keep every byte the server sent (names
// above 127 included), cut into their fields; any list and the log can be
// copied whole or saved as text.
TEST_F(ServersTest, ListsAreTakenAwayWholeAsTextAndCsv)
{
    serverOptions_.players = 0;
    serverOptions_.bans = 0;
    server().game().addPlayer({3, "Jos\xe9, \"the\" \x80\xff", "10.0.0.7", 1234, "4f00ab"});
    server().game().addPlayer({4, "Plain", "10.0.0.8", 80, "ffee"});
    server().game().addBan({"4f00ab", BanKind::Perm});
    server().game().addBan({"abcd", BanKind::Round});
    connectAndLogin();
    control<QTabWidget>("pages").setCurrentWidget(&control<QWidget>("playersPage"));
    ASSERT_TRUE(WaitUntil([&] { return list("playerList").count() == 2; }));
    control<QTabWidget>("pages").setCurrentWidget(&control<QWidget>("bansPage"));
    ASSERT_TRUE(WaitUntil([&] { return list("banList").count() == 2; }));

    dialogs_->saveAnswer = SaveChoice{workPath(QStringLiteral("players")), 0}; // no ending: the CSV filter's
    trigger("playerListSaveAsAction");
    EXPECT_EQ(dialogs_->shown.last().text,
              QDir::home().filePath(QStringLiteral("players.csv")) + "|CSV files (*.csv)|Text files (*.txt)");
    EXPECT_EQ(readFile(QStringLiteral("players")),
              "id,name,address,port,key_hash\r\n"
              "3,\"Jos\xe9, \"\"the\"\" \x80\xff\",10.0.0.7,1234,4f00ab\r\n"
              "4,Plain,10.0.0.8,80,ffee\r\n");
    dialogs_->saveAnswer = SaveChoice{workPath(QStringLiteral("bans.csv")), 1}; // the ending wins over the filter
    trigger("banListSaveAsAction");
    EXPECT_EQ(readFile(QStringLiteral("bans.csv")), "key,period\r\n4f00ab,Perm\r\nabcd,Round\r\n");
    dialogs_->saveAnswer = SaveChoice{workPath(QStringLiteral("players.txt")), 0};
    trigger("playerListSaveAsAction");
    EXPECT_EQ(readFile(QStringLiteral("players.txt")).split('\n').size(), 3);
    EXPECT_TRUE(readFile(QStringLiteral("players.txt")).contains("Jos\xe9, \"the\" \x80\xff is remote ip: "));
    EXPECT_TRUE(logLines().contains("Saved 2 lines to " + QFile::encodeName(workPath(QStringLiteral("players.txt")))));

    // Cancel writes nothing; the log goes as text, exactly as the pane shows it.
    dialogs_->saveAnswer.reset();
    trigger("banListSaveAsAction");
    EXPECT_EQ(readFile(QStringLiteral("bans.csv")), "key,period\r\n4f00ab,Perm\r\nabcd,Round\r\n");
    dialogs_->saveAnswer = SaveChoice{workPath(QStringLiteral("log.txt")), 0};
    const QList<QByteArray> shownLog = logLines();
    trigger("logViewSaveAsAction");
    EXPECT_EQ(readFile(QStringLiteral("log.txt")), shownLog.join("\r\n") + "\r\n");

    trigger("banListCopyAllAction");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("Key: 4f00ab Perm\nKey: abcd Round"));
    trigger("playerListCopyAllAction");
    EXPECT_TRUE(QGuiApplication::clipboard()->text().contains(QStringLiteral("Jos\u00e9, \"the\" \u20ac\u00ff")));
}
