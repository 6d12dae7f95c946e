#pragma once

// One writer per file among the Ravelin windows of a machine: a lock file
// beside it, "<file>.lock", made with QLockFile and under its rules for a
// lock that was left behind (a process that is gone loses it to the next).

#include <QByteArray>
#include <QLockFile>
#include <QString>

#include <chrono>

class WriterLock
{
public:
    // How long a save waits for another window to finish its own save.
    static constexpr std::chrono::milliseconds kSaveWait{2000};

    explicit WriterLock(const QString& path);

    // Takes the lock unless this process holds it, waiting up to `wait` for
    // another window to let it go. True when held; true as well when the
    // folder takes no lock file (a shared install's read-only folder), where
    // there is nothing to agree on and the file's own mode decides.
    bool take(std::chrono::milliseconds wait = {});

    // take(wait), or FileRefused with inUseMessage().
    void require(std::chrono::milliseconds wait);

    // "<name> is in use by another Ravelin window; it was not written"
    QByteArray inUseMessage() const;

private:
    QString path_;
    QLockFile lock_;
};
