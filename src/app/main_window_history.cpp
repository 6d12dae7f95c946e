// The player store from the window: the Player History window reads it, from
// the Servers menu or for a line of the Player List.

#include "admin/list_fields.h"
#include "app/list_box.h"
#include "app/main_window.h"
#include "app/player_history_window.h"
#include "core/windows1252.h"

#include <QAction>

void MainWindow::connectPlayerHistory()
{
    playerLineHistoryAction_ = new QAction(QStringLiteral("Player &History..."), playerList_);
    playerLineHistoryAction_->setObjectName(QStringLiteral("playerListHistoryAction"));
    playerList_->addAction(playerLineHistoryAction_);

    guard_.bind(playerHistoryAction_, &QAction::triggered, [this] { onPlayerHistoryTriggered(); });
    guard_.bind(playerLineHistoryAction_, &QAction::triggered, [this] { onPlayerLineHistoryTriggered(); });
}

void MainWindow::onPlayerHistoryTriggered()
{
    if (!playerHistoryWindow_)
        playerHistoryWindow_ = new PlayerHistoryWindow(options_.storeUrl, options_.dialogs, this);
    playerHistoryWindow_->show();
    playerHistoryWindow_->raise();
    playerHistoryWindow_->activateWindow();
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
