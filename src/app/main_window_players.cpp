// The "Player List" tab.

#include "admin/list_fields.h"
#include "admin/player_admin.h"
#include "app/list_box.h"
#include "app/main_window.h"
#include "core/windows1252.h"
#include "server/server_view.h"
#include "store/ban_record.h"

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
    if (!view_->submit(action.command))
        return;
    if (const list_fields::PlayerFields fields = list_fields::playerFields(*playerList_->selectedItem());
        fields.keyHash && view_->isConnected())
        recordBan(windows1252::decode(*fields.keyHash),
                  ban == player_admin::banForRound ? BanRecord::Period::Round : BanRecord::Period::Perm,
                  windows1252::decode(fields.name.value_or(QByteArray())));
    removeSelectedEntry(ListKind::Players);
    appendLog(action.logLine);
}

void MainWindow::onRefreshPlayersClicked()
{
    view_->sendCommand(player_admin::RefreshCommand);
}

void MainWindow::onKickClicked()
{
    const auto id = selectedPlayerId();
    if (!id)
        return;
    if (view_->perform(player_admin::kick(*id)))
        removeSelectedEntry(ListKind::Players);
}

void MainWindow::onBanForRoundClicked()
{
    banSelectedPlayer(player_admin::banForRound);
}

void MainWindow::onBanPermanentlyClicked()
{
    banSelectedPlayer(player_admin::banPermanently);
}
