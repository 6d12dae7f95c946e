#include "storage/replacing_file.h"

#include "core/errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr qsizetype kFlushThreshold = 64 * 1024;

// 0 when we may write to the file or directory `path`, else the error number.
// The superuser passes every permission check of the kernel, so for it the
// mode bits decide: something nobody may write stays unwritten.
int writeDenial(const QByteArray& path, const struct stat& st)
{
    if (geteuid() == 0)
        return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) ? 0 : EACCES;
    return faccessat(AT_FDCWD, path.constData(), W_OK, AT_EACCESS) == 0 ? 0 : errno;
}

QByteArray directoryOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return ".";
    if (slash == 0)
        return "/";
    return path.left(slash);
}

// Where a save of `path` writes: the path itself, or the file its links lead
// to when `rules` allow. The owner is compared with our own effective one,
// the superuser's included: root's saves must not be aimed elsewhere either.
QByteArray writeTarget(const QByteArray& path, const QString& shownPath, WriteRules rules)
{
    const QByteArray name = QFile::encodeName(QFileInfo(shownPath).fileName());
    const uid_t us = geteuid();
    QByteArray current = path;
    for (int hops = 0;; ++hops) {
        struct stat st;
        if (lstat(current.constData(), &st) != 0) {
            if (errno == ENOENT && current != path)
                throw FileRefused(name + " is a link to a file that is not there; it was not written");
            if (errno == ENOENT)
                return current;
            throw FileError(file_error::fromErrno(errno));
        }
        if (!S_ISLNK(st.st_mode)) {
            if (st.st_uid != us && current != path)
                throw FileRefused(name + " is a link to a file of another user; it was not written");
            if (st.st_uid != us && !rules.othersFiles)
                throw FileRefused(name + " belongs to another user; it was not written");
            return current;
        }
        if (!rules.followLinks)
            throw FileRefused(name + " is a link; it was not written");
        if (st.st_uid != us)
            throw FileRefused(name + " is a link of another user; it was not written");
        if (hops >= 40)
            throw FileError(file_error::fromErrno(ELOOP));
        QByteArray target(PATH_MAX, Qt::Uninitialized);
        const ssize_t length = readlink(current.constData(), target.data(), size_t(target.size()));
        if (length < 0)
            throw FileError(file_error::fromErrno(errno));
        if (length >= target.size())
            throw FileError(file_error::fromErrno(ENAMETOOLONG));
        target.truncate(length);
        current = target.startsWith('/') ? target : directoryOf(current) + '/' + target;
    }
}

void syncDirectory(const QByteArray& directory)
{
    // Makes the rename itself durable; a failure here no longer endangers data.
    const int fd = open(directory.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

} // namespace

void removeLeftoverTemporaryFiles(const QString& path)
{
    // Saves go to a link's target, and so do their temporary files.
    const QFileInfo given(path);
    const QFileInfo file(given.exists() ? given.canonicalFilePath() : path);
    QDir dir = file.absoluteDir();
    const QString prefix = u'.' + file.fileName() + u'.';
    const auto isOurs = [&prefix](const QString& name) {
        const QStringView suffix = QStringView(name).sliced(prefix.size());
        return !suffix.isEmpty() && suffix.size() <= 13 && std::all_of(suffix.begin(), suffix.end(), [](QChar c) {
            return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z');
        });
    };
    for (const QString& name : dir.entryList({prefix + u'*'}, QDir::Files | QDir::Hidden)) {
        if (name.startsWith(prefix) && isOurs(name))
            dir.remove(name);
    }
}

bool mayWriteFolder(const QString& dir)
{
    const QByteArray path = QFile::encodeName(dir);
    struct stat st;
    return stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && writeDenial(path, st) == 0;
}

ReplacingFile::ReplacingFile(const QString& path, mode_t newFileMode, WriteRules rules)
{
    const QByteArray nativePath = QFile::encodeName(path);
    if (nativePath.isEmpty())
        throw FileError(file_error::fromErrno(ENOENT));
    targetPath_ = writeTarget(nativePath, path, rules);

    struct stat existing;
    const bool exists = stat(targetPath_.constData(), &existing) == 0;
    if (!exists && errno != ENOENT)
        throw FileError(file_error::fromErrno(errno));
    if (exists) {
        if (S_ISDIR(existing.st_mode))
            throw FileError(file_error::fromErrno(EISDIR));
        if (!S_ISREG(existing.st_mode))
            throw FileError(file_error::fromErrno(EACCES));
        if (const int denial = writeDenial(targetPath_, existing))
            throw FileError(file_error::fromErrno(denial));
    }

    const QByteArray directory = directoryOf(targetPath_);
    struct stat dirStat;
    if (stat(directory.constData(), &dirStat) != 0)
        throw FileError(file_error::fromErrno(errno));
    if (!S_ISDIR(dirStat.st_mode))
        throw FileError(file_error::fromErrno(ENOTDIR));
    if (const int denial = writeDenial(directory, dirStat)) {
        if (!exists)
            throw FileError(file_error::fromErrno(denial));
        // The file checked above, not a link put in its place since.
        fd_ = open(targetPath_.constData(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd_ < 0)
            throw FileError(file_error::fromErrno(errno));
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
            throw FileError(file_error::fromErrno(errno));
    }
    if (fd_ < 0)
        throw FileError(file_error::fromErrno(EEXIST));

    if (exists) {
        // The owner first: changing it may clear set-id bits that the mode restores.
        if (fchown(fd_, existing.st_uid, existing.st_gid) != 0) {
            // Only the superuser may give a file away; ours is the owner's copy then.
        }
        if (fchmod(fd_, existing.st_mode & 07777) != 0)
            fail(errno);
    }
    buffer_.reserve(kFlushThreshold);
}

ReplacingFile::~ReplacingFile()
{
    if (!committed_)
        discard();
}

void ReplacingFile::write(QByteArrayView bytes)
{
    buffer_.append(bytes);
    if (!inPlace_ && buffer_.size() >= kFlushThreshold)
        flush();
}

void ReplacingFile::commit()
{
    if (inPlace_) {
        // The space is taken before the first old byte is overwritten, so that a
        // full disk or a size limit refuses the save instead of tearing the file.
        const int reserved = posix_fallocate(fd_, 0, std::max<off_t>(buffer_.size(), 1));
        if (reserved != 0 && reserved != EOPNOTSUPP && reserved != EINVAL)
            fail(reserved);
    }
    flush();
    if (inPlace_) {
        const off_t length = lseek(fd_, 0, SEEK_CUR);
        if (length < 0 || ftruncate(fd_, length) != 0 || fsync(fd_) != 0)
            fail(errno);
        const int fd = std::exchange(fd_, -1);
        if (close(fd) != 0)
            fail(errno);
        committed_ = true;
        return;
    }
    if (fsync(fd_) != 0)
        fail(errno);
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0)
        fail(errno);
    if (rename(tempPath_.constData(), targetPath_.constData()) != 0)
        fail(errno);
    committed_ = true;
    syncDirectory(directoryOf(targetPath_));
}

void ReplacingFile::flush()
{
    const char* data = buffer_.constData();
    qsizetype left = buffer_.size();
    while (left > 0) {
        const ssize_t written = ::write(fd_, data, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
        }
        data += written;
        left -= written;
    }
    buffer_.resize(0); // keeps the capacity for the next run
}

void ReplacingFile::fail(int posixErrno)
{
    discard();
    throw FileError(file_error::fromErrno(posixErrno));
}

void ReplacingFile::discard()
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
