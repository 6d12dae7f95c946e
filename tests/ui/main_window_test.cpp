// The main window as designed: its controls, their places and order, the
// shell's own handlers, the spin edit's rules and the About window.

#include "app/about_form.h"
#include "app/list_box.h"
#include "app/spin_edit.h"
#include "app/string_grid.h"
#include "app/text_codec.h"
#include "form_fixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
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
    {"LoginGroupBox", "ClientArea", "Login", {8, 8, 385, 89}},
    {"Label1", "LoginGroupBox", "Server IP:", {8, 16, 0, 0}},
    {"IPEdit", "LoginGroupBox", nullptr, {64, 16, 121, 21}},
    {"Label2", "LoginGroupBox", "Port:", {200, 16, 0, 0}},
    {"PortEdit", "LoginGroupBox", nullptr, {232, 16, 41, 21}},
    {"Label3", "LoginGroupBox", "Password:", {8, 44, 0, 0}},
    {"PasswordEdit", "LoginGroupBox", nullptr, {64, 44, 121, 21}},
    {"ConnectButton", "LoginGroupBox", "Connect", {296, 16, 73, 24}},
    {"DisconnecyButton", "LoginGroupBox", "Disconnect", {296, 48, 75, 25}},
    {"LogGroupBox", "ClientArea", "Log", {400, 8, 385, 89}},
    {"LogMemo", "LogGroupBox", nullptr, {8, 16, 369, 65}},
    {"PageControl", "ClientArea", nullptr, {8, 104, 777, 409}},
    {"StatusBar", "ClientArea", nullptr, {0, 517, 791, 19}},
    {"PlayersGroupBox", "PlayerTabSheet", "Player List", {8, 4, 753, 373}},
    {"PlayersListBox", "PlayersGroupBox", nullptr, {8, 16, 649, 345}},
    {"RefreshPlayersButton", "PlayersGroupBox", "Refresh", {664, 16, 75, 25}, "Refresh Player List"},
    {"KickButton", "PlayersGroupBox", "Kick", {664, 48, 75, 25}, "Kick the selected player from the server"},
    {"TempBanButton", "PlayersGroupBox", "Ban for round", {664, 80, 75, 25},
     "This will ban the selected player for the rest of the round."},
    {"BanButton", "PlayersGroupBox", "Perm Ban", {664, 112, 75, 25}, "This is will ban a player permanently"},
    {"BansGroupBox", "BansTabSheet", "Ban List", {8, 4, 753, 373}},
    {"BansListBox", "BansGroupBox", nullptr, {8, 16, 649, 343}},
    {"RefeshBansButton", "BansGroupBox", "Refresh", {664, 16, 75, 25}},
    {"AddHashBanButton", "BansGroupBox", "Add Key Hash", {664, 48, 75, 25}},
    {"RemoveBanButton", "BansGroupBox", "Remove", {664, 80, 75, 25}},
    {"ClearBanListButton", "BansGroupBox", "Clear Ban List", {664, 112, 75, 25}},
    {"MapsGroupBox", "MapsTabSheet", "Map Rotation", {8, 4, 753, 373}},
    {"Label4", "MapsGroupBox", "Local Maps", {8, 24, 0, 0}},
    {"LocalMapsListBox", "MapsGroupBox", nullptr, {8, 40, 281, 320}},
    {"Button2", "MapsGroupBox", "Add -->", {296, 40, 75, 25}},
    {"Button3", "MapsGroupBox", "<-- Remove", {296, 72, 75, 25}},
    {"Label5", "MapsGroupBox", "Server Map Rotation", {376, 24, 0, 0}},
    {"MapsListBox", "MapsGroupBox", nullptr, {376, 40, 281, 320}},
    {"RefreshMapsButton", "MapsGroupBox", "Refresh Maps", {664, 40, 75, 25}},
    {"SaveMapsButton", "MapsGroupBox", "Save Maps", {664, 72, 75, 25}},
    {"RunNextMapButton", "MapsGroupBox", "Run Next Map", {664, 104, 75, 25}},
    {"RestartMapButton", "MapsGroupBox", "Restart Map", {664, 136, 75, 25}},
    {"PauseButton", "MapsGroupBox", "Pause", {664, 168, 75, 25}},
    {"GetMapButton", "MapsGroupBox", "Current Map", {664, 204, 75, 25}},
    {"AutoAnnounceGroupBox", "ServerTabSheet", "Auto Announce", {8, 8, 753, 281}},
    {"AutoAnnounceCheckBox", "AutoAnnounceGroupBox", "Auto Announce:", {8, 24, 97, 17},
     "If auto announce is turned on then the above messages will be displayed with the interval below."},
    {"DelayLabel", "AutoAnnounceGroupBox", "Delay in Seconds:", {128, 24, 0, 0}},
    {"DelaySpinEdit", "AutoAnnounceGroupBox", nullptr, {218, 21, 47, 22},
     "This is the delay in seconds between each line being displayed."},
    {"AnnounceStringGrid", "AutoAnnounceGroupBox", nullptr, {8, 56, 737, 177},
     "Type your server message to be displayed here."},
    {"SaveButton", "AutoAnnounceGroupBox", "Save", {8, 243, 75, 25}, "Save the server messages"},
    {"AddLineButton", "AutoAnnounceGroupBox", "Add Line", {94, 243, 75, 25},
     "This button will add a line to the bottem of the server mesages box"},
    {"RemoveLineButton", "AutoAnnounceGroupBox", "Remove Line", {184, 243, 75, 25},
     "This button will remove the bottem line from the server messages box"},
    {"AnnounceGroupBox", "ServerTabSheet", "Admin Message", {8, 292, 577, 85}},
    {"Label7", "AnnounceGroupBox", "Chat name:", {8, 24, 0, 0}},
    {"UsernameEdit", "AnnounceGroupBox", nullptr, {72, 24, 137, 21}},
    {"USMCCheckBox", "AnnounceGroupBox", "Send to USMC", {232, 24, 97, 17}},
    {"MECCheckBox", "AnnounceGroupBox", "Send to MEC/China", {336, 24, 121, 17}},
    {"Label8", "AnnounceGroupBox", "Message:", {16, 48, 0, 0}},
    {"MessageEdit", "AnnounceGroupBox", nullptr, {72, 48, 369, 21}},
    {"Button1", "AnnounceGroupBox", "Send", {480, 32, 75, 25}},
    {"RemoteConsoleGroupBox", "OtherTabSheet", "Remote Console", {8, 12, 313, 85}},
    {"CommandEdit", "RemoteConsoleGroupBox", nullptr, {8, 20, 281, 21}},
    {"CommandButton", "RemoteConsoleGroupBox", "Send", {112, 48, 73, 25}},
    {"RecorderGroupBox", "OtherTabSheet", "Battlefield Recorder", {8, 108, 313, 85}},
    {"Label6", "RecorderGroupBox", "Demo Name:", {8, 16, 0, 0}},
    {"DemoNameEdit", "RecorderGroupBox", nullptr, {80, 16, 225, 21}},
    {"RecordButton", "RecorderGroupBox", "Record", {80, 48, 75, 25}},
    {"StopButton", "RecorderGroupBox", "Stop", {176, 48, 75, 25}},
};
// clang-format on

