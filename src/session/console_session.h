#pragma once

// The console session: one connection to a game server's remote console. It
// owns its socket and its reply reader, answers the greeting with the digest
// login, sends commands one at a time, and reports what the administrator
// sees (log lines, the status text, list changes, replies) by signals. It
// knows nothing of widgets.
//
// A server keeps in its buffer every line it has not read, and reads one line
// only in a frame that brought bytes: two lines in its buffer leave it a
// command behind for good. So nothing is written while a reply is owed, a late
// one included, and a command whose line the server would drop (and close the
// connection for) is refused before it is written.
//
// Whatever a server sends, what the session holds stays bounded: a list line
// is kept to 16 MiB, at most 1,000 commands wait, a read is taken in slices of
// at most 1 MiB, a slice is handled in pieces and the event loop gets a turn
// once about 8 ms of work are done, and a line the same piece logs again and
// again is logged once with a count.

#include "core/entry_block.h"
#include "session/client_socket.h"
#include "session/command_reply.h"
#include "session/reply_reader.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTimer>

#include <array>
#include <chrono>
#include <functional>

class ConsoleSession : public QObject, private ReplySink
{
    Q_OBJECT

public:
    // The most commands that may wait for the one on the wire.
    static constexpr qsizetype kMaxWaitingCommands = 1000;
    // The longest command text a server takes: its line, 0x02 and 0x0A
    // included, must stay under 1,024 bytes.
    static constexpr qsizetype kMaxCommandLength = 1021;
    // The most bytes taken from the socket at one turn of the event loop.
    static constexpr qsizetype kReadSlice = 1024 * 1024;
    // A slice is handled in pieces of about this many bytes, ended at a line
    // feed, until the work of one turn of the event loop has taken kReadBudget.
    static constexpr qsizetype kReadPiece = 16 * 1024;
    static constexpr std::chrono::milliseconds kReadBudget{8};

    explicit ConsoleSession(QObject* parent = nullptr);
    ~ConsoleSession() override;

    // Where the login takes the password from: asked when the greeting
    // arrives, so it is the password as it stands at that moment.
    void setPasswordSource(std::function<QByteArray()> source) { passwordSource_ = std::move(source); }

    // The Connect button: checks the inputs in order, logging the first that
    // fails, then starts an attempt. A port text that is not a number raises
    // ConvertError, after the host has been taken.
    void connectToServer(const QByteArray& hostText, const QByteArray& portText);
    // The Disconnect button: closes an established connection; nothing while
    // an attempt is still under way.
    void disconnectFromServer();

    // How a command's reply is shown. A typed command's reply is logged line
    // by line as it arrives, unless it is one the reader handles (a list, an
    // unknown command); the program's own commands show only what the reader
    // makes of their replies.
    enum class Reply { ReaderOnly, Logged };

    // Takes one command and gives the handle its answer comes to (see
    // command_reply.h), or logs why it cannot go out and gives null. A server
    // handles one command at a time, so a command goes on the wire only once
    // the previous one's reply has ended, however late; until then it waits,
    // in order. Nothing goes out before the greeting has been answered.
    CommandReply* sendCommand(const QByteArray& command, Reply reply = Reply::ReaderOnly);

    // True while the connection is established, logged in or not.
    bool isConnected() const { return socket_.isActive(); }
    // The server of the latest attempt.
    const QByteArray& host() const { return socket_.host(); }
    int port() const { return socket_.port(); }
    // True while the bytes of one piece of a read are being handled; readHandled follows.
    bool isReading() const { return handlingRead_; }
    // Bytes taken from the socket that wait for a later turn of the event loop.
    qsizetype bytesWaiting() const { return unhandled_.size() - unhandledFrom_; }
    // The commands accepted but not yet answered, the one on the wire included.
    qsizetype commandsInFlight() const { return waitingCommands_.size() + (replyAwaited_ ? 1 : 0); }

