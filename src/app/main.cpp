// Start-up: the process kept out of core dumps, the command line, the
// application, the main window (its controls, then its files), the About
// window, hidden, and the event loop until the main window closes.

#include "app/command_line.h"
#include "app/start_up.h"
#include "core/secrets.h"
#include "storage/file_locations.h"
#include "storage/settings.h"
#include "store/store_location.h"

#include <QApplication>
#include <QDir>

#include <cstdio>

int main(int argc, char** argv)
{
    // Before a password is read from the settings or typed.
    secrets::keepOutOfCoreDumps();
    QCoreApplication::setApplicationName(QStringLiteral("ravelin"));
    QCoreApplication::setApplicationVersion(QStringLiteral(RAVELIN_VERSION));
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const CommandLine commandLine = parseCommandLine(arguments);
    if (commandLine.exitStatus) {
        std::fputs(commandLine.output.toLocal8Bit().constData(), commandLine.outputIsError ? stderr : stdout);
        return *commandLine.exitStatus;
    }

    QApplication application(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.bastionrow.ravelin"));
    prepareApplication(application, commandLine.styleChosen);

    const FileLocations files = chooseLocations(
        standardFolders(QCoreApplication::applicationDirPath(), QDir::currentPath()));
    MainWindowOptions options;
    options.settingsPath = commandLine.settingsPath.isEmpty() ? files.settings : commandLine.settingsPath;
    options.mapsPath = files.maps;
    options.announcementsPath = files.announcements;
    options.commandHistoryPath = files.commandHistory;
    options.auditLogFolder = files.auditLogFolder;
    options.savedServersPath = files.savedServers;
    options.banReasonsPath = files.banReasons;
    options.automationPath = files.automation;
    options.automationClaimFolder = files.automationClaims;
    options.desiredStatePath = files.desiredState;
    options.storeUrl = chooseStoreUrl(
        commandLine.databaseUrl,
        QString::fromUtf8(loadSettings(options.settingsPath, 0).database.value_or(QByteArray())));
    RavelinWindows windows(options);
    windows.mainWindow.show();
    return application.exec();
}
