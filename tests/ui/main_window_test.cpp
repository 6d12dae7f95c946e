// The main window as designed: its controls, their places and order, the
// shell's own handlers, the spin edit's rules and the About window.

#include "app/about_window.h"
#include "app/command_line.h"
#include "app/list_box.h"
#include "app/placement.h"
#include "app/spin_edit.h"
#include "app/string_grid.h"
#include "app/text_codec.h"
#include "window_fixture.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

namespace {

using Lines = QList<QByteArray>;

struct Control
{
    const char* name;
    const char* parent;
    const char* caption; // nullptr: none to check
    QRect geometry;      // an empty size: a label that sizes itself, only its place is checked
    const char* hint = "";
};

// The designed controls, as the window's control tables lay them out.
// clang-format off
const Control kControls[] = {
    {"loginBox", "clientArea", "Login", {8, 8, 385, 89}},
    {"serverAddressLabel", "loginBox", "Server IP:", {8, 16, 0, 0}},
    {"serverAddressEdit", "loginBox", nullptr, {64, 16, 121, 21}},
    {"portLabel", "loginBox", "Port:", {200, 16, 0, 0}},
    {"portEdit", "loginBox", nullptr, {232, 16, 41, 21}},
    {"passwordLabel", "loginBox", "Password:", {8, 44, 0, 0}},
    {"passwordEdit", "loginBox", nullptr, {64, 44, 121, 21}},
    {"connectButton", "loginBox", "Connect", {296, 16, 73, 24}},
    {"disconnectButton", "loginBox", "Disconnect", {296, 48, 75, 25}},
    {"logBox", "clientArea", "Log", {400, 8, 385, 89}},
    {"logView", "logBox", nullptr, {8, 16, 369, 65}},
    {"pages", "clientArea", nullptr, {8, 104, 777, 409}},
    {"statusBar", "clientArea", nullptr, {0, 517, 791, 19}},
    {"playersBox", "playersPage", "Player List", {8, 4, 753, 373}},
    {"playerList", "playersBox", nullptr, {8, 16, 649, 345}},
    {"refreshPlayersButton", "playersBox", "Refresh", {664, 16, 75, 25}, "Refresh Player List"},
    {"kickButton", "playersBox", "Kick", {664, 48, 75, 25}, "Kick the selected player from the server"},
    {"banForRoundButton", "playersBox", "Ban for round", {664, 80, 75, 25},
     "This will ban the selected player for the rest of the round."},
    {"banPermanentlyButton", "playersBox", "Perm Ban", {664, 112, 75, 25}, "This is will ban a player permanently"},
    {"bansBox", "bansPage", "Ban List", {8, 4, 753, 373}},
    {"banList", "bansBox", nullptr, {8, 16, 649, 343}},
    {"refreshBansButton", "bansBox", "Refresh", {664, 16, 75, 25}},
    {"addKeyHashButton", "bansBox", "Add Key Hash", {664, 48, 75, 25}},
    {"removeBanButton", "bansBox", "Remove", {664, 80, 75, 25}},
    {"clearBansButton", "bansBox", "Clear Ban List", {664, 112, 75, 25}},
    {"mapsBox", "mapsPage", "Map Rotation", {8, 4, 753, 373}},
    {"localMapsLabel", "mapsBox", "Local Maps", {8, 24, 0, 0}},
    {"localMapList", "mapsBox", nullptr, {8, 40, 281, 320}},
    {"addMapButton", "mapsBox", "Add -->", {296, 40, 75, 25}},
    {"removeMapButton", "mapsBox", "<-- Remove", {296, 72, 75, 25}},
    {"rotationLabel", "mapsBox", "Server Map Rotation", {376, 24, 0, 0}},
    {"rotationList", "mapsBox", nullptr, {376, 40, 281, 320}},
    {"refreshMapsButton", "mapsBox", "Refresh Maps", {664, 40, 75, 25}},
    {"saveMapsButton", "mapsBox", "Save Maps", {664, 72, 75, 25}},
    {"runNextMapButton", "mapsBox", "Run Next Map", {664, 104, 75, 25}},
    {"restartMapButton", "mapsBox", "Restart Map", {664, 136, 75, 25}},
    {"pauseButton", "mapsBox", "Pause", {664, 168, 75, 25}},
    {"currentMapButton", "mapsBox", "Current Map", {664, 204, 75, 25}},
    {"autoAnnounceBox", "announcementsPage", "Auto Announce", {8, 8, 753, 281}},
    {"autoAnnounceCheck", "autoAnnounceBox", "Auto Announce:", {8, 24, 97, 17},
     "If auto announce is turned on then the above messages will be displayed with the interval below."},
    {"delayLabel", "autoAnnounceBox", "Delay in Seconds:", {128, 24, 0, 0}},
    {"delaySpin", "autoAnnounceBox", nullptr, {218, 21, 47, 22},
     "This is the delay in seconds between each line being displayed."},
    {"announcementGrid", "autoAnnounceBox", nullptr, {8, 56, 737, 177},
     "Type your server message to be displayed here."},
    {"saveAnnouncementsButton", "autoAnnounceBox", "Save", {8, 243, 75, 25}, "Save the server messages"},
    {"addLineButton", "autoAnnounceBox", "Add Line", {94, 243, 75, 25},
     "This button will add a line to the bottem of the server mesages box"},
    {"removeLineButton", "autoAnnounceBox", "Remove Line", {184, 243, 75, 25},
     "This button will remove the bottem line from the server messages box"},
    {"adminMessageBox", "announcementsPage", "Admin Message", {8, 292, 577, 85}},
    {"chatNameLabel", "adminMessageBox", "Chat name:", {8, 24, 0, 0}},
    {"chatNameEdit", "adminMessageBox", nullptr, {72, 24, 137, 21}},
    {"usmcCheck", "adminMessageBox", "Send to USMC", {232, 24, 97, 17}},
    {"mecCheck", "adminMessageBox", "Send to MEC/China", {336, 24, 121, 17}},
    {"messageLabel", "adminMessageBox", "Message:", {16, 48, 0, 0}},
    {"messageEdit", "adminMessageBox", nullptr, {72, 48, 369, 21}},
    {"sendMessageButton", "adminMessageBox", "Send", {480, 32, 75, 25}},
    {"consoleBox", "otherPage", "Remote Console", {8, 12, 313, 85}},
    {"commandEdit", "consoleBox", nullptr, {8, 20, 281, 21}},
    {"sendCommandButton", "consoleBox", "Send", {112, 48, 73, 25}},
    {"recorderBox", "otherPage", "Battlefield Recorder", {8, 108, 313, 85}},
    {"demoNameLabel", "recorderBox", "Demo Name:", {8, 16, 0, 0}},
    {"demoNameEdit", "recorderBox", nullptr, {80, 16, 225, 21}},
    {"recordButton", "recorderBox", "Record", {80, 48, 75, 25}},
    {"stopButton", "recorderBox", "Stop", {176, 48, 75, 25}},
};
// clang-format on

// The caption as shown: a mnemonic's "&" only underlines the letter after it.
QString shown(QString caption)
{
    return caption.remove(u'&');
}

QString captionOf(QWidget* widget)
{
    if (auto* box = qobject_cast<QGroupBox*>(widget))
        return shown(box->title());
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return shown(button->text());
    if (auto* label = qobject_cast<QLabel*>(widget))
        return shown(label->text());
    return {};
}

// Each parent's focusable controls in the order the focus chain visits them.
std::map<QString, QStringList> tabOrderByParent(MainWindow& window)
{
    std::map<QString, QStringList> order;
    QWidget* start = window.findChild<QWidget*>(QStringLiteral("serverAddressEdit"));
    QWidget* widget = start;
    do {
        if (widget->focusPolicy() & Qt::TabFocus && widget->parentWidget() && window.isAncestorOf(widget))
            order[widget->parentWidget()->objectName()].append(widget->objectName());
        widget = widget->nextInFocusChain();
    } while (widget != start);
    return order;
}

} // namespace

