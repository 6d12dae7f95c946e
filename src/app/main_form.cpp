#include "app/main_form.h"

#include "app/about_form.h"
#include "app/dialogs.h"
#include "app/event_binding.h"
#include "app/focus_entry.h"
#include "app/list_box.h"
#include "app/spin_edit.h"
#include "app/string_grid.h"
#include "app/text_codec.h"
#include "core/errors.h"
#include "storage/settings.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
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

namespace {

const char kCaption[] = "Ravelin v0.2 :: www.bastionrow.example";
constexpr int kClientWidth = 791;
constexpr int kClientHeight = 536;

template <typename Widget>
Widget* Place(Widget* widget, const char* name, QRect geometry)
{
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(geometry);
    return widget;
}

QGroupBox* MakeGroupBox(QWidget* parent, const char* name, const char* caption, QRect geometry)
{
    return Place(new QGroupBox(QLatin1String(caption), parent), name, geometry);
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* caption, QPoint at)
{
    auto* label = new QLabel(QLatin1String(caption), parent);
    label->setObjectName(QLatin1String(name));
    label->move(at);
    label->adjustSize();
    return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, QRect geometry,
                        const char* hint = nullptr)
{
    auto* button = Place(new QPushButton(QLatin1String(caption), parent), name, geometry);
    if (hint)
        button->setToolTip(QLatin1String(hint));
    return button;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, QRect geometry)
{
    return Place(new QLineEdit(parent), name, geometry);
}

QCheckBox* MakeCheckBox(QWidget* parent, const char* name, const char* caption, QRect geometry, bool checked)
{
    auto* box = Place(new QCheckBox(QLatin1String(caption), parent), name, geometry);
    box->setChecked(checked);
    return box;
}

TListBox* MakeListBox(QWidget* parent, const char* name, QRect geometry, bool sorted = false)
{
    return Place(new TListBox(sorted, parent), name, geometry);
}

QWidget* MakePage(QTabWidget* pages, const char* name, const char* caption)
{
    auto* page = new QWidget;
    page->setObjectName(QLatin1String(name));
    pages->addTab(page, QLatin1String(caption));
    return page;
}

// The form's font: MS Sans Serif is not on Linux; Liberation Sans at the same
// 11 pixels keeps every caption inside its designed size.
QFont FormFont()
{
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(11);
    return font;
}

// The process's one console session state. It exists, all flags lowered,
// before any window does.
ConsoleState& ProcessConsoleState()
{
    static ConsoleState state;
    return state;
}

} // namespace

TMainForm::TMainForm(Options options, QWidget* parent)
    : QMainWindow(parent)
    , options_(std::move(options))
{
    if (!options_.dialogs)
        options_.dialogs = std::make_shared<QtDialogs>();
    if (options_.settingsPath.isEmpty())
        options_.settingsPath = SettingsPath(QCoreApplication::applicationDirPath());

    CreateControls();
    session_ = std::make_unique<ConsoleSession>(*ClientSocket1, ProcessConsoleState(),
                                                static_cast<SessionWindow&>(*this));
    session_->SetReplyTimeout(options_.replyTimeout);
    BindEvents();
    FormCreate();
}

TMainForm::~TMainForm() = default;

ConsoleState& TMainForm::SessionState()
{
    return ProcessConsoleState();
}

