#pragma once

// Watches one server: holds a connection to it, looks at it every interval
// through the stock console, one command at a time, and tells what changed
// since the last look. Every look lists the players; the map is asked for at
// the first look, when players came or went, and at least once a minute (its
// number, and the rotation for its name when the number changed); the
// key and address bans at the first look and every five minutes. A dropped
// or refused connection is tried again after 1, 2, 4, ... seconds, at most
// 60 apart, as Reconnect Automatically does; a refused password ends the
// watch of that server.

#include "session/console_session.h"
#include "watch/poll_diff.h"
#include "watch/watch_event.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>

class ServerWatch : public QObject
{
    Q_OBJECT

public:
    // The interval of a look, unless set; the command line takes no less than 5 s.
    static constexpr std::chrono::milliseconds kDefaultInterval{15000};

    struct Target
    {
        QString name;
        QByteArray host;
        quint16 port = 4711;
        QByteArray password;
    };
    struct Timing
    {
        std::chrono::milliseconds interval = kDefaultInterval;
        std::chrono::milliseconds mapInterval{60000};
        std::chrono::milliseconds banInterval{300000};
        std::chrono::milliseconds replyTimeout{10000};
        std::chrono::milliseconds giveUpTimeout{60000};
    };

    ServerWatch(Target target, Timing timing, QObject* parent = nullptr);

    // Where the watch stands, as the fleet shows it.
    enum class State {
        Stopped,   // not started, or stopped
        LoggingIn, // connecting and logging in, at the start or after a drop
        Up,        // logged in and looking
        Down,      // the connection ended or could not be made; tried again soon
        Refused,   // the password was refused; the watch has ended
    };

    const Target& target() const { return target_; }
    bool isUp() const { return up_; }
    // The watch ended for good: the password was refused.
    bool hasEnded() const { return ended_; }
    State state() const { return state_; }
    // Why the server is down or refused, in words; empty while it is up.
    const QString& trouble() const { return trouble_; }

    // What the last look saw: empty, or nothing, before the first look of a connection.
    QList<SeenPlayer> players() const { return players_.value_or(QList<SeenPlayer>()); }
    const std::optional<QString>& map() const { return map_; }
    const std::optional<int>& maxPlayers() const { return maxPlayers_; }
    const std::optional<QList<SeenBan>>& bans() const { return bans_; }
    // When bans() was read, in UTC.
    const QDateTime& bansReadAt() const { return bansReadAt_; }
    // When the last look ended, in UTC; invalid before the first.
    const QDateTime& lastLook() const { return lastLook_; }
    // Since when the watch has seen a player on the server, by their playerKey.
    QDateTime seenSince(const SeenPlayer& player) const;

    // Sends a command of the user's between the looks' own, one at a time
    // like them; null when the server is not up (nothing was sent).
    CommandReply* send(const QByteArray& command);
    // Looks again at once (after an action), unless a look is under way;
    // the bans too when `bans` is set.
    void lookSoon(bool bans = false);

    void start();
    // Closes the connection; a last Down event says the watch stopped.
    void stop();

signals:
    // What one look found, or the server going up or down.
    void observed(const QList<WatchEvent>& events, const QList<PopulationSample>& samples);
    // A line of the session's log, and the watch's own.
    void logLine(const QByteArray& line);
    // The state changed, or a look ended: what the getters give is new.
    void changed();

private:
    // One step of a look: a command, and what to do with its answer.
    void ask(const QByteArray& command, std::function<void(const CommandReply&)> answered);
    void look();
    void lookAtPlayers(const CommandReply& answer);
    void lookAtMap();
    void lookAtMaxPlayers();
    void takeMap(const QString& map);
    void lookAtBans();
    void finishLook();

    void onLoggedIn();
    void onClosed();
    void connectSoon();
    void emitDown(const QString& why);
    void setState(State state, const QString& trouble = {});
    WatchEvent serverEvent(WatchEvent::Kind kind) const;
    LookContext context() const;

    Target target_;
    Timing timing_;
    ConsoleSession session_;
    QTimer lookTimer_;
    QTimer retryTimer_;

    State state_ = State::Stopped;
    QString trouble_;
    QDateTime lastLook_;
    QDateTime bansReadAt_;
    QHash<QString, QDateTime> seenSince_; // by SeenPlayer key, for the players present
    bool running_ = false;
    bool up_ = false;
    bool ended_ = false;
    bool looking_ = false;
    bool passwordRefused_ = false;
    int attempts_ = 0; // failed attempts since a login last held for a minute
    QElapsedTimer loggedInSince_;
    QByteArray lastTrouble_; // the last line the session logged, for a Down event

    // What the last look saw; none before the first look of a connection.
    std::optional<QList<SeenPlayer>> players_;
    std::optional<QList<SeenBan>> bans_;
    std::optional<QString> map_;
    std::optional<int> levelIndex_; // the current level's number in the rotation
    std::optional<int> maxPlayers_;
    QElapsedTimer sinceMap_;
    QElapsedTimer sinceBans_;

    // The look under way.
    QDateTime lookTime_;
    QList<WatchEvent> found_;
    bool playersChanged_ = false;
    QList<SeenBan> keyBans_;
};
