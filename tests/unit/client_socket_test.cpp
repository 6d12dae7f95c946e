// The client socket component against loopback listeners: the order of its
// events, its failures and their numbers, and that no written byte is lost.

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

bool WaitFor(int fd, short events, std::chrono::milliseconds timeout)
{
    pollfd p{fd, events, 0};
    return ::poll(&p, 1, static_cast<int>(timeout.count())) == 1;
}

// A raw listener on 127.0.0.1, so that a test decides when to accept, read and close.
class Listener
{
public:
    explicit Listener(int backlog = 16, quint16 port = 0, int receiveBuffer = 0)
    {
        fd_ = Own(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (receiveBuffer > 0)
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        address_.sin_family = AF_INET;
        address_.sin_port = htons(port);
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

    bool Ok() const { return ok_; }
    quint16 Port() const { return ntohs(address_.sin_port); }
    void StopListening() { Close(fd_); }

    // The next connection, or -1 when none arrives in time.
    int Accept(std::chrono::milliseconds timeout = 2000ms)
    {
        return WaitFor(fd_, POLLIN, timeout) ? Own(::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC)) : -1;
    }

    // Ends an accepted connection with a reset instead of an orderly close.
    void Reset(int fd)
    {
        const linger abort{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        Close(fd);
    }

    // Connects until the accept queue is full, so that the next connect hangs.
    bool FillBacklog()
    {
        for (int i = 0; i < 16; ++i) {
            const int fd = Own(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address_), sizeof address_);
            if (!WaitFor(fd, POLLOUT, 100ms))
                return true;
        }
        return false;
    }

private:
    int Own(int fd)
    {
        if (fd >= 0)
            owned_.push_back(fd);
        return fd;
    }
    void Close(int fd)
    {
        owned_.erase(std::remove(owned_.begin(), owned_.end(), fd), owned_.end());
        ::close(fd);
    }

    int fd_ = -1;
    bool ok_ = false;
    sockaddr_in address_{};
    std::vector<int> owned_;
};

void SendAll(int fd, const QByteArray& bytes)
{
    ASSERT_EQ(::send(fd, bytes.constData(), bytes.size(), MSG_NOSIGNAL), bytes.size());
}

QByteArray ReceiveNow(int fd)
{
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    return buffer.left(std::max<ssize_t>(::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT), 0));
}

bool PeerSeesEnd(int fd)
{
    char byte;
    return WaitFor(fd, POLLIN, 2000ms) && ::recv(fd, &byte, 1, MSG_DONTWAIT) == 0;
}

// Writes down every event with the Active value its handler saw.
struct Recorder
{
    Events events;
    std::vector<std::string> exceptions;
    QByteArray received;
    bool clearErrors = true;
    int writes = 0;
    std::function<void(TClientSocket&)> afterRead;

    explicit Recorder(TClientSocket& client)
    {
        const auto note = [this](const char* name) {
            return [this, name](TClientSocket& sender, TClientWinSocket&) { Note(name, sender); };
        };
        client.OnLookup = note("Lookup");
        client.OnConnecting = note("Connecting");
        client.OnConnect = note("Connect");
        client.OnDisconnect = note("Disconnect");
        client.OnWrite = [this](TClientSocket& sender, TClientWinSocket&) {
            Note("Write", sender);
            ++writes;
        };
        client.OnRead = [this](TClientSocket& sender, TClientWinSocket& socket) {
            Note("Read", sender);
            received += socket.ReadAvailableText();
            if (afterRead)
                afterRead(sender);
        };
        client.OnError = [this](TClientSocket& sender, TClientWinSocket&, TErrorEvent e, int& code) {
            static const char* const names[] = {"General",    "Send",   "Receive", "Connect",
                                                "Disconnect", "Accept", "Lookup"};
            Note(std::string("Error ee") + names[static_cast<int>(e)] + " " + std::to_string(code), sender);
            if (clearErrors)
                code = 0;
        };
        client.OnException = [this](const std::exception& e) { exceptions.push_back(e.what()); };
    }
    void Note(const std::string& name, TClientSocket& sender)
    {
        events.push_back(name + (sender.Active() ? "/1" : "/0"));
    }
    bool Saw(const std::string& event) const { return std::find(events.begin(), events.end(), event) != events.end(); }
};

