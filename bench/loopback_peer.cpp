#include "loopback_peer.h"

#include <QCryptographicHash>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr char kSeed[] = "QhXbTzRkLpWmNcVa";
constexpr int kPollMs = 50;

// Waits for `events` on `handle`; false when stopping or on error.
bool waitFor(int handle, short events, const std::atomic<bool>& stop)
{
    while (!stop) {
        pollfd entry{handle, events, 0};
        const int ready = ::poll(&entry, 1, kPollMs);
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
    return false;
}

} // namespace

LoopbackPeer::LoopbackPeer(QByteArray password)
    : password_(std::move(password))
{
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::listen(listener_, 1) != 0
        || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (listener_ >= 0)
            ::close(listener_);
        listener_ = -1;
        return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { run(); });
}

LoopbackPeer::~LoopbackPeer()
{
    {
        std::lock_guard lock(mutex_); // a paced write waits on this mutex's condition
        stop_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
    if (listener_ >= 0)
        ::close(listener_);
}

void LoopbackPeer::bytesTaken(qsizetype count)
{
    {
        std::lock_guard lock(mutex_);
        taken_ += count;
    }
    changed_.notify_all();
}

std::optional<LoopbackPeer::Arrival> LoopbackPeer::nextLine(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, timeout, [this] { return !arrivals_.empty(); }))
        return std::nullopt;
    Arrival arrival = std::move(arrivals_.front());
    arrivals_.pop_front();
    return arrival;
}

void LoopbackPeer::run()
{
    while (waitFor(listener_, POLLIN, stop_)) {
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            continue;
        {
            std::lock_guard lock(mutex_);
            sent_ = taken_ = 0;
        }
        serve(connection);
        ::close(connection);
    }
}

void LoopbackPeer::serve(int connection)
{
    const QByteArray greeting = QByteArray("### Battlefield 2 default RCON/admin ready.\n### Digest seed: ") + kSeed
        + "\n\n";
    if (!sendAll(connection, greeting.constData(), greeting.size()))
        return;

    QByteArray pending;
    char buffer[16384];
    while (waitFor(connection, POLLIN, stop_)) {
        const ssize_t received = ::recv(connection, buffer, sizeof buffer, 0);
        const Clock::time_point at = Clock::now();
        if (received <= 0)
            return;
        // Only the new bytes are searched: a line of megabytes comes in many pieces.
        qsizetype searched = pending.size();
        pending.append(buffer, received);
        qsizetype end;
        while ((end = pending.indexOf('\n', searched)) >= 0) {
            const QByteArray line = pending.left(end);
            pending.remove(0, end + 1);
            searched = 0;
            {
                std::lock_guard lock(mutex_);
                arrivals_.push_back({at, line});
            }
            changed_.notify_all();

            if (!line.startsWith('\x02'))
                continue;
            const QByteArray command = line.mid(1);
            QByteArray reply;
            if (command.startsWith("login ")) {
                const QByteArray expected =
                    QCryptographicHash::hash(kSeed + password_, QCryptographicHash::Md5).toHex();
                reply = command.mid(6) == expected ? "Authentication successful, rcon ready.\n\x04"
                                                   : "Authentication failed.\n\x04";
            } else {
                reply = replies_.value(command, QByteArray("\x04"));
            }
            if (!sendReply(connection, reply))
                return;
        }
    }
}

bool LoopbackPeer::sendAll(int connection, const char* data, qsizetype size)
{
    {
        std::lock_guard lock(mutex_);
        sent_ += size;
    }
    while (size > 0) {
        const ssize_t written = ::send(connection, data, size_t(size), MSG_NOSIGNAL);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

bool LoopbackPeer::sendReply(int connection, const QByteArray& reply)
{
    const bool timed = reply.size() > 1;
    if (timed)
        replyStart_ = Clock::now().time_since_epoch().count();
    for (qsizetype at = 0; at < reply.size(); at += writeSize_) {
        if (pacing_ == Pacing::OneWritePerRead && !waitUntilTaken())
            return false;
        if (!sendAll(connection, reply.constData() + at, std::min(writeSize_, reply.size() - at)))
            return false;
    }
    if (timed)
        replyEnd_ = Clock::now().time_since_epoch().count();
    return true;
}

bool LoopbackPeer::waitUntilTaken()
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return stop_ || taken_ >= sent_; });
    return !stop_;
}
