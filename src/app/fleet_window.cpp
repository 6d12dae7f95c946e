#include "app/fleet_window.h"

#include "admin/fleet_admin.h"
#include "app/ban_dialog.h"
#include "app/desktop.h"
#include "app/dialogs.h"
#include "app/player_history_window.h"
#include "app/text_codec.h"
#include "app/window_parts.h"
#include "automation/automation_runner.h"
#include "storage/file_locations.h"
#include "storage/password_store.h"
#include "store/player_lookup.h"
#include "store/store_location.h"
#include "store/store_writer.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// The most lines the fleet's own log keeps.
constexpr int kMaxFleetLogLines = 1000;

QSortFilterProxyModel* makeProxy(QAbstractItemModel* source, QObject* parent)
{
    auto* proxy = new QSortFilterProxyModel(parent);
    proxy->setSourceModel(source);
    proxy->setSortRole(kSortRole);
    proxy->setFilterCaseSensitivity(Qt::CaseInsensitive);
    proxy->setFilterKeyColumn(-1);
    return proxy;
}

QTableView* makeTable(QWidget* parent, const char* name, const QString& accessibleName, QAbstractItemModel* model)
{
    auto* table = new QTableView(parent);
    table->setObjectName(QLatin1String(name));
    table->setAccessibleName(accessibleName);
    table->setModel(model);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setSortingEnabled(true);
    table->sortByColumn(0, Qt::AscendingOrder);
    table->setWordWrap(false);
    table->setTabKeyNavigation(false);
    table->verticalHeader()->hide();
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 8);
    table->horizontalHeader()->setStretchLastSection(true);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    return table;
}

// Columns as wide as what they hold, the last one taking the room left.
void fitColumns(QTableView* table)
{
    table->resizeColumnsToContents();
    table->horizontalHeader()->setStretchLastSection(false);
    table->horizontalHeader()->setStretchLastSection(true);
}

QLineEdit* makeFilter(QWidget* parent, const char* name, const QString& accessibleName)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setAccessibleName(accessibleName);
    edit->setPlaceholderText(QStringLiteral("Type to filter"));
    giveClearButton(edit);
    return edit;
}

QString savedName(const SavedServer& server)
{
    return toDisplay(server.name);
}

} // namespace

