#include "storage/writer_lock.h"

#include "core/errors.h"

#include <QFile>
#include <QFileInfo>

WriterLock::WriterLock(const QString& path)
    : path_(path)
    , lock_(path + QStringLiteral(".lock"))
{ }

bool WriterLock::take(std::chrono::milliseconds wait)
{
    if (lock_.isLocked())
        return true;
    if (lock_.tryLock(int(wait.count())))
        return true;
    return lock_.error() != QLockFile::LockFailedError;
}

void WriterLock::require(std::chrono::milliseconds wait)
{
    if (!take(wait))
        throw FileRefused(inUseMessage());
}

QByteArray WriterLock::inUseMessage() const
{
    return QFile::encodeName(QFileInfo(path_).fileName()) + " is in use by another Ravelin window; it was not written";
}
