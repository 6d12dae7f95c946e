// The three local files through the real window: what start-up loads, what
// closing and Save write, and that no failure loses what was stored.

#include "app/list_box.h"
#include "app/spin_edit.h"
#include "app/string_grid.h"
#include "app/text_codec.h"
#include "storage/password_scramble.h"
#include "window_fixture.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using Lines = QList<QByteArray>;

Lines rows(const StringGrid& grid)
{
    Lines rows;
    for (int r = 0; r < grid.rowCount(); ++r)
        rows.append(grid.cell(0, r));
    return rows;
}

} // namespace

class FilesTest : public WindowTest
{
};

TEST_F(FilesTest, StartUpLoadsEachFileOnItsOwn)
{
    struct Case
    {
        const char* name;
        const char* missing; // a file removed before start-up
        QByteArray messages; // servermessages.dat, when not missing
        QList<QString> errors;
        Lines localMaps;
        Lines rows;
    };
    const Lines maps = {"strike_at_karkand gpm_cq 64", "gulf_of_oman"};
    const Lines designed(20);
    const QList<Case> cases = {
        {"all present", nullptr, "1\r\n2\r\nhello\r\nworld\r\n", {}, maps, {"hello", "world"}},
        {"no maps.dat", "maps.dat", "1\r\n2\r\nhello\r\nworld\r\n", {"File not found."}, {}, {"hello", "world"}},
        {"no servermessages.dat", "servermessages.dat", {}, {"File not found."}, maps, designed},
        {"a count that is not a number", nullptr, "1\r\n2x\r\nhello\r\n", {"Invalid numeric input."}, maps, designed},
        {"an empty table file", nullptr, "", {}, maps, {""}},
    };
    for (const Case& c : cases) {
        writeFile(QStringLiteral("maps.dat"), "strike_at_karkand gpm_cq 64\ngulf_of_oman\x1aignored\r\n");
        writeFile(QStringLiteral("servermessages.dat"), c.messages);
        if (c.missing)
            removeFile(QLatin1String(c.missing));
        dialogs_->shown.clear();
        createWindow();
        EXPECT_EQ(dialogs_->errors(), c.errors) << c.name;
        EXPECT_EQ(list("localMapList").items(), c.localMaps) << c.name;
        EXPECT_EQ(rows(control<StringGrid>("announcementGrid")), c.rows) << c.name;
    }
}

TEST_F(FilesTest, FirstStartWithoutSettingsLeavesTheDesignedValues)
{
    for (const char* name : {"serverAddressEdit", "portEdit", "passwordEdit", "chatNameEdit"})
        EXPECT_TRUE(edit(name).text().isEmpty()) << name;
    EXPECT_EQ(control<SpinEdit>("delaySpin").textValue(), 10);
    EXPECT_TRUE(dialogs_->errors().isEmpty());
}