FleetWindow::FleetWindow(FleetWindowOptions options, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , options_(std::move(options))
    , guard_(this, options_.dialogs)
    , fleet_(options_.timing)
{
    createControls();
    connect(&fleet_, &Fleet::serverChanged, this, [this](qsizetype index) { updateServer(index); });
    connect(&fleet_, &Fleet::watchedPlayerJoined, this,
            [this](const WatchEvent& event) { guard_.run([&] { onWatchedPlayerJoined(event); }); });
    fleet_.setWatchMatcher([this](const SeenPlayer& player) {
        QStringList notes;
        for (const WatchEntry& entry : watchlist_.matches(player))
            notes.append(entry.note.isEmpty() ? entry.pattern : entry.note);
        return notes;
    });
    QString storeProblem;
    if (options_.storeUrl.trimmed().isEmpty()) {
        watchStatusLabel_->setText(QStringLiteral("No player store is set: the watchlist is kept for this run only."));
    } else if (const std::optional<StoreLocation> location = parseStoreLocation(options_.storeUrl, &storeProblem)) {
        lookup_ = std::make_unique<PlayerLookup>(*location);
        connect(lookup_.get(), &PlayerLookup::watchlistRead, this,
                [this](const QList<WatchEntry>& entries, const QStringList& noted, const QString& error) {
                    guard_.run([&] { onWatchlistRead(entries, noted, error); });
                });
        lookup_->readWatchlist();
        auto* reread = new QTimer(this);
        connect(reread, &QTimer::timeout, lookup_.get(), &PlayerLookup::readWatchlist);
        reread->start(std::chrono::minutes(1));
    } else {
        watchStatusLabel_->setText(QStringLiteral("The player store cannot be used (%1): the watchlist is kept for "
                                                  "this run only.")
                                       .arg(storeProblem));
    }
    connect(&banCopier_, &BanCopier::finished, this,
            [this](const QList<BanSyncResult>& results) { guard_.run([&] { onCopyFinished(results); }); });
    if (options_.storeWriter) {
        connect(
            &fleet_, &Fleet::observed, options_.storeWriter,
            [writer = options_.storeWriter](const QList<WatchEvent>& events, const QList<PopulationSample>& samples) {
                writer->submit(events, samples);
            });
    }
}

FleetWindow::~FleetWindow()
{
    // The watches say they stopped as the fleet goes, after the tables have gone.
    fleet_.disconnect(this);
}

void FleetWindow::createControls()
{
    setObjectName(QStringLiteral("fleetWindow"));
    setWindowTitle(QStringLiteral("Fleet"));
    setAccessibleName(windowTitle());
    pages_ = new QTabWidget(this);
    pages_->setObjectName(QStringLiteral("fleetPages"));
    pages_->setAccessibleName(QStringLiteral("Fleet pages"));
    pages_->addTab(createServersPage(), QStringLiteral("&Servers"));
    pages_->addTab(createWatchlistPage(), QStringLiteral("&Watchlist"));
    pages_->addTab(createBanSyncPage(), QStringLiteral("Ban S&ync"));
    pages_->addTab(createAutomationPage(), QStringLiteral("Au&tomation"));
    pages_->addTab(createDesiredPage(), QStringLiteral("Des&ired State"));

    fleetLog_ = new QPlainTextEdit(this);
    fleetLog_->setObjectName(QStringLiteral("fleetLog"));
    fleetLog_->setAccessibleName(QStringLiteral("Fleet log"));
    fleetLog_->setReadOnly(true);
    fleetLog_->setMaximumBlockCount(kMaxFleetLogLines);
    fleetLog_->setTabChangesFocus(true);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->setObjectName(QStringLiteral("fleetLogSplitter"));
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(pages_);
    splitter->addWidget(fleetLog_);
    splitter->setStretchFactor(0, 4);
    splitter->setStretchFactor(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(splitter);
    resize(900, 640);

    auto* findShortcut = new QShortcut(QKeySequence::Find, this);
    connect(findShortcut, &QShortcut::activated, this, [this] {
        pages_->setCurrentIndex(0);
        serverFilterEdit_->setFocus(Qt::ShortcutFocusReason);
        serverFilterEdit_->selectAll();
    });
}

QWidget* FleetWindow::createServersPage()
{
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("fleetServersPage"));

    serverFilterEdit_ = makeFilter(page, "serverFilterEdit", QStringLiteral("Filter servers"));
    auto* serverFilterLabel = new QLabel(QStringLiteral("&Find server:"), page);
    serverFilterLabel->setBuddy(serverFilterEdit_);
    serverProxy_ = makeProxy(&serverModel_, this);
    serverTable_ = makeTable(page, "serverTable", QStringLiteral("Servers"), serverProxy_);

    playersLabel_ = new QLabel(page);
    playersLabel_->setObjectName(QStringLiteral("fleetPlayersLabel"));
    playersLabel_->setTextFormat(Qt::PlainText);
    playerFilterEdit_ = makeFilter(page, "playerFilterEdit", QStringLiteral("Filter players"));
    auto* playerFilterLabel = new QLabel(QStringLiteral("Find &player:"), page);
    playerFilterLabel->setBuddy(playerFilterEdit_);
    playerProxy_ = makeProxy(&playerModel_, this);
    playerTable_ = makeTable(page, "fleetPlayerTable", QStringLiteral("Players"), playerProxy_);
    playersLabel_->setBuddy(playerTable_);

    kickButton_ = makeButton(page, "fleetKickButton", QStringLiteral("&Kick"));
    banButton_ = makeButton(page, "fleetBanButton", QStringLiteral("&Ban..."));
    messageEdit_ = new QLineEdit(page);
    messageEdit_->setObjectName(QStringLiteral("fleetMessageEdit"));
    messageEdit_->setAccessibleName(QStringLiteral("Message to players"));
    auto* messageLabel = new QLabel(QStringLiteral("&Message:"), page);
    messageLabel->setBuddy(messageEdit_);
    everyServerCheck_ = new QCheckBox(QStringLiteral("To &every server"), page);
    everyServerCheck_->setObjectName(QStringLiteral("fleetEveryServerCheck"));
    sendMessageButton_ = makeButton(page, "fleetSendMessageButton", QStringLiteral("Sen&d"));

    auto* serverFilterRow = new QHBoxLayout;
    serverFilterRow->addWidget(serverFilterLabel);
    serverFilterRow->addWidget(serverFilterEdit_, 1);
    auto* playerFilterRow = new QHBoxLayout;
    playerFilterRow->addWidget(playersLabel_, 1);
    playerFilterRow->addWidget(playerFilterLabel);
    playerFilterRow->addWidget(playerFilterEdit_, 1);
    auto* actionRow = new QHBoxLayout;
    actionRow->addWidget(kickButton_);
    actionRow->addWidget(banButton_);
    actionRow->addSpacing(12);
    actionRow->addWidget(messageLabel);
    actionRow->addWidget(messageEdit_, 1);
    actionRow->addWidget(everyServerCheck_);
    actionRow->addWidget(sendMessageButton_);

    auto* serversPane = new QWidget(page);
    auto* serversLayout = new QVBoxLayout(serversPane);
    serversLayout->setContentsMargins(0, 0, 0, 0);
    serversLayout->addLayout(serverFilterRow);
    serversLayout->addWidget(serverTable_);
    auto* playersPane = new QWidget(page);
    auto* playersLayout = new QVBoxLayout(playersPane);
    playersLayout->setContentsMargins(0, 0, 0, 0);
    playersLayout->addLayout(playerFilterRow);
    playersLayout->addWidget(playerTable_);
    playersLayout->addLayout(actionRow);
    auto* splitter = new QSplitter(Qt::Vertical, page);
    splitter->setObjectName(QStringLiteral("fleetSplitter"));
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(serversPane);
    splitter->addWidget(playersPane);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(splitter);

    // Players came or went: the columns fit the new rows.
    connect(&playerModel_, &QAbstractItemModel::modelReset, playerTable_, [this] { fitColumns(playerTable_); });
    connect(serverFilterEdit_, &QLineEdit::textChanged, serverProxy_, &QSortFilterProxyModel::setFilterFixedString);
    connect(playerFilterEdit_, &QLineEdit::textChanged, playerProxy_, &QSortFilterProxyModel::setFilterFixedString);
    connect(serverTable_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this] { guard_.run([this] { updatePlayers(); }); });
    connect(playerTable_->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] {
        if (const std::optional<FleetPlayerRow> player = selectedPlayer())
            selectedPlayerKey_ = player->player.key();
    });
    guard_.bind(kickButton_, &QPushButton::clicked, [this] { onKickClicked(); });
    guard_.bind(banButton_, &QPushButton::clicked, [this] { onBanClicked(); });
    guard_.bind(sendMessageButton_, &QPushButton::clicked, [this] { onSendMessageClicked(); });
    guard_.bind(messageEdit_, &QLineEdit::returnPressed, [this] { onSendMessageClicked(); });
    updatePlayers();
    return page;
}

