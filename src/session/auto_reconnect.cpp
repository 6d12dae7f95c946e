#include "session/auto_reconnect.h"

#include "core/errors.h"
#include "session/console_session.h"

#include <QTimer>

#include <algorithm>
#include <utility>

QtRetryTimer::QtRetryTimer()
    : timer_(std::make_unique<QTimer>())
{
    timer_->setSingleShot(true);
    QObject::connect(timer_.get(), &QTimer::timeout, timer_.get(), [this] {
        if (const auto due = std::exchange(due_, nullptr))
            due();
    });
}

QtRetryTimer::~QtRetryTimer() = default;

void QtRetryTimer::start(std::chrono::milliseconds delay, std::function<void()> due)
{
    due_ = std::move(due);
    timer_->start(delay);
}

void QtRetryTimer::stop()
{
    timer_->stop();
    due_ = nullptr;
}

std::chrono::seconds AutoReconnect::delayBefore(int attempt)
{
    // 2^(attempt - 1) seconds, with the shift kept small enough not to overflow.
    const int doublings = std::clamp(attempt - 1, 0, 30);
    const std::chrono::seconds delay = kFirstDelay * (std::chrono::seconds::rep(1) << doublings);
    return std::min(delay, kLongestDelay);
}

AutoReconnect::AutoReconnect(ConsoleSession& session, std::unique_ptr<RetryTimer> retryTimer,
                             std::unique_ptr<RetryTimer> heldTimer, QObject* parent)
    : QObject(parent)
    , session_(session)
    , timer_(retryTimer ? std::move(retryTimer) : std::make_unique<QtRetryTimer>())
    , heldTimer_(heldTimer ? std::move(heldTimer) : std::make_unique<QtRetryTimer>())
{
    connect(&session_, &ConsoleSession::loggedIn, this, &AutoReconnect::onLoggedIn);
    connect(&session_, &ConsoleSession::loginFailed, this, &AutoReconnect::onLoginFailed);
    connect(&session_, &ConsoleSession::disconnected, this, &AutoReconnect::onClosed);
    connect(&session_, &ConsoleSession::connectFailed, this, &AutoReconnect::onConnectFailed);
}

AutoReconnect::~AutoReconnect() = default;

void AutoReconnect::setEnabled(bool enabled)
{
    enabled_ = enabled;
    if (!enabled)
        endRetries();
}

void AutoReconnect::endRetries()
{
    if (!isRetrying())
        return;
    timer_->stop();
    state_ = State::Idle;
    emit logLine("Reconnecting stopped.");
}

void AutoReconnect::stop()
{
    endRetries();
    heldTimer_->stop();
    state_ = State::Idle;
}

QByteArray AutoReconnect::server() const
{
    return host_ + ':' + QByteArray::number(port_);
}

void AutoReconnect::onLoggedIn()
{
    const bool retried = state_ == State::Trying;
    timer_->stop();
    state_ = State::Up;
    if (!retried) {
        // The administrator's own login starts afresh.
        attempts_ = 0;
        lost_ = false;
    }
    host_ = session_.host();
    port_ = session_.port();
    // The back-off ends, and the return is announced, only once this login has held.
    heldTimer_->start(heldAfter_, [this] { onHeld(); });
    if (retried) {
        // After the lines of the read that brought the login, which the session logs at its end.
        QMetaObject::invokeMethod(
            this, [this, server = server()] { emit logLine("Reconnected to " + server + '.'); }, Qt::QueuedConnection);
    }
}

void AutoReconnect::onHeld()
{
    if (state_ != State::Up)
        return;
    attempts_ = 0;
    if (std::exchange(lost_, false))
        emit connectionRestored(server());
}

void AutoReconnect::onLoginFailed()
{
    // Trying a refused password again and again would only look like an attack.
    if (state_ == State::Trying)
        emit logLine("The password was refused; reconnecting stopped.");
    timer_->stop();
    state_ = State::Idle;
}

void AutoReconnect::onClosed()
{
    heldTimer_->stop();
    if (state_ == State::Up) {
        // Said once until the connection holds again, not at every login it drops.
        if (!std::exchange(lost_, true))
            emit connectionLost(server());
        if (!enabled_) {
            state_ = State::Idle;
            lost_ = false;
            return;
        }
        emit logLine("The connection to " + server() + " was lost; reconnecting automatically.");
        scheduleNext();
    } else if (state_ == State::Trying) {
        scheduleNext();
    }
}

void AutoReconnect::onConnectFailed()
{
    if (state_ == State::Trying)
        scheduleNext();
}

void AutoReconnect::scheduleNext()
{
    state_ = State::Waiting;
    const std::chrono::seconds delay = delayBefore(++attempts_);
    emit logLine("Reconnecting in " + QByteArray::number(qint64(delay.count()))
                 + (delay == kFirstDelay ? " second" : " seconds") + " (attempt " + QByteArray::number(attempts_)
                 + ")...");
    timer_->start(delay, [this] { attempt(); });
}

void AutoReconnect::attempt()
{
    state_ = State::Trying;
    try {
        session_.connectToServer(host_, QByteArray::number(port_));
    } catch (const RavelinError& error) {
        emit logLine(error.message());
        if (state_ == State::Trying)
            scheduleNext();
    }
}
