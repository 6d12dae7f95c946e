#include "session/console_session.h"

#include "core/errors.h"
#include "core/integer_text.h"
#include "core/text_cut.h"

#include <QCryptographicHash>
#include <QElapsedTimer>

namespace {

constexpr int kTimedOut = 10060;

qsizetype indexOf(ListKind list)
{
    return static_cast<qsizetype>(list);
}

// 1100 as "1,100", as the log writes counts of bytes.
QByteArray withThousands(qsizetype number)
{
    QByteArray digits = QByteArray::number(qint64(number));
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, ',');
    return digits;
}

} // namespace

QByteArray frameCommand(const QByteArray& command)
{
    QByteArray frame;
    frame.reserve(command.size() + 2);
    frame.append('\x02').append(command).append('\n');
    return frame;
}

QByteArray commandLengthProblem(QByteArrayView command)
{
    if (command.size() <= ConsoleSession::kMaxCommandLength)
        return {};
    return "The command is too long for the server (" + withThousands(command.size()) + " bytes, at most "
        + withThousands(ConsoleSession::kMaxCommandLength) + ")...";
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
    socket_.onConnected = [this] { connected(); };
    socket_.onDisconnect = [this] { socketClosed(); };
    socket_.onRead = [this] { readReply(); };
    socket_.onError = [this](int& errorCode) { socketError(errorCode); };
    socket_.onException = [this](const std::exception& error) { raise(error); };

    const auto guarded = [this](void (ConsoleSession::*handler)()) {
        return [this, handler] {
            try {
                (this->*handler)();
            } catch (const std::exception& error) {
                raise(error);
            }
        };
    };
    replyTimer_.setSingleShot(true);
    replyTimer_.setInterval(std::chrono::seconds(10));
    connect(&replyTimer_, &QTimer::timeout, this, guarded(&ConsoleSession::onReplyTimeout));
    giveUpTimer_.setSingleShot(true);
    connect(&giveUpTimer_, &QTimer::timeout, this, guarded(&ConsoleSession::onGiveUpTimeout));
    greetingTimer_.setSingleShot(true);
    greetingTimer_.setInterval(std::chrono::seconds(15));
    connect(&greetingTimer_, &QTimer::timeout, this, guarded(&ConsoleSession::onGreetingTimeout));
    continueTimer_.setSingleShot(true);
    continueTimer_.setInterval(0);
    connect(&continueTimer_, &QTimer::timeout, this, guarded(&ConsoleSession::readReply));
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
        log("Already connected...");
        return;
    }
    if (hostText.isEmpty()) {
        log("Please enter the server IP address");
        return;
    }
    if (portText.isEmpty()) {
        log("Please enter the remote console port number");
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
        log("Error not connected...");
        return true;
    }
    if (reader_.isBusy()) {
        log("Busy... please wait and try again");
        return true;
    }
    return false;
}

CommandReply* ConsoleSession::sendCommand(const QByteArray& command, Reply reply)
{
    if (refuseToSend())
        return nullptr;
    // The server would close the connection, without a word, on such a line.
    if (const QByteArray problem = commandLengthProblem(command); !problem.isEmpty()) {
        log(problem);
        return nullptr;
    }
    // A server that never answers must not make the window hold commands without end.
    if (waitingCommands_.size() >= kMaxWaitingCommands) {
        log("Too many commands waiting... please wait and try again");
        return nullptr;
    }
    auto* answer = new CommandReply(command, this);
    waitingCommands_.append({command, reply, answer});
    if (!reading_)
        writeNext();
    return answer;
}

void ConsoleSession::writeNext()
{
    if (replyAwaited_ || reader_.isAwaitingSeed() || waitingCommands_.isEmpty() || !socket_.isActive())
        return;
    write(waitingCommands_.takeFirst());
}

void ConsoleSession::write(const Command& command)
{
    onWire_ = command;
    typedReplyLine_.clear();
    replyAwaited_ = true;
    giveUpTimer_.stop();
    replyTimer_.start();
    socket_.write(frameCommand(command.text));
}

void ConsoleSession::replyText(QByteArrayView bytes, bool recognised)
{
    // Bytes nothing asked for belong to no command.
    if (!replyAwaited_)
        return;
    if (onWire_.answer)
        onWire_.answer->addBytes(bytes);
    if (onWire_.reply == Reply::Logged && !recognised)
        logTypedReplyLines(bytes, false);
}

