#include "app/main_window.h"

#include "admin/ban_admin.h"
#include "admin/map_admin.h"
#include "admin/player_admin.h"
#include "app/about_window.h"
#include "app/desktop.h"
#include "app/dialogs.h"
#include "app/fleet_window.h"
#include "app/focus_entry.h"
#include "app/list_box.h"
#include "app/placement.h"
#include "app/spin_edit.h"
#include "app/string_grid.h"
#include "app/text_codec.h"
#include "core/errors.h"
#include "server/server_view.h"
#include "storage/file_locations.h"
#include "storage/keyring_password_store.h"
#include "storage/settings.h"
#include "storage/writer_lock.h"
#include "store/player_recorder.h"
#include "store/store_writer.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {

const char kCaption[] = "Ravelin v0.2 :: github.com/bastionrow/ravelin";
constexpr int kClientWidth = 791;
constexpr int kClientHeight = 536;
constexpr QPoint kDesignedPlace{303, 243};

template <typename Widget>
Widget* place(Widget* widget, const char* name, QRect geometry)
{
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(geometry);
    return widget;
}

QGroupBox* makeGroupBox(QWidget* parent, const char* name, const char* caption, QRect geometry)
{
    return place(new QGroupBox(QLatin1String(caption), parent), name, geometry);
}

QLabel* makeLabel(QWidget* parent, const char* name, const char* caption, QPoint at)
{
    auto* label = new QLabel(QLatin1String(caption), parent);
    label->setObjectName(QLatin1String(name));
    label->move(at);
    label->adjustSize();
    return label;
}

// Makes `label` name `control`: its mnemonic moves the focus there, and a
// screen reader reads the label's words (without the colon) as the control's name.
void nameBy(QLabel* label, QWidget* control)
{
    label->setBuddy(control);
    QString name = label->text().remove(u'&');
    if (name.endsWith(u':'))
        name.chop(1);
    control->setAccessibleName(name);
}

QPushButton* makeButton(QWidget* parent, const char* name, const char* caption, QRect geometry,
                        const char* hint = nullptr)
{
    auto* button = place(new QPushButton(QLatin1String(caption), parent), name, geometry);
    if (hint)
        button->setToolTip(QLatin1String(hint));
    return button;
}

QLineEdit* makeEdit(QWidget* parent, const char* name, QRect geometry)
{
    return place(new QLineEdit(parent), name, geometry);
}

QCheckBox* makeCheckBox(QWidget* parent, const char* name, const char* caption, QRect geometry, bool checked)
{
    auto* box = place(new QCheckBox(QLatin1String(caption), parent), name, geometry);
    box->setChecked(checked);
    return box;
}

ListBox* makeListBox(QWidget* parent, const char* name, QRect geometry, bool sorted = false)
{
    return place(new ListBox(sorted, parent), name, geometry);
}

QWidget* makePage(QTabWidget* pages, const char* name, const char* caption)
{
    auto* page = new QWidget;
    page->setObjectName(QLatin1String(name));
    pages->addTab(page, QLatin1String(caption));
    return page;
}

// The designed font, MS Sans Serif, is not on Linux; Liberation Sans at the
// same 11 pixels keeps every caption inside its designed size.
QFont windowFont()
{
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(11);
    return font;
}

MainWindowOptions withDefaults(MainWindowOptions options)
{
    if (!options.dialogs)
        options.dialogs = std::make_shared<QtDialogs>();
    if (!options.desktop)
        options.desktop = std::make_shared<SystemDesktop>();
    if (!options.passwordStore)
        options.passwordStore = std::make_shared<KeyringPasswordStore>();
    if (options.settingsPath.isEmpty() || options.mapsPath.isEmpty() || options.announcementsPath.isEmpty()) {
        const FileLocations usual = chooseLocations(
            standardFolders(QCoreApplication::applicationDirPath(), QDir::currentPath()));
        for (auto [path, place] :
             {std::pair{&options.settingsPath, usual.settings}, std::pair{&options.mapsPath, usual.maps},
              std::pair{&options.announcementsPath, usual.announcements}}) {
            if (path->isEmpty())
                *path = place;
        }
    }
    return options;
}

} // namespace

