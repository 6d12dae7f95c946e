// The console session at the socket: a server's bytes, cut anywhere, sent
// through a real TCP connection on loopback into a ConsoleSession, with the
// event loop run until the session has taken them.
//
// Whatever the bytes and however they are cut, nothing reaches errorRaised,
// the lists end up holding what the reply reader gives for the same bytes read
// in memory (up to the point where a failed login closes the connection), each
// completed list is reported complete once, and the memory the process holds
// while the session works stays within a stated bound: the longest list line
// twice (the line being collected and a player entry's first line), the read
// slice twice, and a few times the bytes sent (the entries kept, and the keys
// they are compared by here).
//
// Input: as reply_stream.h reads it. Each read alone: every piece is sent
// only after the session took the one before, so that every piece is one read.

#include "fuzz_support.h"
#include "reply_stream.h"
#include "session/console_session.h"
#include "session/reply_reader.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHashFunctions>

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <dirent.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sanitizer/allocator_interface.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr char kLineFeed = '\n';
constexpr qsizetype kMaxLine = ReplyReader::kMaxLineLength;

using Lists = std::array<QList<QByteArray>, 3>;

qsizetype indexOf(ListKind list)
{
    return static_cast<qsizetype>(list);
}

// An entry as the lists are compared: its bytes, or for a long one its
// length and a hash, so that a 16 MiB entry is neither copied nor compared
// byte by byte. The hash takes the joined lines block by block, so a player
// entry hashes the same whether its two lines come apart or joined.
QByteArray entryKey(QByteArrayView first, QByteArrayView second = {})
{
    const qsizetype size = first.size() + second.size();
    if (size <= 256)
        return first.toByteArray() + second.toByteArray();
    constexpr qsizetype kBlock = 4096;
    char straddling[kBlock];
    size_t hash = 0;
    for (qsizetype at = 0; at < size; at += kBlock) {
        const qsizetype end = std::min(at + kBlock, size);
        QByteArrayView block;
        if (end <= first.size()) {
            block = first.sliced(at, end - at);
        } else if (at >= first.size()) {
            block = second.sliced(at - first.size(), end - at);
        } else {
            const QByteArrayView head = first.sliced(at);
            std::memcpy(straddling, head.data(), size_t(head.size()));
            std::memcpy(straddling + head.size(), second.data(), size_t(end - first.size()));
            block = QByteArrayView(straddling, end - at);
        }
        hash = qHash(block, hash);
    }
    return QByteArray::number(size) + " bytes, hash " + QByteArray::number(quint64(hash), 16);
}

// What the reader makes of the bytes in memory, read whole: the lists, and
// how many were completed. A failed login ends the connection there.
class ListSink : public ReplySink
{
public:
    ReplyReader* reader = nullptr;
    Lists lists;
    int listsEnded = 0;

    void log(const QByteArray&) override { }
    void answerGreeting(const QByteArray&) override { }
    void loginSucceeded() override { }
    void closeConnection() override { reader->endConnection(); }
    void clearList(ListKind list) override { lists[indexOf(list)].clear(); }
    void addEntry(ListKind list, QByteArrayView first, QByteArrayView second) override
    {
        lists[indexOf(list)].append(entryKey(first, second));
    }
    void replyText(QByteArrayView, bool) override { }
    void listEnded(ListKind) override { ++listsEnded; }
    void replyEnded() override { }
};

// The loopback listener the sessions connect to, made once.
struct Listener
{
    int fd = -1;
    quint16 port = 0;

    Listener()
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0
            || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            std::perror("loopback listener");
            std::abort();
        }
        port = ntohs(address.sin_port);
    }
};

