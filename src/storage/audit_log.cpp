#include "storage/audit_log.h"

#include "core/errors.h"
#include "core/text_cut.h"
#include "storage/file_locations.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr QByteArrayView kBlot = "********";
constexpr QByteArrayView kLogin = "login ";
constexpr qsizetype kDigestLength = 32;

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Blots out the 32 hexadecimal digits that follow each "login ".
void blotDigests(QByteArray& line)
{
    qsizetype from = 0;
    for (qsizetype at; (at = text::find(QByteArrayView(line).sliced(from), kLogin)) >= 0;) {
        const qsizetype start = from + at + kLogin.size();
        const QByteArrayView digest = text::slice(line, start, start + kDigestLength);
        if (digest.size() == kDigestLength && std::all_of(digest.begin(), digest.end(), isHexDigit)) {
            line.replace(start, kDigestLength, kBlot.toByteArray());
            from = start + kBlot.size();
        } else {
            from = start;
        }
    }
}

void writeAll(int fd, QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const ssize_t written = ::write(fd, bytes.data(), size_t(bytes.size()));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            throw FileError(file_error::fromErrno(written < 0 ? errno : ENOSPC));
        bytes = bytes.sliced(written);
    }
}

} // namespace

QByteArray redactedLine(QByteArrayView line, QByteArrayView secret)
{
    QByteArray result = line.toByteArray();
    if (!secret.isEmpty())
        result.replace(secret, kBlot);
    blotDigests(result);
    result.replace('\r', ' ').replace('\n', ' ');
    return result;
}

AuditLog::AuditLog(QString folder, Clock clock)
    : folder_(std::move(folder))
    , clock_(std::move(clock))
{ }

AuditLog::~AuditLog()
{
    closeFile();
}

QString AuditLog::fileNameFor(QDate day)
{
    return QStringLiteral("audit-%1.log").arg(day.toString(Qt::ISODate));
}

void AuditLog::append(const QList<QByteArray>& lines)
{
    if (lines.isEmpty())
        return;
    const QDateTime now = clock_();
    if (fd_ < 0 || now.date() != openDay_)
        openFileFor(now.date());
    const QByteArray secret = secretSource_ ? secretSource_() : QByteArray();
    const QByteArray stamp = now.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss ")).toLatin1();
    QByteArray text;
    for (const QByteArray& line : lines)
        text += stamp + redactedLine(line, secret) + '\n';
    writeAll(fd_, text);
}

void AuditLog::openFileFor(QDate day)
{
    closeFile();
    const QString path = QDir(folder_).filePath(fileNameFor(day));
    makePrivateFolderFor(path);
    // Never through a link, and never into another user's file: the log is ours alone.
    const QByteArray name = QFile::encodeName(fileNameFor(day));
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW,
                          0600);
    if (fd < 0 && errno == ELOOP)
        throw FileRefused(name + " is a link; it was not written");
    if (fd < 0)
        throw FileError(file_error::fromErrno(errno));
    struct stat st;
    if (::fstat(fd, &st) != 0 || st.st_uid != ::geteuid()) {
        ::close(fd);
        throw FileRefused(name + " belongs to another user; it was not written");
    }
    // A file made by other hands keeps no wider permissions than ours.
    ::fchmod(fd, S_IRUSR | S_IWUSR);
    fd_ = fd;
    openDay_ = day;
}

void AuditLog::closeFile()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

int AuditLog::removeOldFiles()
{
    const QDate oldestKept = clock_().date().addDays(-kKeepDays);
    int removed = 0;
    const QDir dir(folder_);
    for (const QString& name : dir.entryList({QStringLiteral("audit-*.log")}, QDir::Files)) {
        // Only a day file's own name: the day, written back, gives the name again.
        const QDate day = QDate::fromString(name.mid(6, 10), Qt::ISODate);
        if (day.isValid() && fileNameFor(day) == name && day < oldestKept && QFile::remove(dir.filePath(name)))
            ++removed;
    }
    return removed;
}
