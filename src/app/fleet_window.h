#pragma once

// The Fleet window: every saved server at a glance, watched one connection
// each, with the players of the one chosen below it; kick, ban and speak to
// one server or to all of them; the watchlist; and which bans a server lacks
// that the others have.

#include "app/event_binding.h"
#include "automation/schedule_run.h"
#include "desired/desired_state.h"
#include "desired/server_change.h"
#include "storage/saved_servers.h"
#include "watch/ban_sync.h"
#include "watch/fleet.h"
#include "watch/fleet_model.h"
#include "watch/watchlist.h"

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QWidget>

#include <map>
#include <memory>
#include <optional>

class AutomationRunner;
class Desktop;
class Dialogs;
class PasswordStore;
class PlayerLookup;
class QComboBox;
class QCheckBox;
class QLabel;
class QNetworkAccessManager;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSortFilterProxyModel;
class QTabWidget;
class QTableView;
class QTimer;
class QTreeWidget;
class StoreWriter;
struct BanOrder;

struct FleetWindowOptions
{
    std::shared_ptr<Dialogs> dialogs;
    std::shared_ptr<Desktop> desktop;
    std::shared_ptr<PasswordStore> passwordStore;
    // Where the fleet's events go; null keeps no history.
    StoreWriter* storeWriter = nullptr;
    // The store the watchlist is read from, as parseStoreLocation takes it;
    // empty keeps the watchlist for this run only.
    QString storeUrl;
    // The ban reasons offered; a missing file offers a few common ones.
    QString banReasonsPath;
    ServerWatch::Timing timing;
    // The automation file run while the window is open; empty runs none.
    QString automationPath;
    // Where the claims on servers' automation are kept; empty claims none.
    QString claimFolder;
    // The desired-state file the Desired State page plans with.
    QString desiredStatePath;
};

class FleetWindow : public QWidget
{
    Q_OBJECT

public:
    explicit FleetWindow(FleetWindowOptions options, QWidget* parent = nullptr);
    ~FleetWindow() override;

    // The servers to watch, in the order of the Servers menu; their
    // passwords come from the keyring.
    void setServers(const SavedServers& servers);
    Fleet& fleet() { return fleet_; }

signals:
    // A line for the main window's log.
    void logLine(const QByteArray& line);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void createControls();
    QWidget* createServersPage();
    QWidget* createBanSyncPage();
    QWidget* createWatchlistPage();
    QWidget* createAutomationPage();
    QWidget* createDesiredPage();

    void watchServers();
    void updateServer(qsizetype fleetIndex);
    void updatePlayers();
    // The saved server of a row of the servers table, as shown (sorted, filtered).
    std::optional<int> selectedServerRow() const;
    std::optional<FleetPlayerRow> selectedPlayer() const;
    ServerWatch* watchOfRow(int row) const;
    QStringList watchedOn(const ServerWatch& watch) const;
    void say(const QString& line);

    // Sends `command` to a server and says how it went; `done` hears whether
    // the server answered.
    void sendAction(ServerWatch& watch, const QByteArray& command, const QString& what,
                    std::function<void(bool answered)> done = {});

    void onKickClicked();
    void onBanClicked();
    void banEverywhere(ServerWatch& home, const FleetPlayerRow& player, const BanOrder& order);
    void onSendMessageClicked();
    void onWatchedPlayerJoined(const WatchEvent& event);
    // Ban sync: what each server lacks, as the watches last read the bans.
    void onCompareBansClicked();
    void showMissingBans();
    void onCopyBansClicked();
    void onCopyFinished(const QList<BanSyncResult>& results);
    // The watchlist: kept in the store, read again every minute for what others added.
    void onAddWatchClicked();
    void onRemoveWatchClicked();
    // Reads the automation file and runs it; what the store knows of the
    // last runs first, when there is a store.
    void startAutomation();
    void runAutomation(const QList<ScheduleRun>& lastRuns);
    void stopAutomation();
    void showAutomation();
    void onAutomationEvent(const WatchEvent& event);
    void onRunNowClicked();