TEST_F(FilesTest, ClosingAndReopeningKeepsTheFiveSettings)
{
    {
        createWindow();
        edit("serverAddressEdit").setText(QStringLiteral("game.example"));
        edit("portEdit").setText(QStringLiteral("port?"));
        edit("passwordEdit").setText(QStringLiteral("s3cr\u00e9t pass"));
        control<SpinEdit>("delaySpin").setValue(35);
        edit("chatNameEdit").setText(QStringLiteral("Ops"));
        control<QAction>("exitAction").trigger();
    }
    const QByteArray stored = readFile(QStringLiteral("settings.ini"));
    EXPECT_TRUE(stored.contains("password=" + scramble("s3cr\xe9t pass") + "\r\n")) << stored.constData();
    EXPECT_FALSE(stored.contains("s3cr")) << "the password is never stored plain";
    struct stat info
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(settingsPath()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    createWindow();
    EXPECT_EQ(edit("serverAddressEdit").text(), QStringLiteral("game.example"));
    EXPECT_EQ(edit("portEdit").text(), QStringLiteral("port?"));
    EXPECT_EQ(edit("passwordEdit").text(), QStringLiteral("s3cr\u00e9t pass"));
    EXPECT_EQ(control<SpinEdit>("delaySpin").textValue(), 35);
    EXPECT_EQ(edit("chatNameEdit").text(), QStringLiteral("Ops"));
}

TEST_F(FilesTest, StoredDelaysAreBroughtIntoRange)
{
    for (const auto& [text, delay] :
         {std::pair{"3", 5}, std::pair{"5000", 1000}, std::pair{"$1E", 30}, std::pair{"junk", 10}, std::pair{"7", 7}}) {
        writeFile(QStringLiteral("settings.ini"), QByteArray("; mine\r\n[Settings]\r\ndelay=") + text + "\r\n");
        createWindow();
        EXPECT_EQ(control<SpinEdit>("delaySpin").textValue(), delay) << text;
    }
}

TEST_F(FilesTest, ARefusedSettingsWriteIsShownAndTheWindowStillCloses)
{
    writeFile(QStringLiteral("settings.ini"), "[Settings]\r\nipaddress=kept\r\n");
    ASSERT_EQ(::chmod(QFile::encodeName(settingsPath()).constData(), 0444), 0);
    MainWindow& mainWindow = createWindow();
    mainWindow.show();
    edit("serverAddressEdit").setText(QStringLiteral("changed"));
    control<QAction>("exitAction").trigger();
    EXPECT_EQ(dialogs_->errors(), QList<QString>({"Unable to write to " + settingsPath() + "."}));
    EXPECT_FALSE(mainWindow.isVisible());
    EXPECT_EQ(readFile(QStringLiteral("settings.ini")), QByteArray("[Settings]\r\nipaddress=kept\r\n"));
}

TEST_F(FilesTest, SaveWritesTheTableAndNeverDestroysTheStoredOne)
{
    removeFile(QStringLiteral("servermessages.dat"));
    createWindow();
    button("saveAnnouncementsButton").click();
    EXPECT_EQ(readFile(QStringLiteral("servermessages.dat")), "1\r\n20\r\n" + QByteArray("\r\n").repeated(20));

    control<StringGrid>("announcementGrid").setCell(0, 0, "hello");
    button("addLineButton").click();
    button("saveAnnouncementsButton").click();
    EXPECT_TRUE(readFile(QStringLiteral("servermessages.dat")).startsWith("1\r\n21\r\nhello\r\n"));

    const QByteArray stored = readFile(QStringLiteral("servermessages.dat"));
    const QByteArray path = QFile::encodeName(workPath(QStringLiteral("servermessages.dat")));
    ASSERT_EQ(::chmod(path.constData(), 0444), 0);
    dialogs_->shown.clear();
    control<StringGrid>("announcementGrid").setCell(0, 0, "lost?");
    button("saveAnnouncementsButton").click();
    EXPECT_EQ(dialogs_->errors(), QList<QString>({"File access denied."}));
    EXPECT_EQ(readFile(QStringLiteral("servermessages.dat")), stored);
}

// A second window on the same files says at once that it will not save
// them, and then writes neither; the first saves both, and lets go of them
// when it closes. A table that another user owns is not written either.
TEST_F(FilesTest, OneWindowWritesTheSettingsAndTheTable)
{
    const QByteArray settings = "[Settings]\r\nipaddress=kept\r\n";
    writeFile(QStringLiteral("settings.ini"), settings);
    const QByteArray table = readFile(QStringLiteral("servermessages.dat"));
    createWindow();
    const auto logOf = [](MainWindow& window) {
        return toBytes(window.findChild<QPlainTextEdit*>(QStringLiteral("logView"))->toPlainText()).split('\n');
    };
    {
        MainWindow second(windowOptions());
        second.findChild<StringGrid*>(QStringLiteral("announcementGrid"))->setCell(0, 0, "second's");
        second.findChild<QPushButton*>(QStringLiteral("saveAnnouncementsButton"))->click();
        second.findChild<QLineEdit*>(QStringLiteral("serverAddressEdit"))->setText(QStringLiteral("second"));
        second.close();
        EXPECT_EQ(logOf(second),
                  QList<QByteArray>({"settings.ini is in use by another Ravelin window; this window will not save it.",
                                     "servermessages.dat is in use by another Ravelin window; this window will not "
                                     "save it.",
                                     "servermessages.dat is in use by another Ravelin window; it was not written.",
                                     "settings.ini is in use by another Ravelin window; it was not written."}));
    }
    EXPECT_EQ(readFile(QStringLiteral("settings.ini")), settings);
    EXPECT_EQ(readFile(QStringLiteral("servermessages.dat")), table);
    EXPECT_TRUE(dialogs_->errors().isEmpty());

    edit("serverAddressEdit").setText(QStringLiteral("first"));
    control<QAction>("exitAction").trigger();
    EXPECT_TRUE(readFile(QStringLiteral("settings.ini")).contains("ipaddress=first\r\n"));
    MainWindow third(windowOptions());
    EXPECT_EQ(logOf(third), QList<QByteArray>({""})) << "the first window let go when it closed";

    ASSERT_EQ(::chown(QFile::encodeName(workPath(QStringLiteral("servermessages.dat"))).constData(), 65534, 65534), 0);
    third.findChild<QPushButton*>(QStringLiteral("saveAnnouncementsButton"))->click();
    EXPECT_EQ(logOf(third).last(), "servermessages.dat belongs to another user; it was not written.");
    EXPECT_EQ(readFile(QStringLiteral("servermessages.dat")), table);
}

// A servermessages.dat that is a folder cannot be copied: the log claims no
// backup, and an older one stays.
TEST_F(FilesTest, AFolderInTheTablesPlaceIsNotSaidToBeKept)
{
    removeFile(QStringLiteral("servermessages.dat"));
    ASSERT_TRUE(QDir(workPath({})).mkdir(QStringLiteral("servermessages.dat")));
    writeFile(QStringLiteral("servermessages.dat.bak"), "an older backup");
    createWindow();
    const qsizetype before = logLines().size();
    dialogs_->shown.clear();
    button("saveAnnouncementsButton").click();
    for (const QByteArray& line : logLinesSince(before))
        EXPECT_FALSE(line.contains("kept as")) << line.constData();
    EXPECT_EQ(dialogs_->errors().size(), 1) << "the Save itself fails";
    EXPECT_EQ(readFile(QStringLiteral("servermessages.dat.bak")), "an older backup");
}
