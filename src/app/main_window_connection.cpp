// Connecting and disconnecting.

#include "app/main_window.h"
#include "app/text_codec.h"
#include "session/console_session.h"

#include <QLineEdit>

void MainWindow::onConnectClicked()
{
    session_->connectToServer(toBytes(serverAddressEdit_->text()), toBytes(portEdit_->text()));
}

void MainWindow::onDisconnectClicked()
{
    session_->disconnectFromServer();
}