MainWindow::MainWindow(MainWindowOptions options, QWidget* parent)
    : QMainWindow(parent)
    , options_(withDefaults(std::move(options)))
    , guard_(this, options_.dialogs)
    , commandHistory_(std::make_unique<CommandHistory>(options_.commandHistoryPath))
    , view_(std::make_unique<ServerView>(
          ServerViewOptions{
              .replyTimeout = options_.replyTimeout,
              .giveUpTimeout = options_.giveUpTimeout,
              .connectTimeout = options_.connectTimeout,
              .reconnectHeldAfter = options_.reconnectHeldAfter,
              .auditLogFolder = options_.auditLogFolder,
              .auditLogDayCap = options_.auditLogDayCap,
          },
          this))
{
    createControls();
    connectServerView();
    bindControls();
    connectPlayerHistory();
    loadFiles();
    connectFleet();
}

MainWindow::~MainWindow()
{
    // The fleet's last events go to the store before it is flushed.
    delete fleetWindow_;
    finishRecording();
}

void MainWindow::createControls()
{
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QLatin1String(kCaption));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFont(windowFont());

    announceTimer_ = new QTimer(this);
    announceTimer_->setObjectName(QStringLiteral("announceTimer"));
    announceTimer_->setTimerType(Qt::PreciseTimer);
    announceTimer_->setInterval(10000);
    announceTimer_->start();

    createMenus();

    auto* area = new QWidget(this);
    area->setObjectName(QStringLiteral("clientArea"));
    area->setFixedSize(kClientWidth, kClientHeight);
    setCentralWidget(area);

    createLoginAndLog(area);
    pages_ = place(new QTabWidget(area), "pages", {8, 104, 777, 409});
    // The tab bar alone takes the focus for the pages. The tab widget itself,
    // left in the focus chain behind the last page's controls, would hand Tab
    // back to its tab bar and keep the keyboard inside the pages. (Its policy
    // passes on to the tab bar, so the tab bar's own is set after it.)
    pages_->setFocusPolicy(Qt::NoFocus);
    pages_->setFocusProxy(nullptr);
    // Clicking a tab takes the focus, so focus never wanders into the page
    // that comes to the front (which would count as entering its controls).
    pages_->tabBar()->setFocusPolicy(Qt::StrongFocus);
    createPlayersPage();
    createBansPage();
    createMapsPage();
    createAnnouncementsPage();
    createOtherPage();

    auto* statusBar = place(new QStatusBar(area), "statusBar", {0, 517, 791, 19});
    statusBar->setSizeGripEnabled(false);
    statusBar->setFocusPolicy(Qt::NoFocus);
    statusLabel_ = new QLabel(statusBar);
    statusLabel_->setObjectName(QStringLiteral("statusLabel"));
    statusLabel_->setTextFormat(Qt::PlainText);
    statusBar->addWidget(statusLabel_, 1);
    auditNoticeLabel_ = new QLabel(statusBar);
    auditNoticeLabel_->setObjectName(QStringLiteral("auditNoticeLabel"));
    auditNoticeLabel_->setTextFormat(Qt::PlainText);
    auditNoticeLabel_->hide();
    statusBar->addPermanentWidget(auditNoticeLabel_);

    pages_->setCurrentWidget(announcementsPage_);
    applyTabOrder();
    createTakeAwayActions();

    layout()->setSizeConstraint(QLayout::SetFixedSize);
    adjustSize();
    fitWithin(this, availableAreaAt(kDesignedPlace));
    moveToDesignedPlace(this, kDesignedPlace);
}

