// The client socket against loopback listeners: the order of its events, its
// failures and their numbers, and that no written byte is lost.

#include "core/errors.h"
#include "session/client_socket.h"
#include "support/printers.h"
#include "support/wait.h"

#include <QThread>

#include <algorithm>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
using Events = std::vector<std::string>;

namespace {

bool waitFor(int fd, short events, std::chrono::milliseconds timeout)
{
    pollfd p{fd, events, 0};
    return ::poll(&p, 1, static_cast<int>(timeout.count())) == 1;
}

// A raw listener on 127.0.0.1, so that a test decides when to accept, read and close.
class Listener
{
public:
    explicit Listener(int backlog = 16, int receiveBuffer = 0)
    {
        fd_ = own(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (receiveBuffer > 0)
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        address_.sin_family = AF_INET;
        address_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address_;
        ok_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address_), length) == 0 && ::listen(fd_, backlog) == 0
            && ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address_), &length) == 0;
    }
    ~Listener()
    {
        for (const int fd : owned_)
            ::close(fd);
    }

    bool ok() const { return ok_; }
    quint16 port() const { return ntohs(address_.sin_port); }
    void stopListening() { close(fd_); }

    // The next connection, or -1 when none arrives in time.
    int accept(std::chrono::milliseconds timeout = 2000ms)
    {
        return waitFor(fd_, POLLIN, timeout) ? own(::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC)) : -1;
    }

    // Ends an accepted connection with a reset instead of an orderly close.
    void reset(int fd)
    {
        const linger abort{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        close(fd);
    }

    // Connects until the accept queue is full, so that the next connect hangs.
    bool fillBacklog()
    {
        for (int i = 0; i < 16; ++i) {
            const int fd = own(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address_), sizeof address_);
            if (!waitFor(fd, POLLOUT, 100ms))
                return true;
        }
        return false;
    }

private:
    int own(int fd)
    {
        if (fd >= 0)
            owned_.push_back(fd);
        return fd;
    }
    void close(int fd)
    {
        owned_.erase(std::remove(owned_.begin(), owned_.end(), fd), owned_.end());
        ::close(fd);
    }

    int fd_ = -1;
    bool ok_ = false;
    sockaddr_in address_{};
    std::vector<int> owned_;
};

void sendAll(int fd, const QByteArray& bytes)
{
    ASSERT_EQ(::send(fd, bytes.constData(), bytes.size(), MSG_NOSIGNAL), bytes.size());
}

QByteArray receiveNow(int fd)
{
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    return buffer.left(std::max<ssize_t>(::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT), 0));
}

bool peerSeesEnd(int fd)
{
    char byte;
    return waitFor(fd, POLLIN, 2000ms) && ::recv(fd, &byte, 1, MSG_DONTWAIT) == 0;
}

// Writes down every event with the isActive() value its handler saw.
struct Recorder
{
    ClientSocket& client;
    Events events;
    std::vector<std::string> exceptions;
    QByteArray received;
    bool clearErrors = true;
    std::function<void()> afterRead;

    explicit Recorder(ClientSocket& socket)
        : client(socket)
    {
        client.onConnecting = [this] { note("Connecting"); };
        client.onDisconnect = [this] { note("Disconnect"); };
        client.onRead = [this] {
            note("Read");
            received += client.readAvailable();
            if (afterRead)
                afterRead();
        };
        client.onError = [this](int& code) {
            note("Error " + std::to_string(code));
            if (clearErrors)
                code = 0;
        };
        client.onException = [this](const std::exception& e) { exceptions.push_back(e.what()); };
    }
    void note(const std::string& name) { events.push_back(name + (client.isActive() ? "/1" : "/0")); }
    bool saw(const std::string& event) const { return std::find(events.begin(), events.end(), event) != events.end(); }
};

const Events Established{"Connecting/0"};

// Connects to the listener and returns the server's end.
int establish(ClientSocket& client, Listener& server, const QByteArray& host = "127.0.0.1")
{
    client.setHost(host);
    client.setPort(server.port());
    client.setActive(true);
    return WaitUntil([&] { return client.isActive(); }) ? server.accept() : -1;
}

} // namespace

