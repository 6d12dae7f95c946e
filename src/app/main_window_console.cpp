// The "Other" tab: the remote console and the demo recorder.

#include "admin/console_admin.h"
#include "app/main_window.h"
#include "app/text_codec.h"
#include "session/console_session.h"

#include <QLineEdit>

void MainWindow::onSendCommandClicked()
{
    // What the administrator typed is the whole command line, and its answer
    // is shown as it comes.
    session_->sendCommand(toBytes(commandEdit_->text()), ConsoleSession::Reply::Logged);
}

void MainWindow::onRecordClicked()
{
    if (const auto record = console_admin::recordDemo(toBytes(demoNameEdit_->text())))
        perform(*record);
    else
        appendLog(console_admin::DemoNameMissing);
}

void MainWindow::onStopClicked()
{
    perform(console_admin::stopRecording());
}