void MainWindow::createMenus()
{
    QMenu* fileMenu = menuBar()->addMenu(QStringLiteral("&File"));
    fileMenu->setObjectName(QStringLiteral("fileMenu"));
    openLogFolderAction_ = fileMenu->addAction(QStringLiteral("Open &Log Folder"));
    openLogFolderAction_->setObjectName(QStringLiteral("openLogFolderAction"));
    openLogFolderAction_->setEnabled(!options_.auditLogFolder.isEmpty());
    fileMenu->addSeparator();
    exitAction_ = fileMenu->addAction(QStringLiteral("E&xit"));
    exitAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    exitAction_->setObjectName(QStringLiteral("exitAction"));

    serversMenu_ = menuBar()->addMenu(QStringLiteral("Ser&vers"));
    serversMenu_->setObjectName(QStringLiteral("serversMenu"));
    saveServerAction_ = new QAction(QStringLiteral("&Save Current Server..."), this);
    saveServerAction_->setObjectName(QStringLiteral("saveServerAction"));
    manageServersAction_ = new QAction(QStringLiteral("&Manage Servers..."), this);
    manageServersAction_->setObjectName(QStringLiteral("manageServersAction"));
    reconnectAction_ = new QAction(QStringLiteral("&Reconnect Automatically"), this);
    reconnectAction_->setObjectName(QStringLiteral("reconnectAction"));
    reconnectAction_->setCheckable(true);
    playerHistoryAction_ = new QAction(QStringLiteral("Player &History..."), this);
    playerHistoryAction_->setObjectName(QStringLiteral("playerHistoryAction"));
    playerHistoryAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    recordPlayersAction_ = new QAction(QStringLiteral("Record &Players"), this);
    recordPlayersAction_->setObjectName(QStringLiteral("recordPlayersAction"));
    recordPlayersAction_->setCheckable(true);
    playerStoreAction_ = new QAction(QStringLiteral("Player S&tore..."), this);
    playerStoreAction_->setObjectName(QStringLiteral("playerStoreAction"));
    fleetAction_ = new QAction(QStringLiteral("&Fleet..."), this);
    fleetAction_->setObjectName(QStringLiteral("fleetAction"));
    fleetAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F));
    fillServersMenu();

    QMenu* helpMenu = menuBar()->addMenu(QStringLiteral("&Help"));
    helpMenu->setObjectName(QStringLiteral("helpMenu"));
    aboutAction_ = helpMenu->addAction(QStringLiteral("&About"));
    aboutAction_->setObjectName(QStringLiteral("aboutAction"));
}

void MainWindow::createLoginAndLog(QWidget* area)
{
    QGroupBox* login = makeGroupBox(area, "loginBox", "Login", {8, 8, 385, 89});
    QLabel* serverAddressLabel = makeLabel(login, "serverAddressLabel", "Server &IP:", {8, 16});
    serverAddressEdit_ = makeEdit(login, "serverAddressEdit", {64, 16, 121, 21});
    nameBy(serverAddressLabel, serverAddressEdit_);
    QLabel* portLabel = makeLabel(login, "portLabel", "P&ort:", {200, 16});
    portEdit_ = makeEdit(login, "portEdit", {232, 16, 41, 21});
    nameBy(portLabel, portEdit_);
    QLabel* passwordLabel = makeLabel(login, "passwordLabel", "&Password:", {8, 44});
    passwordEdit_ = makeEdit(login, "passwordEdit", {64, 44, 121, 21});
    passwordEdit_->setEchoMode(QLineEdit::Password);
    nameBy(passwordLabel, passwordEdit_);
    connectButton_ = makeButton(login, "connectButton", "&Connect", {296, 16, 73, 24});
    disconnectButton_ = makeButton(login, "disconnectButton", "&Disconnect", {296, 48, 75, 25});

    QGroupBox* log = makeGroupBox(area, "logBox", "Log", {400, 8, 385, 89});
    logView_ = place(new QPlainTextEdit(log), "logView", {8, 16, 369, 65});
    logView_->setAccessibleName(log->title());
    logView_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    logView_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    logView_->setStyleSheet(QStringLiteral("QPlainTextEdit { background: black; color: white; }"));
    // Tab walks on through the window instead of typing into the log.
    logView_->setTabChangesFocus(true);
    // A server can fill the log without end; the oldest lines make room.
    logView_->setMaximumBlockCount(ServerView::kMaxLogLines);
}

void MainWindow::createPlayersPage()
{
    playersPage_ = makePage(pages_, "playersPage", "Player List");
    QGroupBox* box = makeGroupBox(playersPage_, "playersBox", "Player List", {8, 4, 753, 373});
    playerList_ = makeListBox(box, "playerList", {8, 16, 649, 345}, true);
    playerList_->setAccessibleName(box->title());
    refreshPlayersButton_ = makeButton(box, "refreshPlayersButton", "&Refresh", {664, 16, 75, 25},
                                       "Refresh Player List");
    kickButton_ = makeButton(box, "kickButton", "&Kick", {664, 48, 75, 25}, "Kick the selected player from the server");
    banForRoundButton_ = makeButton(box, "banForRoundButton", "&Ban for round", {664, 80, 75, 25},
                                    "This will ban the selected player for the rest of the round.");
    banPermanentlyButton_ = makeButton(box, "banPermanentlyButton", "Per&m Ban", {664, 112, 75, 25},
                                       "This is will ban a player permanently");
}