TEST(ClientSocket, EventOrderOfAConnectionThroughToThePeersClose)
{
    for (const QByteArray host : {"localhost", "127.0.0.1"}) {
        SCOPED_TRACE(host.toStdString());
        Listener server;
        ClientSocket client;
        Recorder rec(client);
        client.setHost(host);
        client.setPort(server.port());
        client.setActive(true);
        EXPECT_EQ(rec.events, Events()) << "even a dotted address is taken up later, like a lookup";
        EXPECT_FALSE(client.isActive());

        ASSERT_TRUE(WaitUntil([&] { return client.isActive(); }));
        const int peer = server.accept();
        ASSERT_GE(peer, 0);
        EXPECT_EQ(rec.events, Established);
        EXPECT_EQ(client.readAvailable(), QByteArray());

        // Two writes of the peer that wait together are read as one text.
        sendAll(peer, "Digest seed: ");
        sendAll(peer, QByteArray("abc\n\x04", 5));
        QThread::msleep(50);
        ASSERT_TRUE(WaitUntil([&] { return rec.saw("Read/1"); }));
        EXPECT_EQ(rec.received, QByteArray("Digest seed: abc\n\x04", 18));

        EXPECT_EQ(client.write("\x02login x\n"), 9);
        EXPECT_TRUE(WaitUntil([&] { return receiveNow(peer) == "\x02login x\n"; }));

        ::shutdown(peer, SHUT_RDWR);
        ASSERT_TRUE(WaitUntil([&] { return rec.saw("Disconnect/0"); }));
        EXPECT_EQ(rec.events, (Events{"Connecting/0", "Read/1", "Disconnect/0"}));
        EXPECT_FALSE(client.isActive());
        EXPECT_EQ(client.write("late"), 0);
    }
}

