#include "storage/replacing_file.h"

#include "core/errors.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr qsizetype kFlushThreshold = 64 * 1024;

// 0 when we may write to the file or directory `path`, else the error number.
// The superuser passes every permission check of the kernel, so for it the
// mode bits decide: something nobody may write stays unwritten.
int WriteDenial(const QByteArray& path, const struct stat& st)
{
    if (geteuid() == 0)
        return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) ? 0 : EACCES;
    return faccessat(AT_FDCWD, path.constData(), W_OK, AT_EACCESS) == 0 ? 0 : errno;
}

// A link is followed, so that its target is replaced and the link stays.
QByteArray ResolveLink(const QByteArray& path)
{
    struct stat st;
    if (lstat(path.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char* resolved = realpath(path.constData(), nullptr);
    if (!resolved)
        return path;
    QByteArray result(resolved);
    free(resolved);
    return result;
}

QByteArray DirectoryOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return ".";
    if (slash == 0)
        return "/";
    return path.left(slash);
}

void SyncDirectory(const QByteArray& directory)
{
    // Makes the rename itself durable; a failure here no longer endangers data.
    const int fd = open(directory.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

} // namespace

ReplacingFile::ReplacingFile(const QString& path, mode_t newFileMode)
{
    const QByteArray nativePath = QFile::encodeName(path);
    if (nativePath.isEmpty())
        throw EInOutError(io_error::FromErrno(ENOENT));
    targetPath_ = ResolveLink(nativePath);

    struct stat existing;
    const bool exists = stat(targetPath_.constData(), &existing) == 0;
    if (!exists && errno != ENOENT)
        throw EInOutError(io_error::FromErrno(errno));
    if (exists) {
        if (S_ISDIR(existing.st_mode))
            throw EInOutError(io_error::FromErrno(EISDIR));
        if (!S_ISREG(existing.st_mode))
            throw EInOutError(io_error::FromErrno(EACCES));
        if (const int denial = WriteDenial(targetPath_, existing))
            throw EInOutError(io_error::FromErrno(denial));
    }

    const QByteArray directory = DirectoryOf(targetPath_);
    struct stat dirStat;
    if (stat(directory.constData(), &dirStat) != 0)
        throw EInOutError(io_error::FromErrno(errno));
    if (!S_ISDIR(dirStat.st_mode))
        throw EInOutError(io_error::FromErrno(ENOTDIR));
    if (const int denial = WriteDenial(directory, dirStat)) {
        if (!exists)
            throw EInOutError(io_error::FromErrno(denial));
        fd_ = open(targetPath_.constData(), O_WRONLY | O_CLOEXEC);
        if (fd_ < 0)
            throw EInOutError(io_error::FromErrno(errno));
        inPlace_ = true;
        return;
    }

    // The temporary name starts with a dot so that it stays out of the way.
    const QByteArray baseName = targetPath_.mid(targetPath_.lastIndexOf('/') + 1);
    const QByteArray prefix = (directory == "/" ? QByteArray("/") : directory + '/') + '.' + baseName + '.';
    const mode_t createMode = exists ? S_IRUSR | S_IWUSR : newFileMode;
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        const QByteArray candidate = prefix + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        fd_ = open(candidate.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, createMode);
        if (fd_ >= 0)
            tempPath_ = candidate;
        else if (errno != EEXIST)
            throw EInOutError(io_error::FromErrno(errno));
    }
    if (fd_ < 0)
        throw EInOutError(io_error::FromErrno(EEXIST));

    if (exists) {
        // The owner first: changing it may clear set-id bits that the mode restores.
        if (fchown(fd_, existing.st_uid, existing.st_gid) != 0) {
            // Only the superuser may give a file away; ours is the owner's copy then.
        }
        if (fchmod(fd_, existing.st_mode & 07777) != 0)
            Fail(errno);
    }
    buffer_.reserve(kFlushThreshold);
}

ReplacingFile::~ReplacingFile()
{
    if (!committed_)
        Discard();
}

void ReplacingFile::Write(QByteArrayView bytes)
{
    buffer_.append(bytes);
    if (!inPlace_ && buffer_.size() >= kFlushThreshold)
        Flush();
}

void ReplacingFile::Commit()
{
    Flush();
    if (inPlace_) {
        const off_t length = lseek(fd_, 0, SEEK_CUR);
        if (length < 0 || ftruncate(fd_, length) != 0 || fsync(fd_) != 0)
            Fail(errno);
        const int fd = std::exchange(fd_, -1);
        if (close(fd) != 0)
            Fail(errno);
        committed_ = true;
        return;
    }
    if (fsync(fd_) != 0)
        Fail(errno);
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0)
        Fail(errno);
    if (rename(tempPath_.constData(), targetPath_.constData()) != 0)
        Fail(errno);
    committed_ = true;
    SyncDirectory(DirectoryOf(targetPath_));
}

void ReplacingFile::Flush()
{
    const char* data = buffer_.constData();
    qsizetype left = buffer_.size();
    while (left > 0) {
        const ssize_t written = ::write(fd_, data, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            Fail(errno);
        }
        data += written;
        left -= written;
    }
    buffer_.resize(0); // keeps the capacity for the next run
}

void ReplacingFile::Fail(int posixErrno)
{
    Discard();
    throw EInOutError(io_error::FromErrno(posixErrno));
}

void ReplacingFile::Discard()
{
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    if (!tempPath_.isEmpty()) {
        unlink(tempPath_.constData());
        tempPath_.clear();
    }
}
