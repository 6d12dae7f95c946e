#pragma once

// Webhooks: each event the automation passes on is POSTed to a URL, as one
// JSON object or as a Discord message. Each URL has its own bounded queue and
// one request at a time, so events arrive in order; events that pile up while
// a request is out go together in the next message. A message stays at the
// head of the queue until the server accepts it, and is re-sent whole, so a
// retry never delivers an event twice or out of order.

#include "watch/watch_event.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <deque>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

struct WebhookTarget
{
    QUrl url;
    enum class Format { Json, Discord } format = Format::Json;
    QStringList events; // event names ("join", "rule", ...); empty: every event
};

// How long a 429 answer asks us to wait: the Retry-After header (whole
// seconds or an HTTP date, counted from `now`), or else the "retry_after"
// field of a JSON body (seconds, perhaps fractional). None when neither says.
std::optional<std::chrono::milliseconds> retryAfter(const QByteArray& header, const QByteArray& body,
                                                    const QDateTime& now);

// A URL as the log names it: scheme, host and port only, since the path of a
// Discord webhook holds its token and the user part may hold a password.
QString webhookPlace(const QUrl& url);

// Outside the class so that it can be a default argument of the constructor.
struct WebhookLimits
{
    qsizetype queue = 10000;    // events held, those in flight included
    qsizetype mergeAtMost = 50; // events in one message
    std::chrono::milliseconds firstRetry{1000}, longestRetry{60000}, requestTimeout{10000};
};

class WebhookSender : public QObject
{
    Q_OBJECT
public:
    using Limits = WebhookLimits;

    // A server's 429 is obeyed up to this long, so that a wrong date or a
    // huge number cannot stop a webhook for good.
    static constexpr std::chrono::milliseconds kLongestServerWait{std::chrono::hours(1)};
    // Discord's limit on a message's content, in characters.
    static constexpr qsizetype kDiscordContentLimit = 2000;

    WebhookSender(WebhookTarget target, QNetworkAccessManager* network, Limits limits = {}, QObject* parent = nullptr);
    ~WebhookSender() override;

    bool wants(const WatchEvent& event) const;
    // Queues the event when it is wanted; returns at once.
    void post(const WatchEvent& event);
    // Events queued or in flight.
    qsizetype waiting() const { return queue_.size(); }
    // Events the bounded queue let go, the oldest first.
    qint64 dropped() const { return dropped_; }
    // Events in messages the server refused for good (a 4xx other than 429).
    qint64 refused() const { return refused_; }
    // How long the sender waited, or waits, before its latest retry.
    std::chrono::milliseconds lastRetryWait() const { return retryTimer_.intervalAsDuration(); }

signals:
    // For the log: failing (once), working again, drops, refusals.
    void logLine(const QByteArray& line);
    // A message was accepted (2xx) holding this many events.
    void delivered(qsizetype events);

private:
    // One event, made ready to send: its JSON object or its text line, with
    // no line feed, and for Discord its length in characters.
    struct Piece
    {
        QByteArray bytes;
        qsizetype characters = 0;
    };

    Piece pieceOf(const WatchEvent& event) const;
    // The next message from the head of the queue; sets messageEvents_.
    QByteArray nextMessage();
    void sendNext();
    void onReplyFinished();
    // Sends the same message again after `wait`; a wait of our own doubles the next one.
    void retryIn(std::chrono::milliseconds wait, const QByteArray& why, bool backingOff);
    void endMessage(); // takes the message's events off the queue
    void say(const QByteArray& text);

    WebhookTarget target_;
    QNetworkAccessManager* network_;
    Limits limits_;
    QByteArray place_;

    // Events in order; the first messageEvents_ of them are the message in
    // flight or waiting to be sent again.
    std::deque<Piece> queue_;
    qsizetype messageEvents_ = 0;
    QByteArray message_;
    QNetworkReply* reply_ = nullptr;
    QTimer retryTimer_;
    QTimer sendSoon_; // lets the events posted in one turn of the event loop go together

    std::chrono::milliseconds nextBackOff_;
    bool failing_ = false;    // said that the URL fails; say when it works again
    bool refusing_ = false;   // said that a message was refused
    qint64 droppedInRun_ = 0; // drops since the queue was last full
    qint64 dropped_ = 0;
    qint64 refused_ = 0;
};
