// A webhook's queue under load: 10,000 events posted at once to a sender
// whose server is on 127.0.0.1, queued and merged into messages, against the
// plainest sender that keeps the same order: the same 10,000 JSON lines POSTed
// one request each, the next when the last was answered.
// Usage: ravelin_bench_webhook [events]   (10000 by default)

#include "automation/webhook_sender.h"
#include "bench_summary.h"
#include "event_loop.h"
#include "watch/event_line.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimeZone>

#include <cstdio>

using namespace std::chrono_literals;

namespace {

// Answers every request 200 on a connection kept open, counting the bodies.
class AcceptingServer
{
public:
    AcceptingServer()
    {
        server_.listen(QHostAddress::LocalHost);
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection())
                QObject::connect(socket, &QTcpSocket::readyRead, [this, socket] { read(socket); });
        });
    }

    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/hook").arg(server_.serverPort())); }

    qint64 requests = 0;
    qint64 bodyBytes = 0;

private:
    void read(QTcpSocket* socket)
    {
        QByteArray& buffer = buffers_[socket];
        buffer += socket->readAll();
        for (;;) {
            const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
            if (headEnd < 0)
                return;
            const QByteArray head = buffer.first(headEnd).toLower();
            const qsizetype at = head.indexOf("content-length:") + 15;
            const qsizetype length = head.mid(at, head.indexOf('\r', at) - at).trimmed().toLongLong();
            if (buffer.size() < headEnd + 4 + length)
                return;
            buffer.remove(0, headEnd + 4 + length);
            ++requests;
            bodyBytes += length;
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
        }
    }

    QTcpServer server_;
    QHash<QTcpSocket*, QByteArray> buffers_;
};

QList<WatchEvent> eventsOf(int count)
{
    QList<WatchEvent> events;
    const QDateTime start(QDate(2026, 1, 1), QTime(0, 0), QTimeZone::utc());
    for (int i = 0; i < count; ++i) {
        WatchEvent join;
        join.kind = i % 2 ? WatchEvent::Kind::Leave : WatchEvent::Kind::Join;
        join.time = start.addSecs(i);
        join.server = QStringLiteral("Server 1");
        join.hash = QStringLiteral("0123456789abcdef0123456789abcdef");
        join.name = QStringLiteral("player%1").arg(i % 64);
        join.address = QStringLiteral("10.0.0.%1").arg(i % 250 + 1);
        join.playerId = i % 64;
        events.append(join);
    }
    return events;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    const QList<WatchEvent> events = eventsOf(count);
    QNetworkAccessManager network;

    AcceptingServer merging;
    WebhookTarget target;
    target.url = merging.url();
    WebhookSender sender(target, &network);
    qint64 delivered = 0;
    QObject::connect(&sender, &WebhookSender::delivered, [&](qsizetype n) { delivered += n; });
    QElapsedTimer clock;
    clock.start();
    for (const WatchEvent& event : events)
        sender.post(event);
    const double queuedMs = double(clock.nsecsElapsed()) / 1e6;
    if (!spinUntil([&] { return sender.waiting() == 0; }, 300s) || delivered != count) {
        std::fprintf(stderr, "the sender delivered %lld of %d events\n", qlonglong(delivered), count);
        return 1;
    }
    const double mergedMs = double(clock.nsecsElapsed()) / 1e6;

    AcceptingServer plain;
    qint64 answered = 0;
    clock.restart();
    std::function<void()> postNext = [&] {
        QNetworkRequest request(plain.url());
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/json"));
        QNetworkReply* reply = network.post(request, eventJson(events[answered]).chopped(1));
        QObject::connect(reply, &QNetworkReply::finished, [&, reply] {
            reply->deleteLater();
            if (++answered < count)
                postNext();
        });
    };
    postNext();
    if (!spinUntil([&] { return answered == count; }, 600s)) {
        std::fprintf(stderr, "the plain sender got %lld of %d answers\n", qlonglong(answered), count);
        return 1;
    }
    const double plainMs = double(clock.nsecsElapsed()) / 1e6;

    printResult("webhook_events", count);
    printResult("webhook_queue_ms", queuedMs);
    printResult("webhook_merged_ms", mergedMs);
    printResult("webhook_merged_requests", double(merging.requests));
    printResult("webhook_one_each_ms", plainMs);
    printResult("webhook_one_each_requests", double(plain.requests));
    printResult("webhook_ratio", plainMs / mergedMs);
    return 0;
}
