#include "session/client_socket.h"

#include "core/errors.h"
#include "core/text_cut.h"
#include "session/socket_errors.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QSocketNotifier>
#include <QTimer>
#include <QtDebug>

#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

ESocketError WindowsSocketError(int code, const char* api)
{
    return ESocketError(socket_error::WindowsSocketErrorMessage(code, api));
}

ESocketError AsynchronousSocketError(int code)
{
    return ESocketError("Asynchronous socket error " + QByteArray::number(code));
}

bool WouldBlock(int posixError)
{
    return posixError == EAGAIN || posixError == EWOULDBLOCK;
}

// Every command is one small write that should leave at once, and a server that
// vanished must end in an error instead of a connection that looks alive forever.
void ConfigureEndpoint(int handle)
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

int PendingBytes(int handle)
{
    int count = 0;
    if (::ioctl(handle, FIONREAD, &count) != 0)
        return 0;
    return count;
}

// Failures that a connect in progress would report later through its completion;
// loopback may report them at once, which must look the same to the session.
bool IsLateConnectFailure(int posixError)
{
    return posixError == ECONNREFUSED || posixError == ETIMEDOUT || posixError == ENETUNREACH
        || posixError == EHOSTUNREACH || posixError == ECONNRESET;
}

// A notifier may be the one whose signal is running right now, so it is only
// switched off here and deleted by the event loop.
void Dispose(QObject* object)
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

struct TClientSocket::Attempt
{
    enum class Lookup { Idle, Address, Service };

    quint64 id = 0;
    Lookup lookup = Lookup::Idle;
    int lookupRequest = -1; // a pending QHostInfo lookup
    QByteArray service;     // Service and Port as they were when the lookup began
    int port = 0;
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
        Dispose(reader);
        Dispose(writer);
        Dispose(connectTimer);
    }
};

// ---- connection object ----

TClientWinSocket::TClientWinSocket(TClientSocket& owner)
    : owner_(owner)
{ }

TClientWinSocket::~TClientWinSocket()
{
    if (handle_ >= 0)
        ::close(handle_);
}

void TClientWinSocket::Forget()
{
    handle_ = -1;
    connected_ = false;
    pendingWrite_.clear();
    peerAddress_ = 0;
    peerPort_ = 0;
}

QByteArray TClientWinSocket::ReadAvailableText()
{
    if (!connected_ || handle_ < 0)
        return {};
    owner_.ReceiveTaken();
    const int count = PendingBytes(handle_);
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
    if (WouldBlock(posixError))
        return {};
    const quint64 attemptId = owner_.attempt_ ? owner_.attempt_->id : 0;
    const int code = owner_.ReportError(TErrorEvent::eeReceive, socket_error::FromErrno(posixError));
    owner_.Disconnect(attemptId);
    if (code != 0)
        throw WindowsSocketError(code, "recv");
    return {};
}

int TClientWinSocket::WriteText(const QByteArray& text)
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
            owner_.WantWrite();
        }
        return static_cast<int>(sent);
    }
    const int posixError = errno;
    if (WouldBlock(posixError)) {
        pendingWrite_ = text;
        owner_.WantWrite();
        return -1;
    }
    owner_.SendFailed(owner_.attempt_ ? owner_.attempt_->id : 0, posixError);
    return -1;
}

// ---- component ----

TClientSocket::TClientSocket(QObject* parent)
    : QObject(parent)
    , socket_(std::make_unique<TClientWinSocket>(*this))
{ }

TClientSocket::~TClientSocket()
{
    // Events are detached first, so that shutting down closes without OnDisconnect.
    OnLookup = nullptr;
    OnConnecting = nullptr;
    OnConnect = nullptr;
    OnDisconnect = nullptr;
    OnRead = nullptr;
    OnWrite = nullptr;
    OnError = nullptr;
    OnException = nullptr;
    if (attempt_) {
        try {
            Release(attempt_->id);
        } catch (const std::exception& e) {
            qWarning("%s", e.what());
        }
    }
}

void TClientSocket::SetActive(bool value)
{
    if (value) {
        if (!active_)
            StartAttempt();
    } else if (active_ && socket_->connected_) {
        Disconnect(attempt_ ? attempt_->id : 0);
    }
}

void TClientSocket::SetHost(const QByteArray& value)
{
    ChangeText(host_, value);
}

void TClientSocket::SetAddress(const QByteArray& value)
{
    ChangeText(address_, value);
}

void TClientSocket::SetService(const QByteArray& value)
{
    ChangeText(service_, value);
}

