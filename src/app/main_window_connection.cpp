// Connecting and disconnecting.

#include "app/main_window.h"
#include "app/text_codec.h"
#include "server/server_view.h"

#include <QLineEdit>

void MainWindow::onConnectClicked()
{
    connectTo(toBytes(serverAddressEdit_->text()), toBytes(portEdit_->text()));
}

void MainWindow::onDisconnectClicked()
{
    view_->disconnectFromServer();
}