// A typed command's reply goes to the log line by line; a line split between
// reads waits for its end, kept to the longest line a list keeps.
void ConsoleSession::logTypedReplyLines(QByteArrayView bytes, bool last)
{
    const auto keep = [this](QByteArrayView part) {
        typedReplyLine_.append(text::firstBytes(part, ReplyReader::kMaxLineLength - typedReplyLine_.size()));
    };
    qsizetype cursor = 0;
    qsizetype lineFeed;
    while ((lineFeed = bytes.indexOf('\n', cursor)) >= 0) {
        keep(bytes.sliced(cursor, lineFeed - cursor));
        log(std::exchange(typedReplyLine_, QByteArray()));
        cursor = lineFeed + 1;
    }
    keep(bytes.sliced(cursor));
    if (last && !typedReplyLine_.isEmpty())
        log(std::exchange(typedReplyLine_, QByteArray()));
}

void ConsoleSession::replyEnded()
{
    if (!replyAwaited_)
        return; // nothing was asked
    if (onWire_.reply == Reply::Logged)
        logTypedReplyLines({}, true);
    // The next command goes out once the reader is done with this read.
    replyAwaited_ = false;
    replyTimer_.stop();
    giveUpTimer_.stop();
    if (CommandReply* answer = std::exchange(onWire_.answer, nullptr))
        answer->finish(CommandReply::Failure::None);
}

// A late reply still comes, in order (a map change holds a server up for
// seconds): the next command waits for it, or the server would hold two lines
// and stay a command behind.
void ConsoleSession::onReplyTimeout()
{
    if (!replyAwaited_)
        return;
    log("The server did not answer in time...");
    giveUpTimer_.start(
        std::max(giveUpAfter_ - std::chrono::milliseconds(replyTimer_.interval()), std::chrono::milliseconds(0)));
    if (onWire_.answer)
        onWire_.answer->markLate();
    else
        emit loginTimedOut();
}

void ConsoleSession::onGiveUpTimeout()
{
    if (!replyAwaited_ || !socket_.isActive())
        return;
    log("The server has not answered for " + QByteArray::number(double(giveUpAfter_.count()) / 1000)
        + " seconds; closing the connection...");
    socket_.close();
}

void ConsoleSession::onGreetingTimeout()
{
    if (!socket_.isActive() || !reader_.isAwaitingSeed())
        return;
    log("The server sent no greeting in time...");
    socket_.close();
}

// Every command that will not be answered now says so, the one on the wire first.
void ConsoleSession::dropWaitingCommands()
{
    CommandReply* onWire = replyAwaited_ ? std::exchange(onWire_.answer, nullptr) : nullptr;
    const QList<Command> waiting = std::exchange(waitingCommands_, {});
    if (onWire)
        onWire->finish(CommandReply::Failure::ConnectionLost);
    for (const Command& command : waiting)
        command.answer->finish(CommandReply::Failure::NotSent);
    replyAwaited_ = false;
    replyTimer_.stop();
    giveUpTimer_.stop();
    typedReplyLine_.clear();
}

void ConsoleSession::connecting()
{
    reader_.startConnection();
    dropUnhandled();
    dropWaitingCommands();
    const QByteArray text = "Connecting to " + socket_.host();
    emit statusChanged(text);
    log(text);
}

void ConsoleSession::connected()
{
    greetingTimer_.start();
}

void ConsoleSession::socketClosed()
{
    // Bytes that came before the close are read first, unless the close came
    // from reading them (a refused login).
    if (!handlingRead_ && unhandledFrom_ < unhandled_.size()) {
        const QByteArray slice = std::exchange(unhandled_, QByteArray());
        handleRead(QByteArrayView(slice).sliced(std::exchange(unhandledFrom_, 0)));
    }
    dropUnhandled();
    greetingTimer_.stop();
    reader_.endConnection();
    dropWaitingCommands();
    flushEntries();
    emit statusChanged("Disconnected");
    log("Disconnected...");
    flushLog();
    emit disconnected();
}

