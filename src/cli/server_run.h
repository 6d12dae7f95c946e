#pragma once

// One server of a run: its own ConsoleSession, which logs in, takes the
// feed's commands one at a time and prints each reply; then it disconnects
// and reports how it went. Many of them share one event loop.

#include "cli/exit_status.h"
#include "cli/reply_printer.h"
#include "session/console_session.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <optional>

class CommandFeed;

class AuditLog;

struct ServerTarget
{
    QString name; // marks its lines; empty when it is the only server
    QByteArray host;
    quint16 port = 4711;
    QByteArray password;
};

struct RunSettings
{
    ReplyFormat format = ReplyFormat::Text;
    std::chrono::milliseconds replyTimeout{10000};
    // With no reply for this long (or the reply timeout, when longer), the
    // connection is closed.
    std::chrono::milliseconds giveUpTimeout{60000};
    bool verbose = false; // every log line of the session on standard error
    // The least time between a reply and the next command.
    std::chrono::milliseconds delay{0};
    AuditLog* audit = nullptr; // where the session's log and the actions go; none when null
};

class ServerRun : public QObject
{
    Q_OBJECT

public:
    ServerRun(const ServerTarget& target, const CommandFeed& feed, Output& output, const RunSettings& settings,
              QObject* parent = nullptr);

    void start();

    const QString& name() const { return target_.name; }
    bool isFinished() const { return finished_; }
    // Logged in, and every command of the feed so far answered or given up on.
    bool isCaughtUp() const { return caughtUp_; }
    ExitStatus status() const { return status_; }
    // Why it failed: the lines the session logged about it, in UTF-8.
    const QList<QByteArray>& troubles() const { return troubles_; }
    int timedOutReplies() const { return timedOutReplies_; }

signals:
    void caughtUp();
    void finished();

private:
    void onLogLine(const QByteArray& line);
    void onLoggedIn();
    void onDisconnected();
    void onLoginTimedOut();
    void onErrorRaised(const QByteArray& message);

    void follow(CommandReply* answer);
    void onReplyLate();
    void onReplyEnded(const CommandReply& answer);
    void sendSoon();
    void sendNext();
    void disconnect();
    void report(const QByteArray& line);
    void say(const QByteArray& utf8);
    void audit(const QByteArray& line);
    void finish(ExitStatus status);

    ServerTarget target_;
    const CommandFeed& feed_;
    RunSettings settings_;
    Output& output_;
    ReplyPrinter printer_;
    ConsoleSession session_;

    qsizetype nextCommand_ = 0;
    bool awaiting_ = false; // a command's reply is awaited

    bool sendPosted_ = false;
    QElapsedTimer sinceReply_; // since the last reply ended, for the delay
    QTimer delayTimer_;
    bool loggedIn_ = false;
    bool loginFailed_ = false;
    bool closing_ = false; // the run closes the connection itself
    bool caughtUp_ = false;
    bool finished_ = false;
    ExitStatus status_ = ExitStatus::Answered;
    int timedOutReplies_ = 0;
    QList<QByteArray> troubles_;
};