class MainWindowTest : public WindowTest
{
protected:
    void showPage(const char* name) { control<QTabWidget>("pages").setCurrentWidget(&control<QWidget>(name)); }
};

TEST_F(MainWindowTest, ControlsAreWhereTheDesignPutsThem)
{
    MainWindow& mainWindow = window();
    for (const Control& c : kControls) {
        auto* widget = mainWindow.findChild<QWidget*>(QLatin1String(c.name));
        ASSERT_TRUE(widget) << c.name;
        EXPECT_EQ(widget->parentWidget()->objectName(), QLatin1String(c.parent)) << c.name;
        if (c.caption) {
            EXPECT_EQ(captionOf(widget), QLatin1String(c.caption)) << c.name;
        }
        if (c.geometry.size().isEmpty()) {
            EXPECT_EQ(widget->pos(), c.geometry.topLeft()) << c.name;
        } else {
            EXPECT_EQ(widget->geometry(), c.geometry) << c.name;
        }
        EXPECT_EQ(widget->toolTip(), QLatin1String(c.hint)) << c.name;
    }
}

TEST_F(MainWindowTest, TheWindowHasItsDesignedFrameMenuPagesAndState)
{
    MainWindow& mainWindow = window();
    mainWindow.show();
    EXPECT_EQ(mainWindow.windowTitle(), QStringLiteral("Ravelin v0.2 :: github.com/bastionrow/ravelin"));
    EXPECT_EQ(control<QWidget>("clientArea").size(), QSize(791, 536));
    EXPECT_EQ(mainWindow.minimumSize(), mainWindow.maximumSize()) << "the window cannot be resized";
    EXPECT_FALSE(mainWindow.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(mainWindow.pos(), QPoint(303, 243));

    QStringList menus;
    for (QAction* menu : mainWindow.menuBar()->actions())
        for (QAction* item : menu->menu()->actions())
            menus.append(shown(menu->text()) + '>' + shown(item->text()));
    EXPECT_EQ(menus,
              QStringList({"File>Open Log Folder", "File>", "File>Exit", "Servers>No saved servers", "Servers>",
                           "Servers>Save Current Server...", "Servers>Manage Servers...", "Servers>",
                           "Servers>Reconnect Automatically", "Servers>", "Servers>Fleet...",
                           "Servers>Player History...", "Servers>Record Players", "Servers>Player Store...",
                           "Help>About"}));

    QStringList pages;
    for (int i = 0; i < control<QTabWidget>("pages").count(); ++i)
        pages.append(control<QTabWidget>("pages").widget(i)->objectName() + '='
                     + control<QTabWidget>("pages").tabText(i));
    EXPECT_EQ(pages,
              QStringList({"playersPage=Player List", "bansPage=Ban List", "mapsPage=Map Rotation",
                           "announcementsPage=Server Announcements", "otherPage=Other"}));
    EXPECT_EQ(control<QTabWidget>("pages").currentWidget(), &control<QWidget>("announcementsPage"));

    EXPECT_FALSE(button("currentMapButton").isVisible());
    EXPECT_EQ(edit("passwordEdit").echoMode(), QLineEdit::Password);
    EXPECT_FALSE(control<QPlainTextEdit>("logView").isReadOnly());
    EXPECT_EQ(control<QPlainTextEdit>("logView").lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(control<QPlainTextEdit>("logView").verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_GE(control<QLabel>("statusLabel").width(), control<QStatusBar>("statusBar").width() - 8)
        << "the one panel spans the bar";
    EXPECT_TRUE(control<QTimer>("announceTimer").isActive());
    EXPECT_EQ(control<QTimer>("announceTimer").interval(), 10000);
    EXPECT_FALSE(control<QCheckBox>("autoAnnounceCheck").isChecked());
    EXPECT_TRUE(control<QCheckBox>("mecCheck").isChecked() && control<QCheckBox>("usmcCheck").isChecked());
    EXPECT_EQ(control<QCheckBox>("autoAnnounceCheck").layoutDirection(), Qt::RightToLeft) << "caption on the left";

    StringGrid& grid = control<StringGrid>("announcementGrid");
    EXPECT_EQ(grid.colCount(), 1);
    EXPECT_EQ(grid.columnWidth(0), 716);
    EXPECT_EQ(grid.rowHeight(0), 16);
    EXPECT_TRUE(grid.showGrid());
    EXPECT_FALSE(grid.horizontalHeader()->isVisible() || grid.verticalHeader()->isVisible())
        << "no fixed row or column";
    EXPECT_EQ(grid.selectionMode(), QAbstractItemView::ContiguousSelection);
    EXPECT_TRUE(grid.model()->flags(grid.model()->index(0, 0)) & Qt::ItemIsEditable);
}

TEST_F(MainWindowTest, TheDesignedTableHasOneColumnOfTwentyRows)
{
    removeFile(QStringLiteral("servermessages.dat"));
    EXPECT_EQ(control<StringGrid>("announcementGrid").colCount(), 1);
    EXPECT_EQ(control<StringGrid>("announcementGrid").rowCount(), 20);
}

TEST_F(MainWindowTest, TabOrderFollowsTheDesignWithinEachParent)
{
    const std::map<QString, QStringList> expected = {
        {"loginBox", {"serverAddressEdit", "portEdit", "passwordEdit", "connectButton", "disconnectButton"}},
        {"playersBox",
         {"playerList", "refreshPlayersButton", "kickButton", "banForRoundButton", "banPermanentlyButton"}},
        {"bansBox", {"banList", "refreshBansButton", "addKeyHashButton", "removeBanButton", "clearBansButton"}},
        {"mapsBox",
         {"rotationList", "addMapButton", "removeMapButton", "refreshMapsButton", "saveMapsButton", "runNextMapButton",
          "restartMapButton", "pauseButton", "currentMapButton", "localMapList"}},
        {"adminMessageBox", {"mecCheck", "usmcCheck", "chatNameEdit", "messageEdit", "sendMessageButton"}},
        {"autoAnnounceBox",
         {"autoAnnounceCheck", "delaySpin", "saveAnnouncementsButton", "announcementGrid", "addLineButton",
          "removeLineButton"}},
        {"recorderBox", {"recordButton", "stopButton", "demoNameEdit"}},
        {"consoleBox", {"commandEdit", "sendCommandButton"}},
    };
    const auto order = tabOrderByParent(window());
    for (const auto& [parent, controls] : expected) {
        ASSERT_TRUE(order.count(parent)) << parent.toStdString();
        EXPECT_EQ(order.at(parent), controls) << parent.toStdString();
    }
    EXPECT_EQ(control<QStatusBar>("statusBar").focusPolicy(), Qt::NoFocus);
}

TEST_F(MainWindowTest, OnlyThePlayerListIsSorted)
{
    const Lines arrival = {"Id: 9 b", "Id: 10 a", "Id:  3 c", "Id: 10 a"};
    for (const char* name : {"playerList", "banList", "rotationList", "localMapList"}) {
        list(name).clear();
        list(name).append(arrival.mid(0, 2));
        list(name).append(arrival.mid(2));
    }
    EXPECT_EQ(list("playerList").items(), Lines({"Id:  3 c", "Id: 10 a", "Id: 10 a", "Id: 9 b"}));
    EXPECT_EQ(list("banList").items(), arrival);
    EXPECT_EQ(list("rotationList").items(), arrival);
    EXPECT_EQ(list("localMapList").items(), arrival);
}

TEST_F(MainWindowTest, ChangingPagesAsksForThatPagesListOnlyWhileConnected)
{
    for (const char* page : {"playersPage", "bansPage", "mapsPage", "otherPage"})
        showPage(page);
    EXPECT_TRUE(logLines().isEmpty());

    connectAndLogin();
    for (const char* page : {"playersPage", "announcementsPage", "bansPage", "otherPage", "mapsPage"})
        showPage(page);
    const Lines expected = {framed("exec admin.listplayers"), framed("exec admin.listBannedKeys"),
                            framed("exec maplist.list")};
    WaitUntil([&] { return commandsAfterLogin().size() >= expected.size(); });
    SpinEventLoop(std::chrono::milliseconds(30));
    EXPECT_EQ(commandsAfterLogin(), expected);
}

TEST_F(MainWindowTest, FocusEnteringTheMapRotationBoxAsksForTheRotation)
{
    MainWindow& mainWindow = window();
    mainWindow.show();
    mainWindow.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&mainWindow));
    showPage("mapsPage");
    list("rotationList").setFocus();
    list("localMapList").setFocus(); // moving inside the box is no new entry
    EXPECT_EQ(logLines(), Lines({"Error not connected..."}));

    connectAndLogin();
    edit("serverAddressEdit").setFocus();
    button("addMapButton").setFocus();
    WaitUntil([&] { return !commandsAfterLogin().isEmpty(); });
    EXPECT_EQ(commandsAfterLogin(), Lines({framed("exec maplist.list")}));
}

TEST_F(MainWindowTest, TheDelayOnlyStepsAndStaysWithinItsBounds)
{
    SpinEdit& delay = control<SpinEdit>("delaySpin");
    QList<QString> changes;
    QObject::connect(&delay, &QSpinBox::textChanged, [&](const QString& text) { changes.append(text); });

    QTest::keyClick(&delay, Qt::Key_Up);
    EXPECT_EQ(delay.textValue(), 15);
    QTest::keyClick(&delay, Qt::Key_Down);
    QTest::keyClick(&delay, Qt::Key_Down);
    EXPECT_EQ(delay.textValue(), 5);
    QTest::keyClick(&delay, Qt::Key_Down);
    EXPECT_EQ(delay.textValue(), 5) << "never below 5";
    QTest::keyClicks(&delay, QStringLiteral("7"));
    QTest::keyClick(&delay, Qt::Key_Backspace);
    EXPECT_EQ(delay.text(), QStringLiteral("5")) << "typing is refused";
    EXPECT_EQ(changes, QList<QString>({"15", "10", "5"}));

    delay.setValue(7);
    QTest::keyClick(&delay, Qt::Key_Up);
    EXPECT_EQ(delay.textValue(), 12) << "steps of 5 from wherever the value stands";
    QTest::keyClick(&delay, Qt::Key_PageUp);
    EXPECT_EQ(delay.textValue(), 17) << "a page is one step";
    QTest::keyClick(&delay, Qt::Key_PageDown);
    QTest::keyClick(&delay, Qt::Key_PageDown);
    EXPECT_EQ(delay.textValue(), 7);
    delay.setValue(5000);
    EXPECT_EQ(delay.textValue(), 1000);
    QTest::keyClick(&delay, Qt::Key_Up);
    EXPECT_EQ(delay.textValue(), 1000);
    EXPECT_EQ(control<QTimer>("announceTimer").interval(), 1000 * 1000) << "every change reaches the announcer";
}

// Walking the window with Tab visits every control of the login box, the log
// and the page in front, in their designed order, and comes back round to the
// Server IP box; Shift+Tab walks the same way back. No control keeps the key.
TEST_F(MainWindowTest, TheKeyboardWalksTheWholeWindowAndComesBackRound)
{
    MainWindow& mainWindow = window();
    mainWindow.show();
    mainWindow.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&mainWindow));
    const QStringList top = {"portEdit",         "passwordEdit", "connectButton",
                             "disconnectButton", "logView",      "qt_tabwidget_tabbar"};
    const std::map<QString, QStringList> pages = {
        {"playersPage",
         {"playerList", "refreshPlayersButton", "kickButton", "banForRoundButton", "banPermanentlyButton"}},
        {"bansPage", {"banList", "refreshBansButton", "addKeyHashButton", "removeBanButton", "clearBansButton"}},
        {"mapsPage",
         {"rotationList", "addMapButton", "removeMapButton", "refreshMapsButton", "saveMapsButton", "runNextMapButton",
          "restartMapButton", "pauseButton", "localMapList"}},
        {"announcementsPage",
         {"mecCheck", "usmcCheck", "chatNameEdit", "messageEdit", "sendMessageButton", "autoAnnounceCheck", "delaySpin",
          "saveAnnouncementsButton", "announcementGrid", "addLineButton", "removeLineButton"}},
        {"otherPage", {"recordButton", "stopButton", "demoNameEdit", "commandEdit", "sendCommandButton"}},
    };
    const auto walk = [&](Qt::KeyboardModifiers modifiers) {
        edit("serverAddressEdit").setFocus(Qt::TabFocusReason);
        QStringList visited;
        for (int i = 0; i < 40; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, modifiers);
            QWidget* now = QApplication::focusWidget();
            if (now == &edit("serverAddressEdit"))
                return visited;
            visited.append(now ? now->objectName() : QStringLiteral("(nothing)"));
        }
        visited.append(QStringLiteral("(never back at the Server IP box)"));
        return visited;
    };
    for (const auto& [page, controls] : pages) {
        showPage(page.toLatin1().constData());
        const QStringList forward = top + controls;
        EXPECT_EQ(walk(Qt::NoModifier), forward) << page.toStdString();
        QStringList backward(forward.rbegin(), forward.rend());
        EXPECT_EQ(walk(Qt::ShiftModifier), backward) << page.toStdString();
    }
    EXPECT_TRUE(control<QPlainTextEdit>("logView")
                    .toPlainText()
                    .remove(QStringLiteral("Error not connected..."))
                    .trimmed()
                    .isEmpty())
        << "Tab typed into the log";
}