void MainWindow::createBansPage()
{
    bansPage_ = makePage(pages_, "bansPage", "Ban List");
    QGroupBox* box = makeGroupBox(bansPage_, "bansBox", "Ban List", {8, 4, 753, 373});
    banList_ = makeListBox(box, "banList", {8, 16, 649, 343});
    banList_->setAccessibleName(box->title());
    refreshBansButton_ = makeButton(box, "refreshBansButton", "&Refresh", {664, 16, 75, 25});
    addKeyHashButton_ = makeButton(box, "addKeyHashButton", "&Add Key Hash", {664, 48, 75, 25});
    removeBanButton_ = makeButton(box, "removeBanButton", "R&emove", {664, 80, 75, 25});
    clearBansButton_ = makeButton(box, "clearBansButton", "C&lear Ban List", {664, 112, 75, 25});
}

void MainWindow::createMapsPage()
{
    mapsPage_ = makePage(pages_, "mapsPage", "Map Rotation");
    mapsBox_ = makeGroupBox(mapsPage_, "mapsBox", "Map Rotation", {8, 4, 753, 373});
    QLabel* localMapsLabel = makeLabel(mapsBox_, "localMapsLabel", "&Local Maps", {8, 24});
    localMapList_ = makeListBox(mapsBox_, "localMapList", {8, 40, 281, 320});
    nameBy(localMapsLabel, localMapList_);
    addMapButton_ = makeButton(mapsBox_, "addMapButton", "&Add -->", {296, 40, 75, 25});
    removeMapButton_ = makeButton(mapsBox_, "removeMapButton", "<-- &Remove", {296, 72, 75, 25});
    QLabel* rotationLabel = makeLabel(mapsBox_, "rotationLabel", "S&erver Map Rotation", {376, 24});
    rotationList_ = makeListBox(mapsBox_, "rotationList", {376, 40, 281, 320});
    nameBy(rotationLabel, rotationList_);
    refreshMapsButton_ = makeButton(mapsBox_, "refreshMapsButton", "Refresh &Maps", {664, 40, 75, 25});
    saveMapsButton_ = makeButton(mapsBox_, "saveMapsButton", "&Save Maps", {664, 72, 75, 25});
    runNextMapButton_ = makeButton(mapsBox_, "runNextMapButton", "Run &Next Map", {664, 104, 75, 25});
    restartMapButton_ = makeButton(mapsBox_, "restartMapButton", "Res&tart Map", {664, 136, 75, 25});
    // No mnemonic: the caption is the client's only record of the pause, read back exactly.
    pauseButton_ = makeButton(mapsBox_, "pauseButton", "Pause", {664, 168, 75, 25});
    // Designed, hidden, and never asking the server for the current map.
    currentMapButton_ = makeButton(mapsBox_, "currentMapButton", "Current Map", {664, 204, 75, 25});
    currentMapButton_->setVisible(false);
}

