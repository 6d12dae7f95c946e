#include "sim_server.h"

#include <QCryptographicHash>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>
#include <utility>

// One connection: its socket, its login, the bytes not yet handled, the
// greeting writes still to come, and the writes waiting for their turn when
// replies are paced.
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
    QTimer frame;
    QTimer pacer;
    QList<QByteArray> greeting;
    QList<QByteArray> queue;
    QByteArray pending;
    QByteArray seed;
    bool authenticated = false;
    bool closeWhenDrained = false;
};

namespace {

constexpr char seedMarker[] = "Digest seed: ";
// The stock server's line rule: a line of this many bytes, its line feed
// included, or this many bytes without a line feed, close the connection.
constexpr qsizetype kLongestLine = 1023;
constexpr qsizetype kLongestUnfinishedLine = 128;

QByteArray randomSeed()
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    QByteArray seed;
    for (int i = 0; i < 16; ++i)
        seed += letters[QRandomGenerator::global()->bounded(52)];
    return seed;
}

// The seed a client takes from a greeting: up to 16 bytes after the marker,
// short of the line's end.
QByteArray seedIn(const QByteArray& greeting)
{
    const qsizetype at = greeting.indexOf(seedMarker);
    if (at < 0)
        return {};
    const QByteArray rest = greeting.mid(at + qsizetype(sizeof seedMarker) - 1);
    const qsizetype lineEnd = rest.indexOf('\n');
    return rest.left(lineEnd < 0 ? 16 : std::min<qsizetype>(lineEnd, 16));
}

} // namespace

RconSimServer::RconSimServer(const RconSimOptions& options, QObject* parent)
    : QObject(parent)
    , options_(options)
    , game_(GameState::generated(options.players, options.bans, options.maps))
    , server_(new QTcpServer(this))
{
    connect(server_, &QTcpServer::newConnection, this, &RconSimServer::accept);
    game_.seedChurn(options.churnSeed);
    if (options.churnMs > 0) {
        churnTimer_ = new QTimer(this);
        connect(churnTimer_, &QTimer::timeout, this, &RconSimServer::churnStep);
        churnTimer_->start(options.churnMs);
    }
}

RconSimServer::~RconSimServer()
{
    // Close the connections before the members they report to are gone.
    for (SimClient* client : std::exchange(clients_, {})) {
        client->socket->disconnect();
        delete client;
    }
}

bool RconSimServer::listen()
{
    if (options_.timing == SimTiming::Stock)
        server_->setListenBacklogSize(1);
    return server_->listen(QHostAddress::LocalHost, options_.port);
}

quint16 RconSimServer::port() const
{
    return server_->serverPort();
}

QString RconSimServer::errorString() const
{
    return server_->errorString();
}

SimChurn RconSimServer::churnStep()
{
    const SimChurn step = game_.churnStep();
    emit churned(step);
    return step;
}

void RconSimServer::setChunking(int chunkSize, int chunkDelayMs)
{
    options_.chunkSize = chunkSize;
    options_.chunkDelayMs = chunkDelayMs;
}

void RconSimServer::accept()
{
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        auto* client = new SimClient(socket, this);
        clients_.append(client);
        // Every write should leave at once, so clients can see the pieces arrive apart.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        if (paused_)
            socket->setReadBufferSize(1);
        connect(socket, &QTcpSocket::disconnected, client, [this, client] { drop(client); });
        connect(&client->pacer, &QTimer::timeout, client, [this, client] { drain(client); });

        client->greeting = greeting_;
        if (client->greeting.isEmpty()) {
            client->seed = randomSeed();
            client->greeting = {"### Battlefield 2 default RCON/admin ready.\n",
                                "### " + (seedMarker + client->seed) + '\n', "\n"};
        } else {
            client->seed = seedIn(client->greeting.join());
        }
        lastSeed_ = client->seed;
        emit clientConnected();

        if (options_.timing == SimTiming::Instant) {
            connect(socket, &QTcpSocket::readyRead, client, [this, client] { handleAllLines(client); });
            for (const QByteArray& write : std::exchange(client->greeting, {}))
                send(client, write, false);
        } else {
            connect(&client->frame, &QTimer::timeout, client, [this, client] { frame(client); });
            client->frame.start(options_.frameMs);
            send(client, client->greeting.takeFirst(), false);
        }
    }
}

