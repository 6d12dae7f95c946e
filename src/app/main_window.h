#pragma once

// The main window. It lays out the designed controls, wires them to the
// console session and the administration rules of the core, and shows what
// the session reports. Its handlers, defined by area in main_window_<area>.cpp,
// stay thin: read the controls, call the core, show the result.

#include "admin/announce_admin.h"
#include "app/event_binding.h"
#include "session/reply_reader.h"
#include "storage/command_history.h"
#include "storage/text_file.h"

#include <QMainWindow>

#include <chrono>
#include <memory>

class AboutWindow;
class ConsoleSession;
class Dialogs;
class ListBox;
class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTimer;
class SpinEdit;
class StringGrid;
struct AdminAction;

struct MainWindowOptions
{
    // The three files; an empty path means the usual place (file_locations.h).
    QString settingsPath;
    QString mapsPath;
    QString announcementsPath;
    // The console's history; empty keeps it for this run only.
    QString commandHistoryPath;
    // The modal boxes; null means the real ones.
    std::shared_ptr<Dialogs> dialogs;
    // How long a command's reply may take before the next command goes out.
    std::chrono::milliseconds replyTimeout{10000};
    // How long a connect may take before it fails as timed out.
    std::chrono::milliseconds connectTimeout{21000};
};

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(MainWindowOptions options = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The About window that Help > About shows; start-up creates it after this one.
    void setAboutWindow(AboutWindow* about) { aboutWindow_ = about; }
    const std::shared_ptr<Dialogs>& dialogs() const { return options_.dialogs; }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void createMenus();
    void createLoginAndLog(QWidget* area);
    void createPlayersPage();
    void createBansPage();
    void createMapsPage();
    void createAnnouncementsPage();
    void createOtherPage();
    void applyTabOrder();
    void connectSession();
    void bindControls();

    // Start-up and closing: the three files.
    void loadFiles();
    void loadSettings();
    void saveSettings();
    void loadMapList();
    void loadAnnouncements();

    void appendLog(const QByteArray& line);
    ListBox* listFor(ListKind list) const;
    // Sends the action's command, then logs its sentence.
    void perform(const AdminAction& action);
    // The id of the selected player, or nothing after logging the refusal.
    std::optional<QByteArray> selectedPlayerId();
    // Sends a ban of the selected player; the line leaves the list before it is logged.
    void banSelectedPlayer(AdminAction (*ban)(const QByteArray& id));
    // The selected entry of a map list, or nothing after logging the refusal.
    std::optional<QByteArray> selectedMapLine(const ListBox& list);

    // The shell.
    void onPageChanged();
    void onMapsBoxEntered();
    void onExitTriggered();
    void onAboutTriggered();
    // Connecting.
    void onConnectClicked();
    void onDisconnectClicked();
    // "Player List".
    void onRefreshPlayersClicked();
    void onKickClicked();
    void onBanForRoundClicked();
    void onBanPermanentlyClicked();
    // "Ban List".
    void onRefreshBansClicked();
    void onAddKeyHashClicked();
    void onRemoveBanClicked();
    void onClearBansClicked();
    // "Map Rotation".
    void onRefreshMapsClicked();
    void onAddMapClicked();
    void onRemoveMapClicked();
    void onSaveMapsClicked();
    void onRunNextMapClicked();
    void onRestartMapClicked();
    void onPauseClicked();
    // "Server Announcements".
    void onSendMessageClicked();
    void onAnnounceTimer();
    void onDelayChanged();
    void onAddLineClicked();
    void onRemoveLineClicked();
    void onSaveAnnouncementsClicked();
    // "Other".
    void onSendCommandClicked();
    void onRecordClicked();
    void onStopClicked();

    MainWindowOptions options_;
    ErrorGuard guard_;
    ConsoleSession* session_;
    announce_admin::Announcer announcer_;
    TextFileReader localMapFile_;
    std::unique_ptr<CommandHistory> commandHistory_;
    // servermessages.dat was there at start-up but could not be read.
    bool unreadAnnouncements_ = false;
    AboutWindow* aboutWindow_ = nullptr;

    QTimer* announceTimer_;
    QAction* exitAction_;
    QAction* aboutAction_;

    QLineEdit* serverAddressEdit_;
    QLineEdit* portEdit_;
    QLineEdit* passwordEdit_;
    QPushButton* connectButton_;
    QPushButton* disconnectButton_;
    QPlainTextEdit* logView_;
    QTabWidget* pages_;
    QLabel* statusLabel_;

    QWidget* playersPage_;
    ListBox* playerList_;
    QPushButton* refreshPlayersButton_;
    QPushButton* kickButton_;
    QPushButton* banForRoundButton_;
    QPushButton* banPermanentlyButton_;

    QWidget* bansPage_;
    ListBox* banList_;
    QPushButton* refreshBansButton_;
    QPushButton* addKeyHashButton_;
    QPushButton* removeBanButton_;
    QPushButton* clearBansButton_;

    QWidget* mapsPage_;
    QGroupBox* mapsBox_;
    ListBox* localMapList_;
    QPushButton* addMapButton_;
    QPushButton* removeMapButton_;
    ListBox* rotationList_;
    QPushButton* refreshMapsButton_;
    QPushButton* saveMapsButton_;
    QPushButton* runNextMapButton_;
    QPushButton* restartMapButton_;
    QPushButton* pauseButton_;
    QPushButton* currentMapButton_;

    QWidget* announcementsPage_;
    QCheckBox* autoAnnounceCheck_;
    SpinEdit* delaySpin_;
    StringGrid* announcementGrid_;
    QPushButton* saveAnnouncementsButton_;
    QPushButton* addLineButton_;
    QPushButton* removeLineButton_;
    QLineEdit* chatNameEdit_;
    QCheckBox* usmcCheck_;
    QCheckBox* mecCheck_;
    QLineEdit* messageEdit_;
    QPushButton* sendMessageButton_;

    QWidget* otherPage_;
    QLineEdit* commandEdit_;
    QPushButton* sendCommandButton_;
    QLineEdit* demoNameEdit_;
    QPushButton* recordButton_;
    QPushButton* stopButton_;
};