    // The Desired State page: each saved server's plan, applied and undone
    // through the fleet's own watches, one change per server at a time.
    struct DesiredRow
    {
        QString summary = QStringLiteral("not planned");
        QStringList lines;
        bool pending = false; // planned with changes, not applied since
    };
    void onPlanClicked();
    void onApplyClicked();
    void onUndoClicked();
    // Reads the desired-state file and says how it went; false when it has problems.
    bool readDesiredFile();
    void readStoredSnapshots();
    // The servers the buttons act on: the one chosen, or every one of `names`
    // after the user says yes; none when the user says no.
    QStringList desiredTargets(const QStringList& names, const QString& caption, const QString& question);
    QStringList savedServerNames() const;
    enum class DesiredStep { Plan, Apply, Undo };
    // Starts a change on `server` unless one runs there already or it is not up.
    void startChange(const QString& server, DesiredStep step, const std::function<void(ServerChange&)>& begin);
    void onChangeFinished(const ChangeReport& report, DesiredStep step);
    ServerChange::SnapshotKeeper keepSnapshot(const QString& server, const QString& label);
    void showDesiredRows();
    void updateDesiredButtons();

    void onWatchlistRead(const QList<WatchEntry>& entries, const QStringList& notedKeys, const QString& error);

    FleetWindowOptions options_;
    ErrorGuard guard_;
    Fleet fleet_;
    SavedServers servers_;
    QList<std::optional<QByteArray>> passwords_; // by saved server; none: the keyring has none
    int passwordsAwaited_ = 0;
    bool watching_ = false;
    QString selectedPlayerKey_; // kept across a reset of the players table

    FleetServerModel serverModel_;
    FleetPlayerModel playerModel_;
    QSortFilterProxyModel* serverProxy_;
    QSortFilterProxyModel* playerProxy_;

    QTabWidget* pages_;
    QLineEdit* serverFilterEdit_;
    QTableView* serverTable_;
    QLabel* playersLabel_;
    QLineEdit* playerFilterEdit_;
    QTableView* playerTable_;
    QPushButton* kickButton_;
    QPushButton* banButton_;
    QLineEdit* messageEdit_;
    QCheckBox* everyServerCheck_;
    QPushButton* sendMessageButton_;
    QPlainTextEdit* fleetLog_;

    BanCopier banCopier_;
    QList<ServerLack> lacks_;            // as the ban sync table shows them
    QHash<QString, QDateTime> bansSeen_; // when each server's bans were read, as last compared
    QTimer* banSyncTimer_;               // compares again once fresh bans have come in
    QTreeWidget* missingBanList_;
    QLabel* banSyncLabel_;
    QPushButton* compareBansButton_;
    QPushButton* copyBansButton_;

    std::unique_ptr<PlayerLookup> lookup_; // none without a usable store
    Watchlist watchlist_;
    QSet<QString> notedKeys_;  // players the store has a note on
    qint64 localWatchIds_ = 0; // entries of a run without a store
    QTreeWidget* watchList_;
    QComboBox* watchKindBox_;
    QLineEdit* watchPatternEdit_;
    QLineEdit* watchNoteEdit_;
    QPushButton* addWatchButton_;
    QPushButton* removeWatchButton_;
    QLabel* watchStatusLabel_;

    std::unique_ptr<AutomationRunner> automation_;
    QNetworkAccessManager* network_;
    bool automationWanted_ = false; // shown, and not closed since
    QLabel* automationLabel_;
    QTreeWidget* scheduleList_;
    QTreeWidget* ruleList_;
    QPushButton* runNowButton_;
    QPushButton* reloadAutomationButton_;

    std::optional<DesiredState> desired_; // as last read, when it read without problems
    QHash<QString, DesiredRow> desiredRows_;
    QHash<QString, ServerState> keptThisRun_;                  // before this run's applies, by server
    QHash<QString, ServerState> keptInStore_;                  // the store's newest "before apply", by server
    std::map<QString, std::unique_ptr<ServerChange>> changes_; // under way; gone before the fleet
    QLabel* desiredLabel_;
    QTreeWidget* planTree_;
    QPushButton* planButton_;
    QPushButton* applyButton_;
    QPushButton* undoButton_;
};
