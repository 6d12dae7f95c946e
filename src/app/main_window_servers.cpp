// The Servers menu: saved servers, saving and managing them, reconnecting
// after a drop, and the desktop notifications that go with it.

#include "app/desktop.h"
#include "app/dialogs.h"
#include "app/fleet_window.h"
#include "app/main_window.h"
#include "app/server_dialogs.h"
#include "app/text_codec.h"
#include "server/server_view.h"
#include "storage/password_store.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>

void MainWindow::loadSavedServers()
{
    if (!options_.savedServersPath.isEmpty())
        savedServers_ = SavedServers::load(options_.savedServersPath);
    fillServersMenu();
}

void MainWindow::fillServersMenu()
{
    // Actions the menu made are its own and go; the lasting ones are only taken out.
    serversMenu_->clear();
    const QList<SavedServer>& servers = savedServers_.servers();
    for (qsizetype i = 0; i < servers.size(); ++i) {
        QString caption = serverCaption(servers[i]).replace(u'&', QStringLiteral("&&"));
        if (i < 9)
            caption = QStringLiteral("&%1 ").arg(i + 1) + caption;
        QAction* action = serversMenu_->addAction(caption);
        action->setObjectName(QStringLiteral("savedServerAction%1").arg(i));
        guard_.bind(action, &QAction::triggered, [this, i] { onSavedServerChosen(i); });
    }
    if (servers.isEmpty())
        serversMenu_->addAction(QStringLiteral("No saved servers"))->setEnabled(false);
    serversMenu_->addSeparator();
    serversMenu_->addAction(saveServerAction_);
    serversMenu_->addAction(manageServersAction_);
    manageServersAction_->setEnabled(!servers.isEmpty());
    serversMenu_->addSeparator();
    serversMenu_->addAction(reconnectAction_);
    serversMenu_->addSeparator();
    serversMenu_->addAction(fleetAction_);
    serversMenu_->addAction(playerHistoryAction_);
    serversMenu_->addAction(recordPlayersAction_);
    serversMenu_->addAction(playerStoreAction_);
}

void MainWindow::storeSavedServers(const SavedServers& servers)
{
    // What another window saved meanwhile is taken in, and shown.
    savedServers_ = options_.savedServersPath.isEmpty() ? servers
                                                        : servers.save(options_.savedServersPath, savedServers_);
    fillServersMenu();
    if (fleetWindow_)
        fleetWindow_->setServers(savedServers_);
}

void MainWindow::onSavedServerChosen(qsizetype index)
{
    if (index >= savedServers_.servers().size())
        return;
    const SavedServer server = savedServers_.servers()[index];
    // The password in the box is this server's when the box already names it.
    const bool sameServer = toBytes(serverAddressEdit_->text()) == server.address
        && toBytes(portEdit_->text()) == server.port;
    view_->disconnectFromServer();
    serverAddressEdit_->setText(toDisplay(server.address));
    portEdit_->setText(toDisplay(server.port));
    if (!sameServer)
        passwordEdit_->clear();

    PasswordStore& store = *options_.passwordStore;
    if (!store.isAvailable()) {
        connectToSavedServer(server, std::nullopt);
        return;
    }
    store.read(server.keyringKey(), [self = QPointer(this), server](std::optional<QByteArray> password) {
        if (self)
            self->guard_.run([&] { self->connectToSavedServer(server, password); });
    });
}

void MainWindow::connectToSavedServer(const SavedServer& server, std::optional<QByteArray> password)
{
    if (password)
        passwordEdit_->setText(toDisplay(*password));
    if (passwordEdit_->text().isEmpty()) {
        appendLog("Type the password for " + server.name + " and press Enter to connect.");
        passwordEdit_->setFocus();
        return;
    }
    connectTo(server.address, server.port);
}

void MainWindow::onSaveServerTriggered()
{
    const QByteArray address = toBytes(serverAddressEdit_->text());
    const QByteArray port = toBytes(portEdit_->text());
    if (address.isEmpty() || port.isEmpty()) {
        appendLog("Type the server's address and port before saving it.");
        return;
    }
    // A server saved before keeps its name as the suggestion.
    QByteArray suggested = address;
    for (const SavedServer& saved : savedServers_.servers())
        if (saved.address == address && saved.port == port)
            suggested = saved.name;

    PasswordStore& store = *options_.passwordStore;
    SaveServerDialog dialog({suggested, address, port}, store.isAvailable(), this);
    options_.dialogs->showModal(dialog);
    if (dialog.result() != QDialog::Accepted || dialog.name().isEmpty())
        return;

    SavedServers servers = savedServers_;
    const SavedServer server{dialog.name(), address, port};
    const std::optional<SavedServer> replaced = servers.indexOf(server.name)
        ? std::optional(servers.servers()[*servers.indexOf(server.name)])
        : std::nullopt;
    if (!servers.put(server)) {
        appendLog("No more than " + QByteArray::number(SavedServers::kMaxServers)
                  + " servers can be saved; delete one in Manage Servers first.");
        return;
    }
    storeSavedServers(servers);
    appendLog("Saved server " + server.name + '.');
    if (!store.isAvailable())
        return;
    // The name now stands for another address: its old password goes unless another uses it.
    if (replaced && replaced->keyringKey() != server.keyringKey() && !savedServers_.sharesPassword(*replaced))
        store.remove(replaced->keyringKey());
    store.write(server.keyringKey(), toBytes(passwordEdit_->text()), [self = QPointer(this)](const QString& error) {
        if (self && !error.isEmpty())
            self->appendLog("The password could not be kept in the keyring: " + toBytes(error));
    });
}

void MainWindow::onManageServersTriggered()
{
    PasswordStore& store = *options_.passwordStore;
    ManageServersDialog dialog(savedServers_, store.isAvailable(), options_.dialogs, this);
    options_.dialogs->showModal(dialog);
    if (dialog.result() != QDialog::Accepted)
        return;
    storeSavedServers(dialog.servers());
    if (!store.isAvailable())
        return;
    for (const SavedServer& deleted : dialog.deleted())
        if (!savedServers_.sharesPassword(deleted))
            store.remove(deleted.keyringKey());
}

void MainWindow::onReconnectToggled()
{
    view_->setReconnectEnabled(reconnectAction_->isChecked());
}

void MainWindow::onConnectionLost(const QByteArray& server)
{
    options_.desktop->notify(QStringLiteral("Connection lost"),
                             toDisplay("The connection to " + server + " was lost."
                                       + (view_->isReconnectEnabled() ? " Reconnecting automatically." : "")));
}

void MainWindow::onConnectionRestored(const QByteArray& server)
{
    options_.desktop->notify(QStringLiteral("Connection restored"), toDisplay("Connected to " + server + " again."));
}
