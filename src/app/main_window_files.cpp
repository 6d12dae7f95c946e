// The local files: settings.ini, maps.dat and servermessages.dat.

#include "app/list_box.h"
#include "app/main_window.h"
#include "app/spin_edit.h"
#include "app/string_grid.h"
#include "app/text_codec.h"
#include "core/errors.h"
#include "server/server_view.h"
#include "storage/file_locations.h"
#include "storage/grid_file.h"
#include "storage/replacing_file.h"
#include "storage/settings.h"
#include "storage/writer_lock.h"

#include <QAction>
#include <QFileInfo>
#include <QLineEdit>
#include <QScopeGuard>

void MainWindow::loadFiles()
{
    // The folder first, so that the lock file has a place before the first save.
    makePrivateFolderFor(options_.settingsPath);
    settingsLock_ = std::make_unique<WriterLock>(options_.settingsPath);
    announcementsLock_ = std::make_unique<WriterLock>(options_.announcementsPath);
    for (auto [lock, path] : {std::pair{settingsLock_.get(), options_.settingsPath},
                              std::pair{announcementsLock_.get(), options_.announcementsPath}}) {
        // Another window's save may be under way: its temporary file is not ours to remove.
        if (lock->take())
            removeLeftoverTemporaryFiles(path);
        else
            appendLog(QFile::encodeName(QFileInfo(path).fileName())
                      + " is in use by another Ravelin window; this window will not save it.");
    }
    // Saved by whichever window saves: cleared only while no save is under way.
    for (const QString& path : {options_.savedServersPath, options_.commandHistoryPath}) {
        if (path.isEmpty())
            continue;
        WriterLock lock(path);
        if (lock.take())
            removeLeftoverTemporaryFiles(path);
    }
    // Each file on its own: a missing map list must not keep the stored
    // announcements off the table, or the next Save would overwrite them.
    guard_.run([this] { loadSettings(); });
    guard_.run([this] { loadMapList(); });
    guard_.run([this] { loadSavedServers(); });
    try {
        loadAnnouncements();
    } catch (const FileError& error) {
        // A table that is there but could not be read is kept before a Save replaces it.
        unreadAnnouncements_ = error.code() != file_error::FileNotFound;
        guard_.showError(error.message());
    }
}

void MainWindow::loadSettings()
{
    const StoredSettings stored = ::loadSettings(options_.settingsPath, delaySpin_->textValue());
    serverAddressEdit_->setText(toDisplay(stored.ipAddress));
    portEdit_->setText(toDisplay(stored.port));
    passwordEdit_->setText(toDisplay(stored.password));
    delaySpin_->setValue(stored.delay);
    chatNameEdit_->setText(toDisplay(stored.chatName));
    reconnectStored_ = stored.reconnect.has_value();
    reconnectAction_->setChecked(stored.reconnect.value_or(false));
    fleetPlace_ = stored.fleetWindow;
    storeSetting_ = stored.database;
}

bool MainWindow::saveSettings()
{
    StoredSettings settings;
    settings.ipAddress = toBytes(serverAddressEdit_->text());
    settings.port = toBytes(portEdit_->text());
    settings.password = toBytes(passwordEdit_->text());
    settings.delay = delaySpin_->textValue();
    settings.chatName = toBytes(chatNameEdit_->text());
    // A file that never had reconnecting on keeps its bytes as they were.
    if (reconnectStored_ || reconnectAction_->isChecked())
        settings.reconnect = reconnectAction_->isChecked();
    settings.fleetWindow = fleetPlace();
    settings.database = storeSetting_;
    if (!settingsLock_->take()) {
        appendLog(settingsLock_->inUseMessage() + '.');
        return false;
    }
    ::saveSettings(options_.settingsPath, settings);
    return true;
}

void MainWindow::releaseFiles()
{
    // Fresh locks, not held: a save after this takes them again.
    settingsLock_ = std::make_unique<WriterLock>(options_.settingsPath);
    announcementsLock_ = std::make_unique<WriterLock>(options_.announcementsPath);
}

void MainWindow::loadMapList()
{
    localMapFile_.open(options_.mapsPath);
    QList<QByteArray> names;
    // What was read before a failure is still shown.
    const auto showNames = qScopeGuard([&] { localMapList_->append(names); });
    while (!localMapFile_.atEnd())
        names.append(localMapFile_.readLine());
}

void MainWindow::loadAnnouncements()
{
    loadGrid(*announcementGrid_, options_.announcementsPath);
}

void MainWindow::onSaveAnnouncementsClicked()
{
    const QString& path = options_.announcementsPath;
    // The per-user data folder may not exist yet when nothing was found to read.
    makeFolderFor(path);
    if (!announcementsLock_->take()) {
        appendLog(announcementsLock_->inUseMessage() + '.');
        return;
    }
    if (unreadAnnouncements_) {
        const QString kept = keepAsBackup(path);
        unreadAnnouncements_ = false;
        if (!kept.isEmpty())
            appendLog(QFile::encodeName(QFileInfo(path).fileName()) + " could not be read at start-up; it was kept as "
                      + QFile::encodeName(QFileInfo(kept).fileName()) + "...");
    }
    try {
        // A table in the working folder may be another user's, or lead to one.
        saveGrid(*announcementGrid_, path, {.othersFiles = false});
    } catch (const FileRefused& refused) {
        appendLog(refused.message() + '.');
    }
}
