#include "watch/server_watch.h"

#include "admin/list_fields.h"
#include "core/windows1252.h"
#include "session/auto_reconnect.h"
#include "session/socket_errors.h"

#include <QPointer>

ServerWatch::ServerWatch(Target target, Timing timing, QObject* parent)
    : QObject(parent)
    , target_(std::move(target))
    , timing_(timing)
{
    session_.setReplyTimeout(timing_.replyTimeout);
    session_.setGiveUpTimeout(std::max(timing_.giveUpTimeout, timing_.replyTimeout));
    session_.setPasswordSource([this] { return target_.password; });
    lookTimer_.setInterval(timing_.interval);
    connect(&lookTimer_, &QTimer::timeout, this, &ServerWatch::look);
    retryTimer_.setSingleShot(true);
    connect(&retryTimer_, &QTimer::timeout, this, [this] {
        if (running_)
            session_.connectToServer(target_.host, QByteArray::number(target_.port));
    });
    connect(&session_, &ConsoleSession::logLine, this, [this](const QByteArray& line) {
        if (line != "Disconnected..." && !line.startsWith("Connecting to "))
            lastTrouble_ = socket_error::withWords(line);
        emit logLine(line);
    });
    connect(&session_, &ConsoleSession::loggedIn, this, &ServerWatch::onLoggedIn);
    connect(&session_, &ConsoleSession::loginFailed, this, [this] { passwordRefused_ = true; });
    connect(&session_, &ConsoleSession::disconnected, this, &ServerWatch::onClosed);
    connect(&session_, &ConsoleSession::connectFailed, this, &ServerWatch::onClosed);
}

void ServerWatch::start()
{
    running_ = true;
    setState(State::LoggingIn);
    session_.connectToServer(target_.host, QByteArray::number(target_.port));
}

void ServerWatch::stop()
{
    if (!running_)
        return;
    running_ = false;
    retryTimer_.stop();
    lookTimer_.stop();
    if (up_)
        emitDown(QStringLiteral("the watch stopped"));
    session_.disconnectFromServer();
    setState(State::Stopped);
}

void ServerWatch::setState(State state, const QString& trouble)
{
    state_ = state;
    trouble_ = trouble;
    emit changed();
}

QDateTime ServerWatch::seenSince(const SeenPlayer& player) const
{
    return seenSince_.value(player.key());
}

CommandReply* ServerWatch::send(const QByteArray& command)
{
    return up_ ? session_.sendCommand(command) : nullptr;
}

void ServerWatch::lookSoon(bool bans)
{
    if (bans)
        sinceBans_.invalidate();
    if (up_ && !looking_)
        QTimer::singleShot(0, this, &ServerWatch::look);
}

LookContext ServerWatch::context() const
{
    return {lookTime_, target_.name, QString::fromUtf8(target_.host) + u':' + QString::number(target_.port)};
}

WatchEvent ServerWatch::serverEvent(WatchEvent::Kind kind) const
{
    WatchEvent event;
    event.kind = kind;
    event.time = QDateTime::currentDateTimeUtc();
    event.server = target_.name;
    event.serverAddress = QString::fromUtf8(target_.host) + u':' + QString::number(target_.port);
    return event;
}

void ServerWatch::onLoggedIn()
{
    up_ = true;
    loggedInSince_.start();
    players_.reset();
    bans_.reset();
    map_.reset();
    levelIndex_.reset();
    maxPlayers_.reset();
    seenSince_.clear();
    setState(State::Up);
    emit observed({serverEvent(WatchEvent::Kind::Up)}, {});
    // The session takes no command while it reads the reply that logged us in.
    QTimer::singleShot(0, this, &ServerWatch::look);
    lookTimer_.start();
}

void ServerWatch::emitDown(const QString& why)
{
    up_ = false;
    looking_ = false;
    lookTimer_.stop();
    WatchEvent event = serverEvent(WatchEvent::Kind::Down);
    event.text = why;
    emit observed({event}, {});
}

// Down is said once for each time the server was up; a server that never
// let us in says it once too, at the first failure.
void ServerWatch::onClosed()
{
    const QString why = passwordRefused_ ? QStringLiteral("the password was refused")
                                         : windows1252::decode(std::exchange(lastTrouble_, QByteArray()));
    const bool wasUp = up_;
    if (wasUp || (attempts_ == 0 && running_ && !ended_))
        emitDown(why.isEmpty() ? QStringLiteral("the connection closed") : why);
    if (!running_)
        return;
    if (passwordRefused_) {
        ended_ = true;
        setState(State::Refused, why);
        emit logLine("The password was refused; " + target_.name.toUtf8() + " is no longer watched.");
        return;
    }
    // A login that held for a minute starts the waits afresh.
    if (wasUp && loggedInSince_.isValid()
        && loggedInSince_.elapsed() >= std::chrono::milliseconds(AutoReconnect::kHeldAfter).count())
        attempts_ = 0;
    setState(State::Down, why.isEmpty() ? QStringLiteral("the connection closed") : why);
    connectSoon();
}