void TMainForm::CreateControls()
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QLatin1String(kCaption));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFont(FormFont());

    ClientSocket1 = new TClientSocket(this);
    ClientSocket1->setObjectName(QStringLiteral("ClientSocket1"));
    ClientSocket1->SetPort(4711);

    AnnounceTimer = new QTimer(this);
    AnnounceTimer->setObjectName(QStringLiteral("AnnounceTimer"));
    AnnounceTimer->setTimerType(Qt::PreciseTimer);
    AnnounceTimer->setInterval(10000);
    AnnounceTimer->start();

    MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    Files1 = MainMenu1->addMenu(QStringLiteral("File"));
    Files1->setObjectName(QStringLiteral("Files1"));
    Exit1 = Files1->addAction(QStringLiteral("Exit"));
    Exit1->setObjectName(QStringLiteral("Exit1"));
    Help1 = MainMenu1->addMenu(QStringLiteral("Help"));
    Help1->setObjectName(QStringLiteral("Help1"));
    About1 = Help1->addAction(QStringLiteral("About"));
    About1->setObjectName(QStringLiteral("About1"));

    ClientArea = new QWidget(this);
    ClientArea->setObjectName(QStringLiteral("ClientArea"));
    ClientArea->setFixedSize(kClientWidth, kClientHeight);
    setCentralWidget(ClientArea);

    LoginGroupBox = MakeGroupBox(ClientArea, "LoginGroupBox", "Login", {8, 8, 385, 89});
    Label1 = MakeLabel(LoginGroupBox, "Label1", "Server IP:", {8, 16});
    IPEdit = MakeEdit(LoginGroupBox, "IPEdit", {64, 16, 121, 21});
    Label2 = MakeLabel(LoginGroupBox, "Label2", "Port:", {200, 16});
    PortEdit = MakeEdit(LoginGroupBox, "PortEdit", {232, 16, 41, 21});
    Label3 = MakeLabel(LoginGroupBox, "Label3", "Password:", {8, 44});
    PasswordEdit = MakeEdit(LoginGroupBox, "PasswordEdit", {64, 44, 121, 21});
    PasswordEdit->setEchoMode(QLineEdit::Password);
    ConnectButton = MakeButton(LoginGroupBox, "ConnectButton", "Connect", {296, 16, 73, 24});
    DisconnecyButton = MakeButton(LoginGroupBox, "DisconnecyButton", "Disconnect", {296, 48, 75, 25});

    LogGroupBox = MakeGroupBox(ClientArea, "LogGroupBox", "Log", {400, 8, 385, 89});
    LogMemo = Place(new QPlainTextEdit(LogGroupBox), "LogMemo", {8, 16, 369, 65});
    LogMemo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    LogMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    LogMemo->setStyleSheet(QStringLiteral("QPlainTextEdit { background: black; color: white; }"));
    // Tab walks on through the window instead of typing into the log.
    LogMemo->setTabChangesFocus(true);

    PageControl = Place(new QTabWidget(ClientArea), "PageControl", {8, 104, 777, 409});
    // The tab bar alone takes the focus for the pages. The tab widget itself,
    // left in the focus chain behind the last page's controls, would hand Tab
    // back to its tab bar and keep the keyboard inside the pages. (Its policy
    // passes on to the tab bar, so the tab bar's own is set after it.)
    PageControl->setFocusPolicy(Qt::NoFocus);
    PageControl->setFocusProxy(nullptr);
    // Clicking a tab takes the focus, so focus never wanders into the page
    // that comes to the front (which would count as entering its controls).
    PageControl->findChild<QTabBar*>()->setFocusPolicy(Qt::StrongFocus);

    PlayerTabSheet = MakePage(PageControl, "PlayerTabSheet", "Player List");
    PlayersGroupBox = MakeGroupBox(PlayerTabSheet, "PlayersGroupBox", "Player List", {8, 4, 753, 373});
    PlayersListBox = MakeListBox(PlayersGroupBox, "PlayersListBox", {8, 16, 649, 345}, true);
    RefreshPlayersButton = MakeButton(PlayersGroupBox, "RefreshPlayersButton", "Refresh", {664, 16, 75, 25},
                                      "Refresh Player List");
    KickButton = MakeButton(PlayersGroupBox, "KickButton", "Kick", {664, 48, 75, 25},
                            "Kick the selected player from the server");
    TempBanButton = MakeButton(PlayersGroupBox, "TempBanButton", "Ban for round", {664, 80, 75, 25},
                               "This will ban the selected player for the rest of the round.");
    BanButton = MakeButton(PlayersGroupBox, "BanButton", "Perm Ban", {664, 112, 75, 25},
                           "This is will ban a player permanently");

    BansTabSheet = MakePage(PageControl, "BansTabSheet", "Ban List");
    BansGroupBox = MakeGroupBox(BansTabSheet, "BansGroupBox", "Ban List", {8, 4, 753, 373});
    BansListBox = MakeListBox(BansGroupBox, "BansListBox", {8, 16, 649, 343});
    RefeshBansButton = MakeButton(BansGroupBox, "RefeshBansButton", "Refresh", {664, 16, 75, 25});
    AddHashBanButton = MakeButton(BansGroupBox, "AddHashBanButton", "Add Key Hash", {664, 48, 75, 25});
    RemoveBanButton = MakeButton(BansGroupBox, "RemoveBanButton", "Remove", {664, 80, 75, 25});
    ClearBanListButton = MakeButton(BansGroupBox, "ClearBanListButton", "Clear Ban List", {664, 112, 75, 25});

    MapsTabSheet = MakePage(PageControl, "MapsTabSheet", "Map Rotation");
    MapsGroupBox = MakeGroupBox(MapsTabSheet, "MapsGroupBox", "Map Rotation", {8, 4, 753, 373});
    Label4 = MakeLabel(MapsGroupBox, "Label4", "Local Maps", {8, 24});
    LocalMapsListBox = MakeListBox(MapsGroupBox, "LocalMapsListBox", {8, 40, 281, 320});
    Button2 = MakeButton(MapsGroupBox, "Button2", "Add -->", {296, 40, 75, 25});
    Button3 = MakeButton(MapsGroupBox, "Button3", "<-- Remove", {296, 72, 75, 25});
    Label5 = MakeLabel(MapsGroupBox, "Label5", "Server Map Rotation", {376, 24});
    MapsListBox = MakeListBox(MapsGroupBox, "MapsListBox", {376, 40, 281, 320});
    RefreshMapsButton = MakeButton(MapsGroupBox, "RefreshMapsButton", "Refresh Maps", {664, 40, 75, 25});
    SaveMapsButton = MakeButton(MapsGroupBox, "SaveMapsButton", "Save Maps", {664, 72, 75, 25});
    RunNextMapButton = MakeButton(MapsGroupBox, "RunNextMapButton", "Run Next Map", {664, 104, 75, 25});
    RestartMapButton = MakeButton(MapsGroupBox, "RestartMapButton", "Restart Map", {664, 136, 75, 25});
    PauseButton = MakeButton(MapsGroupBox, "PauseButton", "Pause", {664, 168, 75, 25});
    GetMapButton = MakeButton(MapsGroupBox, "GetMapButton", "Current Map", {664, 204, 75, 25});
    GetMapButton->setVisible(false);

    ServerTabSheet = MakePage(PageControl, "ServerTabSheet", "Server Announcements");
    AutoAnnounceGroupBox = MakeGroupBox(ServerTabSheet, "AutoAnnounceGroupBox", "Auto Announce", {8, 8, 753, 281});
    AutoAnnounceCheckBox = MakeCheckBox(AutoAnnounceGroupBox, "AutoAnnounceCheckBox", "Auto Announce:", {8, 24, 97, 17},
                                        false);
    AutoAnnounceCheckBox->setLayoutDirection(Qt::RightToLeft);
    AutoAnnounceCheckBox->setToolTip(QStringLiteral(
        "If auto announce is turned on then the above messages will be displayed with the interval below."));
    DelayLabel = MakeLabel(AutoAnnounceGroupBox, "DelayLabel", "Delay in Seconds:", {128, 24});
    DelaySpinEdit = Place(new TSpinEdit(5, 1000, 5, 10, AutoAnnounceGroupBox), "DelaySpinEdit", {218, 21, 47, 22});
    DelaySpinEdit->setToolTip(QStringLiteral("This is the delay in seconds between each line being displayed."));
    AnnounceStringGrid = Place(new TStringGrid(AutoAnnounceGroupBox), "AnnounceStringGrid", {8, 56, 737, 177});
    AnnounceStringGrid->SetDefaultColWidth(716);
    AnnounceStringGrid->SetDefaultRowHeight(16);
    AnnounceStringGrid->SetColCount(1);
    AnnounceStringGrid->SetRowCount(20);
    AnnounceStringGrid->setToolTip(QStringLiteral("Type your server message to be displayed here."));
    // The arrow keys move between cells; Tab leaves the grid like any control.
    AnnounceStringGrid->setTabKeyNavigation(false);
    SaveButton = MakeButton(AutoAnnounceGroupBox, "SaveButton", "Save", {8, 243, 75, 25}, "Save the server messages");
    AddLineButton = MakeButton(AutoAnnounceGroupBox, "AddLineButton", "Add Line", {94, 243, 75, 25},
                               "This button will add a line to the bottem of the server mesages box");
    RemoveLineButton = MakeButton(AutoAnnounceGroupBox, "RemoveLineButton", "Remove Line", {184, 243, 75, 25},
                                  "This button will remove the bottem line from the server messages box");

    AnnounceGroupBox = MakeGroupBox(ServerTabSheet, "AnnounceGroupBox", "Admin Message", {8, 292, 577, 85});
    Label7 = MakeLabel(AnnounceGroupBox, "Label7", "Chat name:", {8, 24});
    UsernameEdit = MakeEdit(AnnounceGroupBox, "UsernameEdit", {72, 24, 137, 21});
    USMCCheckBox = MakeCheckBox(AnnounceGroupBox, "USMCCheckBox", "Send to USMC", {232, 24, 97, 17}, true);
    MECCheckBox = MakeCheckBox(AnnounceGroupBox, "MECCheckBox", "Send to MEC/China", {336, 24, 121, 17}, true);
    Label8 = MakeLabel(AnnounceGroupBox, "Label8", "Message:", {16, 48});
    MessageEdit = MakeEdit(AnnounceGroupBox, "MessageEdit", {72, 48, 369, 21});
    Button1 = MakeButton(AnnounceGroupBox, "Button1", "Send", {480, 32, 75, 25});

    OtherTabSheet = MakePage(PageControl, "OtherTabSheet", "Other");
    RemoteConsoleGroupBox = MakeGroupBox(OtherTabSheet, "RemoteConsoleGroupBox", "Remote Console", {8, 12, 313, 85});
    CommandEdit = MakeEdit(RemoteConsoleGroupBox, "CommandEdit", {8, 20, 281, 21});
    CommandButton = MakeButton(RemoteConsoleGroupBox, "CommandButton", "Send", {112, 48, 73, 25});
    RecorderGroupBox = MakeGroupBox(OtherTabSheet, "RecorderGroupBox", "Battlefield Recorder", {8, 108, 313, 85});
    Label6 = MakeLabel(RecorderGroupBox, "Label6", "Demo Name:", {8, 16});
    DemoNameEdit = MakeEdit(RecorderGroupBox, "DemoNameEdit", {80, 16, 225, 21});
    RecordButton = MakeButton(RecorderGroupBox, "RecordButton", "Record", {80, 48, 75, 25});
    StopButton = MakeButton(RecorderGroupBox, "StopButton", "Stop", {176, 48, 75, 25});

    StatusBar = Place(new QStatusBar(ClientArea), "StatusBar", {0, 517, 791, 19});
    StatusBar->setSizeGripEnabled(false);
    StatusBar->setFocusPolicy(Qt::NoFocus);
    StatusPanel0 = new QLabel(StatusBar);
    StatusPanel0->setObjectName(QStringLiteral("StatusPanel0"));
    StatusBar->addWidget(StatusPanel0, 1);

    PageControl->setCurrentWidget(ServerTabSheet);
    ApplyTabOrder();

    layout()->setSizeConstraint(QLayout::SetFixedSize);
    move(303, 243);
}

