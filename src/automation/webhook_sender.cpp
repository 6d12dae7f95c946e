#include "automation/webhook_sender.h"

#include "core/json_line.h"
#include "core/secrets.h"
#include "watch/event_line.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimeZone>

#include <algorithm>
#include <cmath>

using std::chrono::milliseconds;

namespace {

// Seconds past this are taken as this; only to keep the arithmetic in range,
// the sender holds a server's wait to far less.
constexpr double kMostSeconds = 1e9;

// A 429's body is read this far for its "retry_after"; Discord's is a few dozen bytes.
constexpr qint64 kLongestBodyRead = 64 * 1024;

milliseconds fromSeconds(double seconds)
{
    return milliseconds(std::llround(std::clamp(seconds, 0.0, kMostSeconds) * 1000.0));
}

QString blotted(const QString& text)
{
    return text.isEmpty() ? text : QString::fromUtf8(secrets::blotSecrets(text.toUtf8(), {}));
}

QByteArray withoutLineFeed(QByteArray line)
{
    if (line.endsWith('\n'))
        line.chop(1);
    return line;
}

QByteArray userAgent()
{
    const QString version = QCoreApplication::applicationVersion();
    return "Ravelin/" + (version.isEmpty() ? QByteArray("1") : version.toUtf8());
}

} // namespace

