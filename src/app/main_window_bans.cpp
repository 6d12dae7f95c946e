// The "Ban List" tab.

#include "admin/ban_admin.h"
#include "app/dialogs.h"
#include "storage/file_locations.h"
#include "app/list_box.h"
#include "app/main_window.h"
#include "app/player_history_window.h"
#include "app/text_codec.h"
#include "core/windows1252.h"
#include "server/server_view.h"
#include "store/store_writer.h"

void MainWindow::onRefreshBansClicked()
{
    view_->sendCommand(ban_admin::RefreshCommand);
}

void MainWindow::onAddKeyHashClicked()
{
    const auto entry = options_.dialogs->inputQuery(this, QLatin1String(ban_admin::AddKeyBoxTitle),
                                                    QLatin1String(ban_admin::AddKeyBoxPrompt),
                                                    ban_admin::AddKeyBoxMaxLength);
    if (entry && view_->perform(ban_admin::addKey(toBytes(*entry))) && view_->isConnected())
        recordBan(*entry, BanRecord::Period::Perm, {});
}

void MainWindow::onRemoveBanClicked()
{
    const auto line = banList_->selectedItem();
    const auto key = line ? ban_admin::banKey(*line) : std::nullopt;
    if (!key) {
        // Nothing would be sent, so nothing is claimed and the line stays.
        appendLog(ban_admin::NoKeySelected);
        return;
    }
    const AdminAction remove = ban_admin::removeKey(*key);
    // A key too long to send stays listed, and nothing claims it was lifted.
    if (!view_->submit(remove.command))
        return;
    removeSelectedEntry(ListKind::Bans);
    appendLog(remove.logLine);
    // The window asks no reason: the record says where the ban was lifted.
    if (storeWriter_ && view_->isConnected())
        storeWriter_->submitChange(BanLift{connectedServerName(), windows1252::decode(*key), localUserName(),
                                           QStringLiteral("removed from the Ban List")});
}

void MainWindow::onClearBansClicked()
{
    if (!options_.dialogs->askYesNo(this, QLatin1String(ban_admin::ClearBoxCaption),
                                    QLatin1String(ban_admin::ClearBoxText)))
        return;
    const AdminAction clear = ban_admin::clearAll();
    view_->clearList(ListKind::Bans);
    view_->sendCommand(clear.command);
    appendLog(clear.logLine);
}