void TMainForm::ApplyTabOrder()
{
    // Depth first, each parent's controls in their designed tab order.
    const QList<QWidget*> chain = {
        IPEdit,
        PortEdit,
        PasswordEdit,
        ConnectButton,
        DisconnecyButton,
        LogMemo,
        PageControl->findChild<QTabBar*>(),
        PlayersListBox,
        RefreshPlayersButton,
        KickButton,
        TempBanButton,
        BanButton,
        BansListBox,
        RefeshBansButton,
        AddHashBanButton,
        RemoveBanButton,
        ClearBanListButton,
        MapsListBox,
        Button2,
        Button3,
        RefreshMapsButton,
        SaveMapsButton,
        RunNextMapButton,
        RestartMapButton,
        PauseButton,
        GetMapButton,
        LocalMapsListBox,
        MECCheckBox,
        USMCCheckBox,
        UsernameEdit,
        MessageEdit,
        Button1,
        AutoAnnounceCheckBox,
        DelaySpinEdit,
        SaveButton,
        AnnounceStringGrid,
        AddLineButton,
        RemoveLineButton,
        RecordButton,
        StopButton,
        DemoNameEdit,
        CommandEdit,
        CommandButton,
    };
    for (qsizetype i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain[i - 1], chain[i]);
}

