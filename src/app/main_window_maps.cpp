// The "Map Rotation" tab.

#include "admin/map_admin.h"
#include "app/list_box.h"
#include "app/main_window.h"
#include "app/text_codec.h"
#include "server/server_view.h"

#include <QPushButton>

std::optional<QByteArray> MainWindow::selectedMapLine(const ListBox& list)
{
    const auto line = list.selectedItem();
    if (!line)
        appendLog(map_admin::NoMapSelected);
    return line;
}

void MainWindow::onRefreshMapsClicked()
{
    view_->sendCommand(map_admin::RefreshCommand);
}

void MainWindow::onAddMapClicked()
{
    if (const auto mapName = selectedMapLine(*localMapList_))
        view_->perform(map_admin::appendMap(*mapName));
}

void MainWindow::onRemoveMapClicked()
{
    if (const auto line = selectedMapLine(*rotationList_))
        view_->perform(map_admin::removeMap(map_admin::mapNumber(*line)));
}

void MainWindow::onSaveMapsClicked()
{
    view_->perform(map_admin::saveRotation());
}

void MainWindow::onRunNextMapClicked()
{
    view_->perform(map_admin::runNextMap());
}

void MainWindow::onRestartMapClicked()
{
    view_->perform(map_admin::restartMap());
}

void MainWindow::onPauseClicked()
{
    const map_admin::PauseToggle toggle = map_admin::togglePause(toBytes(pauseButton_->text()));
    if (!view_->submit(toggle.command))
        return;
    pauseButton_->setText(toDisplay(toggle.caption));
    appendLog(toggle.logLine);
}