void FleetWindow::setServers(const SavedServers& servers)
{
    servers_ = servers;
    passwords_ = QList<std::optional<QByteArray>>(servers.servers().size());
    QList<FleetServerRow> rows;
    for (const SavedServer& server : servers.servers()) {
        FleetServerRow row;
        row.name = savedName(server);
        row.address = toDisplay(server.address) + u':' + toDisplay(server.port);
        row.state = ServerWatch::State::LoggingIn;
        rows.append(row);
    }
    serverModel_.setRows(rows);
    showDesiredRows();
    if (serverProxy_->rowCount() > 0 && !serverTable_->currentIndex().isValid())
        serverTable_->selectRow(0);

    // Each server is watched once the keyring has said its password.
    const int generation = ++passwordsAwaited_;
    const auto& list = servers_.servers();
    auto left = std::make_shared<qsizetype>(list.size());
    if (list.isEmpty()) {
        watchServers();
        return;
    }
    PasswordStore* store = options_.passwordStore.get();
    for (qsizetype i = 0; i < list.size(); ++i) {
        const auto answered = [self = QPointer(this), generation, i, left](std::optional<QByteArray> password) {
            if (!self || generation != self->passwordsAwaited_)
                return;
            self->passwords_[i] = std::move(password);
            if (--*left == 0)
                self->guard_.run([&] { self->watchServers(); });
        };
        if (store && store->isAvailable())
            store->read(list[i].keyringKey(), answered);
        else
            answered(std::nullopt);
    }
}

void FleetWindow::watchServers()
{
    if (!isVisible()) {
        fleet_.stop();
        return;
    }
    QList<ServerWatch::Target> targets;
    const auto& list = servers_.servers();
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (!passwords_.value(i)) {
            FleetServerRow row = serverModel_.row(int(i));
            row.state = ServerWatch::State::Refused;
            row.trouble = QStringLiteral("No password for it is kept in the keyring (Servers > Save Server)");
            serverModel_.setRow(int(i), row);
            continue;
        }
        bool isNumber = false;
        const quint16 port = list[i].port.toUShort(&isNumber);
        targets.append({savedName(list[i]), list[i].address, isNumber ? port : quint16(0), *passwords_[i]});
    }
    fleet_.setServers(targets);
}

void FleetWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!passwords_.isEmpty() && passwords_.size() == servers_.servers().size())
        watchServers();
    startAutomation();
}

void FleetWindow::closeEvent(QCloseEvent* event)
{
    stopAutomation();
    fleet_.stop();
    QWidget::closeEvent(event);
}

QStringList FleetWindow::watchedOn(const ServerWatch& watch) const
{
    QStringList watched;
    for (const SeenPlayer& player : watch.players()) {
        const QStringList notes = fleet_.watchNotes(player);
        if (!notes.isEmpty())
            watched.append(player.name + QStringLiteral(" (") + notes.join(QStringLiteral("; ")) + u')');
    }
    return watched;
}

void FleetWindow::updateServer(qsizetype fleetIndex)
{
    const ServerWatch& watch = fleet_.server(fleetIndex);
    const auto& list = servers_.servers();
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (savedName(list[i]) != watch.target().name)
            continue;
        const bool firstLook = !serverModel_.row(int(i)).lastLook.isValid() && watch.lastLook().isValid();
        serverModel_.setRow(int(i), fleetRowOf(watch, watchedOn(watch)));
        // Columns fit what the first looks brought; after that the user's widths stay.
        if (firstLook)
            fitColumns(serverTable_);
        const QDateTime bansRead = watch.isUp() ? watch.bansReadAt() : QDateTime();
        if (bansSeen_.value(watch.target().name) != bansRead) {
            bansSeen_.insert(watch.target().name, bansRead);
            banSyncTimer_->start();
        }
        if (selectedServerRow() == i)
            updatePlayers();
    }
}

std::optional<int> FleetWindow::selectedServerRow() const
{
    const QModelIndex current = serverTable_->currentIndex();
    if (!current.isValid())
        return std::nullopt;
    return serverProxy_->mapToSource(current).row();
}

ServerWatch* FleetWindow::watchOfRow(int row) const
{
    if (row < 0 || row >= serverModel_.rowCount())
        return nullptr;
    const std::optional<qsizetype> index = fleet_.indexOf(serverModel_.row(row).name);
    return index ? &fleet_.server(*index) : nullptr;
}

std::optional<FleetPlayerRow> FleetWindow::selectedPlayer() const
{
    const QModelIndex current = playerTable_->currentIndex();
    if (!current.isValid())
        return std::nullopt;
    return playerModel_.row(playerProxy_->mapToSource(current).row());
}

void FleetWindow::updatePlayers()
{
    const std::optional<int> row = selectedServerRow();
    ServerWatch* watch = row ? watchOfRow(*row) : nullptr;
    QList<FleetPlayerRow> players;
    if (watch && watch->isUp()) {
        for (const SeenPlayer& player : watch->players())
            players.append(
                {player, watch->seenSince(player), fleet_.watchNotes(player), notedKeys_.contains(player.key())});
    }
    const QString server = row ? serverModel_.row(*row).name : QString();
    const QString keep = selectedPlayerKey_;
    playerModel_.setPlayers(server, players, QDateTime::currentDateTimeUtc());
    if (!row)
        playersLabel_->setText(QStringLiteral("Choose a server to see its players."));
    else
        playersLabel_->setText(QStringLiteral("Players on %1: %2").arg(server).arg(players.size()));
    // A table reset by a join or a leave keeps the player chosen.
    if (!playerTable_->currentIndex().isValid() && !keep.isEmpty()) {
        for (int i = 0; i < playerModel_.rowCount(); ++i) {
            if (playerModel_.row(i).player.key() != keep)
                continue;
            const QModelIndex at = playerProxy_->mapFromSource(playerModel_.index(i, 0));
            playerTable_->setCurrentIndex(at);
            playerTable_->selectRow(at.row());
        }
    }
}

void FleetWindow::say(const QString& line)
{
    fleetLog_->appendPlainText(line);
}