const Events Established{"Lookup/0", "Connecting/0", "Connect/1", "Write/1"};

// Connects to the listener and returns the server's end.
int Establish(TClientSocket& client, Listener& server, const QByteArray& host = "127.0.0.1")
{
    client.SetHost(host);
    client.SetPort(server.Port());
    client.SetActive(true);
    return WaitUntil([&] { return client.Active(); }) ? server.Accept() : -1;
}

} // namespace

TEST(ClientSocket, EventOrderOfAConnectionThroughToThePeersClose)
{
    struct Case
    {
        QByteArray host, address;
        Events afterSetter;
    };
    const Case cases[] = {
        {"localhost", "", {"Lookup/0"}},
        {"127.0.0.1", "", {"Lookup/0"}},
        {"", "127.0.0.1", {"Lookup/0", "Connecting/0"}}, // no lookup to wait for
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.host + c.address).toStdString());
        Listener server;
        TClientSocket client;
        Recorder rec(client);
        client.SetHost(c.host);
        client.SetAddress(c.address);
        client.SetPort(server.Port());
        client.SetActive(true);
        EXPECT_EQ(rec.events, c.afterSetter);
        EXPECT_FALSE(client.Active());

        ASSERT_TRUE(WaitUntil([&] { return rec.writes == 1; }));
        const int peer = server.Accept();
        ASSERT_GE(peer, 0);
        EXPECT_EQ(rec.events, Established);
        EXPECT_EQ(client.Socket().ReadAvailableText(), QByteArray());

        // Two writes of the peer that wait together are read as one text.
        SendAll(peer, "Digest seed: ");
        SendAll(peer, QByteArray("abc\n\x04", 5));
        QThread::msleep(50);
        ASSERT_TRUE(WaitUntil([&] { return rec.Saw("Read/1"); }));
        EXPECT_EQ(rec.received, QByteArray("Digest seed: abc\n\x04", 18));

        EXPECT_EQ(client.Socket().WriteText("\x02login x\n"), 9);
        EXPECT_TRUE(WaitUntil([&] { return ReceiveNow(peer) == "\x02login x\n"; }));

        ::shutdown(peer, SHUT_RDWR);
        ASSERT_TRUE(WaitUntil([&] { return rec.Saw("Disconnect/0"); }));
        EXPECT_EQ(rec.events, (Events{"Lookup/0", "Connecting/0", "Connect/1", "Write/1", "Read/1", "Disconnect/0"}));
        EXPECT_FALSE(client.Active());
        EXPECT_EQ(client.Socket().WriteText("late"), 0);
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
    const Events refused{"Lookup/0", "Connecting/0", "Error eeConnect 10061/0"};
    const Events unresolved{"Lookup/0", "Error eeLookup 11001/0", "Disconnect/0"};
    const Events noAddress{"Lookup/0", "Error eeLookup 1110/0", "Disconnect/0"};
    const Case cases[] = {
        {Kind::Refused, true, refused, {}},
        {Kind::Refused, false, refused, {"Asynchronous socket error 10061"}},
        {Kind::TimedOut, true, {"Lookup/0", "Connecting/0", "Error eeConnect 10060/0"}, {}},
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
        TClientSocket client;
        Recorder rec(client);
        rec.clearErrors = c.clearCode;
        client.SetHost(c.kind == Kind::Unresolvable    ? "no-such-host.ravelin.invalid"
                           : c.kind == Kind::NoAddress ? ""
                                                       : "127.0.0.1");
        client.SetPort(server.Port());
        client.SetConnectTimeout(200ms);
        if (c.kind == Kind::Refused)
            server.StopListening();
        if (c.kind == Kind::TimedOut) {
            ASSERT_TRUE(server.FillBacklog());
        }

        for (int round = 0; round < 2; ++round) { // the next activation starts afresh
            rec.events.clear();
            rec.exceptions.clear();
            try {
                client.SetActive(true);
            } catch (const ESocketError& e) {
                rec.exceptions.push_back(e.what());
            }
            EXPECT_TRUE(WaitUntil([&] { return rec.events.size() >= c.events.size(); }, 2000ms));
            SpinEventLoop(50ms);
            EXPECT_EQ(rec.events, c.events);
            EXPECT_EQ(rec.exceptions, c.raised);
            EXPECT_FALSE(client.Active());
            EXPECT_FALSE(client.Socket().Connected());
        }
    }
}

