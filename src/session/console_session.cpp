#include "session/console_session.h"

#include "core/delphi_number.h"
#include "session/client_socket.h"
#include "session/md5.h"

namespace {

constexpr int kTimedOut = 10060;

qsizetype IndexOf(ListKind list)
{
    return static_cast<qsizetype>(list);
}

} // namespace

QByteArray FrameCommand(const QByteArray& command)
{
    QByteArray frame;
    frame.reserve(command.size() + 2);
    frame.append('\x02').append(command).append('\n');
    return frame;
}

QByteArray LoginCommand(const QByteArray& seed, const QByteArray& password)
{
    return "login " + Md5HexDigest(seed + password);
}

ConsoleSession::ConsoleSession(TClientSocket& socket, ConsoleState& state, SessionWindow& window)
    : socket_(socket)
    , state_(state)
    , window_(window)
{
    replyTimer_.setSingleShot(true);
    replyTimer_.setInterval(std::chrono::seconds(10));
    replyTimer_.callOnTimeout([this] {
        try {
            ReplyTimedOut();
        } catch (const std::exception& error) {
            if (OnException)
                OnException(error);
        }
    });
}

bool ConsoleSession::RefuseToSend()
{
    if (!socket_.Active()) {
        window_.Log("Error not connected...");
        return true;
    }
    if (state_.busy) {
        window_.Log("Busy... please wait and try again");
        return true;
    }
    return false;
}

void ConsoleSession::SendCommand(const QByteArray& command)
{
    if (RefuseToSend())
        return;
    waitingCommands_.append(command);
    if (!reading_)
        WriteNext();
}

void ConsoleSession::WriteNext()
{
    if (replyAwaited_ || state_.awaitingSeed || waitingCommands_.isEmpty() || !socket_.Active())
        return;
    Write(waitingCommands_.takeFirst());
}

void ConsoleSession::Write(const QByteArray& command)
{
    replyAwaited_ = true;
    replyTimer_.start();
    socket_.Socket().WriteText(FrameCommand(command));
}

void ConsoleSession::ReplyEnded()
{
    // The next command goes out once the reader is done with this read.
    replyAwaited_ = false;
    replyTimer_.stop();
}

void ConsoleSession::ReplyTimedOut()
{
    replyAwaited_ = false;
    window_.Log("The server did not answer in time...");
    WriteNext();
}

void ConsoleSession::DropWaitingCommands()
{
    waitingCommands_.clear();
    replyAwaited_ = false;
    replyTimer_.stop();
}

void ConsoleSession::Connect(const QByteArray& hostText, const QByteArray& portText)
{
    if (socket_.Active()) {
        window_.Log("Already connected...");
        return;
    }
    if (hostText.isEmpty()) {
        window_.Log("Please enter the server IP address");
        return;
    }
    if (portText.isEmpty()) {
        window_.Log("Please enter the remote console port number");
        return;
    }
    socket_.SetHost(hostText);
    socket_.SetPort(StrToInt(portText));
    socket_.SetActive(true);
}

void ConsoleSession::Disconnect()
{
    socket_.SetActive(false);
    socket_.Close();
}

void ConsoleSession::Connecting()
{
    state_.ForgetOpenReplies();
    state_.awaitingSeed = true;
    DropWaitingCommands();
    const QByteArray text = "Connecting to " + socket_.Host();
    window_.SetStatus(text);
    window_.Log(text);
}

void ConsoleSession::Disconnected()
{
    state_.ForgetOpenReplies();
    DropWaitingCommands();
    window_.SetStatus("Disconnected");
    window_.Log("Disconnected...");
}

void ConsoleSession::Error(int& errorCode)
{
    window_.Log("error " + QByteArray::number(errorCode));
    if (errorCode == kTimedOut)
        window_.Log("Connection timed out. Make sure the IP address and port number are correct.");
    errorCode = 0;
}

void ConsoleSession::Read()
{
    const QByteArray chunk = socket_.Socket().ReadAvailableText();
    reading_ = true;
    try {
        ReadReply(state_, chunk, *this);
    } catch (...) {
        reading_ = false;
        FlushEntries();
        throw;
    }
    reading_ = false;
    FlushEntries();
    WriteNext();
}

void ConsoleSession::Log(const QByteArray& line)
{
    FlushEntries();
    window_.Log(line);
}

void ConsoleSession::AnswerGreeting()
{
    // The login goes first, ahead of any command made while the greeting came in.
    if (!RefuseToSend())
        Write(LoginCommand(state_.digestSeed, window_.PasswordText()));
}

void ConsoleSession::LoginSucceeded()
{
    window_.SetStatus("Connected to " + socket_.Host());
}

void ConsoleSession::CloseConnection()
{
    FlushEntries();
    socket_.SetActive(false);
}

void ConsoleSession::ClearList(ListKind list)
{
    pendingEntries_[IndexOf(list)].clear();
    window_.ClearList(list);
}

void ConsoleSession::AddEntry(ListKind list, QByteArray entry)
{
    pendingEntries_[IndexOf(list)].append(std::move(entry));
}

void ConsoleSession::FlushEntries()
{
    for (qsizetype i = 0; i < qsizetype(pendingEntries_.size()); ++i) {
        if (!pendingEntries_[i].isEmpty())
            window_.AppendToList(static_cast<ListKind>(i), std::exchange(pendingEntries_[i], {}));
    }
}