std::optional<milliseconds> retryAfter(const QByteArray& header, const QByteArray& body, const QDateTime& now)
{
    const QByteArray value = header.trimmed();
    if (!value.isEmpty()) {
        if (std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return fromSeconds(value.size() > 10 ? kMostSeconds : value.toDouble());
        // An HTTP date, as in "Wed, 21 Oct 2015 07:28:00 GMT".
        QDateTime at = QLocale::c().toDateTime(QString::fromLatin1(value),
                                               QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"));
        if (at.isValid()) {
            at.setTimeZone(QTimeZone::utc());
            return milliseconds(std::max<qint64>(0, now.msecsTo(at)));
        }
    }
    const QJsonValue field = QJsonDocument::fromJson(body).object().value(QLatin1String("retry_after"));
    if (field.isDouble() && std::isfinite(field.toDouble()))
        return fromSeconds(field.toDouble());
    return std::nullopt;
}

QString webhookPlace(const QUrl& url)
{
    return url.adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment).toString();
}

WebhookSender::WebhookSender(WebhookTarget target, QNetworkAccessManager* network, Limits limits, QObject* parent)
    : QObject(parent)
    , target_(std::move(target))
    , network_(network)
    , limits_(limits)
    , place_(webhookPlace(target_.url).toUtf8())
    , nextBackOff_(limits.firstRetry)
{
    limits_.queue = std::max<qsizetype>(1, limits_.queue);
    limits_.mergeAtMost = std::max<qsizetype>(1, limits_.mergeAtMost);
    retryTimer_.setSingleShot(true);
    retryTimer_.setTimerType(Qt::PreciseTimer); // a coarse timer may fire early, before the server's wait is over
    sendSoon_.setSingleShot(true);
    sendSoon_.setInterval(0);
    connect(&retryTimer_, &QTimer::timeout, this, &WebhookSender::sendNext);
    connect(&sendSoon_, &QTimer::timeout, this, &WebhookSender::sendNext);
}

WebhookSender::~WebhookSender()
{
    if (reply_) {
        reply_->disconnect(this);
        reply_->abort();
        reply_->deleteLater();
    }
}

bool WebhookSender::wants(const WatchEvent& event) const
{
    return target_.events.isEmpty() || target_.events.contains(QLatin1String(eventName(event.kind)));
}

void WebhookSender::post(const WatchEvent& event)
{
    if (!wants(event))
        return;
    queue_.push_back(pieceOf(event));
    // The message in flight is not touched: the server may already have it.
    while (qsizetype(queue_.size()) > limits_.queue && qsizetype(queue_.size()) > messageEvents_) {
        queue_.erase(queue_.begin() + messageEvents_);
        ++dropped_;
        if (droppedInRun_++ == 0)
            say("queue full at " + QByteArray::number(limits_.queue) + " events; dropping the oldest");
    }
    if (!reply_ && !retryTimer_.isActive())
        sendSoon_.start();
}

WebhookSender::Piece WebhookSender::pieceOf(const WatchEvent& event) const
{
    // The events hold no password, but an action's text may hold a login
    // digest or a typed login; those are blotted before the line is made.
    WatchEvent clean = event;
    for (QString* text : {&clean.text, &clean.outcome, &clean.name, &clean.previous})
        *text = blotted(*text);
    if (target_.format == WebhookTarget::Format::Json)
        return {secrets::blotSecrets(withoutLineFeed(eventJson(clean)), {}), 0};

    QString line = QString::fromUtf8(secrets::blotSecrets(withoutLineFeed(eventText(clean)), {}));
    if (line.size() > kDiscordContentLimit) {
        // One line longer than a whole message is cut rather than refused for ever.
        qsizetype keep = kDiscordContentLimit - 1;
        if (line.at(keep - 1).isHighSurrogate())
            --keep;
        line = line.left(keep) + QChar(0x2026);
    }
    return {line.toUtf8(), line.size()};
}

QByteArray WebhookSender::nextMessage()
{
    const qsizetype most = std::min<qsizetype>(limits_.mergeAtMost, queue_.size());
    if (target_.format == WebhookTarget::Format::Json) {
        messageEvents_ = most;
        if (most == 1)
            return queue_.front().bytes;
        qsizetype size = 16;
        for (qsizetype i = 0; i < most; ++i)
            size += queue_[i].bytes.size() + 1;
        QByteArray body;
        body.reserve(size);
        body.append("{\"events\":[");
        for (qsizetype i = 0; i < most; ++i)
            body.append(i ? "," : "").append(queue_[i].bytes);
        return body.append("]}");
    }

    // Discord: lines, one an event, up to its limit on the content.
    QByteArray content;
    qsizetype characters = 0, taken = 0;
    for (; taken < most; ++taken) {
        const Piece& piece = queue_[taken];
        const qsizetype more = piece.characters + (taken ? 1 : 0);
        if (taken && characters + more > kDiscordContentLimit)
            break;
        content.append(taken ? "\n" : "").append(piece.bytes);
        characters += more;
    }
    messageEvents_ = taken;
    return "{\"content\":" + jsonString(QString::fromUtf8(content)) + ",\"allowed_mentions\":{\"parse\":[]}}";
}

void WebhookSender::sendNext()
{
    if (reply_ || retryTimer_.isActive() || queue_.empty())
        return;
    if (messageEvents_ == 0)
        message_ = nextMessage();
    QNetworkRequest request(target_.url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/json"));
    request.setHeader(QNetworkRequest::UserAgentHeader, userAgent());
    request.setTransferTimeout(int(limits_.requestTimeout.count()));
    reply_ = network_->post(request, message_);
    connect(reply_, &QNetworkReply::finished, this, &WebhookSender::onReplyFinished);
}

void WebhookSender::onReplyFinished()
{
    QNetworkReply* reply = std::exchange(reply_, nullptr);
    reply->deleteLater();
    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int status = statusAttribute.isValid() ? statusAttribute.toInt() : 0;
    const QByteArray statusText = "HTTP " + QByteArray::number(status);
    const qsizetype events = messageEvents_;

    if (status >= 200 && status < 300) {
        nextBackOff_ = limits_.firstRetry;
        refusing_ = false;
        endMessage();
        if (std::exchange(failing_, false))
            say("working again, " + QByteArray::number(events) + " events delivered");
        emit delivered(events);
        sendNext();
    } else if (status == 429) {
        // The server says how long; its wait replaces the back-off, within reason.
        const auto wait = retryAfter(reply->rawHeader("Retry-After"), reply->read(kLongestBodyRead),
                                     QDateTime::currentDateTimeUtc());
        if (wait)
            retryIn(std::min(*wait, kLongestServerWait), statusText, false);
        else
            retryIn(nextBackOff_, statusText, true);
    } else if (status >= 500 || status == 0) {
        QString why = status ? QString::fromLatin1(statusText) : reply->errorString();
        // Qt's own texts may name the whole URL.
        for (const QString& url :
             {target_.url.toString(), target_.url.toDisplayString(), QString::fromUtf8(target_.url.toEncoded())})
            why.replace(url, QString::fromUtf8(place_));
        retryIn(nextBackOff_, secrets::blotSecrets(why.toUtf8(), {}), true);
    } else {
        // Any other answer will be the same however often the message is sent.
        refused_ += events;
        if (!std::exchange(refusing_, true))
            say("refused a message of " + QByteArray::number(events) + " events (" + statusText + "); dropped it");
        endMessage();
        sendNext();
    }
}

void WebhookSender::retryIn(milliseconds wait, const QByteArray& why, bool backingOff)
{
    if (!std::exchange(failing_, true))
        say("failing: " + why + "; retrying");
    if (backingOff)
        nextBackOff_ = std::min(nextBackOff_ * 2, limits_.longestRetry);
    retryTimer_.start(wait);
}

void WebhookSender::endMessage()
{
    queue_.erase(queue_.begin(), queue_.begin() + messageEvents_);
    messageEvents_ = 0;
    message_.clear();
    if (droppedInRun_ > 0)
        say(QByteArray::number(std::exchange(droppedInRun_, 0)) + " events dropped while the queue was full");
}

void WebhookSender::say(const QByteArray& text)
{
    emit logLine("webhook " + place_ + ": " + text);
}