void ServerWatch::connectSoon()
{
    ++attempts_;
    retryTimer_.start(AutoReconnect::delayBefore(attempts_));
}

void ServerWatch::ask(const QByteArray& command, std::function<void(const CommandReply&)> answered)
{
    CommandReply* answer = session_.sendCommand(command);
    if (!answer) {
        looking_ = false;
        return;
    }
    connect(answer, &CommandReply::finished, this, [this, answer, answered = std::move(answered)] {
        if (answer->state() == CommandReply::State::Answered && up_)
            answered(*answer);
        else
            looking_ = false;
    });
}

// A look that has not ended by the next tick (a server stopped for a map
// change) is not overtaken: that tick is skipped.
void ServerWatch::look()
{
    if (!up_ || looking_)
        return;
    looking_ = true;
    lookTime_ = QDateTime::currentDateTimeUtc();
    found_.clear();
    ask("exec admin.listPlayers", [this](const CommandReply& answer) { lookAtPlayers(answer); });
}

void ServerWatch::lookAtPlayers(const CommandReply& answer)
{
    const QList<SeenPlayer> now = playersFrom(answer.entries());
    const QList<WatchEvent> changes = playerChanges(players_, now, context());
    playersChanged_ = !changes.isEmpty();
    found_.append(changes);
    players_ = now;
    QHash<QString, QDateTime> since;
    for (const SeenPlayer& player : now)
        since.insert(player.key(), seenSince_.value(player.key(), lookTime_));
    seenSince_ = std::move(since);
    lookAtMap();
}

// The stock server gives the current level as the map's number in the
// rotation; its name comes from the rotation, read again only when the
// number changes. A server that gives the name is taken at its word.
void ServerWatch::lookAtMap()
{
    const bool due = !map_ || playersChanged_ || !sinceMap_.isValid()
        || sinceMap_.elapsed() >= timing_.mapInterval.count();
    if (!due) {
        lookAtBans();
        return;
    }
    ask("exec admin.currentLevel", [this](const CommandReply& answer) {
        sinceMap_.start();
        const QString level = windows1252::decode(answer.text()).section(u'\n', 0, 0).trimmed();
        bool isNumber = false;
        const int index = level.toInt(&isNumber);
        if (isNumber && index == levelIndex_ && map_) {
            lookAtMaxPlayers();
        } else if (isNumber) {
            ask("exec maplist.list", [this, index](const CommandReply& rotation) {
                levelIndex_ = index;
                for (qsizetype i = 0; i < rotation.entries().size(); ++i) {
                    const list_fields::MapFields map = list_fields::mapFields(rotation.entries().at(i).toByteArray());
                    if (map.index == index && map.name)
                        takeMap(windows1252::decode(*map.name));
                }
                lookAtMaxPlayers();
            });
        } else {
            // A map's name is one word ("strike_at_karkand"); a sentence is a
            // server without the command saying so.
            if (!level.isEmpty() && !level.contains(u' '))
                takeMap(level);
            lookAtMaxPlayers();
        }
    });
}

void ServerWatch::takeMap(const QString& map)
{
    if (map_ && *map_ != map) {
        WatchEvent event = serverEvent(WatchEvent::Kind::Map);
        event.time = lookTime_;
        event.previous = *map_;
        event.map = map;
        found_.append(event);
    }
    map_ = map;
}

// The most players the server takes, once a connection.
void ServerWatch::lookAtMaxPlayers()
{
    if (maxPlayers_) {
        lookAtBans();
        return;
    }
    ask("exec sv.maxPlayers", [this](const CommandReply& answer) {
        bool ok = false;
        const int most = answer.text().trimmed().toInt(&ok);
        if (ok)
            maxPlayers_ = most;
        lookAtBans();
    });
}

void ServerWatch::lookAtBans()
{
    if (bans_ && sinceBans_.isValid() && sinceBans_.elapsed() < timing_.banInterval.count()) {
        finishLook();
        return;
    }
    ask("exec admin.listBannedKeys", [this](const CommandReply& keys) {
        keyBans_ = keyBansFrom(keys.entries());
        ask("exec admin.listBannedAddresses", [this](const CommandReply& addresses) {
            QList<SeenBan> now = std::exchange(keyBans_, {});
            now.append(addressBansFrom(addresses.text()));
            found_.append(banChanges(bans_, now, context()));
            bans_ = now;
            bansReadAt_ = lookTime_;
            sinceBans_.start();
            finishLook();
        });
    });
}

void ServerWatch::finishLook()
{
    looking_ = false;
    lastLook_ = lookTime_;
    PopulationSample sample;
    sample.time = lookTime_;
    sample.server = target_.name;
    sample.players = players_ ? int(players_->size()) : 0;
    sample.maxPlayers = maxPlayers_;
    sample.map = map_.value_or(QString());
    emit observed(std::exchange(found_, {}), {sample});
    emit changed();
}