void RconSimServer::frame(SimClient* client)
{
    if (stalled_)
        return;
    if (!client->greeting.isEmpty())
        send(client, client->greeting.takeFirst(), false);
    if (paused_ || !clients_.contains(client))
        return;
    const QByteArray fresh = client->socket->readAll();
    if (fresh.isEmpty())
        return;
    takeBytes(client, fresh);
    if (!refuseLongLine(client))
        handleLine(client);
}

bool RconSimServer::refuseLongLine(SimClient* client)
{
    const qsizetype lineFeed = client->pending.indexOf('\n');
    const bool tooLong = lineFeed < 0 ? client->pending.size() > kLongestUnfinishedLine : lineFeed >= kLongestLine;
    if (!tooLong)
        return false;
    ++linesRefused_;
    client->pending.clear();
    client->queue.clear();
    client->socket->disconnectFromHost();
    return true;
}

void RconSimServer::handleAllLines(SimClient* client)
{
    if (paused_ || stalled_ || !clients_.contains(client))
        return;
    takeBytes(client, client->socket->readAll());
    // A slot of lineReceived may pause reading or close the connection; stop then.
    while (!paused_ && !stalled_ && clients_.contains(client) && handleLine(client)) { }
}

void RconSimServer::takeBytes(SimClient* client, const QByteArray& bytes)
{
    const qsizetype waiting = client->pending.count('\n');
    client->pending += bytes;
    const qsizetype arrived = client->pending.count('\n') - waiting;
    if (arrived > 0)
        pipelinedLines_ += int(waiting > 0 ? arrived : arrived - 1);
}

bool RconSimServer::handleLine(SimClient* client)
{
    const qsizetype end = client->pending.indexOf('\n');
    if (end < 0)
        return false;
    const QByteArray line = client->pending.left(end);
    client->pending.remove(0, end + 1);
    receivedLines_.append(line);
    if (++linesHandled_ == options_.stallAfter)
        stallNextReplyMs_ = options_.stallMs;
    emit lineReceived(line);
    if (!clients_.contains(client))
        return false;

    QByteArray text = line;
    const bool framed = text.startsWith('\x02');
    if (framed)
        text.remove(0, 1);
    if (text.endsWith('\r'))
        text.chop(1);
    const qsizetype chatBefore = game_.chat().size();
    QByteArray reply = answer(client, text);
    for (qsizetype i = chatBefore; i < game_.chat().size(); ++i)
        emit chatMessage(game_.chat()[i].team, game_.chat()[i].text);
    if (framed)
        reply += '\x04';
    if (reply.isEmpty() || !clients_.contains(client))
        return true;
    if (const int ms = std::exchange(stallNextReplyMs_, 0); ms > 0) {
        stall(client, ms, reply);
        return true;
    }
    if (cutNextReplyAt_) {
        reply.truncate(std::max<qsizetype>(*std::exchange(cutNextReplyAt_, std::nullopt), 0));
        send(client, reply, true);
        client->closeWhenDrained = true;
        drain(client);
    } else {
        send(client, reply, true);
    }
    return true;
}

void RconSimServer::stall(SimClient* client, int ms, const QByteArray& reply)
{
    stalled_ = true;
    QTimer::singleShot(ms, this, [this, client, reply] {
        stalled_ = false;
        if (clients_.contains(client))
            send(client, reply, true);
        // What came meanwhile raises no new readyRead; a stock frame reads it at its next turn.
        for (SimClient* other : QList<SimClient*>(clients_)) {
            if (!other->frame.isActive())
                handleAllLines(other);
        }
    });
}

