#pragma once

// The client socket component: one IPv4 TCP stream endpoint with host lookup,
// non-blocking connect and notifications delivered on the thread that owns it.
// Nothing here blocks that thread.

#include <QByteArray>
#include <QObject>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>

class QSocketNotifier;
class QTimer;
class QHostInfo;

enum class TClientType { ctNonBlocking, ctBlocking };

enum class TErrorEvent { eeGeneral, eeSend, eeReceive, eeConnect, eeDisconnect, eeAccept, eeLookup };

class TClientSocket;
class TClientWinSocket;

using TSocketNotifyEvent = std::function<void(TClientSocket& sender, TClientWinSocket& socket)>;
using TSocketErrorEvent =
    std::function<void(TClientSocket& sender, TClientWinSocket& socket, TErrorEvent errorEvent, int& errorCode)>;

// The connection object: the endpoint and the two text operations on it.
class TClientWinSocket
{
public:
    explicit TClientWinSocket(TClientSocket& owner);
    ~TClientWinSocket();
    TClientWinSocket(const TClientWinSocket&) = delete;
    TClientWinSocket& operator=(const TClientWinSocket&) = delete;

    // Every byte that has arrived and not yet been read, as one text; empty when
    // nothing is pending or the object is not connected.
    QByteArray ReadAvailableText();

    // Sends `text` with one send and returns what that send took: the number of
    // bytes, -1 when the endpoint would block, 0 when not connected. Whatever the
    // endpoint did not take is kept and sent, in order, as soon as it can take data.
    int WriteText(const QByteArray& text);

    bool Connected() const { return connected_; }

    // The bytes written but not yet taken by the endpoint.
    qsizetype PendingWriteSize() const { return pendingWrite_.size(); }

private:
    friend class TClientSocket;

    // Resets the endpoint's state once it is closed.
    void Forget();

    TClientSocket& owner_;
    int handle_ = -1;
    bool connected_ = false;
    QByteArray pendingWrite_;
    // The peer's IPv4 address and port, both in network byte order.
    quint32 peerAddress_ = 0;
    quint16 peerPort_ = 0;
};

class TClientSocket : public QObject
{
    Q_OBJECT

public:
    explicit TClientSocket(QObject* parent = nullptr);
    ~TClientSocket() override;

    // True from the connect's completion until the disconnect.
    bool Active() const { return active_; }
    // True starts a connection attempt (when inactive and not connected); false
    // closes an established connection, running OnDisconnect before it returns.
    void SetActive(bool value);
    void Close() { SetActive(false); }

    // Changing these while Active raises ESocketError "Can't change value while
    // socket is active"; setting the value they already have does nothing.
    const QByteArray& Host() const { return host_; }
    void SetHost(const QByteArray& value);
    const QByteArray& Address() const { return address_; }
    void SetAddress(const QByteArray& value);
    const QByteArray& Service() const { return service_; }
    void SetService(const QByteArray& value);
    int Port() const { return port_; }
    void SetPort(int value); // only the low 16 bits are used
    TClientType ClientType() const { return clientType_; }
    void SetClientType(TClientType value);

    TClientWinSocket& Socket() { return *socket_; }

    TSocketNotifyEvent OnLookup;
    TSocketNotifyEvent OnConnecting;
    TSocketNotifyEvent OnConnect;
    TSocketNotifyEvent OnDisconnect;
    TSocketNotifyEvent OnRead;
    TSocketNotifyEvent OnWrite;
    TSocketErrorEvent OnError;

    // Receives an error raised while a notification is handled, so that no
    // exception ever unwinds into the event loop.
    std::function<void(const std::exception&)> OnException;

    // How long a connect may take before it fails as timed out (error 10060).
    void SetConnectTimeout(std::chrono::milliseconds timeout) { connectTimeout_ = timeout; }

private Q_SLOTS:
    void HostLookedUp(const QHostInfo& info);

private:
    friend class TClientWinSocket;
    // One attempt: the endpoint from its creation until it is released, with its
    // lookup, notifiers and connect timer. Its id tells late events apart.
    struct Attempt;

    // Host, Address and Service: compared without regard to case, refused while active.
    void ChangeText(QByteArray& property, const QByteArray& value);
    bool IsCurrent(quint64 attemptId) const;
    void StartAttempt();
    void LookupFinished(quint64 attemptId, const QHostInfo& info);
    void LookupFailed(quint64 attemptId, int code);
    void ResolveService(quint64 attemptId);
    void OpenConnection(quint64 attemptId);
    void ConnectFinished(quint64 attemptId, int posixError);
    void ReadReady(quint64 attemptId);
    void WriteReady(quint64 attemptId);
    void FlushPending(quint64 attemptId);
    void SendFailed(quint64 attemptId, int posixError);
    void ReceiveTaken();
    void WantWrite();
    void Disconnect(quint64 attemptId);
    void Release(quint64 attemptId);

    void Fire(const TSocketNotifyEvent& event);
    int ReportError(TErrorEvent errorEvent, int errorCode);
    void Guarded(const std::function<void()>& step);

    bool active_ = false;
    QByteArray host_;
    QByteArray address_;
    QByteArray service_;
    int port_ = 0;
    TClientType clientType_ = TClientType::ctNonBlocking;
    std::chrono::milliseconds connectTimeout_{21000};
    std::unique_ptr<TClientWinSocket> socket_;
    std::unique_ptr<Attempt> attempt_;
    quint64 lastAttemptId_ = 0;
};
