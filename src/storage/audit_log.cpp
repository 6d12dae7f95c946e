#include "storage/audit_log.h"

#include "core/errors.h"
#include "core/secrets.h"
#include "core/windows1252.h"
#include "storage/file_locations.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Room kept below the cap for the records that say the cap was reached and
// how many lines were dropped.
constexpr qint64 kDroppedRecordRoom = 1024;

// A count the session gave a line it folded: "<text> (250 times)" is <text>, 250 times.
std::pair<QByteArrayView, qint64> withoutCount(QByteArrayView text)
{
    constexpr QByteArrayView kTail = " times)";
    if (!text.endsWith(kTail))
        return {text, 1};
    const QByteArrayView front = text.first(text.size() - kTail.size());
    const qsizetype open = front.lastIndexOf(QByteArrayView(" ("));
    if (open < 0)
        return {text, 1};
    bool ok = false;
    const qint64 count = front.sliced(open + 2).toLongLong(&ok);
    if (!ok || count < 1
        || !std::all_of(front.begin() + open + 2, front.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return {text, 1};
    return {text.first(open), count};
}

QByteArray localUser()
{
    if (const passwd* entry = ::getpwuid(::geteuid()))
        return entry->pw_name;
    const QByteArray name = qgetenv("USER");
    return name.isEmpty() ? QByteArray::number(::geteuid()) : name;
}

QByteArray sizeText(qint64 bytes)
{
    if (bytes > 0 && bytes % (1024 * 1024) == 0)
        return QByteArray::number(bytes / (1024 * 1024)) + " MiB";
    if (bytes > 0 && bytes % 1024 == 0)
        return QByteArray::number(bytes / 1024) + " KiB";
    return QByteArray::number(bytes) + " bytes";
}

} // namespace

QByteArray auditText(QByteArrayView line)
{
    const QString decoded = windows1252::decode(secrets::blotSecrets(line, {}));
    QString shown;
    shown.reserve(decoded.size());
    for (const QChar c : decoded) {
        const char16_t unit = c.unicode();
        if (unit == '\\')
            shown += QLatin1String("\\\\");
        else if (unit == '\t')
            shown += QLatin1String("\\t");
        else if (unit == '\r')
            shown += QLatin1String("\\r");
        else if (unit == '\n')
            shown += QLatin1String("\\n");
        else if (unit < 0x20 || (unit >= 0x7F && unit < 0xA0))
            shown += QStringLiteral("\\x%1").arg(int(unit), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown.toUtf8();
}

AuditLog::AuditLog(QString folder, Clock clock)
    : folder_(std::move(folder))
    , clock_(std::move(clock))
    , user_(auditText(localUser()))
{
    foldTimer_.setSingleShot(true);
    foldTimer_.callOnTimeout([this] { flush(); });
}

AuditLog::~AuditLog()
{
    flush();
    leaveFile();
}

QString AuditLog::fileNameFor(QDate day)
{
    return QStringLiteral("audit-%1.log").arg(day.toString(Qt::ISODate));
}

QByteArray AuditLog::record(const QDateTime& at, QByteArrayView tail) const
{
    QByteArray line = at.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss ")).toLatin1() + user_ + ' ';
    line.append(tail).append('\n');
    return line;
}

void AuditLog::appendFor(QByteArrayView serverName, const QList<QByteArray>& lines)
{
    if (lines.isEmpty())
        return;
    const QDateTime now = clock_();
    QList<QByteArray> records;
    if (!folds_.isEmpty() && (foldStart_.msecsTo(now) >= kFoldWindow.count() || now.date() != foldStart_.date()))
        foldCounts(foldStart_.date() == now.date() ? now : foldStart_, records);
    if (!records.isEmpty() && foldStart_.date() != now.date())
        write(foldStart_, std::exchange(records, {}));
    const QByteArray server = auditText(serverName);
    const QByteArray serverField = (server.isEmpty() ? QByteArray("-") : server) + ' ';
    for (const QByteArray& line : lines) {
        const QByteArray text = auditText(line);
        const auto [plain, count] = withoutCount(text);
        QByteArray key = serverField + plain.toByteArray();
        if (const auto fold = folds_.find(key); fold != folds_.end()) {
            (*fold)->more += count;
            foldOrder_.splice(foldOrder_.end(), foldOrder_, *fold);
            continue;
        }
        records.append(record(now, serverField + text));
        if (qsizetype(foldOrder_.size()) == kFoldLines) {
            // The line least recently seen makes room; its count is written now.
            const Fold& oldest = foldOrder_.front();
            if (oldest.more > 0)
                records.append(record(now, oldest.tail + " (" + QByteArray::number(oldest.more) + " more times)"));
            folds_.remove(oldest.tail);
            foldOrder_.pop_front();
        }
        if (foldOrder_.empty()) {
            foldStart_ = now;
            foldTimer_.start(kFoldWindow);
        }
        foldOrder_.push_back({key, 0});
        folds_.insert(std::move(key), std::prev(foldOrder_.end()));
    }
    write(now, records);
}

void AuditLog::flush()
{
    if (folds_.isEmpty())
        return;
    const QDateTime now = clock_();
    const QDateTime at = now.date() == foldStart_.date() ? now : foldStart_;
    QList<QByteArray> records;
    foldCounts(at, records);
    write(at, records);
}

void AuditLog::foldCounts(const QDateTime& at, QList<QByteArray>& records)
{
    for (const Fold& fold : std::exchange(foldOrder_, {})) {
        if (fold.more > 0)
            records.append(record(at, fold.tail + " (" + QByteArray::number(fold.more) + " more times)"));
    }
    folds_.clear();
    foldTimer_.stop();
}

void AuditLog::write(const QDateTime& at, const QList<QByteArray>& records)
{
    if (records.isEmpty())
        return;
    if ((fd_ < 0 || at.date() != openDay_) && !openFileFor(at.date())) {
        drop(records.size(), dropReason_);
        return;
    }
    // Lines lost to a failed write are said first, now that one may go through.
    if (droppedUnsaid_ > 0 && !capReached_ && !writeDroppedRecord(at)) {
        drop(records.size(), dropReason_);
        return;
    }
    const bool capReachedBefore = capReached_;
    QByteArray text;
    qint64 kept = 0;
    for (const QByteArray& line : records) {
        if (capReached_ || fileSize_ + text.size() + line.size() > dayCap_ - kDroppedRecordRoom) {
            capReached_ = true;
            continue;
        }
        text += line;
        ++kept;
    }
    if (kept < records.size())
        drop(records.size() - kept, "the day's file reached its cap of " + sizeText(dayCap_));
    // Said at once, so that a window that never closes cleanly still leaves it
    // in the file; the count follows when the file is left.
    if (capReached_ && !capReachedBefore) {
        const QByteArray capped = record(
            at, "- The day's file reached its cap of " + sizeText(dayCap_) + "; later lines are dropped");
        if (fileSize_ + text.size() + capped.size() <= dayCap_)
            text += capped;
    }
    if (const int error = appendWhole(text))
        drop(kept, FileError::messageFor(file_error::fromErrno(error)));
}

// Half a record would garble the file: what went of a write that failed is
// taken back, and its error number given.
int AuditLog::appendWhole(QByteArrayView bytes)
{
    QByteArrayView rest = bytes;
    while (!rest.isEmpty()) {
        const ssize_t written = ::write(fd_, rest.data(), size_t(rest.size()));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            const int error = written < 0 ? errno : ENOSPC;
            if (::ftruncate(fd_, fileSize_) != 0)
                fileSize_ += bytes.size() - rest.size();
            return error;
        }
        rest = rest.sliced(written);
    }
    fileSize_ += bytes.size();
    return 0;
}

bool AuditLog::writeDroppedRecord(const QDateTime& at)
{
    const QByteArray line = record(at,
                                   "- " + QByteArray::number(droppedUnsaid_)
                                       + " lines were dropped from the audit log (" + auditText(dropReason_) + ")");
    // A file left at its cap run after run does not grow past it: the count
    // is then only shown in the window.
    if (capReached_ && fileSize_ + line.size() > dayCap_)
        return false;
    if (const int error = appendWhole(line)) {
        dropReason_ = FileError::messageFor(file_error::fromErrno(error));
        return false;
    }
    droppedUnsaid_ = 0;
    return true;
}

void AuditLog::drop(qint64 lines, QByteArray reason)
{
    droppedUnsaid_ += lines;
    droppedTotal_ += lines;
    dropReason_ = std::move(reason);
}

bool AuditLog::openFileFor(QDate day)
{
    leaveFile();
    const QString path = QDir(folder_).filePath(fileNameFor(day));
    if (!makePrivateFolderFor(path)) {
        dropReason_ = FileError::messageFor(file_error::fromErrno(errno));
        return false;
    }
    // Never through a link, and never into another user's file: the log is ours alone.
    const QByteArray name = QFile::encodeName(fileNameFor(day));
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW,
                          0600);
    if (fd < 0) {
        dropReason_ = errno == ELOOP ? name + " is a link; it was not written"
                                     : FileError::messageFor(file_error::fromErrno(errno));
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || st.st_uid != ::geteuid()) {
        ::close(fd);
        dropReason_ = name + " belongs to another user; it was not written";
        return false;
    }
    // A file made by other hands keeps no wider permissions than ours.
    ::fchmod(fd, S_IRUSR | S_IWUSR);
    struct stat status = {};
    fileSize_ = ::fstat(fd, &status) == 0 ? qint64(status.st_size) : 0;
    fd_ = fd;
    openDay_ = day;
    capReached_ = false;
    return true;
}

// The file being left says how many lines it could not take.
void AuditLog::leaveFile()
{
    if (fd_ >= 0 && droppedUnsaid_ > 0) {
        const QDateTime now = clock_();
        writeDroppedRecord(now.date() == openDay_ ? now : QDateTime(openDay_, QTime(23, 59, 59)));
    }
    closeFile();
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