// A page change carries the focus from the page that went away into the one
// that came to the front; that is no entry into the Map Rotation box.
TEST_F(MainWindowTest, ChangingPagesFromTheKeyboardOrTheWheelIsNoEntryIntoTheRotationBox)
{
    MainWindow& mainWindow = window();
    mainWindow.show();
    mainWindow.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&mainWindow));
    showPage("bansPage");
    list("banList").setFocus(Qt::MouseFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(control<QTabWidget>("pages").currentWidget(), &control<QWidget>("mapsPage"));
    EXPECT_EQ(logLines(), Lines()) << "after Ctrl+Tab";
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageDown, Qt::ControlModifier);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageUp, Qt::ControlModifier);
    EXPECT_EQ(control<QTabWidget>("pages").currentWidget(), &control<QWidget>("mapsPage"));
    EXPECT_EQ(logLines(), Lines()) << "after Ctrl+Page Down and Up";

    QTabBar* tabs = control<QTabWidget>("pages").tabBar();
    showPage("bansPage");
    list("banList").setFocus(Qt::MouseFocusReason);
    const QPointF at = tabs->rect().center();
    QWheelEvent down(at, tabs->mapToGlobal(at), {}, {0, -120}, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(tabs, &down);
    EXPECT_EQ(control<QTabWidget>("pages").currentWidget(), &control<QWidget>("mapsPage"));
    EXPECT_TRUE(logLines().isEmpty()) << "a page change while not connected logs nothing";
}