QByteArray RconSimServer::answer(SimClient* client, const QByteArray& text)
{
    const qsizetype blank = text.indexOf(' ');
    const QByteArray word = blank < 0 ? text : text.left(blank);
    const QByteArray rest = blank < 0 ? QByteArray() : text.mid(blank + 1);
    if (word == "login") {
        const QByteArray expected =
            QCryptographicHash::hash(client->seed + options_.password, QCryptographicHash::Md5).toHex();
        client->authenticated = blank >= 0 && rest == expected;
        return client->authenticated ? "Authentication successful, rcon ready.\n" : "Authentication failed.\n";
    }
    if (!client->authenticated)
        return "error: not authenticated: you can only invoke 'login'\n";
    if (word == "exec")
        return game_.execute(rest);
    return "unknown command: '" + word + "'\n";
}

void RconSimServer::send(SimClient* client, const QByteArray& bytes, bool split)
{
    if (client->closeWhenDrained)
        return;
    if (split && options_.chunkSize > 0) {
        for (qsizetype at = 0; at < bytes.size(); at += options_.chunkSize)
            client->queue.append(bytes.mid(at, options_.chunkSize));
    } else if (!bytes.isEmpty()) {
        client->queue.append(bytes);
    }
    drain(client);
}

void RconSimServer::drain(SimClient* client)
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

void RconSimServer::drop(SimClient* client)
{
    if (!clients_.removeOne(client))
        return;
    client->frame.stop();
    client->pacer.stop();
    client->queue.clear();
    client->deleteLater();
    emit clientDisconnected();
}

void RconSimServer::pauseReading()
{
    paused_ = true;
    // With a full read buffer Qt stops taking bytes from the kernel.
    for (SimClient* client : std::as_const(clients_))
        client->socket->setReadBufferSize(1);
}

void RconSimServer::resumeReading()
{
    paused_ = false;
    for (SimClient* client : QList<SimClient*>(clients_)) {
        client->socket->setReadBufferSize(0);
        // What was buffered while paused raises no new readyRead; a stock frame
        // reads it at its next turn.
        if (!client->frame.isActive())
            handleAllLines(client);
    }
}

void RconSimServer::closeClients()
{
    for (SimClient* client : QList<SimClient*>(clients_)) {
        client->pacer.stop();
        client->queue.clear();
        client->socket->disconnectFromHost();
    }
}

void RconSimServer::resetClients()
{
    for (SimClient* client : QList<SimClient*>(clients_)) {
        const linger noLinger{1, 0};
        ::setsockopt(int(client->socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &noLinger, sizeof noLinger);
        client->socket->abort();
    }
}

void RconSimServer::startFlood(const QByteArray& pattern)
{
    // Whole patterns in writes of about 64 KiB.
    floodPattern_ = pattern.repeated(std::max<qsizetype>(1, 64 * 1024 / std::max<qsizetype>(1, pattern.size())));
    pauseReading();
    if (!floodTimer_) {
        floodTimer_ = new QTimer(this);
        connect(floodTimer_, &QTimer::timeout, this, &RconSimServer::flood);
    }
    floodTimer_->start(0);
}

void RconSimServer::stopFlood()
{
    if (floodTimer_)
        floodTimer_->stop();
    floodPattern_.clear();
}

void RconSimServer::flood()
{
    // Kept ahead of each client by at most a few writes, so the server's own
    // memory stays flat however slowly a client reads.
    for (SimClient* client : std::as_const(clients_)) {
        if (client->socket->bytesToWrite() < 4 * floodPattern_.size()) {
            client->socket->write(floodPattern_);
            floodedBytes_ += floodPattern_.size();
        }
    }
}

void RconSimServer::sendRaw(const QByteArray& bytes)
{
    for (SimClient* client : QList<SimClient*>(clients_))
        send(client, bytes, false);
}
