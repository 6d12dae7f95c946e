#include "desired/state_applier.h"

#include <utility>

StateApplier::StateApplier(CommandSender send, QList<QByteArray> settings, QObject* parent)
    : QObject(parent)
    , send_(send)
    , reader_(send, std::move(settings))
{
    connect(&reader_, &StateReader::read, this, [this](const ServerState& state) {
        outcome_.after = state;
        outcome_.verified = !outcome_.failure && satisfied_ && satisfied_(state);
        finish();
    });
    connect(&reader_, &StateReader::failed, this, [this](const StateFailure& failure) {
        outcome_.readFailure = failure;
        finish();
    });
}

bool StateApplier::apply(QList<QByteArray> commands, std::function<bool(const ServerState&)> satisfied)
{
    if (applying_)
        return false;
    applying_ = true;
    commands_ = std::move(commands);
    satisfied_ = std::move(satisfied);
    outcome_ = {};
    sendNext();
    return true;
}

void StateApplier::sendNext()
{
    if (outcome_.applied >= commands_.size()) {
        readBack();
        return;
    }
    const QByteArray& command = commands_[outcome_.applied];
    CommandReply* reply = send_(command);
    if (!reply) {
        outcome_.failure = StateFailure{StateFailure::Kind::ConnectionLost, command, {}};
        readBack();
        return;
    }
    connect(reply, &CommandReply::finished, this, [this, reply] {
        if (reply->state() != CommandReply::State::Answered) {
            outcome_.failure = StateFailure{StateFailure::Kind::ConnectionLost, reply->command(), {}};
        } else if (replyRefuses(reply->text())) {
            outcome_.failure = StateFailure{StateFailure::Kind::ReplyRefused, reply->command(), reply->text()};
        } else {
            outcome_.replies.append(reply->text());
            emit commandApplied(outcome_.applied, reply->command(), reply->text());
            ++outcome_.applied;
        }
        if (outcome_.failure)
            readBack();
        else
            sendNext();
    });
}

// After a failure too: the caller needs to know where the server was left. A
// lost connection leaves nothing to read, and the reader says so.
void StateApplier::readBack()
{
    reader_.start();
}

void StateApplier::finish()
{
    applying_ = false;
    emit finished(outcome_);
}
