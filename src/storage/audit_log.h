#pragma once

// The audit log: every line the log pane shows, with the local time, appended
// to one file per day ("audit-2026-12-08.log") in the per-user state folder,
// readable by its user alone. A line never carries the password in use or a
// login digest: they are blotted out before it is written. Day files older
// than 90 days are removed at start-up.

#include <QByteArray>
#include <QByteArrayView>
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>

class AuditLog
{
public:
    static constexpr int kKeepDays = 90;
    using Clock = std::function<QDateTime()>;

    // Writes into `folder`, made (0700) at the first line; `clock` gives the local time.
    explicit AuditLog(QString folder, Clock clock = &QDateTime::currentDateTime);
    ~AuditLog();

    AuditLog(const AuditLog&) = delete;
    AuditLog& operator=(const AuditLog&) = delete;

    const QString& folder() const { return folder_; }

    // Where the password in use is read from when a line is written.
    void setSecretSource(std::function<QByteArray()> source) { secretSource_ = std::move(source); }

    // Appends "<yyyy-MM-dd hh:mm:ss> <line>" to the day's file, for each of
    // `lines` in one write. Raises FileError when it cannot be written.
    void append(QByteArrayView line) { append(QList<QByteArray>{line.toByteArray()}); }
    void append(const QList<QByteArray>& lines);

    // Removes the day files more than kKeepDays days old; other files in the
    // folder are left alone. Gives how many went.
    int removeOldFiles();

    static QString fileNameFor(QDate day);

private:
    void openFileFor(QDate day);
    void closeFile();

    QString folder_;
    Clock clock_;
    std::function<QByteArray()> secretSource_;
    int fd_ = -1;
    QDate openDay_;
};

// `line` with every occurrence of `secret` (when not empty) and every digest
// after "login " blotted out with asterisks, and its line breaks made blanks
// so that it stays one line of the file.
QByteArray redactedLine(QByteArrayView line, QByteArrayView secret);