void FleetWindow::sendAction(ServerWatch& watch, const QByteArray& command, const QString& what,
                             std::function<void(bool)> done)
{
    const QString server = watch.target().name;
    CommandReply* reply = watch.send(command);
    const auto record = [this, &watch](const QString& text, const QString& outcome) {
        if (!options_.storeWriter)
            return;
        WatchEvent event;
        event.kind = WatchEvent::Kind::Action;
        event.time = QDateTime::currentDateTimeUtc();
        event.server = watch.target().name;
        event.text = text;
        event.outcome = outcome;
        event.user = localUserName();
        options_.storeWriter->submit({event});
    };
    if (!reply) {
        say(QStringLiteral("%1: %2: not sent, the server is not up.").arg(server, what));
        record(what, QStringLiteral("not sent"));
        if (done)
            done(false);
        return;
    }
    QPointer<ServerWatch> target(&watch);
    connect(reply, &CommandReply::finished, this, [this, reply, target, server, what, record, done] {
        const bool answered = reply->state() == CommandReply::State::Answered;
        const QString answer = toDisplay(reply->text()).trimmed();
        const QString outcome = answered ? (answer.isEmpty() ? QStringLiteral("done") : answer)
                                         : QStringLiteral("the connection was lost before the server answered");
        say(QStringLiteral("%1: %2: %3").arg(server, what, outcome));
        if (target)
            record(what, outcome);
        if (done)
            done(answered);
    });
}

void FleetWindow::onKickClicked()
{
    const std::optional<int> row = selectedServerRow();
    ServerWatch* watch = row ? watchOfRow(*row) : nullptr;
    const std::optional<FleetPlayerRow> player = selectedPlayer();
    if (!watch || !player) {
        say(QStringLiteral("Choose a player to kick."));
        return;
    }
    sendAction(*watch, fleet_admin::kickCommand(player->player.id), QStringLiteral("kick %1").arg(player->player.name),
               [watch = QPointer(watch)](bool) {
                   if (watch)
                       watch->lookSoon();
               });
}

void FleetWindow::onBanClicked()
{
    const std::optional<int> row = selectedServerRow();
    ServerWatch* watch = row ? watchOfRow(*row) : nullptr;
    const std::optional<FleetPlayerRow> player = selectedPlayer();
    if (!watch || !player) {
        say(QStringLiteral("Choose a player to ban."));
        return;
    }
    const QString who = player->player.hash.isEmpty()
        ? QStringLiteral("%1 on %2").arg(player->player.name, watch->target().name)
        : QStringLiteral("%1 (%2) on %3").arg(player->player.name, player->player.hash, watch->target().name);
    BanDialog dialog(who, fleet_admin::banReasons(options_.banReasonsPath), this);
    options_.dialogs->showModal(dialog);
    if (dialog.result() != QDialog::Accepted)
        return;
    if (const std::optional<BanOrder> order = dialog.order())
        banEverywhere(*watch, *player, *order);
}

namespace {
// What the store keeps of a ban placed from the fleet.
BanRecord banRecordOf(const QString& server, const SeenPlayer& player, const BanOrder& order)
{
    BanRecord record;
    record.server = server;
    record.ban = player.hash;
    record.playerName = player.name;
    switch (order.duration.kind) {
    case fleet_admin::BanDuration::Kind::Round: record.period = BanRecord::Period::Round; break;
    case fleet_admin::BanDuration::Kind::Permanent: record.period = BanRecord::Period::Perm; break;
    case fleet_admin::BanDuration::Kind::Seconds:
        record.period = BanRecord::Period::Seconds;
        record.seconds = order.duration.seconds;
        break;
    }
    record.reason = order.reason;
    record.message = order.message;
    record.placedBy = localUserName();
    return record;
}
} // namespace

// The player's own server bans them by their number there, which kicks
// them too; every other server bans their key, so that they cannot come.
void FleetWindow::banEverywhere(ServerWatch& home, const FleetPlayerRow& player, const BanOrder& order)
{
    const QString duration = fleet_admin::durationText(order.duration);
    const QString what = QStringLiteral("ban %1 %2%3")
                             .arg(player.player.name, duration,
                                  order.reason.isEmpty() ? QString() : QStringLiteral(": ") + order.reason);
    QList<ServerWatch*> servers = {&home};
    if (order.everyServer) {
        for (qsizetype i = 0; i < fleet_.size(); ++i)
            if (&fleet_.server(i) != &home)
                servers.append(&fleet_.server(i));
    }
    const std::optional<QByteArray> message = order.message.isEmpty()
        ? std::nullopt
        : fleet_admin::sayAllCommand(toBytes(order.message));
    int sent = 0;
    for (ServerWatch* watch : servers) {
        QByteArray command;
        if (watch == &home) {
            command = fleet_admin::banPlayerCommand(player.player.id, order.duration);
        } else if (player.player.hash.isEmpty()) {
            say(QStringLiteral("%1: %2: not sent, the player has no key hash to ban elsewhere.")
                    .arg(watch->target().name, what));
            continue;
        } else {
            command = *fleet_admin::banKeyCommand(player.player.hash.toLatin1(), order.duration);
        }
        if (!watch->isUp()) {
            say(QStringLiteral("%1: %2: not sent, the server is not up.").arg(watch->target().name, what));
            continue;
        }
        ++sent;
        if (message)
            sendAction(*watch, *message, QStringLiteral("say \"%1\"").arg(order.message));
        const BanRecord record = banRecordOf(watch->target().name, player.player, order);
        sendAction(*watch, command, what, [this, watch = QPointer(watch), record](bool answered) {
            if (answered && options_.storeWriter && !record.ban.isEmpty())
                options_.storeWriter->submitChange(record);
            if (watch)
                watch->lookSoon(true);
        });
    }
    emit logLine(toBytes(QStringLiteral("Fleet: %1 on %2 of %3 servers").arg(what).arg(sent).arg(servers.size())));
}

