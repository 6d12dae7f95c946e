// Connecting and disconnecting.

#include "app/main_window.h"
#include "app/text_codec.h"
#include "session/auto_reconnect.h"
#include "session/console_session.h"

#include <QLineEdit>

void MainWindow::onConnectClicked()
{
    reconnect_->endRetries();
    session_->connectToServer(toBytes(serverAddressEdit_->text()), toBytes(portEdit_->text()));
}

void MainWindow::onDisconnectClicked()
{
    reconnect_->stop();
    session_->disconnectFromServer();
}
