#pragma once

// Brings a dropped connection back. When a logged-in connection closes without
// the administrator asking for it, and reconnecting is on, the same server is
// tried again after 1, 2, 4, ... seconds, at most 60 apart, until a login
// succeeds. A login that is dropped again within a minute counts as one more
// failed attempt, so a server that lets the client in and throws it out at
// once is not hammered: the wait only starts again from a second once a login
// has held for a minute. A refused password, Connect, Disconnect, or turning
// it off ends the retries. Each attempt is logged; the drop, and the
// connection holding again, are signalled once each for the desktop's
// notifications, however many attempts lie between them.

#include <QByteArray>
#include <QObject>

#include <chrono>
#include <functional>
#include <memory>

class ConsoleSession;
class QTimer;

// The clock of the retries, and of a login holding: one pending call at a
// time. Tests put in one that they advance by hand.
class RetryTimer
{
public:
    virtual ~RetryTimer() = default;
    // Calls `due` once after `delay`, replacing any call still pending.
    virtual void start(std::chrono::milliseconds delay, std::function<void()> due) = 0;
    virtual void stop() = 0;
};

class QtRetryTimer : public RetryTimer
{
public:
    QtRetryTimer();
    ~QtRetryTimer() override;
    void start(std::chrono::milliseconds delay, std::function<void()> due) override;
    void stop() override;

private:
    std::unique_ptr<QTimer> timer_;
    std::function<void()> due_;
};

class AutoReconnect : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::seconds kFirstDelay{1};
    static constexpr std::chrono::seconds kLongestDelay{60};
    // How long a login must last before the connection counts as back.
    static constexpr std::chrono::seconds kHeldAfter{60};

    // The wait before the attempt numbered `attempt` (from 1): 1, 2, 4, ... 60 s.
    static std::chrono::seconds delayBefore(int attempt);

    // Watches `session`; a null timer means a real one.
    explicit AutoReconnect(ConsoleSession& session, std::unique_ptr<RetryTimer> retryTimer = {},
                           std::unique_ptr<RetryTimer> heldTimer = {}, QObject* parent = nullptr);
    ~AutoReconnect() override;

    bool isEnabled() const { return enabled_; }
    // Turning it off ends any retrying.
    void setEnabled(bool enabled);

    // The administrator pressed Connect: any retrying ends, and the attempt
    // that follows is theirs.
    void endRetries();
    // The administrator pressed Disconnect: any retrying ends, and the
    // connection closing now is not to be brought back.
    void stop();

    bool isRetrying() const { return state_ == State::Waiting || state_ == State::Trying; }

    // How long a login must last before the connection counts as back
    // (kHeldAfter unless changed).
    void setHeldAfter(std::chrono::milliseconds heldAfter) { heldAfter_ = heldAfter; }

signals:
    void logLine(const QByteArray& line);
    // A logged-in connection closed that nobody asked to close.
    void connectionLost(const QByteArray& server);
    // A retry logged in again, and that login has held for heldAfter.
    void connectionRestored(const QByteArray& server);

private:
    enum class State {
        Idle,    // no logged-in connection, and no retrying
        Up,      // logged in
        Waiting, // the next attempt is due later
        Trying,  // an attempt is under way
    };

    void onLoggedIn();
    void onLoginFailed();
    void onClosed();
    void onConnectFailed();
    void onHeld();
    void scheduleNext();
    void attempt();
    QByteArray server() const;

    ConsoleSession& session_;
    std::unique_ptr<RetryTimer> timer_;
    std::unique_ptr<RetryTimer> heldTimer_;
    std::chrono::milliseconds heldAfter_ = kHeldAfter;
    bool enabled_ = false;
    State state_ = State::Idle;
    // Failed attempts since a login last held, the logins dropped early included.
    int attempts_ = 0;
    // The loss has been signalled and the connection has not held since.
    bool lost_ = false;
    // The server that was logged in to, as it was typed.
    QByteArray host_;
    int port_ = 0;
};