void FleetWindow::onSendMessageClicked()
{
    const QString text = messageEdit_->text();
    if (text.isEmpty())
        return;
    const std::optional<QByteArray> command = fleet_admin::sayAllCommand(toBytes(text));
    if (!command) {
        say(QStringLiteral("The message is too long for the server's line; it was not sent."));
        return;
    }
    QList<ServerWatch*> servers;
    if (everyServerCheck_->isChecked()) {
        for (qsizetype i = 0; i < fleet_.size(); ++i)
            servers.append(&fleet_.server(i));
    } else if (const std::optional<int> row = selectedServerRow(); row && watchOfRow(*row)) {
        servers.append(watchOfRow(*row));
    }
    if (servers.isEmpty()) {
        say(QStringLiteral("Choose a server to send the message to."));
        return;
    }
    for (ServerWatch* watch : servers)
        sendAction(*watch, *command, QStringLiteral("say \"%1\"").arg(text));
    messageEdit_->clear();
}

void FleetWindow::onWatchedPlayerJoined(const WatchEvent& event)
{
    const QString who = event.hash.isEmpty() ? event.name : QStringLiteral("%1 (%2)").arg(event.name, event.hash);
    const QString line =
        QStringLiteral("Watched player %1 is on %2 from %3: %4").arg(who, event.server, event.address, event.text);
    say(line);
    emit logLine(toBytes(line));
    if (options_.desktop)
        options_.desktop->notify(QStringLiteral("Watched player on %1").arg(event.server),
                                 QStringLiteral("%1 from %2: %3").arg(who, event.address, event.text));
}

QWidget* FleetWindow::createBanSyncPage()
{
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("fleetBanSyncPage"));
    banSyncLabel_ = makeStatusLabel(page, "banSyncLabel", QStringLiteral("Ban sync status"));
    missingBanList_ = makeRowTable(page, "missingBanList", QStringLiteral("Missing bans"),
                                   {QStringLiteral("Server"), QStringLiteral("Lacks"), QStringLiteral("Kind"),
                                    QStringLiteral("Time left"), QStringLiteral("Held by")});
    missingBanList_->setSortingEnabled(true);
    missingBanList_->sortByColumn(0, Qt::AscendingOrder);
    banSyncLabel_->setBuddy(missingBanList_);
    compareBansButton_ = makeButton(page, "compareBansButton", QStringLiteral("&Compare"));
    copyBansButton_ = makeButton(page, "copyBansButton", QStringLiteral("Copy &missing bans"));
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(banSyncLabel_);
    layout->addWidget(missingBanList_, 1);
    layout->addLayout(makeButtonRow({compareBansButton_, copyBansButton_}));
    banSyncTimer_ = new QTimer(this);
    banSyncTimer_->setSingleShot(true);
    banSyncTimer_->setInterval(200);
    guard_.bind(banSyncTimer_, &QTimer::timeout, [this] { showMissingBans(); });
    guard_.bind(compareBansButton_, &QPushButton::clicked, [this] { onCompareBansClicked(); });
    guard_.bind(copyBansButton_, &QPushButton::clicked, [this] { onCopyBansClicked(); });
    showMissingBans();
    return page;
}

// Reads every server's bans again; the table follows as the looks end.
void FleetWindow::onCompareBansClicked()
{
    for (qsizetype i = 0; i < fleet_.size(); ++i)
        fleet_.server(i).lookSoon(true);
    showMissingBans();
}