void ConsoleSession::socketError(int& errorCode)
{
    log("error " + QByteArray::number(errorCode));
    if (errorCode == kTimedOut)
        log("Connection timed out. Make sure the IP address and port number are correct.");
    errorCode = 0;
    if (!socket_.isActive())
        emit connectFailed();
}

// A slice is taken from the socket only once the last one is handled, so the
// bytes keep their order; a slice is handled piece by piece until the turn's
// budget is spent, and the rest waits for the next turn.
void ConsoleSession::readReply()
{
    const bool takeSlice = unhandledFrom_ >= unhandled_.size();
    if (takeSlice) {
        unhandled_ = socket_.readAvailable(kReadSlice);
        unhandledFrom_ = 0;
    }
    const QByteArray slice = unhandled_; // kept alive should the connection end meanwhile
    QElapsedTimer clock;
    clock.start();
    while (unhandledFrom_ < unhandled_.size()) {
        QByteArrayView piece = QByteArrayView(slice).sliced(unhandledFrom_);
        if (piece.size() > kReadPiece) {
            const qsizetype lineFeed = piece.indexOf('\n', kReadPiece - 1);
            if (lineFeed >= 0)
                piece = piece.first(lineFeed + 1);
        }
        unhandledFrom_ += piece.size();
        handleRead(piece);
        if (clock.elapsed() >= kReadBudget.count())
            break;
    }
    // A turn that took no slice left the socket's notifier waiting for one.
    if (unhandledFrom_ < unhandled_.size() || !takeSlice)
        continueTimer_.start();
    writeNext();
}

void ConsoleSession::handleRead(QByteArrayView piece)
{
    handlingRead_ = reading_ = true;
    const auto finish = [this] {
        reading_ = false;
        flushEntries();
        flushLog();
        handlingRead_ = false;
        emit readHandled();
    };
    try {
        reader_.read(piece);
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void ConsoleSession::dropUnhandled()
{
    continueTimer_.stop();
    unhandled_.clear();
    unhandledFrom_ = 0;
}

void ConsoleSession::log(const QByteArray& line)
{
    flushEntries();
    if (!reading_) {
        emit logLine(line);
        return;
    }
    // Within one read, a line logged again and again is logged once, with a count.
    if (repeats_ > 0 && line == repeatedLine_) {
        ++repeats_;
        return;
    }
    flushLog();
    repeatedLine_ = line;
    repeats_ = 1;
}

void ConsoleSession::flushLog()
{
    if (repeats_ == 0)
        return;
    const QByteArray line = std::exchange(repeatedLine_, QByteArray());
    const qsizetype count = std::exchange(repeats_, 0);
    emit logLine(count == 1 ? line : line + " (" + QByteArray::number(count) + " times)");
}

void ConsoleSession::answerGreeting(const QByteArray& seed)
{
    greetingTimer_.stop();
    // The login goes first, ahead of any command made while the greeting came in.
    if (!refuseToSend())
        write({loginCommand(seed, passwordSource_ ? passwordSource_() : QByteArray()), Reply::ReaderOnly});
}

void ConsoleSession::loginSucceeded()
{
    emit statusChanged("Connected to " + socket_.host());
    emit loggedIn();
}

void ConsoleSession::closeConnection()
{
    flushEntries();
    emit loginFailed();
    socket_.close();
}

void ConsoleSession::clearList(ListKind list)
{
    pendingEntries_[indexOf(list)].clear();
    emit listCleared(list);
    if (replyAwaited_ && onWire_.answer)
        onWire_.answer->beginList(list);
}

void ConsoleSession::addEntry(ListKind list, QByteArrayView first, QByteArrayView second)
{
    pendingEntries_[indexOf(list)].append(first, second);
}

void ConsoleSession::listEnded(ListKind list)
{
    flushEntries();
    emit listComplete(list);
}

void ConsoleSession::flushEntries()
{
    for (qsizetype i = 0; i < qsizetype(pendingEntries_.size()); ++i) {
        if (pendingEntries_[i].isEmpty())
            continue;
        const EntryBlock entries = std::exchange(pendingEntries_[i], EntryBlock());
        const auto list = static_cast<ListKind>(i);
        emit entriesAdded(list, entries);
        if (replyAwaited_ && onWire_.answer && onWire_.answer->list() == list)
            onWire_.answer->addEntries(entries);
    }
}
