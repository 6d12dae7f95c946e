#pragma once

// Reads the part of a live server's state that a desired-state plan compares:
// the rotation ("exec maplist.list"), each setting named ("exec sv.X"), and
// the key and address bans with their time left. Strictly one command at a
// time, the next only once the previous one's reply has ended, over whatever
// sends commands: a ConsoleSession's sendCommand, or a ServerWatch's send.

#include "desired/server_state.h"
#include "session/command_reply.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

// Sends one command and gives the handle its reply comes to, or null when it
// could not go out.
using CommandSender = std::function<CommandReply*(const QByteArray&)>;

// Why a server's state could not be read, or a command not applied.
struct StateFailure
{
    enum class Kind {
        ConnectionLost, // the command could not go out, or its reply never came
        ReplyRefused,   // the server answered with an error or as to an unknown command
        UnknownSetting, // the server has no setting by that name
        Unreadable,     // a line of a listing is not one the reader can take without loss
    };

    Kind kind = Kind::ConnectionLost;
    QByteArray command; // the command it happened at
    QByteArray reply;   // what the server answered, when it did

    // In words, for the user: "sv.noSuch is not a setting of this server".
    QString message() const;
};

// Whether a reply says the command failed: the stock server answers an error
// with a line starting "error:", and a command it does not know with
// "Unknown object or method!" (or "unknown command").
bool replyRefuses(QByteArrayView reply);

// The rotation of a "maplist.list" reply, one "0: \"name\" mode size" a line;
// nothing when a line is not one (an empty reply is an empty rotation).
std::optional<QList<RotationEntry>> rotationFrom(QByteArrayView reply);

class StateReader : public QObject
{
    Q_OBJECT

public:
    // `settings` are the names to read, as "sv.ticketRatio".
    StateReader(CommandSender send, QList<QByteArray> settings, QObject* parent = nullptr);

    // Starts a reading; `read` or `failed` follows, once. A reading under way
    // is given up for the new one: its outstanding reply is no longer heard.
    void start();
    bool isReading() const { return reading_; }

signals:
    void read(const ServerState& state);
    void failed(const StateFailure& failure);

private:
    void ask(const QByteArray& command, void (StateReader::*next)(const CommandReply&));
    void takeRotation(const CommandReply& reply);
    void readNextSetting();
    void takeSetting(const CommandReply& reply);
    void takeKeyBans(const CommandReply& reply);
    void takeAddressBans(const CommandReply& reply);
    void fail(StateFailure::Kind kind, const QByteArray& command, const QByteArray& reply = {});

    CommandSender send_;
    QList<QByteArray> settingNames_;
    qsizetype nextSetting_ = 0;
    ServerState state_;
    bool reading_ = false;
    QPointer<CommandReply> awaited_;
};