namespace {
QString timeLeftText(const MissingBan& ban)
{
    switch (ban.copy) {
    case BanCopy::Perm: return QStringLiteral("perm");
    case BanCopy::Timed: return QStringLiteral("%1 s").arg(ban.secondsLeft.value_or(0));
    case BanCopy::RoundOnly: return QStringLiteral("round only; not copied");
    case BanCopy::Unusable: return QStringLiteral("cannot be copied");
    }
    return {};
}
} // namespace

void FleetWindow::showMissingBans()
{
    QList<ServerBans> read;
    QStringList unread;
    for (qsizetype i = 0; i < fleet_.size(); ++i) {
        const ServerWatch& watch = fleet_.server(i);
        if (watch.isUp() && watch.bans())
            read.append({watch.target().name, *watch.bans(), watch.bansReadAt()});
        else
            unread.append(watch.target().name);
    }
    lacks_ = missingBans(read);
    missingBanList_->clear();
    int copyable = 0;
    for (const ServerLack& lack : std::as_const(lacks_)) {
        for (const MissingBan& ban : lack.missing) {
            copyable += ban.isCopyable() ? 1 : 0;
            auto* item = new QTreeWidgetItem(missingBanList_);
            item->setText(0, lack.server);
            item->setText(1, ban.ban);
            item->setText(2, ban.isAddress ? QStringLiteral("address") : QStringLiteral("key"));
            item->setText(3, timeLeftText(ban));
            item->setText(4, ban.sources.join(QStringLiteral(", ")));
        }
    }
    fitRowColumns(missingBanList_);
    QString status = read.size() < 2 ? QStringLiteral("Bans are compared once two servers are up and read.")
        : copyable == 0              ? QStringLiteral("Every server has every ban the others have.")
                                     : QStringLiteral("%1 bans can be copied.").arg(copyable);
    if (!unread.isEmpty())
        status += QStringLiteral(" Not compared (down or not read yet): ") + unread.join(QStringLiteral(", ")) + u'.';
    banSyncLabel_->setText(status);
    copyBansButton_->setEnabled(copyable > 0 && !banCopier_.isRunning());
}

void FleetWindow::onCopyBansClicked()
{
    QList<BanCopier::CopyPlan> plans;
    for (const ServerLack& lack : std::as_const(lacks_)) {
        const std::optional<qsizetype> index = fleet_.indexOf(lack.server);
        if (!index || lack.missing.isEmpty())
            continue;
        QPointer<ServerWatch> watch(&fleet_.server(*index));
        plans.append({lack.server,
                      [watch](const QByteArray& command) { return watch ? watch->send(command) : nullptr; },
                      lack.missing});
    }
    if (plans.isEmpty() || !banCopier_.copy(plans))
        return;
    copyBansButton_->setEnabled(false);
    banSyncLabel_->setText(QStringLiteral("Copying the missing bans, one command at a time on each server..."));
}

void FleetWindow::onCopyFinished(const QList<BanSyncResult>& results)
{
    QStringList servers;
    for (const BanSyncResult& result : results)
        if (!servers.contains(result.server))
            servers.append(result.server);
    for (const QString& server : std::as_const(servers)) {
        QList<BanSyncResult> ofServer;
        for (const BanSyncResult& result : results)
            if (result.server == server)
                ofServer.append(result);
        const QString line = syncSummary(server, ofServer);
        say(line);
        emit logLine(toBytes(QStringLiteral("Fleet: ") + line));
    }
    onCompareBansClicked();
}

