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
{ }

void ConsoleSession::SendCommand(const QByteArray& command)
{
    if (!socket_.Active()) {
        window_.Log("Error not connected...");
        return;
    }
    if (state_.busy) {
        window_.Log("Busy... please wait and try again");
        return;
    }
    socket_.Socket().WriteText(FrameCommand(command));
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
    const QByteArray text = "Connecting to " + socket_.Host();
    window_.SetStatus(text);
    window_.Log(text);
}

void ConsoleSession::Disconnected()
{
    state_.ForgetOpenReplies();
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
    try {
        ReadReply(state_, chunk, *this);
    } catch (...) {
        FlushEntries();
        throw;
    }
    FlushEntries();
}

void ConsoleSession::Log(const QByteArray& line)
{
    FlushEntries();
    window_.Log(line);
}

void ConsoleSession::AnswerGreeting()
{
    SendCommand(LoginCommand(state_.digestSeed, window_.PasswordText()));
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