TEST(ClientSocket, FailedAttemptsReportTheirNumbers)
{
    enum class Kind { Refused, TimedOut, Unresolvable, NoAddress };
    struct Case
    {
        Kind kind;
        bool clearCode;
        Events events;
        std::vector<std::string> raised;
    };
    const Events refused{"Connecting/0", "Error 10061/0"};
    const Events unresolved{"Error 11001/0", "Disconnect/0"};
    const Events noAddress{"Error 1110/0", "Disconnect/0"};
    const Case cases[] = {
        {Kind::Refused, true, refused, {}},
        {Kind::Refused, false, refused, {"Asynchronous socket error 10061"}},
        {Kind::TimedOut, true, {"Connecting/0", "Error 10060/0"}, {}},
        {Kind::Unresolvable, true, unresolved, {}},
        {Kind::Unresolvable,
         false,
         unresolved,
         {"Windows socket error: Host not found (11001), on API 'ASync Lookup'"}},
        {Kind::NoAddress, true, noAddress, {}},
        {Kind::NoAddress, false, noAddress, {"No address specified"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << static_cast<int>(c.kind) << " clear " << c.clearCode);
        Listener server(0);
        ClientSocket client;
        Recorder rec(client);
        rec.clearErrors = c.clearCode;
        client.setHost(c.kind == Kind::Unresolvable    ? "no-such-host.ravelin.invalid"
                           : c.kind == Kind::NoAddress ? ""
                                                       : "127.0.0.1");
        client.setPort(server.port());
        client.setConnectTimeout(200ms);
        if (c.kind == Kind::Refused)
            server.stopListening();
        if (c.kind == Kind::TimedOut) {
            ASSERT_TRUE(server.fillBacklog());
        }

        for (int round = 0; round < 2; ++round) { // the next activation starts afresh
            rec.events.clear();
            rec.exceptions.clear();
            try {
                client.setActive(true);
            } catch (const SocketError& e) {
                rec.exceptions.push_back(e.what());
            }
            EXPECT_TRUE(WaitUntil([&] { return rec.events.size() >= c.events.size(); }));
            SpinEventLoop(50ms);
            EXPECT_EQ(rec.events, c.events);
            EXPECT_EQ(rec.exceptions, c.raised);
            EXPECT_FALSE(client.isActive());
            EXPECT_EQ(client.write("x"), 0) << "nothing is connected";
        }
    }
}

TEST(ClientSocket, PortUsesOnlyItsLow16Bits)
{
    Listener server;
    ASSERT_TRUE(server.ok());
    for (const int port : {server.port() + 0x10000, server.port() + 0x7FFF0000, server.port() - 0x10000}) {
        SCOPED_TRACE(port);
        ClientSocket client;
        client.setHost("127.0.0.1");
        client.setPort(port);
        client.setActive(true);
        EXPECT_TRUE(WaitUntil([&] { return client.isActive(); }));
        EXPECT_GE(server.accept(), 0);
        EXPECT_EQ(client.port(), port);
    }
}

TEST(ClientSocket, PropertiesCannotChangeWhileActive)
{
    Listener server;
    ClientSocket client;
    Recorder rec(client);
    ASSERT_GE(establish(client, server, "LocalHost"), 0);

    struct Case
    {
        const char* what;
        std::function<void()> change;
        bool raises;
    };
    const Case cases[] = {
        {"host", [&] { client.setHost("127.0.0.1"); }, true},
        {"port", [&] { client.setPort(server.port() + 1); }, true},
        {"same host in other case", [&] { client.setHost("LOCALHOST"); }, false},
        {"same port", [&] { client.setPort(server.port()); }, false},
    };
    for (const Case& c : cases) {
        std::string raised;
        try {
            c.change();
        } catch (const SocketError& e) {
            raised = e.what();
        }
        EXPECT_EQ(raised, c.raises ? "Can't change value while socket is active" : "") << c.what;
    }
    EXPECT_EQ(client.host(), "LocalHost");
    client.close();
    EXPECT_EQ(rec.events.back(), "Disconnect/0") << "onDisconnect runs inside the setter";
    EXPECT_NO_THROW(client.setPort(1));
}

TEST(ClientSocket, ASecondActivationAbandonsThePendingAttempt)
{
    struct Case
    {
        bool pendingConnect;
        Events events;
    };
    const Case cases[] = {
        {false, {"Connecting/0"}},
        {true, {"Connecting/0", "Connecting/0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pendingConnect ? "while connecting" : "while looking up");
        Listener first(0);
        Listener second;
        ClientSocket client;
        Recorder rec(client);
        client.setConnectTimeout(200ms);
        client.setPort(first.port());
        if (c.pendingConnect) {
            ASSERT_TRUE(first.fillBacklog());
        }
        client.setHost(c.pendingConnect ? "127.0.0.1" : "localhost");
        client.setActive(true);
        if (c.pendingConnect) {
            ASSERT_TRUE(WaitUntil([&] { return rec.saw("Connecting/0"); }));
        }

        ASSERT_GE(establish(client, second), 0);
        SpinEventLoop(400ms); // past the first attempt's time-out
        EXPECT_EQ(rec.events, c.events);
        EXPECT_TRUE(client.isActive());
        EXPECT_EQ(second.accept(50ms), -1) << "one connection only";
        if (!c.pendingConnect) {
            EXPECT_EQ(first.accept(50ms), -1);
        }
    }
}

TEST(ClientSocket, KeepsWhatTheEndpointCannotTakeAndSendsItInOrder)
{
    Listener server(16, 4096);
    ClientSocket client;
    Recorder rec(client);
    const int peer = establish(client, server);
    ASSERT_GE(peer, 0);

    // The peer reads nothing while 8 MB of commands go out.
    QByteArray expected;
    int notTakenWhole = 0;
    for (int i = 0; i < 4096; ++i) {
        const QByteArray command = ("\x02exec say " + QByteArray::number(i)).leftJustified(2047, '.') + '\n';
        expected += command;
        if (client.write(command) != command.size())
            ++notTakenWhole;
    }
    EXPECT_GT(notTakenWhole, 0);
    EXPECT_GT(client.pendingWriteSize(), 0);

    QByteArray got;
    EXPECT_TRUE(WaitUntil([&] {
        got += receiveNow(peer);
        return got.size() >= expected.size();
    }));
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected) << "every byte once, in order";
    EXPECT_EQ(client.pendingWriteSize(), 0);

    // A disconnect drops whatever is still kept.
    for (int i = 0; i < 64 && client.pendingWriteSize() == 0; ++i)
        client.write(expected.left(1 << 20));
    ASSERT_GT(client.pendingWriteSize(), 0);
    client.close();
    EXPECT_EQ(client.pendingWriteSize(), 0);
}

TEST(ClientSocket, HandlersMayCloseInsideOnRead)
{
    Listener server;
    ClientSocket client;
    Recorder rec(client);
    rec.afterRead = [&] { client.setActive(false); };
    const int peer = establish(client, server);
    ASSERT_GE(peer, 0);
    sendAll(peer, "Authentication failed\n\x04");
    ASSERT_TRUE(WaitUntil([&] { return rec.saw("Disconnect/0"); }));
    sendAll(peer, "more");
    SpinEventLoop(100ms);
    EXPECT_EQ(rec.events, (Events{"Connecting/0", "Read/1", "Disconnect/0"}));
    EXPECT_EQ(rec.received, "Authentication failed\n\x04");
    EXPECT_TRUE(peerSeesEnd(peer));
}

TEST(ClientSocket, AResetIsReportedOnceAndEndsTheConnection)
{
    Listener server;
    ClientSocket client;
    Recorder rec(client);
    const int peer = establish(client, server);
    ASSERT_GE(peer, 0);
    server.reset(peer);

    ASSERT_TRUE(WaitUntil([&] { return rec.events.size() > Established.size() + 1; }));
    SpinEventLoop(100ms);
    EXPECT_EQ(rec.events, (Events{"Connecting/0", "Error 10054/1", "Disconnect/0"}))
        << "reported once, then the connection ends, though the error was taken care of";
    EXPECT_FALSE(client.isActive());
    EXPECT_EQ(client.write("x"), 0) << "nothing is sent on an ended connection";
}

TEST(ClientSocket, DestroyingClosesWithoutOnDisconnect)
{
    Listener server;
    auto client = std::make_unique<ClientSocket>();
    Recorder rec(*client);
    const int peer = establish(*client, server);
    ASSERT_GE(peer, 0);
    client.reset();
    EXPECT_EQ(rec.events, Established);
    EXPECT_TRUE(peerSeesEnd(peer));
}
