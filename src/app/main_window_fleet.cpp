// The Fleet window from the main window: Servers > Fleet..., opened again at
// start when it was open at the last exit, at the size it had; its lines
// that matter go to the main window's log.

#include "app/fleet_window.h"
#include "app/main_window.h"
#include "server/server_view.h"

#include <QAction>
#include <QTimer>

void MainWindow::connectFleet()
{
    guard_.bind(fleetAction_, &QAction::triggered, [this] { onFleetTriggered(); });
    // Once the window is up, as the user would have opened it.
    if (fleetPlace_ && fleetPlace_->open)
        QTimer::singleShot(0, this, [this] { guard_.run([this] { onFleetTriggered(); }); });
}

void MainWindow::onFleetTriggered()
{
    if (!fleetWindow_) {
        FleetWindowOptions options;
        options.dialogs = options_.dialogs;
        options.desktop = options_.desktop;
        options.passwordStore = options_.passwordStore;
        options.storeWriter = storeWriter_.get();
        options.storeUrl = storeWriter_ ? options_.storeUrl : QString();
        options.banReasonsPath = options_.banReasonsPath;
        options.automationPath = options_.automationPath;
        options.claimFolder = options_.automationClaimFolder;
        options.desiredStatePath = options_.desiredStatePath;
        options.timing.replyTimeout = options_.replyTimeout;
        options.timing.giveUpTimeout = options_.giveUpTimeout;
        fleetWindow_ = new FleetWindow(options, this);
        if (fleetPlace_ && fleetPlace_->width > 0 && fleetPlace_->height > 0)
            fleetWindow_->resize(fleetPlace_->width, fleetPlace_->height);
        connect(fleetWindow_, &FleetWindow::logLine, view_.get(), &ServerView::appendLog);
        fleetWindow_->show();
        fleetWindow_->setServers(savedServers_);
    } else {
        fleetWindow_->show();
    }
    fleetWindow_->raise();
    fleetWindow_->activateWindow();
}

std::optional<StoredSettings::WindowPlace> MainWindow::fleetPlace() const
{
    if (!fleetWindow_)
        return fleetPlace_;
    return StoredSettings::WindowPlace{fleetWindow_->isVisible(), fleetWindow_->width(), fleetWindow_->height()};
}