TEST_F(MainWindowTest, TheAboutWindowShowsItsPictureAndIsReused)
{
    AboutWindow about(dialogs_);
    int asked = 0;
    window().setAboutWindow([&]() -> AboutWindow& {
        ++asked;
        return about;
    });
    const QLabel* picture = about.findChild<QLabel*>(QStringLiteral("pictureLabel"));
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->pixmap().size(), QSize(200, 100)) << "decoded from the built-in JPEG";
    EXPECT_EQ(picture->size(), QSize(199, 97));
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About Casemate"));
    EXPECT_EQ(about.size(), QSize(299, 383));

    control<QAction>("aboutAction").trigger();
    control<QAction>("aboutAction").trigger();
    EXPECT_EQ(dialogs_->modalDialogs, QList<QDialog*>({&about, &about}));
    EXPECT_EQ(asked, 2);
}

TEST(TextCodec, EveryByteSurvivesTheTripThroughAWidget)
{
    QByteArray all(256, Qt::Uninitialized);
    for (int b = 0; b < 256; ++b)
        all[b] = char(b);
    QLineEdit edit;
    edit.setText(toDisplay(all));
    EXPECT_EQ(toBytes(edit.text()), all);

    EXPECT_EQ(toDisplay("\x80\x81\x9f\xe9"), QString::fromUtf16(u"\u20ac\u0081\u0178\u00e9"));
    EXPECT_EQ(toBytes(QString::fromUtf16(u"\u20ac\u2122 \u4e2d")), QByteArray("\x80\x99 ?"));
}

