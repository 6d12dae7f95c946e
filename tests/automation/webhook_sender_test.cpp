#include "automation/webhook_sender.h"
#include "support/wait.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimeZone>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

// A small HTTP/1.1 server: reads each request by its Content-Length, keeps
// it, and answers from a script (200 once the script is done). An answer is
// the status, any header lines after "\r\n" and any body after "\r\n\r\n";
// "-" is never answered. While held, answers wait until release().
class HookServer
{
public:
    struct Request
    {
        QByteArray head, body;
        int status = 0;
        qint64 at = 0; // ms since the server started
    };

    explicit HookServer(QByteArrayList script = {})
        : script_(std::move(script))
    {
        clock_.start();
        server_.listen(QHostAddress::LocalHost);
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection())
                QObject::connect(socket, &QTcpSocket::readyRead, [this, socket] { read(socket); });
        });
    }

    QUrl url() const
    {
        return QUrl(QStringLiteral("http://user:pw@127.0.0.1:%1/api/webhooks/1/token").arg(server_.serverPort()));
    }

    void release()
    {
        hold = false;
        for (const auto& [socket, answer] : std::exchange(held_, {}))
            respond(socket, answer);
    }

    // The names in the bodies the server accepted, in order.
    QStringList accepted() const
    {
        QStringList names;
        for (const Request& request : requests)
            if (request.status == 200)
                names += namesIn(request.body);
        return names;
    }

    static QStringList namesIn(const QByteArray& body)
    {
        const QJsonObject object = QJsonDocument::fromJson(body).object();
        const QJsonArray events = object.contains(u"events") ? object[u"events"].toArray() : QJsonArray{object};
        QStringList names;
        for (const QJsonValue& event : events)
            names += event[u"name"].toString();
        return names;
    }

    QList<Request> requests;
    bool hold = false;

private:
    void read(QTcpSocket* socket)
    {
        QByteArray& buffer = buffers_[socket];
        buffer += socket->readAll();
        const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        const QByteArray head = buffer.first(headEnd);
        const qsizetype lengthAt = head.toLower().indexOf("content-length:");
        const qsizetype length =
            head.mid(lengthAt + 15, head.indexOf('\r', lengthAt) - lengthAt - 15).trimmed().toLongLong();
        if (buffer.size() < headEnd + 4 + length)
            return;
        const QByteArray answer = script_.isEmpty() ? "200" : script_.takeFirst();
        requests.append({head, buffer.mid(headEnd + 4, length), answer.left(3).toInt(), clock_.elapsed()});
        buffer.remove(0, headEnd + 4 + length);
        if (answer == "-")
            return;
        if (hold)
            held_.append({socket, answer});
        else
            respond(socket, answer);
    }

    static void respond(QTcpSocket* socket, const QByteArray& answer)
    {
        const qsizetype split = answer.contains("\r\n\r\n") ? answer.indexOf("\r\n\r\n") : answer.size();
        const QByteArray body = answer.mid(split + 4);
        socket->write("HTTP/1.1 " + answer.first(3) + " X" + answer.mid(3, split - 3) + "\r\nContent-Length: "
                      + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
    }

    QTcpServer server_;
    QElapsedTimer clock_;
    QByteArrayList script_;
    QHash<QTcpSocket*, QByteArray> buffers_;
    QList<std::pair<QTcpSocket*, QByteArray>> held_;
};

WatchEvent join(const QString& name)
{
    WatchEvent event;
    event.kind = WatchEvent::Kind::Join;
    event.time = QDateTime(QDate(2026, 5, 1), QTime(12, 0), QTimeZone::utc());
    event.server = QStringLiteral("alpha");
    event.name = name;
    return event;
}

const WebhookSender::Limits kQuick{.firstRetry = 50ms, .longestRetry = 100ms, .requestTimeout = 300ms};

// A sender for a HookServer, at a URL with a password and a token in it, and
// what it logged and delivered.
struct Hook
{
    explicit Hook(QByteArrayList script = {}, WebhookSender::Limits limits = kQuick,
                  WebhookTarget::Format format = WebhookTarget::Format::Json)
        : server(std::move(script))
        , sender(WebhookTarget{server.url(), format, {}}, &network, limits)
    {
        QObject::connect(&sender, &WebhookSender::logLine, [this](const QByteArray& line) { log += line; });
        QObject::connect(&sender, &WebhookSender::delivered, [this](qsizetype events) { delivered += events; });
    }

