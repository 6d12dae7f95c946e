// Faults on purpose, through the real window: huge or odd server bytes that
// must reach the lists and go back to the server unchanged, and files that
// cannot be written. None of them may crash the window or lose what is
// already listed or stored. The protocol's own faults (cut, stalled and broken
// connections) are tested against the session alone.

#include "app/list_box.h"
#include "app/string_grid.h"
#include "app/text_codec.h"
#include "window_fixture.h"

#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/mount.h>

using namespace std::chrono_literals;

namespace {

using Lines = QList<QByteArray>;

} // namespace

class RobustnessTest : public WindowTest
{
protected:
    void refresh(QPushButton* button, ListBox* list, qsizetype count)
    {
        button->click();
        EXPECT_TRUE(WaitUntil([&] { return list->count() == count; }))
            << "entries: " << list->count() << " of " << count;
    }
};

// A key that long cannot go back: a server closes the connection for a line
// of 1,024 bytes or more. Remove says so, and the line stays listed.
TEST_F(RobustnessTest, ATenMegabyteBanLineArrivesWholeAndIsNotSentBack)
{
    // Every byte depends on its place, so a piece lost, doubled or moved shows.
    static const char digits[] = "0123456789abcdef";
    QByteArray key(10 * 1024 * 1024, Qt::Uninitialized);
    for (qsizetype i = 0; i < key.size(); ++i)
        key[i] = digits[(i * 7 + i / 4093) % 16];
    server().game().addBan({key, BanKind::Perm});
    connectAndLogin();
    const Lines bans = listingEntries(server().game().banListing(), false);

    refresh(&button("refreshBansButton"), &list("banList"), bans.size());
    const qsizetype huge = bans.size() - 1;
    ASSERT_EQ(list("banList").count(), bans.size());
    EXPECT_EQ(list("banList").items()[huge].size(), bans[huge].size());
    EXPECT_TRUE(list("banList").items()[huge] == "Key: " + key + " Perm") << "the long entry's bytes differ";
    EXPECT_EQ(list("banList").items().mid(0, huge), bans.mid(0, huge));

    list("banList").setSelectedIndex(int(huge));
    const qsizetype mark = logLines().size();
    EXPECT_EQ(sentBy([&] { button("removeBanButton").click(); }, 0), Lines());
    EXPECT_EQ(logLinesSince(mark),
              Lines({"The command is too long for the server (10,485,792 bytes, at most 1,021)..."}));
    EXPECT_EQ(list("banList").count(), bans.size());
    EXPECT_EQ(status(), "Connected to 127.0.0.1");
}

TEST_F(RobustnessTest, NulDelAndFFBytesGoIntoTheListsAndBackToTheServerUnchanged)
{
    const QByteArray odd("\x00\x7f\xff\x81", 4);
    server().game().addPlayer({30, "Odd" + odd + "Name", "10.0.0.30", 3030, "hash" + odd});
    server().game().addBan({"key" + odd + "end", BanKind::Perm});
    connectAndLogin();
    const GameState& game = server().game();
    refresh(&button("refreshPlayersButton"), &list("playerList"), game.players().size());
    EXPECT_EQ(list("playerList").items(), sorted(listingEntries(game.playerListing(), true)));
    refresh(&button("refreshBansButton"), &list("banList"), game.bans().size());
    EXPECT_EQ(list("banList").items(), listingEntries(game.banListing(), false));

    const QByteArray banLine = "Key: key" + odd + "end Perm";
    const int banIndex = int(list("banList").items().indexOf(banLine));
    ASSERT_GE(banIndex, 0);
    list("banList").setSelectedIndex(banIndex);
    qsizetype sent = server().receivedLines().size();
    button("removeBanButton").click();
    ASSERT_TRUE(WaitUntil([&] { return server().receivedLines().size() > sent; }));
    EXPECT_EQ(server().receivedLines().at(sent), framed("exec admin.removeKeyFromBanList key" + odd + "end"));
    EXPECT_EQ(logLines().last(), "key" + odd + "end removed from ban list...");
    EXPECT_TRUE(WaitUntil([&] { return game.bans().size() == 4; })) << "the server found the key it holds";

    // A player id made of odd bytes: a scripted reply, as the practice server numbers its players.
    const QByteArray playerLine = "Id: " + odd + " - x is remote ip: 10.0.0.1:1 ->";
    const QByteArray hashLine = "         CD-key hash: " + odd;
    server().sendRaw(playerLine + '\n' + hashLine + "\n\x04");
    ASSERT_TRUE(WaitUntil([&] { return list("playerList").items() == Lines({playerLine + hashLine}); }));
    list("playerList").setSelectedIndex(0);
    sent = server().receivedLines().size();
    button("kickButton").click();
    ASSERT_TRUE(WaitUntil([&] { return server().receivedLines().size() > sent; }));
    EXPECT_EQ(server().receivedLines().at(sent), framed("exec admin.kickplayer " + odd));
    EXPECT_EQ(logLines().last(), "Player ID " + odd + " has been kicked...");
}

TEST_F(RobustnessTest, AFullDiskKeepsTheStoredFilesWhole)
{
    const QString small = workPath(QStringLiteral("small"));
    ASSERT_TRUE(QDir().mkpath(small));
    const QByteArray mountPoint = QFile::encodeName(small);
    if (::mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root): " << std::strerror(errno);
    const auto unmount = qScopeGuard([&] {
        destroyWindow();
        QDir::setCurrent(workPath(QString()));
        ::umount2(mountPoint.constData(), MNT_DETACH);
    });

    const QByteArray settings = "[Settings]\r\nipaddress=kept\r\nport=4711\r\n";
    const QByteArray table = "1\r\n2\r\nfirst\r\nsecond\r\n";
    const auto write = [&](const char* name, const QByteArray& bytes) {
        QFile file(small + '/' + QLatin1String(name));
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };
    ASSERT_TRUE(write("settings.ini", settings) && write("servermessages.dat", table) && write("maps.dat", "map\r\n"));
    QDir::setCurrent(small);
    MainWindow& mainWindow = createWindow(small);
    ASSERT_TRUE(dialogs_->errors().isEmpty());

    QFile filler(small + QStringLiteral("/filler"));
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
    while (filler.write(QByteArray(4096, 'f')) == 4096 && filler.flush()) { }
    filler.close();
    const auto read = [&](const char* name) {
        QFile file(small + '/' + QLatin1String(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
    };

    control<StringGrid>("announcementGrid").setCell(0, 0, "changed");
    button("saveAnnouncementsButton").click();
    EXPECT_EQ(dialogs_->errors(), QList<QString>({QStringLiteral("Disk full.")}));
    EXPECT_EQ(read("servermessages.dat"), table);

    dialogs_->shown.clear();
    mainWindow.show();
    edit("serverAddressEdit").setText(QStringLiteral("changed"));
    control<QAction>("exitAction").trigger();
    // A settings write that fails for any reason says which file it could not write.
    EXPECT_EQ(dialogs_->errors(), QList<QString>({"Unable to write to " + small + "/settings.ini."}));
    EXPECT_FALSE(mainWindow.isVisible()) << "the window still closes";
    EXPECT_EQ(read("settings.ini"), settings);
    EXPECT_EQ(QDir(small).entryList(QDir::Files | QDir::Hidden),
              QStringList({"filler", "maps.dat", "servermessages.dat", "settings.ini"}))
        << "no temporary file is left behind";
}
