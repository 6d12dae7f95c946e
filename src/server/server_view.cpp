#include "server/server_view.h"

#include "admin/console_admin.h"
#include "session/auto_reconnect.h"

#include <algorithm>
#include <utility>

ServerView::ServerView(const ServerViewOptions& options, QObject* parent)
    : QObject(parent)
    , session_(new ConsoleSession(this))
    , reconnect_(new AutoReconnect(*session_, {}, {}, this))
{
    session_->setReplyTimeout(options.replyTimeout);
    session_->setGiveUpTimeout(options.giveUpTimeout);
    session_->setConnectTimeout(options.connectTimeout);
    reconnect_->setHeldAfter(options.reconnectHeldAfter);

    logTimer_.setSingleShot(true);
    logTimer_.setInterval(0);
    connect(&logTimer_, &QTimer::timeout, this, &ServerView::showLogLines);

    if (!options.auditLogFolder.isEmpty()) {
        auditLog_ = std::make_unique<AuditLog>(options.auditLogFolder);
        auditLog_->setServerSource([this] {
            return session_->host().isEmpty() ? QByteArray()
                                              : session_->host() + ':' + QByteArray::number(session_->port());
        });
        auditLog_->setDayCap(options.auditLogDayCap);
        auditLog_->removeOldFiles();
    }

    connect(session_, &ConsoleSession::logLine, this, &ServerView::appendLog);
    connect(session_, &ConsoleSession::readHandled, this, &ServerView::takeLogBatch);
    connect(session_, &ConsoleSession::statusChanged, this, [this](const QByteArray& text) {
        status_ = text;
        emit statusChanged(text);
    });
    connect(session_, &ConsoleSession::listCleared, this, [this](ListKind kind) {
        list(kind).clear();
        emit listCleared(kind);
    });
    connect(session_, &ConsoleSession::entriesAdded, this, [this](ListKind kind, const EntryBlock& entries) {
        list(kind).append(entries);
        emit entriesAdded(kind, entries);
    });
    connect(session_, &ConsoleSession::listComplete, this, [this](ListKind kind) {
        list(kind).squeeze();
        emit listComplete(kind);
    });
    connect(session_, &ConsoleSession::disconnected, this, &ServerView::disconnected);
    connect(session_, &ConsoleSession::errorRaised, this, &ServerView::errorRaised);
    connect(reconnect_, &AutoReconnect::logLine, this, &ServerView::appendLog);
    connect(reconnect_, &AutoReconnect::connectionLost, this, &ServerView::connectionLost);
    connect(reconnect_, &AutoReconnect::connectionRestored, this, &ServerView::connectionRestored);
}

ServerView::~ServerView() = default;

void ServerView::connectToServer(const QByteArray& hostText, const QByteArray& portText,
                                 std::function<QByteArray()> password)
{
    session_->setPasswordSource(std::move(password));
    reconnect_->endRetries();
    session_->connectToServer(hostText, portText);
}

void ServerView::disconnectFromServer()
{
    reconnect_->stop();
    session_->disconnectFromServer();
}

bool ServerView::submit(const QByteArray& command)
{
    return session_->sendCommand(command) || !session_->isConnected();
}

bool ServerView::perform(const AdminAction& action)
{
    if (!submit(action.command))
        return false;
    appendLog(action.logLine);
    return true;
}

CommandReply* ServerView::sendCommand(const QByteArray& command, ConsoleSession::Reply reply)
{
    return session_->sendCommand(command, reply);
}

bool ServerView::sendTypedCommand(const QByteArray& command)
{
    if (!session_->sendCommand(command, ConsoleSession::Reply::Logged))
        return false;
    // Not shown in the pane, whose lines are the server's; kept as what it did.
    if (const std::optional<QByteArray> action = console_admin::typedAction(command)) {
        if (const std::optional<QByteArray> failure = writeAuditLog({*action}))
            appendLog(*failure);
    }
    return true;
}

void ServerView::appendLog(const QByteArray& line)
{
    logBatch_.append(line);
    if (!session_->isReading())
        takeLogBatch();
}

// Every line of the batch goes to the audit log; the pane gets the last
// kMaxLogLines, as it keeps no more.
void ServerView::takeLogBatch()
{
    const QList<QByteArray> batch = std::exchange(logBatch_, {});
    if (batch.isEmpty())
        return;
    unshownLogLines_.append(batch);
    if (const std::optional<QByteArray> failure = writeAuditLog(batch))
        unshownLogLines_.append(*failure);
    if (unshownLogLines_.size() > kMaxLogLines)
        unshownLogLines_.remove(0, unshownLogLines_.size() - kMaxLogLines);
    showLogLines();
}

// A full pane drops a line for every line added, which takes longer than the
// adding: a flood of lines goes out kLogLinesPerTurn at a time, one batch a
// turn of the event loop, so that the window keeps answering.
void ServerView::showLogLines()
{
    const qsizetype count = std::min(unshownLogLines_.size(), kLogLinesPerTurn);
    if (count == 0)
        return;
    const QList<QByteArray> shown = unshownLogLines_.first(count);
    unshownLogLines_.remove(0, count);
    if (!unshownLogLines_.isEmpty())
        logTimer_.start();
    emit logLinesReady(shown);
}

std::optional<QByteArray> ServerView::writeAuditLog(const QList<QByteArray>& lines)
{
    if (!auditLog_)
        return std::nullopt;
    auditLog_->append(lines);
    const bool firstDrop = auditDropsShown_ == 0 && auditLog_->droppedLines() > 0;
    noteAuditDrops();
    // Said once in the log (a flood would scroll it away), and for good in the notice.
    if (firstDrop)
        return "Lines are being dropped from the audit log: " + auditLog_->dropReason();
    return std::nullopt;
}

void ServerView::noteAuditDrops()
{
    if (!auditLog_ || auditLog_->droppedLines() == auditDropsShown_)
        return;
    auditDropsShown_ = auditLog_->droppedLines();
    emit auditNoticeChanged("Audit log: " + QByteArray::number(auditDropsShown_) + " lines dropped ("
                            + auditLog_->dropReason() + ")");
}

void ServerView::removeEntry(ListKind kind, const QByteArray& entry)
{
    EntryBlock& entries = list(kind);
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (entries.at(i) == entry) {
            entries.remove(i);
            break;
        }
    }
    emit entryRemoved(kind, entry);
}

void ServerView::clearList(ListKind kind)
{
    list(kind).clear();
    emit listCleared(kind);
}

bool ServerView::isReconnectEnabled() const
{
    return reconnect_->isEnabled();
}

void ServerView::setReconnectEnabled(bool enabled)
{
    reconnect_->setEnabled(enabled);
}