void MainWindow::createAnnouncementsPage()
{
    announcementsPage_ = makePage(pages_, "announcementsPage", "Server Announcements");
    QGroupBox* announcer = makeGroupBox(announcementsPage_, "autoAnnounceBox", "Auto Announce", {8, 8, 753, 281});
    autoAnnounceCheck_ = makeCheckBox(announcer, "autoAnnounceCheck", "&Auto Announce:", {8, 24, 97, 17}, false);
    autoAnnounceCheck_->setLayoutDirection(Qt::RightToLeft);
    autoAnnounceCheck_->setToolTip(QStringLiteral(
        "If auto announce is turned on then the above messages will be displayed with the interval below."));
    QLabel* delayLabel = makeLabel(announcer, "delayLabel", "Dela&y in Seconds:", {128, 24});
    delaySpin_ = place(new SpinEdit(5, 1000, 5, 10, announcer), "delaySpin", {218, 21, 47, 22});
    nameBy(delayLabel, delaySpin_);
    delaySpin_->setToolTip(QStringLiteral("This is the delay in seconds between each line being displayed."));
    announcementGrid_ = place(new StringGrid(announcer), "announcementGrid", {8, 56, 737, 177});
    announcementGrid_->setAccessibleName(announcer->title());
    announcementGrid_->setDefaultColWidth(716);
    announcementGrid_->setDefaultRowHeight(16);
    announcementGrid_->setColCount(1);
    announcementGrid_->setRowCount(20);
    announcementGrid_->setToolTip(QStringLiteral("Type your server message to be displayed here."));
    // The arrow keys move between cells; Tab leaves the grid like any control.
    announcementGrid_->setTabKeyNavigation(false);
    saveAnnouncementsButton_ = makeButton(announcer, "saveAnnouncementsButton", "&Save", {8, 243, 75, 25},
                                          "Save the server messages");
    addLineButton_ = makeButton(announcer, "addLineButton", "Add &Line", {94, 243, 75, 25},
                                "This button will add a line to the bottem of the server mesages box");
    removeLineButton_ = makeButton(announcer, "removeLineButton", "&Remove Line", {184, 243, 75, 25},
                                   "This button will remove the bottem line from the server messages box");

    QGroupBox* message = makeGroupBox(announcementsPage_, "adminMessageBox", "Admin Message", {8, 292, 577, 85});
    QLabel* chatNameLabel = makeLabel(message, "chatNameLabel", "Chat &name:", {8, 24});
    chatNameEdit_ = makeEdit(message, "chatNameEdit", {72, 24, 137, 21});
    nameBy(chatNameLabel, chatNameEdit_);
    usmcCheck_ = makeCheckBox(message, "usmcCheck", "Send to &USMC", {232, 24, 97, 17}, true);
    mecCheck_ = makeCheckBox(message, "mecCheck", "Send to &MEC/China", {336, 24, 121, 17}, true);
    QLabel* messageLabel = makeLabel(message, "messageLabel", "Messa&ge:", {16, 48});
    messageEdit_ = makeEdit(message, "messageEdit", {72, 48, 369, 21});
    nameBy(messageLabel, messageEdit_);
    sendMessageButton_ = makeButton(message, "sendMessageButton", "S&end", {480, 32, 75, 25});
}

void MainWindow::createOtherPage()
{
    otherPage_ = makePage(pages_, "otherPage", "Other");
    QGroupBox* console = makeGroupBox(otherPage_, "consoleBox", "Remote Console", {8, 12, 313, 85});
    commandEdit_ = makeEdit(console, "commandEdit", {8, 20, 281, 21});
    // Up and Down walk the commands sent before.
    commandEdit_->installEventFilter(this);
    commandEdit_->setAccessibleName(console->title());
    sendCommandButton_ = makeButton(console, "sendCommandButton", "&Send", {112, 48, 73, 25});
    QGroupBox* recorder = makeGroupBox(otherPage_, "recorderBox", "Battlefield Recorder", {8, 108, 313, 85});
    QLabel* demoNameLabel = makeLabel(recorder, "demoNameLabel", "Demo &Name:", {8, 16});
    demoNameEdit_ = makeEdit(recorder, "demoNameEdit", {80, 16, 225, 21});
    nameBy(demoNameLabel, demoNameEdit_);
    recordButton_ = makeButton(recorder, "recordButton", "&Record", {80, 48, 75, 25});
    stopButton_ = makeButton(recorder, "stopButton", "S&top", {176, 48, 75, 25});
}

void MainWindow::applyTabOrder()
{
    // Depth first, each parent's controls in their designed tab order.
    const QList<QWidget*> chain = {
        serverAddressEdit_,
        portEdit_,
        passwordEdit_,
        connectButton_,
        disconnectButton_,
        logView_,
        pages_->tabBar(),
        playerList_,
        refreshPlayersButton_,
        kickButton_,
        banForRoundButton_,
        banPermanentlyButton_,
        banList_,
        refreshBansButton_,
        addKeyHashButton_,
        removeBanButton_,
        clearBansButton_,
        rotationList_,
        addMapButton_,
        removeMapButton_,
        refreshMapsButton_,
        saveMapsButton_,
        runNextMapButton_,
        restartMapButton_,
        pauseButton_,
        currentMapButton_,
        localMapList_,
        mecCheck_,
        usmcCheck_,
        chatNameEdit_,
        messageEdit_,
        sendMessageButton_,
        autoAnnounceCheck_,
        delaySpin_,
        saveAnnouncementsButton_,
        announcementGrid_,
        addLineButton_,
        removeLineButton_,
        recordButton_,
        stopButton_,
        demoNameEdit_,
        commandEdit_,
        sendCommandButton_,
    };
    for (qsizetype i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain[i - 1], chain[i]);
}

