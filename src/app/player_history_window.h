#pragma once

// The Player History window: finds players in the player store by part of a
// name, a key hash or an address, as "ravelin-cli history" does, and shows
// the names and addresses each was seen with, their sessions, the bans this
// client placed on them and the notes on them; a note can be added. The store is read on a thread of its own, so
// a slow database never holds the window up; a failure is said in the window.

#include "app/event_binding.h"
#include "store/player_store.h"

#include <QWidget>

#include <memory>

class Dialogs;
class PlayerLookup;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

class PlayerHistoryWindow : public QWidget
{
    Q_OBJECT

public:
    // `storeUrl` names the store as parseStoreLocation takes it; empty, the
    // window has no store and says so.
    PlayerHistoryWindow(const QString& storeUrl, std::shared_ptr<Dialogs> dialogs, QWidget* parent = nullptr);
    ~PlayerHistoryWindow() override;

    // Puts `query` in the search box and searches for it.
    void search(const QString& query);

private:
    void createControls();
    void showPlayer(const PlayerHistory* player);
    void setStatus(const QString& text);

    void onSearchTriggered();
    void onFound(int request, const QList<PlayerHistory>& players, const QString& error);
    void onPlayerSelected();
    void onAddNoteClicked();
    void onNoteAdded(const QString& playerKey, const QString& error);

    ErrorGuard guard_;
    std::unique_ptr<PlayerLookup> lookup_; // none without a usable store
    QString storeProblem_;                 // why there is no store
    QList<PlayerHistory> players_;         // as the results list shows them
    int request_ = 0;                      // the search whose answer is awaited
    QString lastQuery_;
    QString keyToSelect_; // the player to select again when the results come

    QLineEdit* searchEdit_;
    QPushButton* searchButton_;
    QLabel* statusLabel_;
    QTreeWidget* resultList_;
    QTreeWidget* seenList_;
    QTreeWidget* sessionList_;
    QTreeWidget* banList_;
    QTreeWidget* noteList_;
    QLineEdit* noteEdit_;
    QPushButton* addNoteButton_;
    QPushButton* closeButton_;
};
