#include "session/client_socket.h"

#include "core/errors.h"
#include "core/text_cut.h"
#include "session/socket_errors.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QHostInfo>
#include <QSocketNotifier>
#include <QTimer>
#include <QtDebug>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

SocketError windowsSocketError(int code, const char* api)
{
    return SocketError(socket_error::windowsSocketErrorMessage(code, api));
}

SocketError asynchronousSocketError(int code)
{
    return SocketError("Asynchronous socket error " + QByteArray::number(code));
}

bool wouldBlock(int posixError)
{
    return posixError == EAGAIN || posixError == EWOULDBLOCK;
}

// Every command is one small write that should leave at once, and a server that
// vanished must end in an error instead of a connection that looks alive forever.
void configureEndpoint(int handle)
{
    const int on = 1;
    ::setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(handle, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    const int idleSeconds = 60;
    const int intervalSeconds = 10;
    const int probes = 6;
    ::setsockopt(handle, IPPROTO_TCP, TCP_KEEPIDLE, &idleSeconds, sizeof idleSeconds);
    ::setsockopt(handle, IPPROTO_TCP, TCP_KEEPINTVL, &intervalSeconds, sizeof intervalSeconds);
    ::setsockopt(handle, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
}

int pendingBytes(int handle)
{
    int count = 0;
    if (::ioctl(handle, FIONREAD, &count) != 0)
        return 0;
    return count;
}

// Failures that a connect in progress would report later through its completion;
// loopback may report them at once, which must look the same to the session.
bool isLateConnectFailure(int posixError)
{
    return posixError == ECONNREFUSED || posixError == ETIMEDOUT || posixError == ENETUNREACH
        || posixError == EHOSTUNREACH || posixError == ECONNRESET;
}

// A notifier may be the one whose signal is running right now, so it is only
// switched off here and deleted by the event loop.
void dispose(QObject* object)
{
    if (!object)
        return;
    if (auto* notifier = qobject_cast<QSocketNotifier*>(object))
        notifier->setEnabled(false);
    if (auto* timer = qobject_cast<QTimer*>(object))
        timer->stop();
    QObject::disconnect(object, nullptr, nullptr, nullptr);
    object->deleteLater();
}

} // namespace

struct ClientSocket::Attempt
{
    quint64 id = 0;
    bool lookingUp = false;
    int lookupRequest = -1; // a pending QHostInfo lookup
    // The host's IPv4 addresses, in network byte order, tried in turn; the
    // connect budget is shared among those not yet tried.
    QList<quint32> addresses;
    qsizetype nextAddress = 0;
    QDeadlineTimer budget;
    bool connecting = false;
    bool disconnecting = false;
    bool closed = false;    // a close notification came: nothing more will arrive
    bool readTaken = false; // a receive ran since the last read notification
    QSocketNotifier* reader = nullptr;
    QSocketNotifier* writer = nullptr;
    QTimer* connectTimer = nullptr;

    ~Attempt()
    {
        if (lookupRequest >= 0)
            QHostInfo::abortHostLookup(lookupRequest);
        dispose(reader);
        dispose(writer);
        dispose(connectTimer);
    }
};

ClientSocket::ClientSocket(QObject* parent)
    : QObject(parent)
{ }

ClientSocket::~ClientSocket()
{
    // Events are detached first, so that shutting down closes without onDisconnect.
    onConnecting = nullptr;
    onConnected = nullptr;
    onDisconnect = nullptr;
    onRead = nullptr;
    onError = nullptr;
    onException = nullptr;
    if (attempt_) {
        try {
            release(attempt_->id);
        } catch (const std::exception& e) {
            qWarning("%s", e.what());
        }
    }
}

quint64 ClientSocket::currentAttemptId() const
{
    return attempt_ ? attempt_->id : 0;
}

void ClientSocket::setActive(bool value)
{
    if (value) {
        if (!active_)
            startAttempt();
    } else if (active_ && connected_) {
        disconnectAttempt(currentAttemptId());
    }
}

void ClientSocket::setHost(const QByteArray& value)
{
    if (text::sameText(value, host_))
        return;
    if (active_)
        throw SocketError("Can't change value while socket is active");
    host_ = value;
}

void ClientSocket::setPort(int value)
{
    if (value == port_)
        return;
    if (active_)
        throw SocketError("Can't change value while socket is active");
    port_ = value;
}

QByteArray ClientSocket::readAvailable(qsizetype maxBytes)
{
    if (!connected_ || handle_ < 0)
        return {};
    attempt_->readTaken = true;
    if (attempt_->reader && !attempt_->closed)
        attempt_->reader->setEnabled(true);
    const int count = int(std::min<qsizetype>(pendingBytes(handle_), maxBytes));
    if (count <= 0)
        return {};
    QByteArray text(count, Qt::Uninitialized);
    ssize_t received;
    do
        received = ::recv(handle_, text.data(), static_cast<size_t>(count), 0);
    while (received < 0 && errno == EINTR);
    if (received >= 0) {
        text.truncate(received);
        return text;
    }
    const int posixError = errno;
    if (wouldBlock(posixError))
        return {};
    const quint64 attemptId = currentAttemptId();
    const int code = reportError(socket_error::fromErrno(posixError));
    disconnectAttempt(attemptId);
    if (code != 0)
        throw windowsSocketError(code, "recv");
    return {};
}

int ClientSocket::write(const QByteArray& text)
{
    if (!connected_ || handle_ < 0)
        return 0;
    // Sending past kept bytes would put commands out of order.
    if (!pendingWrite_.isEmpty()) {
        pendingWrite_ += text;
        return -1;
    }
    ssize_t sent;
    do
        sent = ::send(handle_, text.constData(), static_cast<size_t>(text.size()), MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    if (sent >= 0) {
        if (sent < text.size()) {
            pendingWrite_ = text.mid(sent);
            wantWrite();
        }
        return static_cast<int>(sent);
    }
    const int posixError = errno;
    if (wouldBlock(posixError)) {
        pendingWrite_ = text;
        wantWrite();
        return -1;
    }
    sendFailed(currentAttemptId(), posixError);
    return -1;
}

bool ClientSocket::isCurrent(quint64 attemptId) const
{
    return attemptId != 0 && attempt_ && attempt_->id == attemptId;
}

void ClientSocket::fire(const std::function<void()>& event)
{
    // A copy, so that a handler may replace the event while it runs.
    const std::function<void()> handler = event;
    if (handler)
        handler();
}

int ClientSocket::reportError(int errorCode)
{
    const auto handler = onError;
    if (handler)
        handler(errorCode);
    return errorCode;
}

void ClientSocket::guarded(const std::function<void()>& step)
{
    // Notifications come from the event loop, which must never see an exception.
    try {
        step();
    } catch (const std::exception& e) {
        const auto handler = onException;
        try {
            if (handler)
                handler(e);
            else
                qWarning("%s", e.what());
        } catch (const std::exception& again) {
            qWarning("%s", again.what());
        } catch (...) {
            qWarning("Unknown exception while reporting a socket error");
        }
    } catch (...) {
        qWarning("Unknown exception while handling a socket notification");
    }
}

void ClientSocket::startAttempt()
{
    if (connected_)
        throw SocketError("Socket already open");

    // A pending lookup or connect gives way to the new attempt, silently.
    if (attempt_)
        release(attempt_->id);

    const int handle = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (handle < 0)
        throw SocketError("Can't create new socket");
    configureEndpoint(handle);
    attempt_ = std::make_unique<Attempt>();
    attempt_->id = ++lastAttemptId_;
    handle_ = handle;
    const quint64 id = attempt_->id;

    try {
        if (host_.isEmpty()) {
            const int code = reportError(socket_error::NoAddress);
            disconnectAttempt(id);
            if (code != 0)
                throw SocketError("No address specified");
            return;
        }
        attempt_->lookingUp = true;
        // A dotted address needs no resolver, and asking one would make it a
        // reverse lookup; it still completes later, like any lookup.
        in_addr dotted{};
        if (!host_.contains('\0') && ::inet_aton(host_.constData(), &dotted) != 0) {
            QHostInfo info;
            info.setAddresses({QHostAddress(ntohl(dotted.s_addr))});
            QMetaObject::invokeMethod(
                this, [this, id, info] { guarded([&] { lookupFinished(id, info); }); }, Qt::QueuedConnection);
            return;
        }
        if (nameLookup_) {
            const QHostInfo info = nameLookup_(host_);
            QMetaObject::invokeMethod(
                this, [this, id, info] { guarded([&] { lookupFinished(id, info); }); }, Qt::QueuedConnection);
            return;
        }
        // Qt's functor form of the lookup leaks its callback when the lookup is
        // aborted, which every abandoned attempt does; the slot form does not.
        attempt_->lookupRequest = QHostInfo::lookupHost(QString::fromLatin1(host_), this,
                                                        SLOT(hostLookedUp(QHostInfo)));
    } catch (...) {
        disconnectAttempt(id);
        throw;
    }
}

void ClientSocket::hostLookedUp(const QHostInfo& info)
{
    guarded([&] {
        if (attempt_ && attempt_->lookupRequest >= 0 && attempt_->lookupRequest == info.lookupId())
            lookupFinished(attempt_->id, info);
    });
}

void ClientSocket::lookupFinished(quint64 attemptId, const QHostInfo& info)
{
    if (!isCurrent(attemptId) || !attempt_->lookingUp)
        return;
    attempt_->lookupRequest = -1;
    attempt_->lookingUp = false;

    int code = socket_error::fromHostLookup(info.error());
    if (code == 0) {
        for (const QHostAddress& address : info.addresses()) {
            if (address.protocol() == QAbstractSocket::IPv4Protocol)
                attempt_->addresses.append(htonl(address.toIPv4Address()));
        }
        if (attempt_->addresses.isEmpty())
            code = socket_error::NoData;
    }
    if (code != 0) {
        lookupFailed(attemptId, code);
        return;
    }
    peerPort_ = htons(static_cast<quint16>(port_ & 0xFFFF));
    attempt_->budget = QDeadlineTimer(connectTimeout_);
    try {
        fire(onConnecting);
        if (isCurrent(attemptId))
            connectToNextAddress(attemptId);
    } catch (...) {
        disconnectAttempt(attemptId);
        throw;
    }
}

void ClientSocket::lookupFailed(quint64 attemptId, int code)
{
    code = reportError(code);
    disconnectAttempt(attemptId);
    if (code != 0)
        throw windowsSocketError(code, "ASync Lookup");
}

void ClientSocket::connectToNextAddress(quint64 attemptId)
{
    const qsizetype left = attempt_->addresses.size() - attempt_->nextAddress;
    peerAddress_ = attempt_->addresses[attempt_->nextAddress++];
    const int handle = handle_;
    attempt_->reader = new QSocketNotifier(handle, QSocketNotifier::Read, this);
    attempt_->reader->setEnabled(false);
    connect(attempt_->reader, &QSocketNotifier::activated, this,
            [this, attemptId] { guarded([&] { readReady(attemptId); }); });
    attempt_->writer = new QSocketNotifier(handle, QSocketNotifier::Write, this);
    attempt_->writer->setEnabled(false);
    connect(attempt_->writer, &QSocketNotifier::activated, this,
            [this, attemptId] { guarded([&] { writeReady(attemptId); }); });

    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = peerAddress_;
    peer.sin_port = peerPort_;
    const int result = ::connect(handle, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
    const int posixError = result == 0 ? 0 : errno;

    if (result == 0 || posixError == EINPROGRESS || posixError == EINTR) {
        attempt_->connecting = true;
        attempt_->writer->setEnabled(true);
        attempt_->connectTimer = new QTimer(this);
        attempt_->connectTimer->setSingleShot(true);
        connect(attempt_->connectTimer, &QTimer::timeout, this,
                [this, attemptId] { guarded([&] { connectFinished(attemptId, ETIMEDOUT); }); });
        // A share of what is left of the budget, so a dead first address
        // leaves time for the others.
        attempt_->connectTimer->start(std::chrono::milliseconds(attempt_->budget.remainingTime() / left));
    } else if (isLateConnectFailure(posixError)) {
        attempt_->connecting = true;
        QMetaObject::invokeMethod(
            this, [this, attemptId, posixError] { guarded([&] { connectFinished(attemptId, posixError); }); },
            Qt::QueuedConnection);
    } else {
        throw windowsSocketError(socket_error::fromErrno(posixError), "connect");
    }
}

// The connect to one address failed and others are left: a fresh endpoint
// tries the next one. False when none is left or the budget is spent.
bool ClientSocket::tryNextAddress(quint64 attemptId)
{
    if (attempt_->nextAddress >= attempt_->addresses.size() || attempt_->budget.hasExpired())
        return false;
    const int handle = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (handle < 0)
        return false;
    configureEndpoint(handle);
    dispose(std::exchange(attempt_->reader, nullptr));
    dispose(std::exchange(attempt_->writer, nullptr));
    dispose(std::exchange(attempt_->connectTimer, nullptr));
    ::close(std::exchange(handle_, handle));
    connectToNextAddress(attemptId);
    return true;
}

void ClientSocket::connectFinished(quint64 attemptId, int posixError)
{
    if (!isCurrent(attemptId) || !attempt_->connecting)
        return;
    attempt_->connecting = false;
    if (attempt_->connectTimer)
        attempt_->connectTimer->stop();
    if (attempt_->writer)
        attempt_->writer->setEnabled(false);

    if (posixError != 0) {
        if (tryNextAddress(attemptId))
            return;
        // Nothing refers to a failed endpoint again, so it goes at once.
        release(attemptId);
        const int code = reportError(socket_error::fromErrno(posixError));
        if (code != 0)
            throw asynchronousSocketError(code);
        return;
    }

    connected_ = true;
    attempt_->reader->setEnabled(true);
    active_ = true;
    fire(onConnected);
}

void ClientSocket::readReady(quint64 attemptId)
{
    if (!isCurrent(attemptId) || attempt_->closed)
        return;
    if (pendingBytes(handle_) > 0) {
        attempt_->readTaken = false;
        fire(onRead);
        // Like the platform, report no more arrivals until the data is received,
        // rather than spin on bytes the handler chose to leave.
        if (isCurrent(attemptId) && !attempt_->readTaken && attempt_->reader)
            attempt_->reader->setEnabled(false);
        return;
    }

    char byte;
    const ssize_t peeked = ::recv(handle_, &byte, 1, MSG_PEEK);
    const int posixError = peeked < 0 ? errno : 0;
    if (peeked > 0 || (peeked < 0 && (wouldBlock(posixError) || posixError == EINTR)))
        return;

    // The peer closed, in order or with an error (a reset): either way the
    // connection is over, and is shown so after the error is reported.
    attempt_->closed = true;
    attempt_->reader->setEnabled(false);
    const int code = peeked == 0 ? 0 : reportError(socket_error::fromErrno(posixError));
    disconnectAttempt(attemptId);
    if (code != 0)
        throw asynchronousSocketError(code);
}

void ClientSocket::writeReady(quint64 attemptId)
{
    if (!isCurrent(attemptId))
        return;
    if (attempt_->connecting) {
        int posixError = 0;
        socklen_t length = sizeof posixError;
        if (::getsockopt(handle_, SOL_SOCKET, SO_ERROR, &posixError, &length) != 0)
            posixError = errno;
        connectFinished(attemptId, posixError);
        return;
    }
    flushPending(attemptId);
}

void ClientSocket::flushPending(quint64 attemptId)
{
    while (!pendingWrite_.isEmpty()) {
        const ssize_t sent = ::send(handle_, pendingWrite_.constData(), static_cast<size_t>(pendingWrite_.size()),
                                    MSG_NOSIGNAL);
        if (sent > 0) {
            pendingWrite_.remove(0, sent);
            continue;
        }
        const int posixError = sent < 0 ? errno : 0;
        if (posixError == EINTR)
            continue;
        if (sent == 0 || wouldBlock(posixError))
            return; // the write notifier stays on
        sendFailed(attemptId, posixError);
        return;
    }
    if (attempt_->writer)
        attempt_->writer->setEnabled(false);
}

void ClientSocket::sendFailed(quint64 attemptId, int posixError)
{
    const int code = reportError(socket_error::fromErrno(posixError));
    disconnectAttempt(attemptId);
    if (code != 0)
        throw windowsSocketError(code, "send");
}

void ClientSocket::wantWrite()
{
    if (attempt_ && attempt_->writer)
        attempt_->writer->setEnabled(true);
}

void ClientSocket::disconnectAttempt(quint64 attemptId)
{
    if (!isCurrent(attemptId) || attempt_->disconnecting)
        return;
    if (attempt_->lookupRequest >= 0) {
        QHostInfo::abortHostLookup(attempt_->lookupRequest);
        attempt_->lookupRequest = -1;
    }
    attempt_->lookingUp = false;
    attempt_->disconnecting = true;
    active_ = false;
    try {
        fire(onDisconnect);
    } catch (...) {
        release(attemptId);
        throw;
    }
    release(attemptId);
}

void ClientSocket::release(quint64 attemptId)
{
    if (!isCurrent(attemptId))
        return;
    const int handle = handle_;
    // The notifiers go before the endpoint they watch.
    attempt_.reset();
    handle_ = -1;
    connected_ = false;
    pendingWrite_.clear();
    peerAddress_ = 0;
    peerPort_ = 0;
    if (handle >= 0 && ::close(handle) != 0 && errno != EINTR)
        throw windowsSocketError(socket_error::fromErrno(errno), "closesocket");
}