void TMainForm::BindEvents()
{
    Bind(this, ConnectButton, &QPushButton::clicked, &TMainForm::ConnectButtonClick);
    Bind(this, DisconnecyButton, &QPushButton::clicked, &TMainForm::DisconnecyButtonClick);
    Bind(this, PageControl, &QTabWidget::currentChanged, &TMainForm::PageControlChange);
    Bind(this, Exit1, &QAction::triggered, &TMainForm::Exit1Click);
    Bind(this, About1, &QAction::triggered, &TMainForm::About1Click);

    Bind(this, RefreshPlayersButton, &QPushButton::clicked, &TMainForm::RefreshPlayersButtonClick);
    Bind(this, KickButton, &QPushButton::clicked, &TMainForm::KickButtonClick);
    Bind(this, TempBanButton, &QPushButton::clicked, &TMainForm::TempBanButtonClick);
    Bind(this, BanButton, &QPushButton::clicked, &TMainForm::BanButtonClick);

    Bind(this, RefeshBansButton, &QPushButton::clicked, &TMainForm::RefeshBansButtonClick);
    Bind(this, AddHashBanButton, &QPushButton::clicked, &TMainForm::AddHashBanButtonClick);
    Bind(this, RemoveBanButton, &QPushButton::clicked, &TMainForm::RemoveBanButtonClick);
    Bind(this, ClearBanListButton, &QPushButton::clicked, &TMainForm::ClearBanListButtonClick);

    Bind(this, Button2, &QPushButton::clicked, &TMainForm::Button2Click);
    Bind(this, Button3, &QPushButton::clicked, &TMainForm::Button3Click);
    Bind(this, RefreshMapsButton, &QPushButton::clicked, &TMainForm::RefreshMapsButtonClick);
    Bind(this, SaveMapsButton, &QPushButton::clicked, &TMainForm::SaveMapsButtonClick);
    Bind(this, RunNextMapButton, &QPushButton::clicked, &TMainForm::RunNextMapButtonClick);
    Bind(this, RestartMapButton, &QPushButton::clicked, &TMainForm::RestartMapButtonClick);
    Bind(this, PauseButton, &QPushButton::clicked, &TMainForm::PauseButtonClick);
    Bind(this, GetMapButton, &QPushButton::clicked, &TMainForm::GetMapButtonClick);

    Bind(this, AnnounceTimer, &QTimer::timeout, &TMainForm::AnnounceTimerTimer);
    Bind(this, DelaySpinEdit, &QSpinBox::textChanged, &TMainForm::DelaySpinEditChange);
    Bind(this, SaveButton, &QPushButton::clicked, &TMainForm::SaveButtonClick);
    Bind(this, AddLineButton, &QPushButton::clicked, &TMainForm::AddLineButtonClick);
    Bind(this, RemoveLineButton, &QPushButton::clicked, &TMainForm::RemoveLineButtonClick);
    Bind(this, Button1, &QPushButton::clicked, &TMainForm::Button1Click);

    Bind(this, CommandButton, &QPushButton::clicked, &TMainForm::CommandButtonClick);
    Bind(this, RecordButton, &QPushButton::clicked, &TMainForm::RecordButtonClick);
    Bind(this, StopButton, &QPushButton::clicked, &TMainForm::StopButtonClick);

    ClientSocket1->OnConnecting = Guarded(this, &TMainForm::ClientSocket1Connecting);
    ClientSocket1->OnDisconnect = Guarded(this, &TMainForm::ClientSocket1Disconnect);
    ClientSocket1->OnRead = Guarded(this, &TMainForm::ClientSocket1Read);
    ClientSocket1->OnError = Guarded(this, &TMainForm::ClientSocket1Error);
    ClientSocket1->OnException = [this](const std::exception& error) { HandleException(error); };
    session_->OnException = [this](const std::exception& error) { HandleException(error); };

    new FocusEntryWatch(MapsGroupBox, PageControl, [this] { RunGuarded([this] { MapsGroupBoxEnter(); }); });
}