// The real input box, answered by typing into it while it is open: its entry
// takes no more than the limit it was given.
TEST(Dialogs, TheInputBoxTakesAtMostItsLimit)
{
    QtDialogs dialogs;
    QTimer::singleShot(0, [] {
        auto* box = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
        ASSERT_TRUE(box);
        auto* entry = box->findChild<QLineEdit*>();
        ASSERT_TRUE(entry);
        QTest::keyClicks(entry, QString(300, u'k'));
        box->accept();
    });
    const std::optional<QString> answer = dialogs.inputQuery(nullptr, QStringLiteral("Ravelin"), QStringLiteral("?"),
                                                             255);
    ASSERT_TRUE(answer);
    EXPECT_EQ(*answer, QString(255, u'k'));
}

// The underlined letters: Alt and a label's letter moves the focus to the
// control it names; Alt and a button's letter presses it. Ctrl+Q quits.
TEST_F(MainWindowTest, AltAndAnUnderlinedLetterReachesTheControl)
{
    MainWindow& mainWindow = window();
    mainWindow.show();
    mainWindow.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&mainWindow));
    struct Case
    {
        const char* page;
        Qt::Key key;
        const char* focus; // nullptr: a button, known by what it logs
        Lines log;
    };
    const QList<Case> cases = {
        {"announcementsPage", Qt::Key_I, "serverAddressEdit", {}},
        {"announcementsPage", Qt::Key_O, "portEdit", {}},
        {"announcementsPage", Qt::Key_P, "passwordEdit", {}},
        {"announcementsPage", Qt::Key_Y, "delaySpin", {}},
        {"announcementsPage", Qt::Key_N, "chatNameEdit", {}},
        {"announcementsPage", Qt::Key_G, "messageEdit", {}},
        {"announcementsPage", Qt::Key_E, nullptr, {"Error not connected...", "Message sent to all..."}},
        {"playersPage", Qt::Key_K, nullptr, {"No player selected"}},
        {"bansPage", Qt::Key_E, nullptr, {"No key selected"}},
        {"mapsPage", Qt::Key_A, nullptr, {"No map selected..."}},
        {"otherPage", Qt::Key_N, "demoNameEdit", {}},
        {"otherPage", Qt::Key_T, nullptr, {"Error not connected...", "Stopping recording..."}},
    };
    for (const Case& c : cases) {
        showPage(c.page);
        edit("serverAddressEdit").setFocus();
        const qsizetype mark = logLines().size();
        QTest::keyClick(&mainWindow, c.key, Qt::AltModifier);
        // A pressed button shows itself pressed for a moment before it clicks.
        WaitUntil([&] { return logLinesSince(mark).size() >= c.log.size(); });
        if (c.focus) {
            ASSERT_TRUE(QApplication::focusWidget()) << c.page << ' ' << c.focus;
            EXPECT_EQ(QApplication::focusWidget()->objectName(), QLatin1String(c.focus)) << c.page;
        }
        EXPECT_EQ(logLinesSince(mark), c.log) << c.page << ' ' << QKeySequence(c.key).toString().toStdString();
    }

    QTest::keyClick(&mainWindow, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(mainWindow.isVisible()) << "Ctrl+Q closes the window";
}

