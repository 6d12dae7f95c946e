#pragma once

// The main window. It lays out the designed controls, wires them to its
// server view (the session, its lists, its log) and the administration rules
// of the core, and shows what the view reports. Its handlers, defined by area
// in main_window_<area>.cpp, stay thin: read the controls, call the core, show
// the result.

#include "admin/announce_admin.h"
#include "app/event_binding.h"
#include "session/reply_reader.h"
#include "storage/audit_log.h"
#include "storage/command_history.h"
#include "storage/saved_servers.h"
#include "storage/settings.h"
#include "storage/text_file.h"
#include "store/ban_record.h"

#include <QMainWindow>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class AboutWindow;
class Desktop;
class Dialogs;
class FleetWindow;
class PasswordStore;
class PlayerHistoryWindow;
class PlayerRecorder;
class ListBox;
class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTimer;
class ServerView;
class SpinEdit;
class StoreWriter;
class StringGrid;
struct AdminAction;
class WriterLock;

struct MainWindowOptions
{
    // The three files; an empty path means the usual place (file_locations.h).
    QString settingsPath;
    QString mapsPath;
    QString announcementsPath;
    // The console's history; empty keeps it for this run only.
    QString commandHistoryPath;
    // Where the day files of the audit log go; empty keeps no audit log.
    QString auditLogFolder;
    // The most one day's file of the audit log may hold.
    qint64 auditLogDayCap = AuditLog::kDefaultDayCap;
    // The saved servers of the Servers menu; empty keeps them for this run only.
    QString savedServersPath;
    // The modal boxes, the desktop and the keyring; null means the real ones.
    std::shared_ptr<Dialogs> dialogs;
    std::shared_ptr<Desktop> desktop;
    std::shared_ptr<PasswordStore> passwordStore;
    // How long a command's reply may take before it is logged as late, and
    // how long before the connection is given up on.
    std::chrono::milliseconds replyTimeout{10000};
    std::chrono::milliseconds giveUpTimeout{60000};
    // How long a connect may take before it fails as timed out.
    std::chrono::milliseconds connectTimeout{21000};
    // How long a login after a drop must last before the connection counts as back.
    std::chrono::milliseconds reconnectHeldAfter{60000};
    // The player store's URL (store_location.h); empty keeps no player history.
    QString storeUrl;
    // The ban reasons the Fleet window offers; empty offers a few common ones.
    QString banReasonsPath;
    // The automation file the Fleet window runs, and where its claims are kept.
    QString automationPath;
    QString automationClaimFolder;
    // The desired-state file the Fleet window plans with.
    QString desiredStatePath;
};

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(MainWindowOptions options = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The About window that Help > About shows; start-up creates it after this one.
    // Where Help > About finds its window; it may make the window when first asked.
    void setAboutWindow(std::function<AboutWindow&()> about) { aboutWindow_ = std::move(about); }
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
    void createTakeAwayActions();
    void connectServerView();
    void bindControls();
    // The player store: recording the Player List into it, and the Player History window.
    void connectPlayerHistory();
    void finishRecording();

    // Start-up and closing: the three files.
    void loadFiles();
    void loadSettings();
    // False when another window holds settings.ini, which the log then says.
    bool saveSettings();
    // Lets another window write the files once this one has closed.
    void releaseFiles();
    void loadMapList();
    void loadAnnouncements();
    void loadSavedServers();

    // Logs a line through the view: the log pane and the audit log.
    void appendLog(const QByteArray& line);
    // What the server view reports: log lines for the pane, the audit log's
    // lasting notice, an entry taken out of a list.
    void showLogLines(const QList<QByteArray>& lines);
    void showAuditNotice(const QByteArray& notice);
    void onEntryRemoved(ListKind list, const QByteArray& entry);
    // The Servers menu, its saved servers first.
    void fillServersMenu();
    // Connects to a saved server once its password is known (or not).
    void connectToSavedServer(const SavedServer& server, std::optional<QByteArray> password);
    void storeSavedServers(const SavedServers& servers);
    ListBox* listFor(ListKind list) const;
    // Takes the selected entry of a server's list out, in the view and so in the window.
    void removeSelectedEntry(ListKind list);
    // Connects to the server in the login boxes; the login reads the password box.
    void connectTo(const QByteArray& host, const QByteArray& port);
    // The id of the selected player, or nothing after logging the refusal.
    std::optional<QByteArray> selectedPlayerId();
    // Sends a ban of the selected player; the line leaves the list before it is logged.
    void banSelectedPlayer(AdminAction (*ban)(const QByteArray& id));
    // The selected entry of a map list, or nothing after logging the refusal.
    std::optional<QByteArray> selectedMapLine(const ListBox& list);

    // Lists to take away: "Copy All" and "Save As..." of a list or the log.
    enum class SaveFormats { TextOnly, TextOrPlayersCsv, TextOrBansCsv };
    void addTakeAwayActions(QWidget* view, const QString& name, SaveFormats formats,
                            std::function<QList<QByteArray>()> lines);
    void onLogContextMenu(QPoint at);
    void onCopyAllTriggered(const QList<QByteArray>& lines);
    void onSaveAsTriggered(const QString& name, SaveFormats formats, const QList<QByteArray>& lines);

    // The shell.
    void onPageChanged();
    void onMapsBoxEntered();
    void onExitTriggered();
    void onAboutTriggered();
    void onOpenLogFolderTriggered();
    // The Servers menu.
    void onSavedServerChosen(qsizetype index);
    void onSaveServerTriggered();
    void onManageServersTriggered();
    void onReconnectToggled();
    void onConnectionLost(const QByteArray& server);
    void onConnectionRestored(const QByteArray& server);
    void onPlayerHistoryTriggered();
    void onPlayerStoreTriggered();
    // The Fleet window: made when first opened, or at start when it was open at the last exit.
    void onFleetTriggered();
    void connectFleet();
    std::optional<StoredSettings::WindowPlace> fleetPlace() const;
    // The connected server as the store names it: its saved name, or host:port.
    QString connectedServerName() const;
    // Keeps a ban made in this window in the store, where there is one.
    void recordBan(const QString& ban, BanRecord::Period period, const QString& playerName);
    void onPlayerLineHistoryTriggered();
    void onRecordPlayersToggled();
    // The recorder while Record Players is on, else null.
    PlayerRecorder* recorder() const;
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
    QLabel* auditNoticeLabel_; // a lasting notice once the audit log drops lines
    SavedServers savedServers_;
    // settings.ini held the reconnect key: it is written back, even when off.
    bool reconnectStored_ = false;
    announce_admin::Announcer announcer_;
    TextFileReader localMapFile_;
    std::unique_ptr<CommandHistory> commandHistory_;
    // servermessages.dat was there at start-up but could not be read.
    bool unreadAnnouncements_ = false;
    // One window writes settings.ini and servermessages.dat: the first to
    // open holds them until it closes; another says so and saves neither.
    std::unique_ptr<WriterLock> settingsLock_;
    std::unique_ptr<WriterLock> announcementsLock_;
    std::function<AboutWindow&()> aboutWindow_;
    // Made with the window when a store is set; the writer has a thread of its own.
    std::unique_ptr<StoreWriter> storeWriter_;
    std::unique_ptr<PlayerRecorder> playerRecorder_;
    PlayerHistoryWindow* playerHistoryWindow_ = nullptr;    // made when first shown
    FleetWindow* fleetWindow_ = nullptr;                    // made when first shown
    std::optional<StoredSettings::WindowPlace> fleetPlace_; // as settings.ini had it
    std::optional<QByteArray> storeSetting_;                // the database settings.ini names
    // The server this window shows, in the window's tree of objects. It goes
    // before the recorder it feeds and the controls it fills, which its last
    // reports may still reach.
    std::unique_ptr<ServerView> view_;

    QTimer* announceTimer_;
    QAction* openLogFolderAction_;
    QAction* exitAction_;
    QMenu* serversMenu_;
    QAction* saveServerAction_;
    QAction* manageServersAction_;
    QAction* reconnectAction_;
    QAction* playerHistoryAction_;
    QAction* recordPlayersAction_;
    QAction* playerStoreAction_;
    QAction* fleetAction_;
    QAction* playerLineHistoryAction_ = nullptr;
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
