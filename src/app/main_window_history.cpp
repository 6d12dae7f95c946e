// The player store from the window: "Record Players" keeps what the Player
// List shows in the store, as a watcher would, and the Player History window
// reads the store, from the Servers menu or for a line of the Player List.
// A line of the Ban List tells, in its tooltip, why the store says it was placed.

#include "admin/list_fields.h"
#include "app/dialogs.h"
#include "app/list_box.h"
#include "app/main_window.h"
#include "app/player_history_window.h"
#include "app/text_codec.h"
#include "core/windows1252.h"
#include "server/server_view.h"
#include "storage/file_locations.h"
#include "storage/ini_file.h"
#include "store/player_recorder.h"
#include "store/store_location.h"
#include "store/store_writer.h"

#include <QAction>
#include <QPointer>

using namespace std::chrono_literals;

void MainWindow::connectPlayerHistory()
{
    if (const std::optional<StoreLocation> location = options_.storeUrl.isEmpty()
            ? std::nullopt
            : parseStoreLocation(options_.storeUrl)) {
        storeWriter_ = std::make_unique<StoreWriter>(*location);
        playerRecorder_ = std::make_unique<PlayerRecorder>(*storeWriter_);
        connect(storeWriter_.get(), &StoreWriter::logLine, view_.get(), &ServerView::appendLog);
        banList_->setToolTipFor([writer = QPointer(storeWriter_.get())](QByteArrayView line) {
            // The list's fields, not Remove's rule: a timed ban ("Time Left: N") has a key too.
            const std::optional<QByteArray> key = writer ? list_fields::banFields(line.toByteArray()).key
                                                         : std::nullopt;
            const std::optional<BanRecord> record = key ? writer->newestBan(windows1252::decode(*key)) : std::nullopt;
            return record ? banSummary(*record) : QString();
        });
        // The first line hovered over shows its ban's reason too.
        storeWriter_->preloadBans();
    }
    // Without a usable store there is nothing to record into; the history
    // window says why when it is opened.
    recordPlayersAction_->setEnabled(storeWriter_ != nullptr);
    recordPlayersAction_->setChecked(storeWriter_ != nullptr);

    playerLineHistoryAction_ = new QAction(QStringLiteral("Player &History..."), playerList_);
    playerLineHistoryAction_->setObjectName(QStringLiteral("playerListHistoryAction"));
    playerList_->addAction(playerLineHistoryAction_);

    guard_.bind(playerHistoryAction_, &QAction::triggered, [this] { onPlayerHistoryTriggered(); });
    guard_.bind(playerLineHistoryAction_, &QAction::triggered, [this] { onPlayerLineHistoryTriggered(); });
    guard_.bind(recordPlayersAction_, &QAction::toggled, [this] { onRecordPlayersToggled(); });
    guard_.bind(playerStoreAction_, &QAction::triggered, [this] { onPlayerStoreTriggered(); });

    // Only the Player List's own refreshes are recorded: they are what this window looked at.
    connect(view_.get(), &ServerView::listCleared, this, [this](ListKind list) {
        if (PlayerRecorder* recorder = this->recorder(); recorder && list == ListKind::Players)
            recorder->listCleared();
    });
    connect(view_.get(), &ServerView::entriesAdded, this, [this](ListKind list, const EntryBlock& entries) {
        if (PlayerRecorder* recorder = this->recorder(); recorder && list == ListKind::Players)
            recorder->entriesAdded(entries);
    });
    connect(view_.get(), &ServerView::listComplete, this, [this](ListKind list) {
        if (PlayerRecorder* recorder = this->recorder(); recorder && list == ListKind::Players)
            recorder->listComplete(QString::fromLatin1(view_->host()) + u':' + QString::number(view_->port()));
    });
    connect(view_.get(), &ServerView::disconnected, this, [this] {
        if (playerRecorder_)
            playerRecorder_->stop(QStringLiteral("the connection ended"));
    });
}

PlayerRecorder* MainWindow::recorder() const
{
    return recordPlayersAction_->isChecked() ? playerRecorder_.get() : nullptr;
}

void MainWindow::finishRecording()
{
    if (!playerRecorder_)
        return;
    // Whoever was on is no longer followed: their sessions close, and what
    // waits for the store gets a short while to be written.
    playerRecorder_->stop(QStringLiteral("the window closed"));
    storeWriter_->flush(3s);
}

void MainWindow::onRecordPlayersToggled()
{
    // Players are no longer followed: their sessions close rather than stay open for ever.
    if (!recordPlayersAction_->isChecked() && playerRecorder_)
        playerRecorder_->stop(QStringLiteral("recording was turned off"));
}

void MainWindow::onPlayerHistoryTriggered()
{
    if (!playerHistoryWindow_)
        playerHistoryWindow_ = new PlayerHistoryWindow(options_.storeUrl, options_.dialogs, this);
    playerHistoryWindow_->show();
    playerHistoryWindow_->raise();
    playerHistoryWindow_->activateWindow();
}

void MainWindow::onPlayerStoreTriggered()
{
    const std::optional<QString> typed = options_.dialogs->inputQuery(
        this, QStringLiteral("Player Store"),
        QStringLiteral("The player store: a SQLite file, or a PostgreSQL URL such as\n"
                       "postgresql://USER@HOST/DB (its password belongs in ~/.pgpass).\n"
                       "Empty for the default file, %1.\n"
                       "It is used from the next start, unless --database or RAVELIN_DATABASE names another.")
            .arg(defaultStorePath()),
        IniFile::kMaxValueLength, QString::fromUtf8(storeSetting_.value_or(QByteArray())));
    if (!typed)
        return;
    const QString url = typed->trimmed();
    QString problem;
    std::optional<StoreLocation> location = url.isEmpty() ? parseStoreLocation(defaultStorePath(), &problem)
                                                          : parseStoreLocation(url, &problem);
    if (!location) {
        options_.dialogs->showError(this, QStringLiteral("Player Store"), problem);
        return;
    }
    storeSetting_ = url.toUtf8();
    if (saveSettings())
        appendLog("The player store from the next start: " + toBytes(location->description()) + '.');
}

void MainWindow::onPlayerLineHistoryTriggered()
{
    const std::optional<QByteArray> line = playerList_->selectedItem();
    const list_fields::PlayerFields fields = line ? list_fields::playerFields(*line) : list_fields::PlayerFields{};
    onPlayerHistoryTriggered();
    // A player is found by the key hash; one without by name.
    if (fields.keyHash && !fields.keyHash->isEmpty())
        playerHistoryWindow_->search(windows1252::decode(*fields.keyHash));
    else if (fields.name && !fields.name->isEmpty())
        playerHistoryWindow_->search(windows1252::decode(*fields.name));
}

QString MainWindow::connectedServerName() const
{
    for (const SavedServer& server : savedServers_.servers())
        if (server.address == view_->host() && server.port == QByteArray::number(view_->port()))
            return windows1252::decode(server.name);
    return windows1252::decode(view_->host()) + u':' + QString::number(view_->port());
}

void MainWindow::recordBan(const QString& ban, BanRecord::Period period, const QString& playerName)
{
    if (!storeWriter_ || ban.isEmpty())
        return;
    BanRecord record;
    record.server = connectedServerName();
    record.ban = ban;
    record.playerName = playerName;
    record.period = period;
    record.placedBy = localUserName();
    storeWriter_->submitChange(record);
}