    // Posts "a", then `more` once the server has "a" (so they queue behind
    // it), and waits until the server accepted or refused them all.
    bool postBehindFirst(const QStringList& more, std::chrono::milliseconds timeout = 5s)
    {
        sender.post(join("a"));
        if (!WaitUntil([&] { return !server.requests.isEmpty(); }))
            return false;
        for (const QString& name : more)
            sender.post(join(name));
        server.release();
        return WaitUntil([&] { return sender.waiting() == 0; }, timeout);
    }

    HookServer server;
    QNetworkAccessManager network;
    WebhookSender sender;
    QStringList log;
    qsizetype delivered = 0;
};

struct DeliveryCase
{
    const char* name;
    QByteArrayList script;
    QStringList accepted;
    qint64 leastGap = 0;    // ms between the first two requests, at least
    qint64 longestWait = 0; // ms the sender waited before its last retry, at most; 0: any
};

void PrintTo(const DeliveryCase& row, std::ostream* out)
{
    *out << row.name;
}

class Delivery : public testing::TestWithParam<DeliveryCase>
{
};

// "a" goes alone; "b" and "c", posted while it is out, go together after it.
TEST_P(Delivery, EveryEventOnceInOrder)
{
    const DeliveryCase& row = GetParam();
    Hook hook(row.script);
    HookServer& server = hook.server;
    ASSERT_TRUE(hook.postBehindFirst({"b", "c"}));

    EXPECT_EQ(server.accepted(), row.accepted);
    EXPECT_EQ(hook.delivered, row.accepted.size());
    EXPECT_GE(server.requests[1].at - server.requests[0].at, row.leastGap);
    if (row.longestWait) {
        EXPECT_LE(hook.sender.lastRetryWait().count(), row.longestWait);
    }
    // A message is re-sent whole: every request before the one accepted is the same.
    EXPECT_EQ(
        server.requests.first().body,
        R"({"time":"2026-05-01T12:00:00Z","server":"alpha","event":"join","hash":"","name":"a","address":"","id":null})");
}

// Eight failures in a row: the eighth wait is the cap, 100 ms, where
// doubling from 50 ms would have made it 6.4 s.
const QByteArrayList kEightFailures(8, "500");

INSTANTIATE_TEST_SUITE_P(
    webhook_sender, Delivery,
    testing::Values(DeliveryCase{"AllAccepted", {}, {"a", "b", "c"}},
                    DeliveryCase{"ServerErrorRetried", {"500", "503"}, {"a", "b", "c"}, 50},
                    DeliveryCase{"BodyRetryAfter", {"429\r\n\r\n{\"retry_after\": 0.5}"}, {"a", "b", "c"}, 500},
                    DeliveryCase{"TimeoutRetried", {"-"}, {"a", "b", "c"}, 300},
                    DeliveryCase{"RefusedDroppedNextGoes", {"400"}, {"b", "c"}},
                    DeliveryCase{"BackOffCapped", kEightFailures, {"a", "b", "c"}, 50, 100}),
    [](const auto& info) { return info.param.name; });

// A server that answers 429 with Retry-After: 2 three times gets every event,
// in order, none twice, and no sooner than it asked.
TEST(webhook_sender, HonoursRetryAfterHeader)
{
    Hook hook(QByteArrayList(3, "429\r\nRetry-After: 2"));
    HookServer& server = hook.server;
    ASSERT_TRUE(hook.postBehindFirst({"b", "c", "d"}, 20s));

    EXPECT_EQ(server.accepted(), QStringList({"a", "b", "c", "d"}));
    ASSERT_GE(server.requests.size(), 5);
    for (int i = 1; i < 4; ++i)
        EXPECT_GE(server.requests[i].at - server.requests[i - 1].at, 2000) << i;
    EXPECT_TRUE(server.requests[0].head.contains("Content-Type: application/json"));
    EXPECT_TRUE(server.requests[0].head.contains("User-Agent: Ravelin/"));
    // Said once, not once a failure, and never with the token or the password.
    const QString place = QStringLiteral("webhook http://127.0.0.1:%1: ").arg(server.url().port());
    EXPECT_EQ(hook.log,
              QStringList({place + "failing: HTTP 429; retrying", place + "working again, 1 events delivered"}));
}