void TMainForm::RunGuarded(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const std::exception& error) {
        HandleException(error);
    } catch (...) {
        HandleException(ERavelinError("Unknown error"));
    }
}

void TMainForm::HandleException(const std::exception& error)
{
    const auto* known = dynamic_cast<const ERavelinError*>(&error);
    const QByteArray message = known ? known->Message() : QByteArray(error.what());
    options_.dialogs->ShowError(this, ApplicationTitle(QCoreApplication::applicationFilePath()),
                                ToDisplay(ErrorBoxText(message)));
}

void TMainForm::FormCreate()
{
    SessionState().Reset();
    RunGuarded([this] { LoadSettings(); });
    // Each file on its own: a missing map list must not keep the stored
    // announcements off the table, or the next Save would overwrite them.
    RunGuarded([this] { LoadMapList(); });
    RunGuarded([this] { LoadStringGrid(*AnnounceStringGrid, QStringLiteral("servermessages.dat")); });
}

void TMainForm::FormClose()
{
    // The window closes even when the settings cannot be written.
    RunGuarded([this] { SaveSettings(); });
    CloseMapFile();
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    FormClose();
    event->accept();
}

void TMainForm::PageControlChange()
{
    if (!ClientSocket1->Active())
        return;
    QWidget* page = PageControl->currentWidget();
    if (page == PlayerTabSheet)
        RefreshPlayerList();
    if (page == BansTabSheet)
        RefreshBanList();
    if (page == MapsTabSheet)
        RefreshMapList();
}

void TMainForm::MapsGroupBoxEnter()
{
    RefreshMapList();
}

void TMainForm::Exit1Click()
{
    close();
}

void TMainForm::About1Click()
{
    if (AboutForm)
        options_.dialogs->ShowModal(*AboutForm);
}

void TMainForm::GetMapButtonClick()
{
    // The server is never asked for the current map.
}

void TMainForm::Log(const QByteArray& line)
{
    LogMemo->appendPlainText(ToDisplayLine(line));
    LogMemo->verticalScrollBar()->setValue(LogMemo->verticalScrollBar()->maximum());
}

void TMainForm::Perform(const AdminAction& action)
{
    SendCommand(action.command);
    Log(action.logLine);
}