QWidget* FleetWindow::createWatchlistPage()
{
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("fleetWatchlistPage"));
    watchList_ = makeRowTable(page, "watchList", QStringLiteral("Watchlist"),
                              {QStringLiteral("Kind"), QStringLiteral("Entry"), QStringLiteral("Note"),
                               QStringLiteral("Added by"), QStringLiteral("Added")});
    watchList_->setSortingEnabled(true);
    watchList_->sortByColumn(4, Qt::AscendingOrder);

    watchKindBox_ = new QComboBox(page);
    watchKindBox_->setObjectName(QStringLiteral("watchKindBox"));
    watchKindBox_->addItem(QStringLiteral("Key hash"), int(WatchEntry::Kind::Hash));
    watchKindBox_->addItem(QStringLiteral("Address or range"), int(WatchEntry::Kind::Address));
    watchKindBox_->addItem(QStringLiteral("Name pattern"), int(WatchEntry::Kind::Name));
    watchPatternEdit_ = new QLineEdit(page);
    watchPatternEdit_->setObjectName(QStringLiteral("watchPatternEdit"));
    watchPatternEdit_->setPlaceholderText(QStringLiteral("32 hex digits, 10.1.0.0/16, or ^\\[XX\\]"));
    watchNoteEdit_ = new QLineEdit(page);
    watchNoteEdit_->setObjectName(QStringLiteral("watchNoteEdit"));
    addWatchButton_ = makeButton(page, "addWatchButton", QStringLiteral("&Add"));
    removeWatchButton_ = makeButton(page, "removeWatchButton", QStringLiteral("&Remove"));
    watchStatusLabel_ = makeStatusLabel(page, "watchStatusLabel", QStringLiteral("Watchlist status"));

    auto* form = new QFormLayout;
    addLabelledRow(form, page, QStringLiteral("&Kind:"), watchKindBox_);
    addLabelledRow(form, page, QStringLiteral("&Entry:"), watchPatternEdit_);
    addLabelledRow(form, page, QStringLiteral("&Note:"), watchNoteEdit_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(addWatchButton_);
    buttons->addWidget(removeWatchButton_);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(watchList_, 1);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addWidget(watchStatusLabel_);

    guard_.bind(addWatchButton_, &QPushButton::clicked, [this] { onAddWatchClicked(); });
    guard_.bind(watchPatternEdit_, &QLineEdit::returnPressed, [this] { onAddWatchClicked(); });
    guard_.bind(removeWatchButton_, &QPushButton::clicked, [this] { onRemoveWatchClicked(); });
    return page;
}

void FleetWindow::onAddWatchClicked()
{
    WatchEntry entry;
    entry.kind = WatchEntry::Kind(watchKindBox_->currentData().toInt());
    entry.pattern = watchPatternEdit_->text().trimmed();
    entry.note = watchNoteEdit_->text().trimmed();
    entry.addedBy = localUserName();
    if (const QString problem = watchEntryProblem(entry); !problem.isEmpty()) {
        watchStatusLabel_->setText(problem);
        return;
    }
    watchPatternEdit_->clear();
    watchNoteEdit_->clear();
    if (lookup_) {
        watchStatusLabel_->setText(QStringLiteral("Adding %1...").arg(entry.pattern));
        lookup_->addWatchEntry(entry);
        return;
    }
    entry.id = ++localWatchIds_;
    QList<WatchEntry> entries = watchlist_.entries();
    entries.append(entry);
    onWatchlistRead(entries, QStringList(notedKeys_.begin(), notedKeys_.end()), {});
}

void FleetWindow::onRemoveWatchClicked()
{
    QTreeWidgetItem* item = watchList_->currentItem();
    if (!item) {
        watchStatusLabel_->setText(QStringLiteral("Choose an entry to remove."));
        return;
    }
    const qint64 id = item->data(0, Qt::UserRole).toLongLong();
    if (lookup_) {
        lookup_->removeWatchEntry(id);
        return;
    }
    QList<WatchEntry> entries = watchlist_.entries();
    entries.removeIf([id](const WatchEntry& entry) { return entry.id == id; });
    onWatchlistRead(entries, QStringList(notedKeys_.begin(), notedKeys_.end()), {});
}

void FleetWindow::onWatchlistRead(const QList<WatchEntry>& entries, const QStringList& notedKeys, const QString& error)
{
    if (!error.isEmpty()) {
        watchStatusLabel_->setText(error);
        if (entries.isEmpty())
            return; // the list the fleet knows stays until the store answers again
    }
    watchlist_ = Watchlist(entries);
    if (error.isEmpty())
        notedKeys_ = QSet<QString>(notedKeys.begin(), notedKeys.end());
    watchList_->clear();
    for (const WatchEntry& entry : entries) {
        auto* item = new QTreeWidgetItem(watchList_);
        item->setData(0, Qt::UserRole, entry.id);
        item->setText(0, watchKindBox_->itemText(watchKindBox_->findData(int(entry.kind))));
        item->setText(1, entry.pattern);
        item->setText(2, entry.note);
        item->setText(3, entry.addedBy);
        item->setText(4, entry.added.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")));
    }
    fitRowColumns(watchList_);
    if (error.isEmpty())
        watchStatusLabel_->setText(entries.size() == 1 ? QStringLiteral("1 entry.")
                                                       : QStringLiteral("%1 entries.").arg(entries.size()));
    // The marks follow the list.
    for (qsizetype i = 0; i < fleet_.size(); ++i)
        updateServer(i);
}