    // How long the reply to a command may take before it is logged as late;
    // the session goes on waiting for it.
    void setReplyTimeout(std::chrono::milliseconds timeout) { replyTimer_.setInterval(timeout); }
    // How long, from its writing, a reply may take before the connection is
    // given up on and closed; a new login is the only way to empty a server's
    // buffer. Never shorter than the reply timeout: a bound within it closes
    // the connection as the reply timeout passes.
    void setGiveUpTimeout(std::chrono::milliseconds timeout) { giveUpAfter_ = timeout; }
    // How long a connect may take before it fails as timed out.
    void setConnectTimeout(std::chrono::milliseconds timeout) { socket_.setConnectTimeout(timeout); }
    // How long an established connection may wait for the greeting's seed.
    void setGreetingTimeout(std::chrono::milliseconds timeout) { greetingTimer_.setInterval(timeout); }

signals:
    void logLine(const QByteArray& line);
    // The bytes of one piece of a read have been handled: what they logged has been said.
    void readHandled();
    // The connection state for the status bar.
    void statusChanged(const QByteArray& text);
    void listCleared(ListKind list);
    void entriesAdded(ListKind list, const EntryBlock& entries);
    // A list reply has ended: its list is complete.
    void listComplete(ListKind list);
    // The login's reply did not come within the reply timeout; it is still awaited.
    void loginTimedOut();
    // The login succeeded, or failed (the connection is then closed); the
    // connection has closed, whatever the cause.
    void loggedIn();
    void loginFailed();
    void disconnected();
    // An attempt failed before a connection was established (refused, timed out).
    void connectFailed();
    // An error that nothing handled while the socket or a timer of the session
    // ran; the application shows it in its error box.
    void errorRaised(const QByteArray& message);

private:
    struct Command
    {
        QByteArray text;
        Reply reply = Reply::ReaderOnly;
        CommandReply* answer = nullptr; // none for the login
    };

    // The socket's notifications.
    void connecting();
    void connected();
    void socketClosed();
    void socketError(int& errorCode);
    void readReply();
    void handleRead(QByteArrayView piece);
    void dropUnhandled();

    // ReplySink
    void log(const QByteArray& line) override;
    void answerGreeting(const QByteArray& seed) override;
    void loginSucceeded() override;
    void closeConnection() override;
    void clearList(ListKind list) override;
    void addEntry(ListKind list, QByteArrayView first, QByteArrayView second) override;
    void replyText(QByteArrayView bytes, bool recognised) override;
    void listEnded(ListKind list) override;
    void replyEnded() override;

    // Logs why nothing can be sent now, and says so.
    bool refuseToSend();
    void writeNext();
    void write(const Command& command);
    void onReplyTimeout();
    void onGiveUpTimeout();
    void onGreetingTimeout();
    void dropWaitingCommands();
    void logTypedReplyLines(QByteArrayView bytes, bool last);
    void flushEntries();
    void flushLog();
    void raise(const std::exception& error);

    ClientSocket socket_;
    ReplyReader reader_;
    std::function<QByteArray()> passwordSource_;

    QList<Command> waitingCommands_;
    Command onWire_;
    bool replyAwaited_ = false; // a command is on the wire and its reply has not ended
    bool reading_ = false;      // the reply reader is running
    bool handlingRead_ = false; // a read is being handled, its last reports included
    QTimer replyTimer_;
    // Runs from the reply timeout to the give-up bound.
    QTimer giveUpTimer_;
    std::chrono::milliseconds giveUpAfter_{60000};
    QTimer greetingTimer_;

    // The slice taken from the socket, handled up to unhandledFrom_; the rest
    // waits for the next turn of the event loop, which continueTimer_ gives.
    QByteArray unhandled_;
    qsizetype unhandledFrom_ = 0;
    QTimer continueTimer_;

    // The unfinished line of a typed command's reply.
    QByteArray typedReplyLine_;
    // Entries of the read in progress, reported in one batch per list so a
    // long reply does not redraw a list line by line.
    std::array<EntryBlock, 3> pendingEntries_;
    // The line the read in progress logged last, and how many times in a row.
    QByteArray repeatedLine_;
    qsizetype repeats_ = 0;
};

// The wire form of a command: 0x02, the text unchanged, 0x0A.
QByteArray frameCommand(const QByteArray& command);

// Why a server would not take `command`: "The command is too long for the
// server (1,100 bytes, at most 1,021)..."; empty when it would.
QByteArray commandLengthProblem(QByteArrayView command);

// The answer to a greeting: "login " and the MD5 digest of seed and password
// in lowercase hexadecimal, so the password never crosses the wire.
QByteArray loginCommand(const QByteArray& seed, const QByteArray& password);
