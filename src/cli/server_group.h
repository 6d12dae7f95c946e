#pragma once

// Every server of a run in one event loop: starts them, tells when all have
// caught up with the commands (for the prompt) and when all have finished,
// and gives the run's exit status and the summary of what failed.

#include "cli/server_run.h"

#include <QList>
#include <QObject>

#include <memory>
#include <vector>

class ServerGroup : public QObject
{
    Q_OBJECT

public:
    ServerGroup(const QList<ServerTarget>& targets, const CommandFeed& feed, Output& output,
                const RunSettings& settings, QObject* parent = nullptr);

    void start();

    const std::vector<std::unique_ptr<ServerRun>>& runs() const { return runs_; }
    bool isFinished() const;
    // Every server that is still connected has answered every command so far.
    bool isCaughtUp() const;
    // The worst of the servers' outcomes.
    ExitStatus status() const;
    // One line per server that failed, then how many did; empty when none did.
    QList<QByteArray> summary() const;

signals:
    void caughtUp();
    void finished();

private:
    void onRunCaughtUp();
    void onRunFinished();

    std::vector<std::unique_ptr<ServerRun>> runs_;
};
