#include "session/console_session.h"

#include "core/errors.h"
#include "core/integer_text.h"

#include <QCryptographicHash>

namespace {

constexpr int kTimedOut = 10060;

qsizetype indexOf(ListKind list)
{
    return static_cast<qsizetype>(list);
}

} // namespace

QByteArray frameCommand(const QByteArray& command)
{
    QByteArray frame;
    frame.reserve(command.size() + 2);
    frame.append('\x02').append(command).append('\n');
    return frame;
}

QByteArray loginCommand(const QByteArray& seed, const QByteArray& password)
{
    return "login " + QCryptographicHash::hash(seed + password, QCryptographicHash::Md5).toHex();
}

ConsoleSession::ConsoleSession(QObject* parent)
    : QObject(parent)
    , reader_(*this)
{
    socket_.setPort(4711);
    socket_.onConnecting = [this] { connecting(); };
    socket_.onDisconnect = [this] { disconnected(); };
    socket_.onRead = [this] { readReply(); };
    socket_.onError = [this](int& errorCode) { socketError(errorCode); };
    socket_.onException = [this](const std::exception& error) { raise(error); };

    replyTimer_.setSingleShot(true);
    replyTimer_.setInterval(std::chrono::seconds(10));
    connect(&replyTimer_, &QTimer::timeout, this, [this] {
        try {
            replyTimedOut();
        } catch (const std::exception& error) {
            raise(error);
        }
    });
}

// The socket, the last member to go, closes its connection without an event.
ConsoleSession::~ConsoleSession() = default;

void ConsoleSession::raise(const std::exception& error)
{
    const auto* known = dynamic_cast<const RavelinError*>(&error);
    emit errorRaised(known ? known->message() : QByteArray(error.what()));
}

void ConsoleSession::connectToServer(const QByteArray& hostText, const QByteArray& portText)
{
    if (socket_.isActive()) {
        emit logLine("Already connected...");
        return;
    }
    if (hostText.isEmpty()) {
        emit logLine("Please enter the server IP address");
        return;
    }
    if (portText.isEmpty()) {
        emit logLine("Please enter the remote console port number");
        return;
    }
    socket_.setHost(hostText);
    socket_.setPort(toInteger(portText));
    socket_.setActive(true);
}

void ConsoleSession::disconnectFromServer()
{
    socket_.close();
}

bool ConsoleSession::refuseToSend()
{
    if (!socket_.isActive()) {
        emit logLine("Error not connected...");
        return true;
    }
    if (reader_.isBusy()) {
        emit logLine("Busy... please wait and try again");
        return true;
    }
    return false;
}

void ConsoleSession::sendCommand(const QByteArray& command)
{
    if (refuseToSend())
        return;
    waitingCommands_.append(command);
    if (!reading_)
        writeNext();
}

void ConsoleSession::writeNext()
{
    if (replyAwaited_ || reader_.isAwaitingSeed() || waitingCommands_.isEmpty() || !socket_.isActive())
        return;
    write(waitingCommands_.takeFirst());
}

void ConsoleSession::write(const QByteArray& command)
{
    replyAwaited_ = true;
    replyTimer_.start();
    socket_.write(frameCommand(command));
}

void ConsoleSession::replyEnded()
{
    if (repliesOwed_ > 0) {
        --repliesOwed_;
        return;
    }
    // The next command goes out once the reader is done with this read.
    replyAwaited_ = false;
    replyTimer_.stop();
}

void ConsoleSession::replyTimedOut()
{
    ++repliesOwed_;
    replyAwaited_ = false;
    emit logLine("The server did not answer in time...");
    writeNext();
}

void ConsoleSession::dropWaitingCommands()
{
    waitingCommands_.clear();
    replyAwaited_ = false;
    repliesOwed_ = 0;
    replyTimer_.stop();
}

void ConsoleSession::connecting()
{
    reader_.startConnection();
    dropWaitingCommands();
    const QByteArray text = "Connecting to " + socket_.host();
    emit statusChanged(text);
    emit logLine(text);
}

void ConsoleSession::disconnected()
{
    reader_.endConnection();
    dropWaitingCommands();
    emit statusChanged("Disconnected");
    emit logLine("Disconnected...");
}

void ConsoleSession::socketError(int& errorCode)
{
    emit logLine("error " + QByteArray::number(errorCode));
    if (errorCode == kTimedOut)
        emit logLine("Connection timed out. Make sure the IP address and port number are correct.");
    errorCode = 0;
}

void ConsoleSession::readReply()
{
    const QByteArray chunk = socket_.readAvailable();
    reading_ = true;
    try {
        reader_.read(chunk);
    } catch (...) {
        reading_ = false;
        flushEntries();
        throw;
    }
    reading_ = false;
    flushEntries();
    writeNext();
}

void ConsoleSession::log(const QByteArray& line)
{
    flushEntries();
    emit logLine(line);
}

void ConsoleSession::answerGreeting(const QByteArray& seed)
{
    // The login goes first, ahead of any command made while the greeting came in.
    if (!refuseToSend())
        write(loginCommand(seed, passwordSource_ ? passwordSource_() : QByteArray()));
}

void ConsoleSession::loginSucceeded()
{
    emit statusChanged("Connected to " + socket_.host());
}

void ConsoleSession::closeConnection()
{
    flushEntries();
    socket_.close();
}

void ConsoleSession::clearList(ListKind list)
{
    pendingEntries_[indexOf(list)].clear();
    emit listCleared(list);
}

void ConsoleSession::addEntry(ListKind list, QByteArray entry)
{
    pendingEntries_[indexOf(list)].append(std::move(entry));
}

void ConsoleSession::flushEntries()
{
    for (qsizetype i = 0; i < qsizetype(pendingEntries_.size()); ++i) {
        if (!pendingEntries_[i].isEmpty())
            emit entriesAdded(static_cast<ListKind>(i), std::exchange(pendingEntries_[i], {}));
    }
}