void TClientSocket::ChangeText(QByteArray& property, const QByteArray& value)
{
    // Host, Address and Service are names: their case does not make them different.
    if (text::SameText(value, property))
        return;
    if (active_)
        throw ESocketError("Can't change value while socket is active");
    property = value;
}

void TClientSocket::SetPort(int value)
{
    if (value == port_)
        return;
    if (active_)
        throw ESocketError("Can't change value while socket is active");
    port_ = value;
}

void TClientSocket::SetClientType(TClientType value)
{
    if (value == clientType_)
        return;
    if (active_)
        throw ESocketError("Can't change value while socket is active");
    clientType_ = value;
}

bool TClientSocket::IsCurrent(quint64 attemptId) const
{
    return attemptId != 0 && attempt_ && attempt_->id == attemptId;
}

void TClientSocket::Fire(const TSocketNotifyEvent& event)
{
    // A copy, so that a handler may replace the event while it runs.
    const TSocketNotifyEvent handler = event;
    if (handler)
        handler(*this, *socket_);
}

int TClientSocket::ReportError(TErrorEvent errorEvent, int errorCode)
{
    const TSocketErrorEvent handler = OnError;
    if (handler)
        handler(*this, *socket_, errorEvent, errorCode);
    return errorCode;
}

void TClientSocket::Guarded(const std::function<void()>& step)
{
    // Notifications come from the event loop, which must never see an exception.
    try {
        step();
    } catch (const std::exception& e) {
        const auto handler = OnException;
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

void TClientSocket::StartAttempt()
{
    if (socket_->connected_)
        throw ESocketError("Socket already open");

    // A pending lookup or connect gives way to the new attempt, silently.
    if (attempt_)
        Release(attempt_->id);

    const bool blocking = clientType_ == TClientType::ctBlocking;
    const int handle = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (blocking ? 0 : SOCK_NONBLOCK), 0);
    if (handle < 0)
        throw ESocketError("Can't create new socket");
    ConfigureEndpoint(handle);
    attempt_ = std::make_unique<Attempt>();
    attempt_->id = ++lastAttemptId_;
    socket_->handle_ = handle;
    const quint64 id = attempt_->id;

    try {
        Fire(OnLookup);
        if (!IsCurrent(id))
            return;

        if (!host_.isEmpty()) {
            attempt_->service = service_;
            attempt_->port = port_;
            attempt_->lookup = Attempt::Lookup::Address;
            // A dotted address needs no resolver, and asking one would make it a
            // reverse lookup; it still completes later, like any lookup.
            in_addr dotted{};
            if (!host_.contains('\0') && ::inet_aton(host_.constData(), &dotted) != 0) {
                QHostInfo info;
                info.setAddresses({QHostAddress(ntohl(dotted.s_addr))});
                if (blocking)
                    LookupFinished(id, info);
                else
                    QMetaObject::invokeMethod(
                        this, [this, id, info] { Guarded([&] { LookupFinished(id, info); }); }, Qt::QueuedConnection);
                return;
            }
            if (blocking) {
                LookupFinished(id, QHostInfo::fromName(QString::fromLatin1(host_)));
                return;
            }
            // Qt's functor form of the lookup leaks its callback when the lookup is
            // aborted, which every abandoned attempt does; the slot form does not.
            attempt_->lookupRequest = QHostInfo::lookupHost(QString::fromLatin1(host_), this,
                                                            SLOT(HostLookedUp(QHostInfo)));
            return;
        }

        if (!address_.isEmpty()) {
            socket_->peerAddress_ = ::inet_addr(address_.constData());
            attempt_->service = service_;
            attempt_->port = port_;
            attempt_->lookup = Attempt::Lookup::Address;
            ResolveService(id);
            return;
        }

        const int code = ReportError(TErrorEvent::eeLookup, socket_error::NoAddress);
        Disconnect(id);
        if (code != 0)
            throw ESocketError("No address specified");
    } catch (...) {
        Disconnect(id);
        throw;
    }
}

void TClientSocket::HostLookedUp(const QHostInfo& info)
{
    Guarded([&] {
        if (attempt_ && attempt_->lookupRequest >= 0 && attempt_->lookupRequest == info.lookupId())
            LookupFinished(attempt_->id, info);
    });
}

void TClientSocket::LookupFinished(quint64 attemptId, const QHostInfo& info)
{
    if (!IsCurrent(attemptId) || attempt_->lookup != Attempt::Lookup::Address)
        return;
    attempt_->lookupRequest = -1;

    int code = socket_error::FromHostLookup(info.error());
    if (code == 0) {
        code = socket_error::NoData;
        for (const QHostAddress& address : info.addresses()) {
            if (address.protocol() == QAbstractSocket::IPv4Protocol) {
                socket_->peerAddress_ = htonl(address.toIPv4Address());
                code = 0;
                break;
            }
        }
    }
    if (code != 0) {
        LookupFailed(attemptId, code);
        return;
    }
    try {
        ResolveService(attemptId);
    } catch (...) {
        Disconnect(attemptId);
        throw;
    }
}

void TClientSocket::LookupFailed(quint64 attemptId, int code)
{
    code = ReportError(TErrorEvent::eeLookup, code);
    Disconnect(attemptId);
    if (code != 0)
        throw WindowsSocketError(code, "ASync Lookup");
}

void TClientSocket::ResolveService(quint64 attemptId)
{
    if (!attempt_->service.isEmpty()) {
        servent entry{};
        servent* found = nullptr;
        char buffer[1024];
        const QByteArray name = attempt_->service;
        if (::getservbyname_r(name.constData(), "tcp", &entry, buffer, sizeof buffer, &found) != 0 || !found) {
            LookupFailed(attemptId, socket_error::NoData);
            return;
        }
        socket_->peerPort_ = static_cast<quint16>(found->s_port);
    } else {
        socket_->peerPort_ = htons(static_cast<quint16>(attempt_->port & 0xFFFF));
    }
    attempt_->service.clear();
    attempt_->lookup = Attempt::Lookup::Service;
    OpenConnection(attemptId);
}

void TClientSocket::OpenConnection(quint64 attemptId)
{
    const int handle = socket_->handle_;
    const bool blocking = clientType_ == TClientType::ctBlocking;
    attempt_->lookup = Attempt::Lookup::Idle;

    if (!blocking) {
        attempt_->reader = new QSocketNotifier(handle, QSocketNotifier::Read, this);
        attempt_->reader->setEnabled(false);
        connect(attempt_->reader, &QSocketNotifier::activated, this,
                [this, attemptId] { Guarded([&] { ReadReady(attemptId); }); });
        attempt_->writer = new QSocketNotifier(handle, QSocketNotifier::Write, this);
        attempt_->writer->setEnabled(false);
        connect(attempt_->writer, &QSocketNotifier::activated, this,
                [this, attemptId] { Guarded([&] { WriteReady(attemptId); }); });
    }

    Fire(OnConnecting);
    if (!IsCurrent(attemptId))
        return;

    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = socket_->peerAddress_;
    peer.sin_port = socket_->peerPort_;
    const int result = ::connect(handle, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
    const int posixError = result == 0 ? 0 : errno;

    if (blocking) {
        if (result != 0)
            throw WindowsSocketError(socket_error::FromErrno(posixError), "connect");
        socket_->connected_ = true;
        active_ = true;
        Fire(OnConnect);
        return;
    }

    if (result == 0 || posixError == EINPROGRESS || posixError == EINTR) {
        attempt_->connecting = true;
        attempt_->writer->setEnabled(true);
        attempt_->connectTimer = new QTimer(this);
        attempt_->connectTimer->setSingleShot(true);
        connect(attempt_->connectTimer, &QTimer::timeout, this,
                [this, attemptId] { Guarded([&] { ConnectFinished(attemptId, ETIMEDOUT); }); });
        attempt_->connectTimer->start(connectTimeout_);
    } else if (IsLateConnectFailure(posixError)) {
        attempt_->connecting = true;
        QMetaObject::invokeMethod(
            this, [this, attemptId, posixError] { Guarded([&] { ConnectFinished(attemptId, posixError); }); },
            Qt::QueuedConnection);
    } else {
        throw WindowsSocketError(socket_error::FromErrno(posixError), "connect");
    }
}

void TClientSocket::ConnectFinished(quint64 attemptId, int posixError)
{
    if (!IsCurrent(attemptId) || !attempt_->connecting)
        return;
    attempt_->connecting = false;
    if (attempt_->connectTimer)
        attempt_->connectTimer->stop();
    if (attempt_->writer)
        attempt_->writer->setEnabled(false);

    if (posixError != 0) {
        // Nothing refers to a failed endpoint again, so it goes at once.
        Release(attemptId);
        const int code = ReportError(TErrorEvent::eeConnect, socket_error::FromErrno(posixError));
        if (code != 0)
            throw AsynchronousSocketError(code);
        return;
    }

    socket_->connected_ = true;
    attempt_->reader->setEnabled(true);
    active_ = true;
    Fire(OnConnect);
    if (!IsCurrent(attemptId))
        return;
    // Bytes that OnConnect could not send first have to go; OnWrite follows them.
    if (socket_->pendingWrite_.isEmpty())
        Fire(OnWrite);
}

void TClientSocket::ReadReady(quint64 attemptId)
{
    if (!IsCurrent(attemptId) || attempt_->closed)
        return;
    const int handle = socket_->handle_;
    if (PendingBytes(handle) > 0) {
        attempt_->readTaken = false;
        Fire(OnRead);
        // Like the platform, report no more arrivals until the data is received,
        // rather than spin on bytes the handler chose to leave.
        if (IsCurrent(attemptId) && !attempt_->readTaken && attempt_->reader)
            attempt_->reader->setEnabled(false);
        return;
    }

    char byte;
    const ssize_t peeked = ::recv(handle, &byte, 1, MSG_PEEK);
    const int posixError = peeked < 0 ? errno : 0;
    if (peeked > 0 || (peeked < 0 && (WouldBlock(posixError) || posixError == EINTR)))
        return;

    // The peer closed, in order or with an error. A dead endpoint must not keep
    // waking the event loop, whatever the handlers decide.
    attempt_->closed = true;
    attempt_->reader->setEnabled(false);
    if (peeked == 0) {
        Disconnect(attemptId);
        return;
    }
    const int code = ReportError(TErrorEvent::eeDisconnect, socket_error::FromErrno(posixError));
    if (code != 0)
        throw AsynchronousSocketError(code);
}

void TClientSocket::WriteReady(quint64 attemptId)
{
    if (!IsCurrent(attemptId))
        return;
    if (attempt_->connecting) {
        int posixError = 0;
        socklen_t length = sizeof posixError;
        if (::getsockopt(socket_->handle_, SOL_SOCKET, SO_ERROR, &posixError, &length) != 0)
            posixError = errno;
        ConnectFinished(attemptId, posixError);
        return;
    }
    FlushPending(attemptId);
}

void TClientSocket::FlushPending(quint64 attemptId)
{
    QByteArray& pending = socket_->pendingWrite_;
    while (!pending.isEmpty()) {
        const ssize_t sent = ::send(socket_->handle_, pending.constData(), static_cast<size_t>(pending.size()),
                                    MSG_NOSIGNAL);
        if (sent > 0) {
            pending.remove(0, sent);
            continue;
        }
        const int posixError = sent < 0 ? errno : 0;
        if (posixError == EINTR)
            continue;
        if (sent == 0 || WouldBlock(posixError))
            return; // the write notifier stays on
        SendFailed(attemptId, posixError);
        return;
    }
    if (attempt_->writer)
        attempt_->writer->setEnabled(false);
    Fire(OnWrite);
}

void TClientSocket::SendFailed(quint64 attemptId, int posixError)
{
    const int code = ReportError(TErrorEvent::eeSend, socket_error::FromErrno(posixError));
    Disconnect(attemptId);
    if (code != 0)
        throw WindowsSocketError(code, "send");
}

void TClientSocket::ReceiveTaken()
{
    if (!attempt_)
        return;
    attempt_->readTaken = true;
    if (attempt_->reader && !attempt_->closed && socket_->connected_)
        attempt_->reader->setEnabled(true);
}

void TClientSocket::WantWrite()
{
    if (attempt_ && attempt_->writer)
        attempt_->writer->setEnabled(true);
}

void TClientSocket::Disconnect(quint64 attemptId)
{
    if (!IsCurrent(attemptId) || attempt_->disconnecting)
        return;
    if (attempt_->lookupRequest >= 0) {
        QHostInfo::abortHostLookup(attempt_->lookupRequest);
        attempt_->lookupRequest = -1;
    }
    attempt_->lookup = Attempt::Lookup::Idle;
    attempt_->disconnecting = true;
    active_ = false;
    try {
        Fire(OnDisconnect);
    } catch (...) {
        Release(attemptId);
        throw;
    }
    Release(attemptId);
}

void TClientSocket::Release(quint64 attemptId)
{
    if (!IsCurrent(attemptId))
        return;
    const int handle = socket_->handle_;
    // The notifiers go before the endpoint they watch.
    attempt_.reset();
    socket_->Forget();
    if (handle >= 0 && ::close(handle) != 0 && errno != EINTR)
        throw WindowsSocketError(socket_error::FromErrno(errno), "closesocket");
}