void MainWindow::connectServerView()
{
    ServerView* view = view_.get();
    connect(view, &ServerView::logLinesReady, this,
            [this](const QList<QByteArray>& lines) { guard_.run([&] { showLogLines(lines); }); });
    connect(view, &ServerView::auditNoticeChanged, this, &MainWindow::showAuditNotice);
    connect(view, &ServerView::statusChanged, this,
            [this](const QByteArray& text) { statusLabel_->setText(toDisplay(text)); });
    connect(view, &ServerView::listCleared, this, [this](ListKind list) { listFor(list)->clear(); });
    connect(view, &ServerView::entriesAdded, this,
            [this](ListKind list, const EntryBlock& entries) { listFor(list)->append(entries); });
    connect(view, &ServerView::listComplete, this, [this](ListKind list) { listFor(list)->finish(); });
    connect(view, &ServerView::entryRemoved, this, &MainWindow::onEntryRemoved);
    connect(view, &ServerView::errorRaised, this, [this](const QByteArray& message) { guard_.showError(message); });
    connect(view, &ServerView::connectionLost, this, &MainWindow::onConnectionLost);
    connect(view, &ServerView::connectionRestored, this, &MainWindow::onConnectionRestored);
}

void MainWindow::bindControls()
{
    guard_.bind(connectButton_, &QPushButton::clicked, [this] { onConnectClicked(); });
    for (QLineEdit* login : {serverAddressEdit_, portEdit_, passwordEdit_})
        guard_.bind(login, &QLineEdit::returnPressed, [this] { onConnectClicked(); });
    guard_.bind(disconnectButton_, &QPushButton::clicked, [this] { onDisconnectClicked(); });
    guard_.bind(pages_, &QTabWidget::currentChanged, [this] { onPageChanged(); });
    guard_.bind(openLogFolderAction_, &QAction::triggered, [this] { onOpenLogFolderTriggered(); });
    guard_.bind(exitAction_, &QAction::triggered, [this] { onExitTriggered(); });
    guard_.bind(saveServerAction_, &QAction::triggered, [this] { onSaveServerTriggered(); });
    guard_.bind(manageServersAction_, &QAction::triggered, [this] { onManageServersTriggered(); });
    guard_.bind(reconnectAction_, &QAction::toggled, [this] { onReconnectToggled(); });
    guard_.bind(aboutAction_, &QAction::triggered, [this] { onAboutTriggered(); });

    guard_.bind(refreshPlayersButton_, &QPushButton::clicked, [this] { onRefreshPlayersClicked(); });
    guard_.bind(kickButton_, &QPushButton::clicked, [this] { onKickClicked(); });
    guard_.bind(banForRoundButton_, &QPushButton::clicked, [this] { onBanForRoundClicked(); });
    guard_.bind(banPermanentlyButton_, &QPushButton::clicked, [this] { onBanPermanentlyClicked(); });

    guard_.bind(refreshBansButton_, &QPushButton::clicked, [this] { onRefreshBansClicked(); });
    guard_.bind(addKeyHashButton_, &QPushButton::clicked, [this] { onAddKeyHashClicked(); });
    guard_.bind(removeBanButton_, &QPushButton::clicked, [this] { onRemoveBanClicked(); });
    guard_.bind(clearBansButton_, &QPushButton::clicked, [this] { onClearBansClicked(); });

    guard_.bind(addMapButton_, &QPushButton::clicked, [this] { onAddMapClicked(); });
    guard_.bind(removeMapButton_, &QPushButton::clicked, [this] { onRemoveMapClicked(); });
    guard_.bind(refreshMapsButton_, &QPushButton::clicked, [this] { onRefreshMapsClicked(); });
    guard_.bind(saveMapsButton_, &QPushButton::clicked, [this] { onSaveMapsClicked(); });
    guard_.bind(runNextMapButton_, &QPushButton::clicked, [this] { onRunNextMapClicked(); });
    guard_.bind(restartMapButton_, &QPushButton::clicked, [this] { onRestartMapClicked(); });
    guard_.bind(pauseButton_, &QPushButton::clicked, [this] { onPauseClicked(); });

    guard_.bind(announceTimer_, &QTimer::timeout, [this] { onAnnounceTimer(); });
    guard_.bind(delaySpin_, &QSpinBox::textChanged, [this] { onDelayChanged(); });
    guard_.bind(saveAnnouncementsButton_, &QPushButton::clicked, [this] { onSaveAnnouncementsClicked(); });
    guard_.bind(addLineButton_, &QPushButton::clicked, [this] { onAddLineClicked(); });
    guard_.bind(removeLineButton_, &QPushButton::clicked, [this] { onRemoveLineClicked(); });
    guard_.bind(sendMessageButton_, &QPushButton::clicked, [this] { onSendMessageClicked(); });
    guard_.bind(messageEdit_, &QLineEdit::returnPressed, [this] { onSendMessageClicked(); });

    guard_.bind(sendCommandButton_, &QPushButton::clicked, [this] { onSendCommandClicked(); });
    guard_.bind(commandEdit_, &QLineEdit::returnPressed, [this] { onSendCommandClicked(); });
    guard_.bind(recordButton_, &QPushButton::clicked, [this] { onRecordClicked(); });
    guard_.bind(demoNameEdit_, &QLineEdit::returnPressed, [this] { onRecordClicked(); });
    guard_.bind(stopButton_, &QPushButton::clicked, [this] { onStopClicked(); });

    new FocusEntryWatch(mapsBox_, pages_, [this] { guard_.run([this] { onMapsBoxEntered(); }); });
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // The window closes even when the settings cannot be written.
    guard_.run([this] { saveSettings(); });
    releaseFiles();
    localMapFile_.close();
    event->accept();
}

