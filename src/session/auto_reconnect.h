#pragma once

// Brings a dropped connection back. When a logged-in connection closes without
// the administrator asking for it, and reconnecting is on, the same server is
// tried again after 1, 2, 4, ... seconds, at most 60 apart, until a login
// succeeds. A refused password, Connect, Disconnect, or turning it off ends
// the retries. Each attempt is logged; the drop and the return are signalled
// for the desktop's notifications.

#include <QByteArray>
#include <QObject>

#include <chrono>
#include <functional>
#include <memory>

class ConsoleSession;
class QTimer;

// The clock of the retries: one pending call at a time. Tests put in one that
// they advance by hand.
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

    // The wait before the attempt numbered `attempt` (from 1): 1, 2, 4, ... 60 s.
    static std::chrono::seconds delayBefore(int attempt);

    // Watches `session`; null `timer` means a real one.
    explicit AutoReconnect(ConsoleSession& session, std::unique_ptr<RetryTimer> timer = {}, QObject* parent = nullptr);
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

signals:
    void logLine(const QByteArray& line);
    // A logged-in connection closed that nobody asked to close.
    void connectionLost(const QByteArray& server);
    // A retry logged in again.
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
    void scheduleNext();
    void attempt();
    QByteArray server() const;

    ConsoleSession& session_;
    std::unique_ptr<RetryTimer> timer_;
    bool enabled_ = false;
    State state_ = State::Idle;
    int attempts_ = 0;
    // The server that was logged in to, as it was typed.
    QByteArray host_;
    int port_ = 0;
};
