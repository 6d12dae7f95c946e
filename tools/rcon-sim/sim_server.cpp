#include "sim_server.h"

#include "core/text_cut.h"

#include <QCryptographicHash>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>
#include <utility>

// One connection: its socket, its login, the bytes of a line not yet complete,
// and the writes waiting for their turn when replies are paced.
class SimClient : public QObject
{
public:
    SimClient(QTcpSocket* socket, QObject* parent)
        : QObject(parent)
        , socket(socket)
    {
        socket->setParent(this);
        pacer.setSingleShot(true);
    }

    QTcpSocket* socket;
    QTimer pacer;
    QList<QByteArray> queue;
    QByteArray pending;
    QByteArray seed;
    bool authenticated = false;
    bool closeWhenDrained = false;
};

namespace {

constexpr char seedMarker[] = "Digest seed: ";

QByteArray RandomSeed()
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    QByteArray seed;
    for (int i = 0; i < 16; ++i)
        seed += letters[QRandomGenerator::global()->bounded(52)];
    return seed;
}

// The seed a client takes from a greeting: up to 16 bytes after the marker.
QByteArray SeedIn(const QByteArray& greeting)
{
    const qsizetype at = text::Pos(seedMarker, greeting);
    if (at == 0)
        return {};
    return text::Copy(greeting, at + qsizetype(sizeof seedMarker) - 1, 16);
}

} // namespace

RconSimServer::RconSimServer(const RconSimOptions& options, QObject* parent)
    : QObject(parent)
    , options_(options)
    , game_(GameState::Generated(options.players, options.bans, options.maps))
    , server_(new QTcpServer(this))
{
    connect(server_, &QTcpServer::newConnection, this, &RconSimServer::Accept);
}

RconSimServer::~RconSimServer()
{
    // Close the connections before the members they report to are gone.
    for (SimClient* client : std::exchange(clients_, {})) {
        client->socket->disconnect();
        delete client;
    }
}

bool RconSimServer::Listen()
{
    return server_->listen(QHostAddress::LocalHost, options_.port);
}

quint16 RconSimServer::Port() const
{
    return server_->serverPort();
}

QString RconSimServer::ErrorString() const
{
    return server_->errorString();
}

void RconSimServer::SetChunking(int chunkSize, int chunkDelayMs)
{
    options_.chunkSize = chunkSize;
    options_.chunkDelayMs = chunkDelayMs;
}

void RconSimServer::Accept()
{
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        auto* client = new SimClient(socket, this);
        clients_.append(client);
        // Every write should leave at once, so clients can see the pieces arrive apart.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        if (paused_)
            socket->setReadBufferSize(1);
        connect(socket, &QTcpSocket::readyRead, client, [this, client] { ReadFrom(client); });
        connect(socket, &QTcpSocket::disconnected, client, [this, client] { Drop(client); });
        connect(&client->pacer, &QTimer::timeout, client, [this, client] { Drain(client); });

        QList<QByteArray> writes = greeting_;
        if (writes.isEmpty()) {
            client->seed = RandomSeed();
            writes = {"### Battlefield 2 default RCON/admin ready.\n", "### " + (seedMarker + client->seed) + '\n',
                      "\n"};
        } else {
            client->seed = SeedIn(writes.join());
        }
        lastSeed_ = client->seed;
        emit ClientConnected();
        for (const QByteArray& write : writes)
            Send(client, write, false);
    }
}