TEST(ClientSocket, PortUsesOnlyItsLow16Bits)
{
    Listener server(16, 70000 & 0xFFFF);
    if (!server.Ok())
        GTEST_SKIP() << "port " << (70000 & 0xFFFF) << " is in use on this machine";
    TClientSocket client;
    client.SetHost("127.0.0.1");
    client.SetPort(70000);
    client.SetActive(true);
    EXPECT_TRUE(WaitUntil([&] { return client.Active(); }));
    EXPECT_GE(server.Accept(), 0);
    EXPECT_EQ(client.Port(), 70000);
}

TEST(ClientSocket, PropertiesCannotChangeWhileActive)
{
    Listener server;
    TClientSocket client;
    Recorder rec(client);
    ASSERT_GE(Establish(client, server, "LocalHost"), 0);

    struct Case
    {
        const char* what;
        std::function<void()> change;
        bool raises;
    };
    const Case cases[] = {
        {"host", [&] { client.SetHost("127.0.0.1"); }, true},
        {"address", [&] { client.SetAddress("127.0.0.1"); }, true},
        {"service", [&] { client.SetService("telnet"); }, true},
        {"port", [&] { client.SetPort(server.Port() + 1); }, true},
        {"client type", [&] { client.SetClientType(TClientType::ctBlocking); }, true},
        {"same host in other case", [&] { client.SetHost("LOCALHOST"); }, false},
        {"same port", [&] { client.SetPort(server.Port()); }, false},
        {"same address", [&] { client.SetAddress(""); }, false},
        {"same client type", [&] { client.SetClientType(TClientType::ctNonBlocking); }, false},
    };
    for (const Case& c : cases) {
        std::string raised;
        try {
            c.change();
        } catch (const ESocketError& e) {
            raised = e.what();
        }
        EXPECT_EQ(raised, c.raises ? "Can't change value while socket is active" : "") << c.what;
    }
    EXPECT_EQ(client.Host(), "LocalHost");
    client.Close();
    EXPECT_EQ(rec.events.back(), "Disconnect/0") << "OnDisconnect runs inside the setter";
    EXPECT_NO_THROW(client.SetPort(1));
}