// Each page, with the menu bar and the login boxes always beside it, has no
// underlined letter twice: Alt and a shared letter would only cycle between them.
TEST_F(MainWindowTest, NoUnderlinedLetterIsTakenTwiceOnAnyPage)
{
    const auto lettersOf = [](QWidget* area) {
        QStringList letters;
        for (QWidget* widget : area->findChildren<QWidget*>()) {
            const auto* label = qobject_cast<QLabel*>(widget);
            QString text = label && label->buddy() ? label->text() : QString();
            if (auto* button = qobject_cast<QAbstractButton*>(widget))
                text = button->text();
            const qsizetype at = text.indexOf(u'&');
            if (at >= 0 && at + 1 < text.size() && widget->isVisibleTo(area->window()))
                letters.append(text.at(at + 1).toUpper() + QStringLiteral(" ") + widget->objectName());
        }
        return letters;
    };
    MainWindow& mainWindow = window();
    QStringList always = lettersOf(&control<QWidget>("loginBox"));
    for (QAction* menu : mainWindow.menuBar()->actions())
        always.append(menu->text().at(menu->text().indexOf(u'&') + 1).toUpper() + QStringLiteral(" menu"));
    QTabWidget& pages = control<QTabWidget>("pages");
    for (int i = 0; i < pages.count(); ++i) {
        pages.setCurrentIndex(i);
        QMap<QChar, QStringList> owners;
        for (const QString& letter : always + lettersOf(pages.widget(i)))
            owners[letter.at(0)].append(letter.mid(2));
        for (auto it = owners.cbegin(); it != owners.cend(); ++it)
            EXPECT_EQ(it.value().size(), 1) << pages.widget(i)->objectName().toStdString() << ": "
                                            << it.value().join(QStringLiteral(", ")).toStdString();
    }
}