void RconSimServer::ReadFrom(SimClient* client)
{
    if (paused_ || !clients_.contains(client))
        return;
    client->pending += client->socket->readAll();
    // A slot of LineReceived may pause reading or close the connection; stop then.
    qsizetype end;
    while (!paused_ && clients_.contains(client) && (end = client->pending.indexOf('\n')) >= 0) {
        const QByteArray line = client->pending.left(end);
        client->pending.remove(0, end + 1);
        receivedLines_.append(line);
        emit LineReceived(line);

        QByteArray text = line;
        const bool framed = text.startsWith('\x02');
        if (framed)
            text.remove(0, 1);
        if (text.endsWith('\r'))
            text.chop(1);
        const qsizetype chatBefore = game_.Chat().size();
        QByteArray reply = Answer(client, text);
        for (qsizetype i = chatBefore; i < game_.Chat().size(); ++i)
            emit ChatMessage(game_.Chat()[i].team, game_.Chat()[i].text);
        if (framed)
            reply += '\x04';
        if (reply.isEmpty() || !clients_.contains(client))
            continue;
        if (cutNextReplyAt_) {
            reply.truncate(std::max<qsizetype>(*std::exchange(cutNextReplyAt_, std::nullopt), 0));
            Send(client, reply, true);
            client->closeWhenDrained = true;
            Drain(client);
        } else {
            Send(client, reply, true);
        }
    }
}

QByteArray RconSimServer::Answer(SimClient* client, const QByteArray& text)
{
    const qsizetype blank = text::Pos(' ', text);
    const QByteArray word = blank == 0 ? text : text::Copy(text, 1, blank - 1);
    const QByteArray rest = blank == 0 ? QByteArray() : text::Copy(text, blank + 1, text.size());
    if (word == "login") {
        const QByteArray expected =
            QCryptographicHash::hash(client->seed + options_.password, QCryptographicHash::Md5).toHex();
        client->authenticated = blank != 0 && rest == expected;
        return client->authenticated ? "Authentication successful, rcon ready.\n" : "Authentication failed.\n";
    }
    if (!client->authenticated)
        return "error: not authenticated: you can only invoke 'login'\n";
    if (word == "exec")
        return game_.Execute(rest);
    return "unknown command: '" + word + "'\n";
}

void RconSimServer::Send(SimClient* client, const QByteArray& bytes, bool split)
{
    if (client->closeWhenDrained)
        return;
    if (split && options_.chunkSize > 0) {
        for (qsizetype at = 0; at < bytes.size(); at += options_.chunkSize)
            client->queue.append(bytes.mid(at, options_.chunkSize));
    } else if (!bytes.isEmpty()) {
        client->queue.append(bytes);
    }
    Drain(client);
}

void RconSimServer::Drain(SimClient* client)
{
    if (client->socket->state() != QAbstractSocket::ConnectedState) {
        client->queue.clear();
        return;
    }
    while (!client->queue.isEmpty() && !client->pacer.isActive()) {
        client->socket->write(client->queue.takeFirst());
        client->socket->flush();
        if (options_.chunkDelayMs > 0)
            client->pacer.start(options_.chunkDelayMs);
    }
    if (client->closeWhenDrained && client->queue.isEmpty() && !client->pacer.isActive())
        client->socket->disconnectFromHost();
}

void RconSimServer::Drop(SimClient* client)
{
    if (!clients_.removeOne(client))
        return;
    client->pacer.stop();
    client->queue.clear();
    client->deleteLater();
    emit ClientDisconnected();
}

void RconSimServer::PauseReading()
{
    paused_ = true;
    // With a full read buffer Qt stops taking bytes from the kernel.
    for (SimClient* client : std::as_const(clients_))
        client->socket->setReadBufferSize(1);
}

void RconSimServer::ResumeReading()
{
    paused_ = false;
    for (SimClient* client : QList<SimClient*>(clients_)) {
        client->socket->setReadBufferSize(0);
        ReadFrom(client); // what was buffered while paused raises no new readyRead
    }
}

void RconSimServer::CloseClients()
{
    for (SimClient* client : QList<SimClient*>(clients_)) {
        client->pacer.stop();
        client->queue.clear();
        client->socket->disconnectFromHost();
    }
}

void RconSimServer::ResetClients()
{
    for (SimClient* client : QList<SimClient*>(clients_)) {
        const linger noLinger{1, 0};
        ::setsockopt(int(client->socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &noLinger, sizeof noLinger);
        client->socket->abort();
    }
}

void RconSimServer::SendRaw(const QByteArray& bytes)
{
    for (SimClient* client : QList<SimClient*>(clients_))
        Send(client, bytes, false);
}