// Posted while a request is out, events go together, up to mergeAtMost a message.
TEST(webhook_sender, MergesWhatPilesUp)
{
    WebhookSender::Limits limits = kQuick;
    limits.mergeAtMost = 3;
    Hook hook({}, limits);
    HookServer& server = hook.server;
    server.hold = true;
    ASSERT_TRUE(hook.postBehindFirst({"b", "c", "d", "e", "f", "g", "h"}));

    QList<QStringList> messages;
    for (const auto& request : server.requests)
        messages += HookServer::namesIn(request.body);
    EXPECT_EQ(messages, QList<QStringList>({{"a"}, {"b", "c", "d"}, {"e", "f", "g"}, {"h"}}));
    EXPECT_TRUE(server.requests[1].body.startsWith(R"({"events":[{"time")"));
}

// Past its bound the queue lets the oldest waiting events go, counted and said.
TEST(webhook_sender, BoundedQueueDropsOldest)
{
    WebhookSender::Limits limits = kQuick;
    limits.queue = 3;
    Hook hook({}, limits);
    hook.server.hold = true;
    ASSERT_TRUE(hook.postBehindFirst({"b", "c", "d", "e"}));
    EXPECT_EQ(hook.sender.dropped(), 2);

    EXPECT_EQ(hook.server.accepted(), QStringList({"a", "d", "e"}));
    ASSERT_EQ(hook.log.size(), 2);
    EXPECT_TRUE(hook.log[1].endsWith(": 2 events dropped while the queue was full"));
}

// Discord bodies: lines in "content" up to 2,000 characters, mentions off.
TEST(webhook_sender, DiscordMessagesSplitAtTheLimit)
{
    Hook hook({}, kQuick, WebhookTarget::Format::Discord);
    HookServer& server = hook.server;
    server.hold = true;
    const QString long900(900, u'x');
    ASSERT_TRUE(hook.postBehindFirst({long900, long900, long900, QString(5000, u'y')}));

    QList<int> lines;
    for (const auto& request : server.requests) {
        const QJsonObject body = QJsonDocument::fromJson(request.body).object();
        const QString content = body[u"content"].toString();
        EXPECT_LE(content.size(), WebhookSender::kDiscordContentLimit);
        EXPECT_EQ(body[u"allowed_mentions"].toObject()[u"parse"], QJsonArray());
        lines += int(content.split(u'\n').size());
    }
    EXPECT_TRUE(server.requests[0].body.startsWith(R"({"content":"2026-05-01T12:00:00Z alpha: join \"a\"")"));
    // Two 900-character lines fit in one message, not three; the 5,000 one is cut.
    EXPECT_EQ(lines, QList<int>({1, 2, 1, 1}));
}

// A login in an action's text, typed or as a digest, never reaches the server.
TEST(webhook_sender, NoSecretLeaves)
{
    for (const auto format : {WebhookTarget::Format::Json, WebhookTarget::Format::Discord}) {
        Hook hook({}, kQuick, format);
        WatchEvent typed = join("x");
        typed.kind = WatchEvent::Kind::Action;
        typed.text = QStringLiteral("login hunter2");
        WatchEvent digest = typed;
        digest.text = QStringLiteral("sent login 0123456789abcdef0123456789abcdef");
        hook.sender.post(typed);
        hook.sender.post(digest);
        ASSERT_TRUE(WaitUntil([&] { return hook.sender.waiting() == 0; }));
        for (const auto& request : hook.server.requests) {
            EXPECT_FALSE(request.body.contains("hunter2")) << request.body.constData();
            EXPECT_FALSE(request.body.contains("0123456789abcdef")) << request.body.constData();
            EXPECT_TRUE(request.body.contains("login ********")) << request.body.constData();
        }
    }
}

TEST(webhook_sender, ReadsTheServersWait)
{
    const QDateTime now(QDate(2015, 10, 21), QTime(7, 27, 58), QTimeZone::utc());
    const struct
    {
        QByteArray header, body;
        std::optional<std::chrono::milliseconds> wait;
    } rows[] = {
        {"2", {}, 2000ms},
        {" 7 ", R"({"retry_after": 0.5})", 7000ms},
        {"Wed, 21 Oct 2015 07:28:00 GMT", {}, 2000ms},
        {"Wed, 21 Oct 2015 07:00:00 GMT", {}, 0ms},
        {{}, R"({"retry_after": 0.25, "global": false})", 250ms},
        {"soon", R"({"retry_after": -3})", 0ms},
        {"soon", "not json", std::nullopt},
        {{}, {}, std::nullopt},
    };
    for (const auto& row : rows)
        EXPECT_EQ(retryAfter(row.header, row.body, now), row.wait) << row.header.constData() << row.body.constData();
}

} // namespace