void MainWindow::onPageChanged()
{
    if (!view_->isConnected())
        return;
    // The list of the page that came into view is asked for again.
    QWidget* page = pages_->currentWidget();
    if (page == playersPage_)
        view_->sendCommand(player_admin::RefreshCommand);
    if (page == bansPage_)
        view_->sendCommand(ban_admin::RefreshCommand);
    if (page == mapsPage_)
        view_->sendCommand(map_admin::RefreshCommand);
}

void MainWindow::onMapsBoxEntered()
{
    // Sent whether or not a connection is up: the refusal tells the user why nothing came.
    view_->sendCommand(map_admin::RefreshCommand);
}

void MainWindow::onExitTriggered()
{
    close();
}

void MainWindow::onOpenLogFolderTriggered()
{
    const QString& folder = options_.auditLogFolder;
    if (!QDir().mkpath(folder) || !options_.desktop->openFolder(folder))
        appendLog("The log folder could not be opened: " + QFile::encodeName(folder));
}

void MainWindow::onAboutTriggered()
{
    if (aboutWindow_)
        options_.dialogs->showModal(aboutWindow_());
}

void MainWindow::appendLog(const QByteArray& line)
{
    view_->appendLog(line);
}

void MainWindow::showLogLines(const QList<QByteArray>& lines)
{
    QStringList shown;
    shown.reserve(lines.size());
    for (const QByteArray& line : lines)
        shown.append(toDisplayLine(line));
    logView_->appendPlainText(shown.join(QLatin1Char('\n')));
    logView_->verticalScrollBar()->setValue(logView_->verticalScrollBar()->maximum());
}

void MainWindow::showAuditNotice(const QByteArray& notice)
{
    auditNoticeLabel_->setText(toDisplay(notice));
    auditNoticeLabel_->setToolTip(auditNoticeLabel_->text());
    auditNoticeLabel_->show();
}

// The list follows the view; the entry the user selected goes when it is the one.
void MainWindow::onEntryRemoved(ListKind list, const QByteArray& entry)
{
    ListBox* box = listFor(list);
    int index = box->selectedItem() == entry ? box->selectedIndex() : -1;
    for (int i = 0; index < 0 && i < box->count(); ++i) {
        if (box->entries().at(i) == entry)
            index = i;
    }
    if (index >= 0)
        box->remove(index);
}

void MainWindow::removeSelectedEntry(ListKind list)
{
    if (const std::optional<QByteArray> entry = listFor(list)->selectedItem())
        view_->removeEntry(list, *entry);
}

void MainWindow::connectTo(const QByteArray& host, const QByteArray& port)
{
    view_->connectToServer(host, port, [this] { return toBytes(passwordEdit_->text()); });
}

ListBox* MainWindow::listFor(ListKind list) const
{
    switch (list) {
    case ListKind::Maps: return rotationList_;
    case ListKind::Players: return playerList_;
    case ListKind::Bans: break;
    }
    return banList_;
}
