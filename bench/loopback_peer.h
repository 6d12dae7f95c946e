#pragma once

// A game server's remote console on 127.0.0.1 for the window benchmarks. It
// runs in a thread of its own on blocking sockets, so the times it takes (the
// first byte of a reply going out, a command line coming in) do not wait on
// the window's event loop. It greets, checks the login, answers the commands
// it was given replies for, and closes every other framed line with 0x04.

#include <QByteArray>
#include <QHash>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

class LoopbackPeer
{
public:
    using Clock = std::chrono::steady_clock;

    struct Arrival
    {
        Clock::time_point at; // when the read that completed the line returned
        QByteArray line;      // without its 0x0A
    };

    enum class Pacing {
        // Every write follows the previous one at once; the client reads what has piled up.
        Stream,
        // A write goes out only after the client has taken every byte sent before it,
        // so each read takes one write.
        OneWritePerRead,
    };

    explicit LoopbackPeer(QByteArray password);
    ~LoopbackPeer();
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    // False when no listening socket could be opened.
    bool isListening() const { return listener_ >= 0; }
    quint16 port() const { return port_; }

    // Configure before the client connects. The peer closes the reply with 0x04.
    void setReply(const QByteArray& command, const QByteArray& reply) { replies_.insert(command, reply + '\x04'); }
    void setWriteSize(qsizetype bytes) { writeSize_ = bytes; }
    void setPacing(Pacing pacing) { pacing_ = pacing; }

    // The client reports each read, so that paced writes can wait for it.
    void bytesTaken(qsizetype count);

    // When the first byte of the latest reply longer than its 0x04 was handed
    // to the socket, and when its last byte was: the moment it arrived at the
    // client's end, as loopback delivers a byte as soon as the socket takes it.
    Clock::time_point lastReplyStart() const { return Clock::time_point(Clock::duration(replyStart_.load())); }
    Clock::time_point lastReplyEnd() const { return Clock::time_point(Clock::duration(replyEnd_.load())); }

    // The next line received, waiting up to `timeout` for it.
    std::optional<Arrival> nextLine(std::chrono::milliseconds timeout);

private:
    void run();
    void serve(int connection);
    bool sendAll(int connection, const char* data, qsizetype size);
    bool sendReply(int connection, const QByteArray& reply);
    bool waitUntilTaken();

    QByteArray password_;
    QHash<QByteArray, QByteArray> replies_;
    qsizetype writeSize_ = 64 << 10;
    Pacing pacing_ = Pacing::Stream;

    int listener_ = -1;
    quint16 port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<Clock::rep> replyStart_{0};
    std::atomic<Clock::rep> replyEnd_{0};

    std::mutex mutex_;
    std::condition_variable changed_;
    qsizetype sent_ = 0;  // bytes sent on the connection
    qsizetype taken_ = 0; // bytes the client has read
    std::deque<Arrival> arrivals_;

    std::thread thread_;
};
