// The "Player List" tab.

#include "admin/player_admin.h"
#include "app/list_box.h"
#include "app/main_window.h"
#include "session/console_session.h"

std::optional<QByteArray> MainWindow::selectedPlayerId()
{
    const auto line = playerList_->selectedItem();
    const auto id = line ? player_admin::playerId(*line) : std::nullopt;
    if (!id)
        appendLog(player_admin::NoPlayerSelected);
    return id;
}

void MainWindow::banSelectedPlayer(AdminAction (*ban)(const QByteArray& id))
{
    const auto id = selectedPlayerId();
    if (!id)
        return;
    const AdminAction action = ban(*id);
    if (!submit(action.command))
        return;
    playerList_->remove(playerList_->selectedIndex());
    appendLog(action.logLine);
}

void MainWindow::onRefreshPlayersClicked()
{
    session_->sendCommand(player_admin::RefreshCommand);
}

void MainWindow::onKickClicked()
{
    const auto id = selectedPlayerId();
    if (!id)
        return;
    if (perform(player_admin::kick(*id)))
        playerList_->remove(playerList_->selectedIndex());
}

void MainWindow::onBanForRoundClicked()
{
    banSelectedPlayer(player_admin::banForRound);
}

void MainWindow::onBanPermanentlyClicked()
{
    banSelectedPlayer(player_admin::banPermanently);
}
