#pragma once

// The practice server: a game server's remote console on 127.0.0.1. It greets
// with a digest seed, checks the login, answers each line (framed lines with a
// closing 0x04) from its GameState, and records every line it handles. The
// fault hooks let tests stall, cut and break connections on purpose.
//
// By default it keeps the stock server's pace: the greeting is three writes one
// frame apart, and in each frame (30 ms) it reads the connection once and
// handles at most one complete line, and only when that read brought new bytes.
// A client that writes a second command before the first one's reply has ended
// gets no answer to it until it sends something more. Like the stock server it
// closes a connection that sends a line of 1,024 bytes or more, or more than
// 128 bytes without a line feed, and it listens with a backlog of 1. The
// instant timing answers every line as soon as it arrives, whatever its length.

#include "game_state.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>

class QTcpServer;
class QTimer;
class SimClient;

enum class SimTiming { Stock, Instant };

struct RconSimOptions
{
    quint16 port = 0; // 0: any free port
    QByteArray password = "secret";
    int players = 8;
    int bans = 4;
    int maps = 6;
    SimTiming timing = SimTiming::Stock;
    int frameMs = 30;     // the stock timing's frame
    int chunkSize = 0;    // bytes per write of a reply; 0 writes each reply at once
    int chunkDelayMs = 0; // pause after every write
    // After handling line number stallAfter (from 1, the login included), the
    // whole server stops for stallMs before it replies, once, as a map change
    // stops it; 0 never.
    int stallAfter = 0;
    int stallMs = 0;
    // Every churnMs one churn step of the game (GameState::churnStep); 0 never.
    int churnMs = 0;
    quint32 churnSeed = 1;
};

class RconSimServer : public QObject
{
    Q_OBJECT

public:
    explicit RconSimServer(const RconSimOptions& options = {}, QObject* parent = nullptr);
    ~RconSimServer() override;

    // Listens on 127.0.0.1 at the port of the options.
    bool listen();
    quint16 port() const;
    QString errorString() const;

    GameState& game() { return game_; }
    const GameState& game() const { return game_; }

    // One churn step now, as the churn timer takes it.
    SimChurn churnStep();

    void setPassword(const QByteArray& password) { options_.password = password; }
    void setChunking(int chunkSize, int chunkDelayMs);
    // Applies to connections accepted later.
    void setTiming(SimTiming timing) { options_.timing = timing; }

    // Every line handled, from all connections in order, without its 0x0A and
    // otherwise byte for byte (0x02 and 0x0D included).
    QList<QByteArray> receivedLines() const { return receivedLines_; }
    void clearReceivedLines() { receivedLines_.clear(); }

    // Lines that arrived while an earlier line of the same connection was still
    // waiting for its answer: a client that waits for each reply sends none.
    int pipelinedLines() const { return pipelinedLines_; }

    // The seed of the latest greeting.
    QByteArray lastSeed() const { return lastSeed_; }
    int clientCount() const { return int(clients_.size()); }

    // Greets later connections with these writes instead of the usual three. The
    // seed expected at login is then the (up to) 16 bytes after "Digest seed: "
    // in them, up to the line's end. An empty list restores the usual greeting.
    void setGreeting(const QList<QByteArray>& writes) { greeting_ = writes; }

    // Fault hooks, for robustness tests.
    // Stops reading, so that what clients send backs up in the TCP buffers.
    void pauseReading();
    void resumeReading();
    // Closes every connection, politely (FIN).
    void closeClients();
    // Resets every connection (SO_LINGER 0, then close), so clients see ECONNRESET.
    void resetClients();
    // Sends bytes to every client, in order with the replies.
    void sendRaw(const QByteArray& bytes);
    // Sends only the first `bytes` bytes of the next reply, then closes that connection.
    void closeAfterNextReplyBytes(qsizetype bytes) { cutNextReplyAt_ = bytes; }
    // Sends `pattern` to every client over and over, as fast as the client takes
    // it, until stopFlood(): a hostile server. Nothing the clients send is read
    // meanwhile.
    void startFlood(const QByteArray& pattern);
    void stopFlood();
    qint64 floodedBytes() const { return floodedBytes_; }
    // Handles the next line, then stops for `ms` before it replies, as a
    // server busy changing maps does: it reads and writes nothing meanwhile.
    void stallNextReply(int ms) { stallNextReplyMs_ = ms; }
    // The same, once, after the server has handled `line` lines (from 1, the login included).
    void setStall(int line, int ms)
    {
        options_.stallAfter = line;
        options_.stallMs = ms;
    }
    bool isStalled() const { return stalled_; }
    // Connections closed for a line the stock server does not take.
    int linesRefused() const { return linesRefused_; }

signals:
    void lineReceived(const QByteArray& line);
    void chatMessage(int team, const QByteArray& text);
    void clientConnected();
    void clientDisconnected();
    void churned(const SimChurn& step);

private:
    void accept();
    void frame(SimClient* client);
    void handleAllLines(SimClient* client);
    // Closes the connection when what waits breaks the stock server's line rule.
    bool refuseLongLine(SimClient* client);
    void stall(SimClient* client, int ms, const QByteArray& reply);
    // Takes in newly read bytes, counting lines that arrive behind an unanswered one.
    void takeBytes(SimClient* client, const QByteArray& bytes);
    // Handles the first complete line waiting; false when there is none.
    bool handleLine(SimClient* client);
    QByteArray answer(SimClient* client, const QByteArray& text);
    void send(SimClient* client, const QByteArray& bytes, bool split);
    void drain(SimClient* client);
    void drop(SimClient* client);

    RconSimOptions options_;
    GameState game_;
    QTcpServer* server_;
    QList<SimClient*> clients_;
    QList<QByteArray> receivedLines_;
    int pipelinedLines_ = 0;
    QByteArray lastSeed_;
    QList<QByteArray> greeting_;
    bool paused_ = false;
    std::optional<qsizetype> cutNextReplyAt_;
    int stallNextReplyMs_ = 0;
    int linesHandled_ = 0;
    bool stalled_ = false;
    int linesRefused_ = 0;
    QByteArray floodPattern_;
    qint64 floodedBytes_ = 0;
    QTimer* floodTimer_ = nullptr;
    QTimer* churnTimer_ = nullptr;
    void flood();
};
