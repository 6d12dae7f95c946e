// The "Server Announcements" tab: admin messages and the announcer.

#include "admin/announce_admin.h"
#include "app/main_window.h"
#include "app/spin_edit.h"
#include "app/string_grid.h"
#include "app/text_codec.h"
#include "server/server_view.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QTimer>

void MainWindow::onSendMessageClicked()
{
    const auto message = announce_admin::adminMessage(mecCheck_->isChecked(), usmcCheck_->isChecked(),
                                                      toBytes(chatNameEdit_->text()), toBytes(messageEdit_->text()));
    if (message)
        view_->perform(*message);
}

void MainWindow::onAnnounceTimer()
{
    if (!view_->isConnected() || !autoAnnounceCheck_->isChecked())
        return;
    view_->sendCommand(
        announcer_.nextCommand(announcementGrid_->rowCount(), [this](int row) { return announcementGrid_->row(row); }));
}

void MainWindow::onDelayChanged()
{
    const int period = delaySpin_->textValue() * 1000;
    // Setting the same period again would restart the countdown.
    if (announceTimer_->interval() != period)
        announceTimer_->setInterval(period);
}

void MainWindow::onAddLineClicked()
{
    // A longer table could be saved but not loaded again.
    if (announcementGrid_->rowCount() >= kMaxGridRows) {
        appendLog("The table already has " + QByteArray::number(kMaxGridRows) + " rows, the most it can load...");
        return;
    }
    announcementGrid_->setRowCount(announcementGrid_->rowCount() + 1);
}

void MainWindow::onRemoveLineClicked()
{
    announcementGrid_->setRowCount(std::max(announcementGrid_->rowCount() - 1, 1));
}
