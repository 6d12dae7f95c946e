#include "app/player_history_window.h"

#include "app/window_parts.h"
#include "storage/file_locations.h"
#include "store/player_lookup.h"
#include "store/store_location.h"

#include <QAction>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>


namespace {

constexpr int kMostPlayersShown = 50;

QString when(const QDateTime& time)
{
    return time.isValid() ? time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& caption, QWidget* buddy)
{
    auto* label = new QLabel(caption, parent);
    label->setObjectName(QLatin1String(name));
    label->setBuddy(buddy);
    return label;
}

} // namespace

PlayerHistoryWindow::PlayerHistoryWindow(const QString& storeUrl, std::shared_ptr<Dialogs> dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , guard_(this, std::move(dialogs))
{
    createControls();
    if (storeUrl.trimmed().isEmpty()) {
        storeProblem_ = QStringLiteral("No player store is set.");
    } else if (const std::optional<StoreLocation> location = parseStoreLocation(storeUrl, &storeProblem_)) {
        lookup_ = std::make_unique<PlayerLookup>(*location);
        connect(lookup_.get(), &PlayerLookup::found, this,
                [this](int request, const QList<PlayerHistory>& players, const QString& error) {
                    guard_.run([&] { onFound(request, players, error); });
                });
        connect(lookup_.get(), &PlayerLookup::noteAdded, this,
                [this](const QString& key, const QString& error) { guard_.run([&] { onNoteAdded(key, error); }); });
        setStatus(QStringLiteral("Type part of a name, a key hash or an address, and press Enter."));
    } else {
        storeProblem_ = QStringLiteral("The player store cannot be used: ") + storeProblem_;
    }
    if (!lookup_)
        setStatus(storeProblem_);
}

PlayerHistoryWindow::~PlayerHistoryWindow() = default;

void PlayerHistoryWindow::createControls()
{
    setObjectName(QStringLiteral("playerHistoryWindow"));
    setWindowTitle(QStringLiteral("Player History"));
    setAccessibleName(windowTitle());

    searchEdit_ = new QLineEdit(this);
    searchEdit_->setObjectName(QStringLiteral("historySearchEdit"));
    searchEdit_->setAccessibleName(QStringLiteral("Find player"));
    searchEdit_->setPlaceholderText(QStringLiteral("Part of a name, a key hash or an address"));
    giveClearButton(searchEdit_);
    searchButton_ = new QPushButton(QStringLiteral("&Search"), this);
    searchButton_->setObjectName(QStringLiteral("historySearchButton"));
    searchButton_->setAutoDefault(false);
    statusLabel_ = makeStatusLabel(this, "historyStatusLabel", QStringLiteral("Status"));

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setObjectName(QStringLiteral("historySplitter"));
    splitter->setChildrenCollapsible(false);

    auto* resultPane = new QWidget(splitter);
    resultList_ = makeRowTable(resultPane, "historyResultList", QStringLiteral("Players"),
                               {QStringLiteral("Latest Name"), QStringLiteral("Key")});
    auto* resultLayout = new QVBoxLayout(resultPane);
    resultLayout->setContentsMargins(0, 0, 0, 0);
    resultLayout->addWidget(makeLabel(resultPane, "historyResultLabel", QStringLiteral("&Players:"), resultList_));
    resultLayout->addWidget(resultList_);

    auto* detailPane = new QWidget(splitter);
    seenList_ = makeRowTable(detailPane, "historySeenList", QStringLiteral("Names and addresses"),
                             {QStringLiteral("Kind"), QStringLiteral("Name or Address"), QStringLiteral("First Seen"),
                              QStringLiteral("Last Seen")});
    sessionList_ = makeRowTable(detailPane, "historySessionList", QStringLiteral("Sessions"),
                                {QStringLiteral("Server"), QStringLiteral("Name"), QStringLiteral("Address"),
                                 QStringLiteral("Joined"), QStringLiteral("Left")});
    banList_ = makeRowTable(detailPane, "historyBanList", QStringLiteral("Bans"),
                            {QStringLiteral("Server"), QStringLiteral("Placed"), QStringLiteral("Duration"),
                             QStringLiteral("Reason"), QStringLiteral("Message"), QStringLiteral("By"),
                             QStringLiteral("Lifted")});
    noteList_ = makeRowTable(detailPane, "historyNoteList", QStringLiteral("Notes"),
                             {QStringLiteral("Time"), QStringLiteral("Author"), QStringLiteral("Note")});
    noteEdit_ = new QLineEdit(detailPane);
    noteEdit_->setObjectName(QStringLiteral("historyNoteEdit"));
    noteEdit_->setAccessibleName(QStringLiteral("New note"));
    addNoteButton_ = new QPushButton(QStringLiteral("&Add Note"), detailPane);
    addNoteButton_->setObjectName(QStringLiteral("historyAddNoteButton"));
    addNoteButton_->setAutoDefault(false);

    auto* detailLayout = new QGridLayout(detailPane);
    detailLayout->setContentsMargins(0, 0, 0, 0);
    detailLayout->addWidget(
        makeLabel(detailPane, "historySeenLabel", QStringLiteral("&Names and addresses:"), seenList_), 0, 0, 1, 3);
    detailLayout->addWidget(seenList_, 1, 0, 1, 3);
    detailLayout->addWidget(makeLabel(detailPane, "historySessionLabel", QStringLiteral("S&essions:"), sessionList_), 2,
                            0, 1, 3);
    detailLayout->addWidget(sessionList_, 3, 0, 1, 3);
    detailLayout->addWidget(makeLabel(detailPane, "historyBanLabel", QStringLiteral("&Bans:"), banList_), 4, 0, 1, 3);
    detailLayout->addWidget(banList_, 5, 0, 1, 3);
    detailLayout->addWidget(makeLabel(detailPane, "historyNoteLabel", QStringLiteral("No&tes:"), noteList_), 6, 0, 1,
                            3);
    detailLayout->addWidget(noteList_, 7, 0, 1, 3);
    detailLayout->addWidget(makeLabel(detailPane, "historyNoteEditLabel", QStringLiteral("Ne&w note:"), noteEdit_), 8,
                            0);
    detailLayout->addWidget(noteEdit_, 8, 1);
    detailLayout->addWidget(addNoteButton_, 8, 2);
    detailLayout->setRowStretch(1, 2);
    detailLayout->setRowStretch(3, 3);
    detailLayout->setRowStretch(5, 1);
    detailLayout->setRowStretch(7, 1);
    splitter->setStretchFactor(0, 2);
    splitter->setStretchFactor(1, 3);

    closeButton_ = new QPushButton(QStringLiteral("&Close"), this);
    closeButton_->setObjectName(QStringLiteral("historyCloseButton"));
    closeButton_->setAutoDefault(false);

    auto* searchRow = new QHBoxLayout;
    searchRow->addWidget(makeLabel(this, "historySearchLabel", QStringLiteral("&Find:"), searchEdit_));
    searchRow->addWidget(searchEdit_, 1);
    searchRow->addWidget(searchButton_);
    auto* bottomRow = new QHBoxLayout;
    bottomRow->addWidget(statusLabel_, 1);
    bottomRow->addWidget(closeButton_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(searchRow);
    layout->addWidget(splitter, 1);
    layout->addLayout(bottomRow);

    for (auto [from, to] : {std::pair<QWidget*, QWidget*>{searchEdit_, searchButton_},
                            {searchButton_, resultList_},
                            {resultList_, seenList_},
                            {seenList_, sessionList_},
                            {sessionList_, banList_},
                            {banList_, noteList_},
                            {noteList_, noteEdit_},
                            {noteEdit_, addNoteButton_},
                            {addNoteButton_, closeButton_}})
        setTabOrder(from, to);

    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
    guard_.bind(closeButton_, &QPushButton::clicked, [this] { close(); });
    guard_.bind(searchEdit_, &QLineEdit::returnPressed, [this] { onSearchTriggered(); });
    guard_.bind(searchButton_, &QPushButton::clicked, [this] { onSearchTriggered(); });
    guard_.bind(resultList_, &QTreeWidget::currentItemChanged, [this] { onPlayerSelected(); });
    guard_.bind(noteEdit_, &QLineEdit::returnPressed, [this] { onAddNoteClicked(); });
    guard_.bind(addNoteButton_, &QPushButton::clicked, [this] { onAddNoteClicked(); });

    // Room for a name and a 32-digit hash beside a session's five columns.
    resize(1000, 600);
    splitter->setSizes({400, 600});
}

void PlayerHistoryWindow::search(const QString& query)
{
    searchEdit_->setText(query);
    onSearchTriggered();
}

void PlayerHistoryWindow::setStatus(const QString& text)
{
    statusLabel_->setText(text);
}

void PlayerHistoryWindow::onSearchTriggered()
{
    if (!lookup_) {
        setStatus(storeProblem_);
        return;
    }
    const QString query = searchEdit_->text().trimmed();
    if (query.isEmpty()) {
        setStatus(QStringLiteral("Type part of a name, a key hash or an address to search for."));
        return;
    }
    lastQuery_ = query;
    keyToSelect_.clear();
    setStatus(QStringLiteral("Searching for \"%1\"...").arg(query));
    lookup_->find(++request_, query, kMostPlayersShown);
}

void PlayerHistoryWindow::onFound(int request, const QList<PlayerHistory>& players, const QString& error)
{
    if (request != request_)
        return; // a later search is under way
    if (!error.isEmpty()) {
        setStatus(error);
        return;
    }
    const QString keep = std::exchange(keyToSelect_, {});
    players_ = players;
    resultList_->clear();
    QTreeWidgetItem* selected = nullptr;
    for (const PlayerHistory& player : players_) {
        const QString latestName = player.names.isEmpty() ? QString() : player.names.first().text;
        auto* item = new QTreeWidgetItem(resultList_, {latestName, player.hash.isEmpty() ? player.key : player.hash});
        if (player.key == keep || (!selected && keep.isEmpty()))
            selected = item;
    }
    fitRowColumns(resultList_);
    if (!keep.isEmpty() && selected) {
        setStatus(QStringLiteral("The note is kept."));
    } else if (players_.isEmpty()) {
        setStatus(QStringLiteral("No player matches \"%1\".").arg(lastQuery_));
    } else if (players_.size() == 1) {
        setStatus(QStringLiteral("1 player found."));
    } else {
        setStatus(QStringLiteral("%1 players found, the most recently seen first.").arg(players_.size()));
    }
    resultList_->setCurrentItem(selected);
    showPlayer(selected ? &players_[resultList_->indexOfTopLevelItem(selected)] : nullptr);
}

void PlayerHistoryWindow::onPlayerSelected()
{
    const int row = resultList_->indexOfTopLevelItem(resultList_->currentItem());
    showPlayer(row >= 0 && row < players_.size() ? &players_[row] : nullptr);
}

void PlayerHistoryWindow::showPlayer(const PlayerHistory* player)
{
    seenList_->clear();
    sessionList_->clear();
    banList_->clear();
    noteList_->clear();
    if (!player)
        return;
    for (const SeenText& name : player->names)
        new QTreeWidgetItem(seenList_, {QStringLiteral("Name"), name.text, when(name.firstSeen), when(name.lastSeen)});
    for (const SeenText& address : player->addresses)
        new QTreeWidgetItem(seenList_,
                            {QStringLiteral("Address"), address.text, when(address.firstSeen), when(address.lastSeen)});
    for (const PlayerSession& session : player->sessions)
        new QTreeWidgetItem(sessionList_,
                            {session.server, session.name, session.address, when(session.joined),
                             session.left.isValid() ? when(session.left) : QStringLiteral("still on")});
    for (const BanRecord& ban : player->bans) {
        QString lifted = QStringLiteral("no");
        if (ban.lifted.isValid()) {
            lifted = QStringLiteral("%1 by %2").arg(when(ban.lifted), ban.liftedBy);
            if (!ban.liftReason.isEmpty())
                lifted += QStringLiteral(": ") + ban.liftReason;
        }
        new QTreeWidgetItem(
            banList_,
            {ban.server, when(ban.placed), banDurationText(ban), ban.reason, ban.message, ban.placedBy, lifted});
    }
    for (const PlayerNote& note : player->notes)
        new QTreeWidgetItem(noteList_, {when(note.time), note.author, note.text});
    fitRowColumns(seenList_);
    fitRowColumns(sessionList_);
    fitRowColumns(banList_);
    fitRowColumns(noteList_);
}

void PlayerHistoryWindow::onAddNoteClicked()
{
    const int row = resultList_->indexOfTopLevelItem(resultList_->currentItem());
    if (row < 0 || row >= players_.size()) {
        setStatus(QStringLiteral("Select a player to add a note to."));
        return;
    }
    const QString text = noteEdit_->text().trimmed();
    if (text.isEmpty()) {
        setStatus(QStringLiteral("Type the note first."));
        noteEdit_->setFocus();
        return;
    }
    setStatus(QStringLiteral("Adding the note..."));
    lookup_->addNote(players_[row].key, text, localUserName());
}

void PlayerHistoryWindow::onNoteAdded(const QString& playerKey, const QString& error)
{
    if (!error.isEmpty()) {
        setStatus(error); // the note stays in its box, to be tried again
        return;
    }
    noteEdit_->clear();
    // Searching again shows the note as the store keeps it.
    lastQuery_ = lastQuery_.isEmpty() ? playerKey : lastQuery_;
    lookup_->find(++request_, lastQuery_, kMostPlayersShown);
    keyToSelect_ = playerKey;
}
