#include "cli/server_run.h"

#include "admin/console_admin.h"
#include "cli/command_feed.h"
#include "cli/terminal_text.h"
#include "session/socket_errors.h"
#include "storage/audit_log.h"

#include <QTimer>

#include <algorithm>
#include <exception>

namespace {

constexpr qsizetype kMaxTroubles = 4;

// The session's log lines that only tell that things go as they should; the
// rest (socket errors, a refused login, a late reply, a lost connection) say
// what went wrong and go to standard error.
bool isRoutine(const QByteArray& line)
{
    return line.startsWith("Connecting to ") || line == "Authentication successful" || line == "Unknown Command"
        || (line.startsWith("Refreshing ") && line.endsWith(" list..."));
}

} // namespace

ServerRun::ServerRun(const ServerTarget& target, const CommandFeed& feed, Output& output, const RunSettings& settings,
                     QObject* parent)
    : QObject(parent)
    , target_(target)
    , feed_(feed)
    , settings_(settings)
    , output_(output)
    , printer_(output, settings.format, target.name)
{
    session_.setReplyTimeout(settings.replyTimeout);
    session_.setGiveUpTimeout(std::max(settings.giveUpTimeout, settings.replyTimeout));
    session_.setPasswordSource([this] { return target_.password; });
    delayTimer_.setSingleShot(true);
    connect(&delayTimer_, &QTimer::timeout, this, &ServerRun::sendNext);
    connect(&session_, &ConsoleSession::logLine, this, &ServerRun::onLogLine);
    connect(&session_, &ConsoleSession::loggedIn, this, &ServerRun::onLoggedIn);
    connect(&session_, &ConsoleSession::loginFailed, this, [this] { loginFailed_ = true; });
    connect(&session_, &ConsoleSession::disconnected, this, &ServerRun::onDisconnected);
    connect(&session_, &ConsoleSession::connectFailed, this, [this] {
        if (!finished_)
            finish(ExitStatus::ConnectionFailed);
    });
    connect(&session_, &ConsoleSession::loginTimedOut, this, &ServerRun::onLoginTimedOut);
    connect(&session_, &ConsoleSession::errorRaised, this, &ServerRun::onErrorRaised);
    connect(&feed, &CommandFeed::changed, this, &ServerRun::sendSoon);
}

void ServerRun::start()
{
    try {
        session_.connectToServer(target_.host, QByteArray::number(target_.port));
    } catch (const std::exception& error) {
        report(error.what());
        finish(ExitStatus::ConnectionFailed);
    }
}

// A line of the session's log (the server's bytes) on standard error.
void ServerRun::report(const QByteArray& line)
{
    const QByteArray text = serverTextAsUtf8(socket_error::withWords(line));
    if (troubles_.size() < kMaxTroubles)
        troubles_.append(text);
    say(text);
}

void ServerRun::say(const QByteArray& utf8)
{
    output_.writeMessage(target_.name.isEmpty() ? utf8 : target_.name.toUtf8() + ": " + utf8);
}

void ServerRun::audit(const QByteArray& line)
{
    if (settings_.audit)
        settings_.audit->appendFor(target_.host + ':' + QByteArray::number(target_.port), {line});
}

void ServerRun::onLogLine(const QByteArray& line)
{
    audit(line);
    // Our own disconnect at the end is no news.
    const bool expected = isRoutine(line) || (closing_ && line == "Disconnected...");
    if (!expected)
        report(line);
    else if (settings_.verbose)
        say(serverTextAsUtf8(line));
}

void ServerRun::onErrorRaised(const QByteArray& message)
{
    report(message);
    if (!session_.isConnected())
        finish(ExitStatus::ConnectionFailed);
}

void ServerRun::onLoggedIn()
{
    loggedIn_ = true;
    sendSoon();
}

// The session refuses a command while it reads the reply that made us send
// it, so the next one goes out on the next turn of the event loop.
void ServerRun::sendSoon()
{
    if (sendPosted_ || finished_)
        return;
    sendPosted_ = true;
    QTimer::singleShot(0, this, [this] {
        sendPosted_ = false;
        sendNext();
    });
}

void ServerRun::sendNext()
{
    if (finished_ || !loggedIn_ || closing_ || awaiting_)
        return;
    if (nextCommand_ < feed_.size()) {
        if (sinceReply_.isValid() && sinceReply_.elapsed() < settings_.delay.count()) {
            delayTimer_.start(std::chrono::milliseconds(settings_.delay.count() - sinceReply_.elapsed()));
            return;
        }
        caughtUp_ = false;
        const QByteArray command = feed_.at(nextCommand_++);
        printer_.begin(command);
        CommandReply* answer = session_.sendCommand(command);
        // A refused command is logged by the session (not connected, busy):
        // nothing will answer it.
        if (!answer) {
            printer_.abandon();
            disconnect();
            finish(ExitStatus::ConnectionFailed);
            return;
        }
        follow(answer);
        if (const std::optional<QByteArray> action = console_admin::typedAction(command))
            audit(*action);
        return;
    }
    if (feed_.isClosed()) {
        disconnect();
        finish(timedOutReplies_ > 0 ? ExitStatus::ReplyTimedOut : ExitStatus::Answered);
        return;
    }
    if (!caughtUp_) {
        caughtUp_ = true;
        emit caughtUp();
    }
}

void ServerRun::disconnect()
{
    closing_ = true;
    session_.disconnectFromServer();
}

void ServerRun::follow(CommandReply* answer)
{
    awaiting_ = true;
    connect(answer, &CommandReply::data, this, [this](QByteArrayView bytes) { printer_.addBytes(bytes); });
    connect(answer, &CommandReply::listBegun, this, [this](ListKind list) { printer_.beginList(list); });
    connect(answer, &CommandReply::entriesAdded, this,
            [this, answer](const EntryBlock& entries) { printer_.addEntries(*answer->list(), entries); });
    connect(answer, &CommandReply::late, this, &ServerRun::onReplyLate);
    connect(answer, &CommandReply::finished, this, [this, answer] { onReplyEnded(*answer); });
}

// A late reply is still awaited: it is printed when it comes, and the next
// command waits for it. The run ends with status 4 all the same.
void ServerRun::onReplyLate()
{
    ++timedOutReplies_;
    printer_.timedOut();
}

// A reply that failed went with its connection, which ends the run.
void ServerRun::onReplyEnded(const CommandReply& answer)
{
    awaiting_ = false;
    if (answer.state() != CommandReply::State::Answered)
        return;
    printer_.end();
    sinceReply_.start();
    sendSoon();
}

// The login itself went unanswered: nothing can be sent.
void ServerRun::onLoginTimedOut()
{
    ++timedOutReplies_;
    disconnect();
    finish(ExitStatus::ReplyTimedOut);
}

void ServerRun::onDisconnected()
{
    if (closing_ && !loginFailed_)
        return; // finish() follows, or came already
    finish(loginFailed_ ? ExitStatus::LoginFailed : ExitStatus::ConnectionFailed);
}

void ServerRun::finish(ExitStatus status)
{
    if (finished_)
        return;
    finished_ = true;
    status_ = status;
    caughtUp_ = false;
    printer_.abandon();
    emit finished();
}
