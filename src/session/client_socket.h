#pragma once

// The client socket: one IPv4 TCP stream endpoint with host lookup,
// non-blocking connect and notifications delivered on the thread that owns it.
// Nothing here blocks that thread. Failures carry the Windows Sockets error
// numbers that the log shows, whatever the platform says (socket_errors.h).

#include <QByteArray>
#include <QObject>

#include <chrono>
#include <exception>
#include <functional>
#include <limits>
#include <memory>

class QHostInfo;

class ClientSocket : public QObject
{
    Q_OBJECT

public:
    explicit ClientSocket(QObject* parent = nullptr);
    // Closes an open connection without onDisconnect.
    ~ClientSocket() override;

    // True from the connect's completion until the disconnect.
    bool isActive() const { return active_; }
    // True starts an attempt at host and port, when inactive: the host is
    // looked up, then connected to. False closes an established connection,
    // running onDisconnect before it returns; it does nothing while an attempt
    // is still looking up or connecting.
    void setActive(bool value);
    void close() { setActive(false); }

    // Changing these while active raises SocketError "Can't change value while
    // socket is active"; setting the value they already have does nothing.
    const QByteArray& host() const { return host_; }
    void setHost(const QByteArray& value); // a name: its letter case does not matter
    int port() const { return port_; }
    void setPort(int value); // only the low 16 bits are used

    // How long a connect may take before it fails as timed out (error 10060).
    // A host with several addresses tries them in turn within this time.
    void setConnectTimeout(std::chrono::milliseconds timeout) { connectTimeout_ = timeout; }

    // Looks a host name up; by default the system's resolver, asked without
    // blocking. A test gives the addresses itself.
    using NameLookup = std::function<QHostInfo(const QByteArray& host)>;
    void setNameLookup(NameLookup lookup) { nameLookup_ = std::move(lookup); }

    // The bytes that have arrived and not yet been read, at most `maxBytes` of
    // them, as one text; empty when nothing is pending or the socket is not
    // connected. What is left is reported by a new onRead.
    QByteArray readAvailable(qsizetype maxBytes = std::numeric_limits<int>::max());

    // Sends `text` with one send and returns what that send took: the number of
    // bytes, -1 when the endpoint would block, 0 when not connected. Whatever the
    // endpoint did not take is kept and sent, in order, as soon as it can take data.
    int write(const QByteArray& text);

    // The bytes written but not yet taken by the endpoint.
    qsizetype pendingWriteSize() const { return pendingWrite_.size(); }

    // The notifications. The address is known and the connect is about to start:
    std::function<void()> onConnecting;
    // The connection is established; isActive() is already true:
    std::function<void()> onConnected;
    // The endpoint is about to close, by us, by the peer or after a failure;
    // isActive() is already false:
    std::function<void()> onDisconnect;
    // Data has arrived since the last read:
    std::function<void()> onRead;
    // A failure, with its error number. A handler that sets the number to 0
    // takes care of it; a number left as it is raises SocketError.
    std::function<void(int& errorCode)> onError;
    // Receives an error raised while a notification is handled, so that no
    // exception ever unwinds into the event loop.
    std::function<void(const std::exception&)> onException;

private Q_SLOTS:
    void hostLookedUp(const QHostInfo& info);

private:
    // One attempt: the endpoint from its creation until it is released, with its
    // lookup, notifiers and connect timer. Its id tells late events apart.
    struct Attempt;

    bool isCurrent(quint64 attemptId) const;
    void startAttempt();
    void lookupFinished(quint64 attemptId, const QHostInfo& info);
    void lookupFailed(quint64 attemptId, int code);
    void connectToNextAddress(quint64 attemptId);
    bool tryNextAddress(quint64 attemptId);
    void connectFinished(quint64 attemptId, int posixError);
    void readReady(quint64 attemptId);
    void writeReady(quint64 attemptId);
    void flushPending(quint64 attemptId);
    void sendFailed(quint64 attemptId, int posixError);
    void wantWrite();
    void disconnectAttempt(quint64 attemptId);
    void release(quint64 attemptId);

    void fire(const std::function<void()>& event);
    int reportError(int errorCode);
    void guarded(const std::function<void()>& step);
    quint64 currentAttemptId() const;

    bool active_ = false;
    QByteArray host_;
    int port_ = 0;
    std::chrono::milliseconds connectTimeout_{21000};
    NameLookup nameLookup_;
    std::unique_ptr<Attempt> attempt_;
    quint64 lastAttemptId_ = 0;

    // The endpoint of the current attempt.
    int handle_ = -1;
    bool connected_ = false;
    QByteArray pendingWrite_;
    // The peer's IPv4 address and port, both in network byte order.
    quint32 peerAddress_ = 0;
    quint16 peerPort_ = 0;
};
