#pragma once

// The practice server: a game server's remote console on 127.0.0.1. It greets
// with a digest seed, checks the login, answers each line (framed lines with a
// closing 0x04) from its GameState, and records every line it receives. The
// fault hooks let tests stall, cut and break connections on purpose.

#include "game_state.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>

class QTcpServer;
class SimClient;

struct RconSimOptions
{
    quint16 port = 0; // 0: any free port
    QByteArray password = "secret";
    int players = 8;
    int bans = 4;
    int maps = 6;
    int chunkSize = 0;    // bytes per write of a reply; 0 writes each reply at once
    int chunkDelayMs = 0; // pause after every write
};

class RconSimServer : public QObject
{
    Q_OBJECT

public:
    explicit RconSimServer(const RconSimOptions& options = {}, QObject* parent = nullptr);
    ~RconSimServer() override;

    // Listens on 127.0.0.1 at the port of the options.
    bool Listen();
    quint16 Port() const;
    QString ErrorString() const;

    GameState& Game() { return game_; }
    const GameState& Game() const { return game_; }

    void SetPassword(const QByteArray& password) { options_.password = password; }
    void SetChunking(int chunkSize, int chunkDelayMs);

    // Every line received, from all connections in order of arrival, without its
    // 0x0A and otherwise byte for byte (0x02 and 0x0D included).
    QList<QByteArray> ReceivedLines() const { return receivedLines_; }
    void ClearReceivedLines() { receivedLines_.clear(); }

    // The seed of the latest greeting.
    QByteArray LastSeed() const { return lastSeed_; }
    int ClientCount() const { return int(clients_.size()); }

    // Greets later connections with these writes instead of the usual three. The
    // seed expected at login is then the (up to) 16 bytes after "Digest seed: "
    // in them. An empty list restores the usual greeting.
    void SetGreeting(const QList<QByteArray>& writes) { greeting_ = writes; }

    // Fault hooks, for robustness tests.
    // Stops reading, so that what clients send backs up in the TCP buffers.
    void PauseReading();
    void ResumeReading();
    // Closes every connection, politely (FIN).
    void CloseClients();
    // Resets every connection (SO_LINGER 0, then close), so clients see ECONNRESET.
    void ResetClients();
    // Sends bytes to every client, in order with the replies.
    void SendRaw(const QByteArray& bytes);
    // Sends only the first `bytes` bytes of the next reply, then closes that connection.
    void CloseAfterNextReplyBytes(qsizetype bytes) { cutNextReplyAt_ = bytes; }

signals:
    void LineReceived(const QByteArray& line);
    void ChatMessage(int team, const QByteArray& text);
    void ClientConnected();
    void ClientDisconnected();

private:
    void Accept();
    void ReadFrom(SimClient* client);
    QByteArray Answer(SimClient* client, const QByteArray& text);
    void Send(SimClient* client, const QByteArray& bytes, bool split);
    void Drain(SimClient* client);
    void Drop(SimClient* client);

    RconSimOptions options_;
    GameState game_;
    QTcpServer* server_;
    QList<SimClient*> clients_;
    QList<QByteArray> receivedLines_;
    QByteArray lastSeed_;
    QList<QByteArray> greeting_;
    bool paused_ = false;
    std::optional<qsizetype> cutNextReplyAt_;
};
