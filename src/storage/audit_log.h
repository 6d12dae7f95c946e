#pragma once

// The audit log: every line the log pane shows, and every action typed in the
// console, appended to one file per day ("audit-2026-12-08.log") in the
// per-user state folder, readable by its user alone. A record is one UTF-8
// line: the local time, the local user, the server (address:port, or "-") and
// the text, its control characters written as visible escapes. A login's
// password or digest is blotted out. Day files older than 90 days are removed
// at start-up.
//
// A server decides what is logged, so the file is bounded: a line that comes
// again within kFoldWindow (in a row or among the kFoldLines distinct lines
// seen last) is written once, then once more with its count when the window
// closes; a day's file stops growing at its
// cap. Lines the cap or a failed write keep out are counted, and one record
// says how many when the file is left or can be written again.

#include <QByteArray>
#include <QByteArrayView>
#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <list>

// `line` as the audit log writes it: a login's password blotted out (the
// argument of a typed login, a digest after the word "login"; see
// secrets::blotSecrets), the password elsewhere left as it is, since blotting
// it inside other words would garble the line and point it out; read with the
// Windows-1252 table and written as UTF-8, with backslashes doubled and every
// control character as a visible escape ("\t", "\r", "\n", "\x1b"), so that
// it stays one line and cannot steer a terminal showing the file.
QByteArray auditText(QByteArrayView line);

class AuditLog
{
public:
    static constexpr int kKeepDays = 90;
    static constexpr qint64 kDefaultDayCap = qint64(64) * 1024 * 1024;
    // How many distinct lines a fold window remembers, and how long it lasts.
    static constexpr qsizetype kFoldLines = 256;
    static constexpr std::chrono::milliseconds kFoldWindow{2000};
    using Clock = std::function<QDateTime()>;

    // Writes into `folder`, made (0700) at the first line; `clock` gives the local time.
    explicit AuditLog(QString folder, Clock clock = &QDateTime::currentDateTime);
    // Writes the counts still open and the number of lines dropped.
    ~AuditLog();

    AuditLog(const AuditLog&) = delete;
    AuditLog& operator=(const AuditLog&) = delete;

    const QString& folder() const { return folder_; }

    // Where the server in use ("address:port", empty when none) is read from
    // when a line is written.
    void setServerSource(std::function<QByteArray()> source) { serverSource_ = std::move(source); }
    // The local user a record names; the account running the program unless set.
    void setUser(QByteArrayView user) { user_ = auditText(user); }
    // The most a day's file may hold; lines past it are dropped and counted.
    void setDayCap(qint64 bytes) { dayCap_ = bytes; }

    // Writes a record for each of `lines` (folded as above), in one write. A
    // line that cannot be written is counted as dropped, never raised.
    void append(QByteArrayView line) { append(QList<QByteArray>{line.toByteArray()}); }
    void append(const QList<QByteArray>& lines) { appendFor(serverSource_ ? serverSource_() : QByteArray(), lines); }
    // The same, for a server named here ("address:port") rather than by the source.
    void appendFor(QByteArrayView server, const QList<QByteArray>& lines);
    // Closes the fold window: the counts of lines that came again are written.
    // Runs by itself kFoldWindow after a fold window opens, while an event loop runs.
    void flush();

    // Lines dropped in this run, and why the last one was (the system's message
    // or the cap).
    qint64 droppedLines() const { return droppedTotal_; }
    const QByteArray& dropReason() const { return dropReason_; }

    // Removes the day files more than kKeepDays days old; other files in the
    // folder are left alone. Gives how many went.
    int removeOldFiles();

    static QString fileNameFor(QDate day);

private:
    // "<server> <text>": a record without its time and user.
    QByteArray record(const QDateTime& at, QByteArrayView tail) const;
    void foldCounts(const QDateTime& at, QList<QByteArray>& records);
    void write(const QDateTime& at, const QList<QByteArray>& records);
    bool openFileFor(QDate day);
    void leaveFile();
    bool writeDroppedRecord(const QDateTime& at);
    // Writes `bytes` whole at the file's end; 0, or the error number after
    // taking back what went.
    int appendWhole(QByteArrayView bytes);
    void drop(qint64 lines, QByteArray reason);
    void closeFile();

    QString folder_;
    Clock clock_;
    std::function<QByteArray()> serverSource_;
    QByteArray user_;
    qint64 dayCap_ = kDefaultDayCap;
    int fd_ = -1;
    QDate openDay_;
    qint64 fileSize_ = 0;
    // The lines of the fold window by their record's tail (without a count of
    // their own), the least recently seen first, and how often each came
    // again after its record.
    struct Fold
    {
        QByteArray tail;
        qint64 more = 0;
    };
    std::list<Fold> foldOrder_;
    QHash<QByteArray, std::list<Fold>::iterator> folds_;
    QDateTime foldStart_;
    QTimer foldTimer_;
    qint64 droppedUnsaid_ = 0; // not yet said in the file
    bool capReached_ = false;  // the open file is full for the day
    qint64 droppedTotal_ = 0;
    QByteArray dropReason_;
};
