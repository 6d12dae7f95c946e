#pragma once

// One server as a window shows it, without the window: its console session
// and the reconnecting that goes with it, the three lists as the replies fill
// them, the log on its way to a pane and to the audit log, and the status
// text. A window lays out controls, wires them to a ServerView and follows its
// signals; several views can live side by side, each with its own server.
//
// The log keeps the pane's pace: lines logged while the session handles a
// read wait for the read's end and go out in one batch, and a flood is handed
// out kLogLinesPerTurn lines at a time, a turn of the event loop apart, with
// no more than kMaxLogLines waiting (the oldest make room; the audit log still
// gets every one).

#include "admin/admin_action.h"
#include "core/entry_block.h"
#include "session/console_session.h"
#include "session/reply_reader.h"
#include "storage/audit_log.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class AutoReconnect;

struct ServerViewOptions
{
    // How long a command's reply may take before it is logged as late, and
    // how long before the connection is given up on.
    std::chrono::milliseconds replyTimeout{10000};
    std::chrono::milliseconds giveUpTimeout{60000};
    // How long a connect may take before it fails as timed out.
    std::chrono::milliseconds connectTimeout{21000};
    // How long a login after a drop must last before the connection counts as back.
    std::chrono::milliseconds reconnectHeldAfter{60000};
    // Where the day files of the audit log go; empty keeps no audit log.
    QString auditLogFolder;
    // The most one day's file of the audit log may hold.
    qint64 auditLogDayCap = AuditLog::kDefaultDayCap;
};

class ServerView : public QObject
{
    Q_OBJECT

public:
    // The most log lines waiting for the pane, which keeps no more.
    static constexpr qsizetype kMaxLogLines = 10000;
    // The most log lines handed to the pane in one turn of the event loop.
    static constexpr qsizetype kLogLinesPerTurn = 1000;

    explicit ServerView(const ServerViewOptions& options = {}, QObject* parent = nullptr);
    ~ServerView() override;

    // Connect: any retrying ends, and the session starts an attempt (see
    // ConsoleSession::connectToServer, which may raise ConvertError). The
    // login asks `password` when the greeting arrives, and so do the retries.
    void connectToServer(const QByteArray& hostText, const QByteArray& portText, std::function<QByteArray()> password);
    // Disconnect: any retrying ends, and an established connection closes.
    void disconnectFromServer();

    // Hands a command to the session. Not connected, the action still goes on
    // after the refusal; false when the connected server was not sent it (a
    // command too long for it): the action was not done and says nothing.
    bool submit(const QByteArray& command);
    // Sends the action's command, then logs its sentence; false as submit.
    bool perform(const AdminAction& action);
    // Hands a command to the session as it is; null after the refusal is logged.
    CommandReply* sendCommand(const QByteArray& command,
                              ConsoleSession::Reply reply = ConsoleSession::Reply::ReaderOnly);
    // A command the administrator typed: its reply is logged as it comes, and
    // what it does, when it does something, goes to the audit log.
    bool sendTypedCommand(const QByteArray& command);

    // Shows a line in the log and writes it to the audit log.
    void appendLog(const QByteArray& line);

    bool isConnected() const { return session_->isConnected(); }
    // The server of the latest attempt.
    const QByteArray& host() const { return session_->host(); }
    int port() const { return session_->port(); }
    const QByteArray& status() const { return status_; }

    // The list as the replies left it, in their order, less what was taken out here.
    const EntryBlock& entries(ListKind list) const { return lists_[static_cast<size_t>(list)]; }
    // Takes out one entry equal to `entry` (a kicked player, a lifted ban).
    void removeEntry(ListKind list, const QByteArray& entry);
    void clearList(ListKind list);

    bool isReconnectEnabled() const;
    void setReconnectEnabled(bool enabled);

    // The audit log, when there is one.
    AuditLog* auditLog() const { return auditLog_.get(); }

signals:
    // Lines for the log pane, oldest first.
    void logLinesReady(const QList<QByteArray>& lines);
    void statusChanged(const QByteArray& text);
    // "Audit log: 3 lines dropped (...)", each time the count grows.
    void auditNoticeChanged(const QByteArray& notice);
    void listCleared(ListKind list);
    void entriesAdded(ListKind list, const EntryBlock& entries);
    void listComplete(ListKind list);
    void entryRemoved(ListKind list, const QByteArray& entry);
    void disconnected();
    // A logged-in connection closed that nobody asked to close, and a retry
    // that brought it back has held.
    void connectionLost(const QByteArray& server);
    void connectionRestored(const QByteArray& server);
    // An error that nothing handled while the session ran.
    void errorRaised(const QByteArray& message);

private:
    void takeLogBatch();
    void showLogLines();
    // Gives the line that says why the audit log dropped lines, the first time
    // only; the notice keeps saying it with the count.
    std::optional<QByteArray> writeAuditLog(const QList<QByteArray>& lines);
    void noteAuditDrops();
    EntryBlock& list(ListKind list) { return lists_[static_cast<size_t>(list)]; }

    ConsoleSession* session_;
    AutoReconnect* reconnect_;
    QByteArray status_;
    std::array<EntryBlock, 3> lists_;
    QList<QByteArray> logBatch_;        // logged while the session reads
    QList<QByteArray> unshownLogLines_; // on their way to the pane, the last kMaxLogLines
    QTimer logTimer_;                   // hands out the next unshown lines at the next turn
    // Gone before the session (a child, deleted after the members): its last
    // records still name the server.
    std::unique_ptr<AuditLog> auditLog_;
    qint64 auditDropsShown_ = 0; // lines the audit log dropped, as the notice says
};
