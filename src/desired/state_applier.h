#pragma once

// Applies a list of commands to one server, one at a time, each only once
// the previous one's reply has ended; stops at the first that fails. Then
// reads the server's state again and says whether it is what was wanted.

#include "desired/state_reader.h"

#include <QByteArray>
#include <QList>
#include <QObject>

#include <functional>
#include <optional>

struct ApplyOutcome
{
    // How many commands went through, and each one's reply, in order.
    int applied = 0;
    QList<QByteArray> replies;
    // Why the next command did not go through; the rest were not sent.
    std::optional<StateFailure> failure;
    // The state read after the commands (also after a failure, so that the
    // caller sees where the server was left), or why it could not be read.
    std::optional<ServerState> after;
    std::optional<StateFailure> readFailure;
    // Every command went through and the state read after satisfies the check.
    bool verified = false;
};

class StateApplier : public QObject
{
    Q_OBJECT

public:
    // `settings` are the settings the state is read with afterwards.
    StateApplier(CommandSender send, QList<QByteArray> settings, QObject* parent = nullptr);

    // Sends `commands`, each a whole console line ("exec mapList.append ..."),
    // then reads the state and checks it with `satisfied`; `finished` follows,
    // once. Nothing is started while an application is under way (false).
    bool apply(QList<QByteArray> commands, std::function<bool(const ServerState&)> satisfied);
    bool isApplying() const { return applying_; }

signals:
    void finished(const ApplyOutcome& outcome);
    // Each command as its reply ends, for a progress display.
    void commandApplied(int index, const QByteArray& command, const QByteArray& reply);

private:
    void sendNext();
    void readBack();
    void finish();

    CommandSender send_;
    StateReader reader_;
    QList<QByteArray> commands_;
    std::function<bool(const ServerState&)> satisfied_;
    ApplyOutcome outcome_;
    bool applying_ = false;
};