// Enter in a box does what the button beside it does.
TEST_F(MainWindowTest, EnterInABoxDoesWhatItsButtonDoes)
{
    struct Case
    {
        const char* box;
        QByteArray text;
        Lines log;
    };
    const QList<Case> cases = {
        {"messageEdit", "hello", {"Error not connected...", "Message sent to all..."}},
        {"commandEdit", "exec admin.listplayers", {"Error not connected..."}},
        {"demoNameEdit", "", {"Please enter a name for your demo..."}},
        {"passwordEdit", "secret", {"Please enter the server IP address"}},
    };
    for (const Case& c : cases) {
        fill(c.box, c.text);
        const qsizetype mark = logLines().size();
        QTest::keyClick(&edit(c.box), Qt::Key_Return);
        EXPECT_EQ(logLinesSince(mark), c.log) << c.box;
    }
    fill("serverAddressEdit", "127.0.0.1");
    fill("portEdit", QByteArray::number(server().port()));
    QTest::keyClick(&edit("passwordEdit"), Qt::Key_Enter);
    EXPECT_TRUE(WaitUntil([&] { return status() == "Connected to 127.0.0.1"; }))
        << "Enter in the password box connects";
}

// What a screen reader says for each control: its label's words, or the title
// of the group it fills.
TEST_F(MainWindowTest, EveryBoxListAndGridHasTheNameAScreenReaderReads)
{
    const std::pair<const char*, const char*> names[] = {
        {"serverAddressEdit", "Server IP"},
        {"portEdit", "Port"},
        {"passwordEdit", "Password"},
        {"chatNameEdit", "Chat name"},
        {"messageEdit", "Message"},
        {"delaySpin", "Delay in Seconds"},
        {"demoNameEdit", "Demo Name"},
        {"commandEdit", "Remote Console"},
        {"logView", "Log"},
        {"playerList", "Player List"},
        {"banList", "Ban List"},
        {"localMapList", "Local Maps"},
        {"rotationList", "Server Map Rotation"},
        {"announcementGrid", "Auto Announce"},
    };
    for (const auto& [control, name] : names) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&this->control<QWidget>(control));
        ASSERT_TRUE(accessible) << control;
        EXPECT_EQ(accessible->text(QAccessible::Name), QLatin1String(name)) << control;
    }
}

TEST(AboutWindow, StaysReadableUnderADarkDesktopPalette)
{
    const QPalette before = QApplication::palette();
    QPalette dark;
    for (const auto role : {QPalette::Window, QPalette::Base, QPalette::Button})
        dark.setColor(role, QColor(0x30, 0x30, 0x30));
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(role, QColor(0xe0, 0xe0, 0xe0));
    QApplication::setPalette(dark);
    AboutWindow about(std::make_shared<QtDialogs>());
    for (QLabel* label : about.findChildren<QLabel*>()) {
        if (label->text().isEmpty() || label->objectName() == QLatin1String("supportLinkLabel"))
            continue;
        const QColor text = label->palette().color(QPalette::WindowText);
        const QColor ground = about.palette().color(QPalette::Window);
        EXPECT_GT(qAbs(ground.lightness() - text.lightness()), 128) << label->objectName().toStdString();
    }
    QApplication::setPalette(before);
}

// The window's controls sit at fixed places: each text must show whole, inside
// the window, and the licence notice must name the file where it really is.
TEST(AboutWindow, ShowsEachTextWholeAndNamesTheLicenceWhereItIs)
{
    QTemporaryDir prefix;
    ASSERT_TRUE(prefix.isValid());
    const QString installedLicence = prefix.filePath(QStringLiteral("share/doc/ravelin/LICENCE.txt"));
    ASSERT_TRUE(QDir().mkpath(prefix.filePath(QStringLiteral("share/doc/ravelin"))));
    QFile licence(installedLicence);
    ASSERT_TRUE(licence.open(QIODevice::WriteOnly));
    licence.close();
    const struct
    {
        const char* copy;
        QString executableDir;
        QString named;
    } cases[] = {
        {"installed", prefix.filePath(QStringLiteral("bin")), installedLicence},
        {"run from its build", prefix.filePath(QStringLiteral("build/src/app")), QStringLiteral("LICENCE.txt")},
    };
    for (const auto& c : cases) {
        const QString shown = licenceNotice(c.executableDir);
        EXPECT_TRUE(shown.endsWith(QStringLiteral(" in the file ") + c.named + u'.'))
            << c.copy << ": " << shown.toStdString();

        // Shown as a copy installed under /usr shows it; the scratch prefix's own length is no measure.
        AboutWindow about(std::make_shared<QtDialogs>());
        auto* notice = about.findChild<QLabel*>(QStringLiteral("licenceLabel"));
        ASSERT_TRUE(notice);
        notice->setText(QString(shown).replace(prefix.path(), QStringLiteral("/usr")));
        for (const QLabel* label : about.findChildren<QLabel*>()) {
            const std::string name = c.copy + (": " + label->objectName().toStdString());
            EXPECT_TRUE(about.rect().contains(label->geometry())) << name;
            if (label->text().isEmpty())
                continue;
            // A word too long for its line is not broken: it runs past the edge, and is cut there.
            const QRect room = label->contentsRect();
            const QRect needed = label->fontMetrics().boundingRect(
                QRect(room.topLeft(), QSize(room.width(), QWIDGETSIZE_MAX)),
                int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0), label->text());
            EXPECT_LE(needed.width(), room.width()) << name << ": " << label->text().toStdString();
            EXPECT_LE(needed.height(), room.height()) << name << ": " << label->text().toStdString();
        }
    }
}

