// The reader where the program runs it: a console session logged in to a peer
// on 127.0.0.1, asking for ban lists of 100,000 and 1,000,000 lines and taking
// them in as the window's session does, up to the list's end. The yardstick is
// the plainest client of the same peer: a blocking socket that receives into
// one buffer until the reply's 0x04, looking at nothing else.

#include "admin/ban_admin.h"
#include "ban_reply.h"
#include "event_loop.h"
#include "loopback_peer.h"
#include "session/console_session.h"

#include <QCoreApplication>
#include <QTimer>

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The peer writes in pieces this large: big enough that it keeps the
// connection full, so the client sets the pace.
constexpr qsizetype kPeerWrite = 1 << 20;

double seconds(Clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

void BM_SessionOverLoopback(benchmark::State& state)
{
    const int lines = int(state.range(0));
    LoopbackPeer peer("secret");
    peer.setReply(ban_admin::RefreshCommand, banListReplyOf(lines).chopped(1));
    peer.setWriteSize(kPeerWrite);

    ConsoleSession session;
    session.setPasswordSource([] { return QByteArray("secret"); });
    bool loggedIn = false;
    bool complete = false;
    qsizetype entries = 0;
    qsizetype bytes = 0;
    QObject::connect(&session, &ConsoleSession::loggedIn, [&] { loggedIn = true; });
    QObject::connect(&session, &ConsoleSession::listCleared, [&](ListKind) { entries = bytes = 0; });
    QObject::connect(&session, &ConsoleSession::entriesAdded, [&](ListKind, const EntryBlock& block) {
        entries += block.size();
        bytes += block.byteCount();
    });
    QObject::connect(&session, &ConsoleSession::listComplete, [&](ListKind) { complete = true; });
    session.connectToServer("127.0.0.1", QByteArray::number(peer.port()));
    if (!spinUntil([&] { return loggedIn; }, 5s)) {
        state.SkipWithError("could not log in");
        return;
    }
    // Line feeds are not part of the entries.
    const qsizetype entryBytes = banListReplyOf(lines).size() - 1 - lines;
    for (auto _ : state) {
        complete = false;
        const Clock::time_point start = Clock::now();
        session.sendCommand(ban_admin::RefreshCommand);
        if (!spinUntil([&] { return complete; }, 60s) || entries != lines || bytes != entryBytes) {
            state.SkipWithError("the list did not arrive whole");
            return;
        }
        state.SetIterationTime(seconds(Clock::now() - start));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * banListReplyOf(lines).size());
}
BENCHMARK(BM_SessionOverLoopback)->Arg(100000)->Arg(1000000)->UseManualTime()->Unit(benchmark::kMillisecond);

// Reads up to and with the first line feed pair (the greeting's end), or false.
bool skipGreeting(int socket)
{
    QByteArray greeting;
    char byte;
    while (!greeting.endsWith("\n\n")) {
        if (::recv(socket, &byte, 1, 0) != 1)
            return false;
        greeting.append(byte);
    }
    return true;
}

void BM_RecvLoopOverLoopback(benchmark::State& state)
{
    const int lines = int(state.range(0));
    LoopbackPeer peer("secret");
    peer.setReply(ban_admin::RefreshCommand, banListReplyOf(lines).chopped(1));
    peer.setWriteSize(kPeerWrite);

    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(peer.port());
    if (socket < 0 || ::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || !skipGreeting(socket)) {
        state.SkipWithError("could not connect");
        if (socket >= 0)
            ::close(socket);
        return;
    }
    const QByteArray command = '\x02' + QByteArray(ban_admin::RefreshCommand) + '\n';
    const qsizetype replySize = banListReplyOf(lines).size();
    std::vector<char> buffer(1 << 20);
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        if (::send(socket, command.constData(), size_t(command.size()), MSG_NOSIGNAL) != command.size()) {
            state.SkipWithError("could not send");
            break;
        }
        qsizetype received = 0;
        for (;;) {
            const ssize_t got = ::recv(socket, buffer.data(), buffer.size(), 0);
            if (got <= 0) {
                state.SkipWithError("the peer closed");
                break;
            }
            received += got;
            if (buffer[size_t(got) - 1] == '\x04')
                break;
        }
        state.SetIterationTime(seconds(Clock::now() - start));
        if (received != replySize) {
            state.SkipWithError("the reply did not arrive whole");
            break;
        }
    }
    ::close(socket);
    state.SetBytesProcessed(int64_t(state.iterations()) * replySize);
}
BENCHMARK(BM_RecvLoopOverLoopback)->Arg(100000)->Arg(1000000)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
