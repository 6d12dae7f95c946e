// The "Other" tab: the remote console and the demo recorder.

#include "admin/console_admin.h"
#include "app/main_window.h"
#include "app/text_codec.h"
#include "core/errors.h"
#include "server/server_view.h"

#include <QKeyEvent>
#include <QLineEdit>

void MainWindow::onSendCommandClicked()
{
    // What the administrator typed is the whole command line, and its answer
    // is shown as it comes.
    const QByteArray command = toBytes(commandEdit_->text());
    view_->sendTypedCommand(command);
    try {
        commandHistory_->add(command, toBytes(passwordEdit_->text()));
    } catch (const FileError& error) {
        appendLog("The command could not be kept for Up and Down: " + error.message());
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == commandEdit_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            const QByteArray shown = key == Qt::Key_Up ? commandHistory_->older(toBytes(commandEdit_->text()))
                                                       : commandHistory_->newer();
            commandEdit_->setText(toDisplay(shown));
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::onRecordClicked()
{
    if (const auto record = console_admin::recordDemo(toBytes(demoNameEdit_->text())))
        view_->perform(*record);
    else
        appendLog(console_admin::DemoNameMissing);
}

void MainWindow::onStopClicked()
{
    view_->perform(console_admin::stopRecording());
}