// Too tall for the screen's free area (a small screen, a large scale factor),
// the window fits it and its content scrolls, the status bar in view. (Where
// it fits, it keeps its designed frame: see above.)
TEST_F(MainWindowTest, AWindowTooTallForTheScreenFitsItAndScrolls)
{
    const QRect small(0, 0, 910, 485); // 1,366 x 768 at 150 %, below a panel
    fitWithin(&window(), small);
    window().show();
    EXPECT_TRUE(small.contains(window().frameGeometry().translated(-window().pos())));
    auto* scroll = window().findChild<QScrollArea*>();
    ASSERT_TRUE(scroll);
    EXPECT_EQ(scroll->horizontalScrollBar()->maximum(), 0) << "the width had room for the scroll bar";
    QStatusBar& bar = control<QStatusBar>("statusBar");
    EXPECT_TRUE(window().rect().contains(QRect(bar.mapTo(&window(), QPoint()), bar.size())));
}

TEST(WindowPlace, AWindowWhosePlaceIsOffTheScreenOpensOnIt)
{
    const QRect screen(0, 0, 1024, 768);
    struct Case
    {
        QPoint designed;
        QSize size;
        QRect available;
        QPoint expected;
    };
    const Case cases[] = {
        {{303, 243}, {791, 556}, {0, 0, 1920, 1080}, {303, 243}},
        {{303, 243}, {791, 556}, screen, {233, 212}},
        {{303, 243}, {791, 556}, {1920, 0, 1280, 1024}, {1920, 243}},
        {{303, 243}, {791, 556}, {0, 0, 640, 480}, {0, 0}},
        {{353, 248}, {299, 383}, screen, {353, 248}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(placeWithin(c.designed, c.size, c.available), c.expected) << c.available.width();
}

TEST(CommandLine, HelpVersionAndTheSettingsFileWithoutAWindow)
{
    QCoreApplication::setApplicationVersion(QStringLiteral("0.2"));
    struct Case
    {
        QStringList arguments;
        std::optional<int> exitStatus;
        QString outputStart;
        QString settings;
        bool styleChosen = false;
        QString database = {};
    };
    const QList<Case> cases = {
        {{"ravelin"}, std::nullopt, "", ""},
        {{"ravelin", "--version"}, 0, "ravelin 0.2\n", ""},
        {{"ravelin", "-h"}, 0, "Usage: ", ""},
        {{"ravelin", "--settings", "/tmp/s.ini"}, std::nullopt, "", "/tmp/s.ini"},
        {{"ravelin", "-platform", "offscreen", "-style=Fusion", "--settings=x.ini", "-reverse"},
         std::nullopt,
         "",
         "x.ini",
         true},
        {{"ravelin", "-stylesheet", "a.qss"}, std::nullopt, "", ""},
        {{"ravelin", "--database=postgresql://ops@db/bf2"}, std::nullopt, "", "", false, "postgresql://ops@db/bf2"},
        {{"ravelin", "--bogus"}, 2, "ravelin: Unknown option 'bogus'.", ""},
        {{"ravelin", "--settings"}, 2, "ravelin: Missing value after '--settings'.", ""},
        {{"ravelin", "servers.txt"}, 2, "ravelin: unexpected argument 'servers.txt'", ""},
    };
    for (const Case& c : cases) {
        const CommandLine line = parseCommandLine(c.arguments);
        EXPECT_EQ(line.exitStatus, c.exitStatus) << c.arguments.join(' ').toStdString();
        EXPECT_EQ(line.output.left(c.outputStart.size()), c.outputStart);
        EXPECT_EQ(line.outputIsError, c.exitStatus == 2);
        EXPECT_EQ(line.settingsPath, c.settings);
        EXPECT_EQ(line.styleChosen, c.styleChosen) << c.arguments.join(' ').toStdString();
        EXPECT_EQ(line.databaseUrl, c.database);
    }
}
