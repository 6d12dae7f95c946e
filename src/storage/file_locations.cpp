#include "storage/file_locations.h"

#include "storage/replacing_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kSettingsFile = QStringLiteral("settings.ini");
const QString kMapsFile = QStringLiteral("maps.dat");
const QString kAnnouncementsFile = QStringLiteral("servermessages.dat");

QString join(const QString& dir, const QString& name)
{
    return dir.endsWith(u'/') ? dir + name : dir + u'/' + name;
}

// $XDG_STATE_HOME when it is an absolute path, otherwise ~/.local/state.
QString userStateHome()
{
    const QString configured = qEnvironmentVariable("XDG_STATE_HOME");
    if (QDir::isAbsolutePath(configured))
        return configured;
    return QDir::homePath() + QStringLiteral("/.local/state");
}

} // namespace

LocationFolders standardFolders(const QString& executableDir, const QString& workingDir)
{
    LocationFolders folders;
    folders.executableDir = executableDir;
    folders.workingDir = workingDir;
    folders.userConfigDir = join(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation),
                                 QStringLiteral("ravelin"));
    folders.userDataDir = join(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation),
                               QStringLiteral("ravelin"));
    folders.userStateDir = join(userStateHome(), QStringLiteral("ravelin"));
    // bin/ravelin finds ../share/ravelin wherever the prefix is; then the system's data folders.
    const QString besidePrefix = QDir::cleanPath(executableDir + QStringLiteral("/../share/ravelin"));
    folders.installed = QFileInfo::exists(join(besidePrefix, kMapsFile));
    QStringList candidates = {besidePrefix};
    for (const QString& dir : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
        candidates.append(join(dir, QStringLiteral("ravelin")));
    for (const QString& dir : candidates) {
        if (dir != folders.userDataDir && QFileInfo::exists(join(dir, kMapsFile))) {
            folders.examplesDir = dir;
            break;
        }
    }
    return folders;
}

QString settingsLocation(const LocationFolders& folders)
{
    const QString beside = join(folders.executableDir, kSettingsFile);
    if (QFileInfo::exists(beside) || (!folders.installed && mayWriteFolder(folders.executableDir)))
        return beside;
    return join(folders.userConfigDir, kSettingsFile);
}

QString dataFileLocation(const LocationFolders& folders, const QString& name)
{
    const QString here = join(folders.workingDir, name);
    if (QFileInfo::exists(here))
        return here;
    return join(folders.userDataDir, name);
}

bool provideExamples(const LocationFolders& folders)
{
    if (folders.examplesDir.isEmpty())
        return true;
    bool copied = true;
    for (const QString& name : {kMapsFile, kAnnouncementsFile}) {
        const QString target = join(folders.userDataDir, name);
        if (QFileInfo::exists(target) || QFileInfo::exists(join(folders.workingDir, name)))
            continue;
        copied = QDir().mkpath(folders.userDataDir) && QFile::copy(join(folders.examplesDir, name), target)
            && QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther)
            && copied;
    }
    return copied;
}

FileLocations chooseLocations(const LocationFolders& folders)
{
    provideExamples(folders);
    FileLocations files;
    files.settings = settingsLocation(folders);
    files.maps = dataFileLocation(folders, kMapsFile);
    files.announcements = dataFileLocation(folders, kAnnouncementsFile);
    files.commandHistory = join(folders.userStateDir, QStringLiteral("console_history"));
    files.auditLogFolder = folders.userStateDir;
    files.savedServers = savedServersLocation(folders);
    files.banReasons = folders.userConfigDir + QStringLiteral("/ban_reasons.txt");
    files.automation = join(folders.userConfigDir, QStringLiteral("automation.toml"));
    files.automationClaims = automationClaimFolder(folders);
    files.desiredState = join(folders.userConfigDir, QStringLiteral("desired.toml"));
    return files;
}

QString savedServersLocation(const LocationFolders& folders)
{
    return join(folders.userConfigDir, QStringLiteral("servers.txt"));
}

QString automationClaimFolder(const LocationFolders& folders)
{
    return join(folders.userStateDir, QStringLiteral("automation"));
}

QString localUserName()
{
    if (const passwd* entry = ::getpwuid(::geteuid()))
        return QString::fromLocal8Bit(entry->pw_name);
    const QString name = qEnvironmentVariable("USER");
    return name.isEmpty() ? QString::number(::geteuid()) : name;
}

bool makeFolderFor(const QString& path)
{
    return QDir().mkpath(QFileInfo(path).absolutePath());
}

bool makePrivateFolderFor(const QString& path)
{
    const QString dir = QFileInfo(path).absolutePath();
    if (QFileInfo::exists(dir))
        return true;
    if (!QDir().mkpath(dir))
        return false;
    return ::chmod(QFile::encodeName(dir).constData(), S_IRWXU) == 0;
}

QString keepAsBackup(const QString& path)
{
    // A folder or a file we may not read is no copy: an older backup stays.
    const QFileInfo file(path);
    if (!file.isFile() || !file.isReadable())
        return {};
    const QString backup = path + QStringLiteral(".bak");
    QFile::remove(backup);
    return QFile::copy(path, backup) ? backup : QString();
}