QString CaptionOf(QWidget* widget)
{
    if (auto* box = qobject_cast<QGroupBox*>(widget))
        return box->title();
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return button->text();
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text();
    return {};
}

// Each parent's focusable controls in the order the focus chain visits them.
std::map<QString, QStringList> TabOrderByParent(TMainForm& form)
{
    std::map<QString, QStringList> order;
    QWidget* start = form.IPEdit;
    QWidget* widget = start;
    do {
        if (widget->focusPolicy() & Qt::TabFocus && widget->parentWidget() && form.isAncestorOf(widget))
            order[widget->parentWidget()->objectName()].append(widget->objectName());
        widget = widget->nextInFocusChain();
    } while (widget != start);
    return order;
}

} // namespace

class MainWindowTest : public FormTest
{
};

TEST_F(MainWindowTest, ControlsAreWhereTheDesignPutsThem)
{
    TMainForm& form = Form();
    for (const Control& c : kControls) {
        auto* widget = form.findChild<QWidget*>(QLatin1String(c.name));
        ASSERT_TRUE(widget) << c.name;
        EXPECT_EQ(widget->parentWidget()->objectName(), QLatin1String(c.parent)) << c.name;
        if (c.caption) {
            EXPECT_EQ(CaptionOf(widget), QLatin1String(c.caption)) << c.name;
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
    TMainForm& form = Form();
    form.show();
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Ravelin v0.2 :: www.bastionrow.example"));
    EXPECT_EQ(form.ClientArea->size(), QSize(791, 536));
    EXPECT_EQ(form.minimumSize(), form.maximumSize()) << "the window cannot be resized";
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(form.pos(), QPoint(303, 243));

    QStringList menus;
    for (QAction* menu : form.MainMenu1->actions())
        for (QAction* item : menu->menu()->actions())
            menus.append(menu->text() + '>' + item->text());
    EXPECT_EQ(menus, QStringList({"File>Exit", "Help>About"}));

    QStringList pages;
    for (int i = 0; i < form.PageControl->count(); ++i)
        pages.append(form.PageControl->widget(i)->objectName() + '=' + form.PageControl->tabText(i));
    EXPECT_EQ(pages,
              QStringList({"PlayerTabSheet=Player List", "BansTabSheet=Ban List", "MapsTabSheet=Map Rotation",
                           "ServerTabSheet=Server Announcements", "OtherTabSheet=Other"}));
    EXPECT_EQ(form.PageControl->currentWidget(), form.ServerTabSheet);

    EXPECT_FALSE(form.GetMapButton->isVisible());
    EXPECT_EQ(form.PasswordEdit->echoMode(), QLineEdit::Password);
    EXPECT_FALSE(form.LogMemo->isReadOnly());
    EXPECT_EQ(form.LogMemo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(form.LogMemo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_GE(form.StatusPanel0->width(), form.StatusBar->width() - 8) << "the one panel spans the bar";
    EXPECT_TRUE(form.AnnounceTimer->isActive());
    EXPECT_EQ(form.AnnounceTimer->interval(), 10000);
    EXPECT_FALSE(form.AutoAnnounceCheckBox->isChecked());
    EXPECT_TRUE(form.MECCheckBox->isChecked() && form.USMCCheckBox->isChecked());
    EXPECT_EQ(form.AutoAnnounceCheckBox->layoutDirection(), Qt::RightToLeft) << "caption on the left";

    TStringGrid& grid = *form.AnnounceStringGrid;
    EXPECT_EQ(grid.ColCount(), 1);
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
    RemoveFile(QStringLiteral("servermessages.dat"));
    TMainForm& form = Form();
    EXPECT_EQ(form.AnnounceStringGrid->ColCount(), 1);
    EXPECT_EQ(form.AnnounceStringGrid->RowCount(), 20);
}

TEST_F(MainWindowTest, TabOrderFollowsTheDesignWithinEachParent)
{
    const std::map<QString, QStringList> expected = {
        {"LoginGroupBox", {"IPEdit", "PortEdit", "PasswordEdit", "ConnectButton", "DisconnecyButton"}},
        {"PlayersGroupBox", {"PlayersListBox", "RefreshPlayersButton", "KickButton", "TempBanButton", "BanButton"}},
        {"BansGroupBox",
         {"BansListBox", "RefeshBansButton", "AddHashBanButton", "RemoveBanButton", "ClearBanListButton"}},
        {"MapsGroupBox",
         {"MapsListBox", "Button2", "Button3", "RefreshMapsButton", "SaveMapsButton", "RunNextMapButton",
          "RestartMapButton", "PauseButton", "GetMapButton", "LocalMapsListBox"}},
        {"AnnounceGroupBox", {"MECCheckBox", "USMCCheckBox", "UsernameEdit", "MessageEdit", "Button1"}},
        {"AutoAnnounceGroupBox",
         {"AutoAnnounceCheckBox", "DelaySpinEdit", "SaveButton", "AnnounceStringGrid", "AddLineButton",
          "RemoveLineButton"}},
        {"RecorderGroupBox", {"RecordButton", "StopButton", "DemoNameEdit"}},
        {"RemoteConsoleGroupBox", {"CommandEdit", "CommandButton"}},
    };
    const auto order = TabOrderByParent(Form());
    for (const auto& [parent, controls] : expected) {
        ASSERT_TRUE(order.count(parent)) << parent.toStdString();
        EXPECT_EQ(order.at(parent), controls) << parent.toStdString();
    }
    EXPECT_EQ(Form().StatusBar->focusPolicy(), Qt::NoFocus);
}

TEST_F(MainWindowTest, OnlyThePlayerListIsSorted)
{
    TMainForm& form = Form();
    const Lines arrival = {"Id: 9 b", "Id: 10 a", "Id:  3 c", "Id: 10 a"};
    for (TListBox* list : {form.PlayersListBox, form.BansListBox, form.MapsListBox, form.LocalMapsListBox}) {
        list->Clear();
        list->Append(arrival.mid(0, 2));
        list->Append(arrival.mid(2));
    }
    EXPECT_EQ(form.PlayersListBox->Items(), Lines({"Id:  3 c", "Id: 10 a", "Id: 10 a", "Id: 9 b"}));
    EXPECT_EQ(form.BansListBox->Items(), arrival);
    EXPECT_EQ(form.MapsListBox->Items(), arrival);
    EXPECT_EQ(form.LocalMapsListBox->Items(), arrival);
}

TEST_F(MainWindowTest, ChangingPagesAsksForThatPagesListOnlyWhileConnected)
{
    TMainForm& form = Form();
    for (QWidget* page : {form.PlayerTabSheet, form.BansTabSheet, form.MapsTabSheet, form.OtherTabSheet})
        form.PageControl->setCurrentWidget(page);
    EXPECT_TRUE(LogLines().isEmpty());

    ConnectAndLogin();
    for (QWidget* page :
         {form.PlayerTabSheet, form.ServerTabSheet, form.BansTabSheet, form.OtherTabSheet, form.MapsTabSheet})
        form.PageControl->setCurrentWidget(page);
    const Lines expected = {Framed("exec admin.listplayers"), Framed("exec admin.listBannedKeys"),
                            Framed("exec maplist.list")};
    WaitUntil([&] { return CommandsAfterLogin().size() >= expected.size(); });
    SpinEventLoop(std::chrono::milliseconds(30));
    EXPECT_EQ(CommandsAfterLogin(), expected);
}

TEST_F(MainWindowTest, FocusEnteringTheMapRotationBoxAsksForTheRotation)
{
    TMainForm& form = Form();
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    form.PageControl->setCurrentWidget(form.MapsTabSheet);
    form.MapsListBox->setFocus();
    form.LocalMapsListBox->setFocus(); // moving inside the box is no new entry
    EXPECT_EQ(LogLines(), Lines({"Error not connected..."}));

    ConnectAndLogin();
    form.IPEdit->setFocus();
    form.Button2->setFocus();
    WaitUntil([&] { return !CommandsAfterLogin().isEmpty(); });
    EXPECT_EQ(CommandsAfterLogin(), Lines({Framed("exec maplist.list")}));
}

TEST_F(MainWindowTest, TheDelayOnlyStepsAndStaysWithinItsBounds)
{
    TMainForm& form = Form();
    TSpinEdit& delay = *form.DelaySpinEdit;
    QList<QString> changes;
    QObject::connect(&delay, &QSpinBox::textChanged, [&](const QString& text) { changes.append(text); });

    QTest::keyClick(&delay, Qt::Key_Up);
    EXPECT_EQ(delay.Value(), 15);
    QTest::keyClick(&delay, Qt::Key_Down);
    QTest::keyClick(&delay, Qt::Key_Down);
    EXPECT_EQ(delay.Value(), 5);
    QTest::keyClick(&delay, Qt::Key_Down);
    EXPECT_EQ(delay.Value(), 5) << "never below 5";
    QTest::keyClicks(&delay, QStringLiteral("7"));
    QTest::keyClick(&delay, Qt::Key_Backspace);
    EXPECT_EQ(delay.text(), QStringLiteral("5")) << "typing is refused";
    EXPECT_EQ(changes, QList<QString>({"15", "10", "5"}));

    delay.SetValue(7);
    QTest::keyClick(&delay, Qt::Key_Up);
    EXPECT_EQ(delay.Value(), 12) << "steps of 5 from wherever the value stands";
    QTest::keyClick(&delay, Qt::Key_PageUp);
    EXPECT_EQ(delay.Value(), 17) << "a page is one step";
    QTest::keyClick(&delay, Qt::Key_PageDown);
    QTest::keyClick(&delay, Qt::Key_PageDown);
    EXPECT_EQ(delay.Value(), 7);
    delay.SetValue(5000);
    EXPECT_EQ(delay.Value(), 1000);
    QTest::keyClick(&delay, Qt::Key_Up);
    EXPECT_EQ(delay.Value(), 1000);
    EXPECT_EQ(form.AnnounceTimer->interval(), 1000 * 1000) << "every change reaches the announcer";
}

// Walking the window with Tab visits every control of the login box, the log
// and the page in front, in their designed order, and comes back round to the
// Server IP box; Shift+Tab walks the same way back. No control keeps the key.
TEST_F(MainWindowTest, TheKeyboardWalksTheWholeWindowAndComesBackRound)
{
    TMainForm& form = Form();
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    const QStringList top = {"PortEdit",         "PasswordEdit", "ConnectButton",
                             "DisconnecyButton", "LogMemo",      "qt_tabwidget_tabbar"};
    const std::map<QWidget*, QStringList> pages = {
        {form.PlayerTabSheet, {"PlayersListBox", "RefreshPlayersButton", "KickButton", "TempBanButton", "BanButton"}},
        {form.BansTabSheet,
         {"BansListBox", "RefeshBansButton", "AddHashBanButton", "RemoveBanButton", "ClearBanListButton"}},
        {form.MapsTabSheet,
         {"MapsListBox", "Button2", "Button3", "RefreshMapsButton", "SaveMapsButton", "RunNextMapButton",
          "RestartMapButton", "PauseButton", "LocalMapsListBox"}},
        {form.ServerTabSheet,
         {"MECCheckBox", "USMCCheckBox", "UsernameEdit", "MessageEdit", "Button1", "AutoAnnounceCheckBox",
          "DelaySpinEdit", "SaveButton", "AnnounceStringGrid", "AddLineButton", "RemoveLineButton"}},
        {form.OtherTabSheet, {"RecordButton", "StopButton", "DemoNameEdit", "CommandEdit", "CommandButton"}},
    };
    const auto walk = [&](Qt::KeyboardModifiers modifiers) {
        form.IPEdit->setFocus(Qt::TabFocusReason);
        QStringList visited;
        for (int i = 0; i < 40; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, modifiers);
            QWidget* now = QApplication::focusWidget();
            if (now == form.IPEdit)
                return visited;
            visited.append(now ? now->objectName() : QStringLiteral("(nothing)"));
        }
        visited.append(QStringLiteral("(never back at the Server IP box)"));
        return visited;
    };
    for (const auto& [page, controls] : pages) {
        form.PageControl->setCurrentWidget(page);
        const QStringList forward = top + controls;
        EXPECT_EQ(walk(Qt::NoModifier), forward) << page->objectName().toStdString();
        QStringList backward(forward.rbegin(), forward.rend());
        EXPECT_EQ(walk(Qt::ShiftModifier), backward) << page->objectName().toStdString();
    }
    EXPECT_TRUE(form.LogMemo->toPlainText().remove(QStringLiteral("Error not connected...")).trimmed().isEmpty())
        << "Tab typed into the log";
}

// A page change carries the focus from the page that went away into the one
// that came to the front; that is no entry into the Map Rotation box.
TEST_F(MainWindowTest, ChangingPagesFromTheKeyboardOrTheWheelIsNoEntryIntoTheRotationBox)
{
    TMainForm& form = Form();
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    form.PageControl->setCurrentWidget(form.BansTabSheet);
    form.BansListBox->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(form.PageControl->currentWidget(), form.MapsTabSheet);
    EXPECT_EQ(LogLines(), Lines()) << "after Ctrl+Tab";
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageDown, Qt::ControlModifier);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageUp, Qt::ControlModifier);
    EXPECT_EQ(form.PageControl->currentWidget(), form.MapsTabSheet);
    EXPECT_EQ(LogLines(), Lines()) << "after Ctrl+Page Down and Up";

    QTabBar* tabs = form.PageControl->findChild<QTabBar*>();
    form.PageControl->setCurrentWidget(form.BansTabSheet);
    form.BansListBox->setFocus(Qt::MouseFocusReason);
    const QPointF at = tabs->rect().center();
    QWheelEvent down(at, tabs->mapToGlobal(at), {}, {0, -120}, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(tabs, &down);
    EXPECT_EQ(form.PageControl->currentWidget(), form.MapsTabSheet);
    EXPECT_TRUE(LogLines().isEmpty()) << "a page change while not connected logs nothing";
}

TEST_F(MainWindowTest, TheAboutWindowShowsItsPictureAndIsReused)
{
    TMainForm& form = Form();
    TAboutForm about;
    form.AboutForm = &about;
    EXPECT_FALSE(about.Picture().isNull());
    EXPECT_EQ(about.Picture().size(), QSize(200, 100));
    EXPECT_EQ(about.Image1->size(), QSize(199, 97));
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About Casemate"));
    EXPECT_EQ(about.size(), QSize(299, 383));

    form.About1->trigger();
    form.About1->trigger();
    EXPECT_EQ(dialogs_->modalDialogs, QList<QDialog*>({&about, &about}));
}

TEST(TextCodec, EveryByteSurvivesTheTripThroughAWidget)
{
    QByteArray all(256, Qt::Uninitialized);
    for (int b = 0; b < 256; ++b)
        all[b] = char(b);
    QLineEdit edit;
    edit.setText(ToDisplay(all));
    EXPECT_EQ(ToBytes(edit.text()), all);

    EXPECT_EQ(ToDisplay("\x80\x81\x9f\xe9"), QString::fromUtf16(u"\u20ac\u0081\u0178\u00e9"));
    EXPECT_EQ(ToBytes(QString::fromUtf16(u"\u20ac\u2122 \u4e2d")), QByteArray("\x80\x99 ?"));
}
