#pragma once

// The console session: connecting, logging in, sending commands and reading
// replies, over the client socket component. The window's handlers call in
// here; what the session shows goes back out through SessionWindow.

#include "session/console_state.h"
#include "session/reply_reader.h"

#include <QByteArray>
#include <QList>
#include <QTimer>

#include <array>
#include <chrono>
#include <exception>
#include <functional>

class TClientSocket;

// What the session needs of the main window.
class SessionWindow
{
public:
    virtual ~SessionWindow() = default;
    // Appends one line to the log.
    virtual void Log(const QByteArray& line) = 0;
    // Sets the text of the status bar's panel.
    virtual void SetStatus(const QByteArray& text) = 0;
    // The text in the password box at this moment.
    virtual QByteArray PasswordText() const = 0;
    virtual void ClearList(ListKind list) = 0;
    virtual void AppendToList(ListKind list, const QList<QByteArray>& entries) = 0;
};

class ConsoleSession : private ReplySink
{
public:
    ConsoleSession(TClientSocket& socket, ConsoleState& state, SessionWindow& window);

    // Takes one command, or logs why it cannot go out. A server handles one
    // command at a time, so a command goes on the wire only once the previous
    // one's reply has ended (or it has waited the reply timeout for it); until
    // then it waits, in order. Nothing goes out before the login.
    void SendCommand(const QByteArray& command);

    // The Connect button: checks the inputs, then starts an attempt. A port
    // text that is not a number raises EConvertError after Host has been set.
    void Connect(const QByteArray& hostText, const QByteArray& portText);
    // The Disconnect button.
    void Disconnect();

    // The socket's notifications.
    void Connecting();
    void Disconnected();
    void Error(int& errorCode);
    void Read();

    ConsoleState& State() { return state_; }

    // How long the reply to a command may take before the next one goes out.
    void SetReplyTimeout(std::chrono::milliseconds timeout) { replyTimer_.setInterval(timeout); }

    // Receives an error raised while a timer of the session runs.
    std::function<void(const std::exception&)> OnException;

private:
    void Log(const QByteArray& line) override;
    void AnswerGreeting() override;
    void LoginSucceeded() override;
    void CloseConnection() override;
    void ClearList(ListKind list) override;
    void AddEntry(ListKind list, QByteArray entry) override;
    void ReplyEnded() override;
    void FlushEntries();

    // Logs why nothing can be sent now, and says so.
    bool RefuseToSend();
    void WriteNext();
    void Write(const QByteArray& command);
    void ReplyTimedOut();
    void DropWaitingCommands();

    TClientSocket& socket_;
    ConsoleState& state_;
    SessionWindow& window_;
    // Entries of the read in progress, handed to the window in one batch per
    // list so a long reply does not redraw a list box line by line.
    std::array<QList<QByteArray>, 3> pendingEntries_;

    QList<QByteArray> waitingCommands_;
    bool replyAwaited_ = false; // a command is on the wire and its reply has not ended
    bool reading_ = false;      // the reply reader is running
    QTimer replyTimer_;
};

// The 8-bit wire form of a command: 0x02, the text unchanged, 0x0A.
QByteArray FrameCommand(const QByteArray& command);

// The answer to a greeting: "login " and the digest of seed and password.
QByteArray LoginCommand(const QByteArray& seed, const QByteArray& password);