// The session's own endpoint: the socket of this process whose local port is
// the peer port of the accepted connection. The session keeps it private; its
// queue of bytes not yet read tells when the session has taken what was sent.
int findLocalSocket(quint16 localPort)
{
    const auto isIt = [localPort](int fd) {
        sockaddr_in address{};
        socklen_t length = sizeof address;
        return ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 && address.sin_family == AF_INET
            && ntohs(address.sin_port) == localPort;
    };
    // The lowest free descriptor is handed out, so it is most often the last one again.
    static int last = -1;
    if (last >= 0 && isIt(last))
        return last;
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int found = -1;
    while (const dirent* entry = ::readdir(dir)) {
        const int fd = std::atoi(entry->d_name);
        if (fd > 2 && fd != ::dirfd(dir) && isIt(fd)) {
            found = last = fd;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

// The bytes that wait in the socket's receive queue.
int unread(int fd)
{
    int count = 0;
    return ::ioctl(fd, FIONREAD, &count) == 0 ? count : 0;
}

// The bytes the socket's connection has received, read or not. Loopback hands
// what was sent to the receiving side a little later, so the sender's queue
// being empty does not yet mean the bytes have arrived.
qint64 received(int fd)
{
    tcp_info info{};
    socklen_t length = sizeof info;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0
        || length < offsetof(tcp_info, tcpi_bytes_received) + sizeof info.tcpi_bytes_received)
        return -1;
    return qint64(info.tcpi_bytes_received);
}

size_t allocatedBytes()
{
    return __sanitizer_get_current_allocated_bytes();
}

// One connection: the server's end, accepted from the listener, and the
// session under test at the other end.
class Connection
{
public:
    Connection(const Listener& listener, ConsoleSession& session)
        : session_(session)
    {
        session.connectToServer("127.0.0.1", QByteArray::number(listener.port));
        const QDeadlineTimer deadline(10000);
        while (server_ < 0 || !session.isConnected()) {
            QCoreApplication::processEvents();
            if (server_ < 0)
                server_ = ::accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            FUZZ_CHECK(!deadline.hasExpired(), "the session did not connect to the loopback listener");
        }
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        ::getpeername(server_, reinterpret_cast<sockaddr*>(&peer), &length);
        client_ = findLocalSocket(ntohs(peer.sin_port));
        FUZZ_CHECK(client_ >= 0, "the session's socket was not found");
    }

    ~Connection()
    {
        // A reset leaves no connection waiting out its time on either side,
        // which thousands of inputs a minute would otherwise run out of ports with.
        const linger reset{1, 0};
        ::setsockopt(server_, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        ::close(server_);
    }

    // Sends `bytes` as the event loop lets the session read; false once the
    // session has closed the connection.
    bool send(QByteArrayView bytes, const std::function<void()>& turn)
    {
        while (!bytes.isEmpty() && session_.isConnected()) {
            const ssize_t sent = ::send(server_, bytes.data(), size_t(bytes.size()), MSG_NOSIGNAL);
            if (sent > 0) {
                bytes = bytes.sliced(sent);
                sent_ += sent;
            } else if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                return false;
            turn();
        }
        return session_.isConnected();
    }

    // Runs the event loop until everything sent is read and handled, or the
    // session closed.
    void drain(const std::function<void()>& turn)
    {
        const QDeadlineTimer deadline(20000);
        while (session_.isConnected()
               && (received(client_) < sent_ || unread(client_) > 0 || session_.bytesWaiting() > 0)) {
            turn();
            FUZZ_CHECK(!deadline.hasExpired(),
                       "of " + QByteArray::number(sent_) + " bytes sent, " + QByteArray::number(received(client_))
                           + " arrived and " + QByteArray::number(unread(client_)) + " were left unread");
        }
    }

private:
    ConsoleSession& session_;
    int server_ = -1;
    int client_ = -1;
    qint64 sent_ = 0;
};

// The stream's first byte after the greeting's seed line, or nothing.
std::optional<qsizetype> firstReplyByte(QByteArrayView stream)
{
    qsizetype begin = 0;
    for (qsizetype lf; (lf = stream.indexOf(kLineFeed, begin)) >= 0; begin = lf + 1) {
        if (stream.sliced(begin, lf - begin).contains(QByteArrayView("Digest seed: ")))
            return lf + 1;
    }
    return std::nullopt;
}

QByteArray showLists(const Lists& lists)
{
    static const char* const names[] = {"maps", "players", "bans"};
    QByteArray out;
    for (qsizetype l = 0; l < qsizetype(lists.size()); ++l) {
        const QList<QByteArray>& list = lists[l];
        out += QByteArray(names[l]) + ":";
        for (qsizetype i = 0; i < std::min<qsizetype>(list.size(), 8); ++i)
            out += ' ' + (list[i].size() > 80 ? QByteArray::number(list[i].size()) + " bytes" : fuzz::escaped(list[i]));
        if (list.size() > 8)
            out += " ... (" + QByteArray::number(list.size()) + " in all)";
        out += "; ";
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // Sockets and their notifiers need an application and its event loop.
    new QCoreApplication(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const Listener listener;

    FuzzedDataProvider input(data, size);
    fuzz::ReplyStream in = fuzz::takeReplyStream(input);
    if (in.stretch) {
        const std::optional<qsizetype> first = firstReplyByte(in.stream);
        if (!first || !in.applyStretch(*first, kMaxLine))
            return 0;
    }
    const QByteArray& stream = in.stream;
    QList<qsizetype>& cuts = in.cuts;
    std::sort(cuts.begin(), cuts.end());
    cuts.append(stream.size());

    const size_t baseline = allocatedBytes();
    const size_t bound = 2 * size_t(kMaxLine) + 2 * size_t(ConsoleSession::kReadSlice) + 4 * size_t(stream.size())
        + 4 * 1024 * 1024;
    size_t peak = baseline;
    const auto turn = [&] {
        QCoreApplication::processEvents();
        peak = std::max(peak, allocatedBytes());
    };

    Lists lists;
    int listsCompleted = 0;
    QList<QByteArray> logged;
    {
        ConsoleSession session;
        QObject::connect(&session, &ConsoleSession::errorRaised, [&](const QByteArray& message) {
            FUZZ_CHECK(false, "errorRaised " + fuzz::escaped(message));
        });
        QObject::connect(&session, &ConsoleSession::listCleared, [&](ListKind list) { lists[indexOf(list)].clear(); });
        QObject::connect(&session, &ConsoleSession::entriesAdded, [&](ListKind list, const EntryBlock& entries) {
            for (qsizetype i = 0; i < entries.size(); ++i)
                lists[indexOf(list)].append(entryKey(entries.at(i)));
        });
        QObject::connect(&session, &ConsoleSession::listComplete, [&](ListKind) { ++listsCompleted; });
        QObject::connect(&session, &ConsoleSession::logLine, [&](const QByteArray& line) {
            if (logged.size() < 20)
                logged.append(line.left(100));
        });

        Connection connection(listener, session);
        qsizetype begin = 0;
        for (const qsizetype cut : cuts) {
            if (!connection.send(QByteArrayView(stream).sliced(begin, cut - begin), turn))
                break;
            begin = cut;
            if (in.eachReadAlone)
                connection.drain(turn);
        }
        connection.drain(turn);
    }
    // What the socket handed to deleteLater goes now, not in a later input.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    FUZZ_CHECK(peak - baseline <= bound,
               "the session held " + QByteArray::number(qulonglong(peak - baseline)) + " bytes for a stream of "
                   + QByteArray::number(stream.size()));

    ListSink sink;
    ReplyReader reader(sink);
    sink.reader = &reader;
    reader.startConnection();
    reader.read(stream);
    const auto context = [&] {
        QByteArray text = "\n     the stream " + fuzz::escaped(stream.left(400)) + (stream.size() > 400 ? "..." : "")
            + ", sent in pieces ending at";
        for (const qsizetype cut : cuts)
            text += ' ' + QByteArray::number(cut);
        text += in.eachReadAlone ? ", each read alone" : ", back to back";
        text += "\n     the session logged";
        for (const QByteArray& line : logged)
            text += ' ' + fuzz::escaped(line);
        return text;
    };
    FUZZ_CHECK(lists == sink.lists,
               "the session's lists " + showLists(lists) + "\n     the reader's lists " + showLists(sink.lists)
                   + context());
    FUZZ_CHECK(listsCompleted == sink.listsEnded,
               QByteArray::number(listsCompleted) + " lists completed, the reader ended "
                   + QByteArray::number(sink.listsEnded) + context());
    return 0;
}
