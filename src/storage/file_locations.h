#pragma once

// Where the program keeps its three files. A copy run from its own folder keeps
// settings.ini beside itself, as it always has; an installed copy, whose folder
// the user may not write, keeps it in the per-user configuration folder. The
// two data files are taken from the working folder when they are there, and
// otherwise from the per-user data folder, which an installed copy fills from
// its examples on the first start. A file is saved where it was read from.

#include <QString>

struct FileLocations
{
    QString settings;
    QString maps;
    QString announcements;
    QString commandHistory;   // in the per-user state folder
    QString auditLogFolder;   // the per-user state folder
    QString savedServers;     // in the per-user configuration folder
    QString banReasons;       // in the per-user configuration folder
    QString automation;       // automation.toml in the per-user configuration folder
    QString automationClaims; // the folder of automationClaimFolder()
    QString desiredState;     // desired.toml in the per-user configuration folder
};

// The folders the rules choose between.
struct LocationFolders
{
    QString executableDir;
    bool installed = false; // the executable is an installed copy (<prefix>/bin beside <prefix>/share/ravelin)
    QString workingDir;
    QString userConfigDir; // the program's own, e.g. ~/.config/ravelin
    QString userDataDir;   // the program's own, e.g. ~/.local/share/ravelin
    QString userStateDir;  // the program's own, e.g. ~/.local/state/ravelin
    QString examplesDir;   // the installed examples; empty when there are none
};

// The folders of this user and this program, by the desktop's conventions
// (XDG); the examples are looked for beside the executable's prefix first.
LocationFolders standardFolders(const QString& executableDir, const QString& workingDir);

// settings.ini beside the executable when it already holds one, or when its
// folder may be written and it is not an installed copy (a user's own build,
// a copy carried on a stick); otherwise in the per-user configuration folder.
QString settingsLocation(const LocationFolders& folders);

// A data file in the working folder when it exists there; otherwise in the
// per-user data folder.
QString dataFileLocation(const LocationFolders& folders, const QString& name);

// Copies the installed examples of the data files into the per-user data
// folder where it has none of them yet. Nothing when there are no examples.
// Returns false when a copy failed (the file then stays missing).
bool provideExamples(const LocationFolders& folders);

// servers.txt in the per-user configuration folder.
QString savedServersLocation(const LocationFolders& folders);

// Where the lock files of the servers whose automation this user's programs
// run are kept: "automation" in the per-user state folder.
QString automationClaimFolder(const LocationFolders& folders);

// The local user's name, as notes, actions and runs are signed.
QString localUserName();

// All three locations, after providing the examples.
FileLocations chooseLocations(const LocationFolders& folders);

// Creates the folder of `path` when it is missing; for its user alone (0700)
// when it is to hold a private file.
bool makeFolderFor(const QString& path);
bool makePrivateFolderFor(const QString& path);

// Copies `path` to "<path>.bak", replacing an older copy; gives the copy's
// path, or the empty text when no copy could be made.
QString keepAsBackup(const QString& path);