TEST(ClientSocket, ASecondActivationAbandonsThePendingAttempt)
{
    struct Case
    {
        bool pendingConnect;
        Events events;
    };
    const Case cases[] = {
        {false, {"Lookup/0", "Lookup/0", "Connecting/0", "Connect/1", "Write/1"}},
        {true, {"Lookup/0", "Connecting/0", "Lookup/0", "Connecting/0", "Connect/1", "Write/1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pendingConnect ? "while connecting" : "while looking up");
        Listener first(0);
        Listener second;
        TClientSocket client;
        Recorder rec(client);
        client.SetConnectTimeout(200ms);
        client.SetPort(first.Port());
        if (c.pendingConnect) {
            ASSERT_TRUE(first.FillBacklog());
        }
        client.SetHost(c.pendingConnect ? "" : "localhost");
        client.SetAddress(c.pendingConnect ? "127.0.0.1" : "");
        client.SetActive(true);

        client.SetAddress("");
        ASSERT_GE(Establish(client, second), 0);
        SpinEventLoop(400ms); // past the first attempt's time-out
        EXPECT_EQ(rec.events, c.events);
        EXPECT_EQ(second.Accept(50ms), -1) << "one connection only";
        if (!c.pendingConnect) {
            EXPECT_EQ(first.Accept(50ms), -1);
        }
    }
}

TEST(ClientSocket, KeepsWhatTheEndpointCannotTakeAndSendsItInOrder)
{
    Listener server(16, 0, 4096);
    TClientSocket client;
    Recorder rec(client);
    const int peer = Establish(client, server);
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(WaitUntil([&] { return rec.writes == 1; }));

    // The peer reads nothing while 8 MB of commands go out.
    QByteArray expected;
    int notTakenWhole = 0;
    for (int i = 0; i < 4096; ++i) {
        const QByteArray command = ("\x02exec say " + QByteArray::number(i)).leftJustified(2047, '.') + '\n';
        expected += command;
        if (client.Socket().WriteText(command) != command.size())
            ++notTakenWhole;
    }
    EXPECT_GT(notTakenWhole, 0);
    EXPECT_GT(client.Socket().PendingWriteSize(), 0);
    EXPECT_EQ(rec.writes, 1);

    QByteArray got;
    EXPECT_TRUE(WaitUntil([&] {
        got += ReceiveNow(peer);
        return got.size() >= expected.size();
    }));
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected) << "every byte once, in order";
    EXPECT_EQ(client.Socket().PendingWriteSize(), 0);
    EXPECT_EQ(rec.writes, 2) << "OnWrite once the kept bytes are out";

    // A disconnect drops whatever is still kept.
    for (int i = 0; i < 64 && client.Socket().PendingWriteSize() == 0; ++i)
        client.Socket().WriteText(expected.left(1 << 20));
    ASSERT_GT(client.Socket().PendingWriteSize(), 0);
    client.Close();
    EXPECT_EQ(client.Socket().PendingWriteSize(), 0);
}

TEST(ClientSocket, HandlersMayCloseInsideOnRead)
{
    Listener server;
    TClientSocket client;
    Recorder rec(client);
    rec.afterRead = [](TClientSocket& sender) { sender.SetActive(false); };
    const int peer = Establish(client, server);
    ASSERT_GE(peer, 0);
    SendAll(peer, "Authentication failed\n\x04");
    ASSERT_TRUE(WaitUntil([&] { return rec.Saw("Disconnect/0"); }));
    SendAll(peer, "more");
    SpinEventLoop(100ms);
    EXPECT_EQ(rec.events, (Events{"Lookup/0", "Connecting/0", "Connect/1", "Write/1", "Read/1", "Disconnect/0"}));
    EXPECT_EQ(rec.received, "Authentication failed\n\x04");
    EXPECT_TRUE(PeerSeesEnd(peer));
}

TEST(ClientSocket, AResetIsReportedOnceAndTheNextWriteDisconnects)
{
    Listener server;
    TClientSocket client;
    Recorder rec(client);
    const int peer = Establish(client, server);
    ASSERT_GE(peer, 0);
    server.Reset(peer);

    ASSERT_TRUE(WaitUntil([&] { return rec.events.size() > 4; }));
    SpinEventLoop(100ms);
    EXPECT_EQ(rec.events.size(), 5u) << "a dead endpoint must not be reported again and again";
    EXPECT_EQ(rec.events.back(), "Error eeDisconnect 10054/1") << "cleared, so the connection stays";
    EXPECT_TRUE(client.Active());

    EXPECT_EQ(client.Socket().WriteText("x"), -1);
    EXPECT_EQ(rec.events,
              (Events{"Lookup/0", "Connecting/0", "Connect/1", "Write/1", "Error eeDisconnect 10054/1",
                      "Error eeSend 10058/1", "Disconnect/0"}));
    EXPECT_FALSE(client.Active());
}

TEST(ClientSocket, DestroyingClosesWithoutOnDisconnect)
{
    Listener server;
    auto client = std::make_unique<TClientSocket>();
    Recorder rec(*client);
    const int peer = Establish(*client, server);
    ASSERT_GE(peer, 0);
    client.reset();
    EXPECT_EQ(rec.events, Established);
    EXPECT_TRUE(PeerSeesEnd(peer));
}

TEST(ClientSocket, BlockingModeConnectsInsideTheSetter)
{
    Listener server;
    TClientSocket client;
    Recorder rec(client);
    client.SetClientType(TClientType::ctBlocking);
    const int peer = Establish(client, server);
    ASSERT_GE(peer, 0);
    EXPECT_EQ(rec.events, (Events{"Lookup/0", "Connecting/0", "Connect/1"}));
    EXPECT_EQ(client.Socket().WriteText("ping"), 4);
    EXPECT_TRUE(WaitUntil([&] { return ReceiveNow(peer) == "ping"; }));
    SendAll(peer, "pong");
    EXPECT_TRUE(WaitUntil([&] { return client.Socket().ReadAvailableText() == "pong"; }));
    client.Close();
    EXPECT_EQ(rec.events.back(), "Disconnect/0");
}
