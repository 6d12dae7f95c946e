#include "cli/server_group.h"

#include "cli/command_feed.h"

#include <algorithm>

ServerGroup::ServerGroup(const QList<ServerTarget>& targets, const CommandFeed& feed, Output& output,
                         const RunSettings& settings, QObject* parent)
    : QObject(parent)
{
    for (const ServerTarget& target : targets) {
        auto& run = *runs_.emplace_back(std::make_unique<ServerRun>(target, feed, output, settings));
        connect(&run, &ServerRun::caughtUp, this, &ServerGroup::onRunCaughtUp);
        connect(&run, &ServerRun::finished, this, &ServerGroup::onRunFinished);
    }
}

void ServerGroup::start()
{
    if (runs_.empty()) {
        emit finished();
        return;
    }
    for (const auto& run : runs_)
        run->start();
}

bool ServerGroup::isFinished() const
{
    return std::all_of(runs_.begin(), runs_.end(), [](const auto& run) { return run->isFinished(); });
}

bool ServerGroup::isCaughtUp() const
{
    return std::all_of(runs_.begin(), runs_.end(),
                       [](const auto& run) { return run->isFinished() || run->isCaughtUp(); });
}

ExitStatus ServerGroup::status() const
{
    ExitStatus status = ExitStatus::Answered;
    for (const auto& run : runs_)
        status = worse(status, run->status());
    return status;
}

QList<QByteArray> ServerGroup::summary() const
{
    QList<QByteArray> lines;
    for (const auto& run : runs_) {
        if (run->status() == ExitStatus::Answered)
            continue;
        QByteArray line = run->name().toUtf8() + ": ";
        if (run->status() == ExitStatus::ReplyTimedOut) {
            const int count = std::max(1, run->timedOutReplies());
            line += QByteArray::number(count) + (count == 1 ? " reply" : " replies") + " timed out";
        } else {
            line += describe(run->status());
            if (!run->troubles().isEmpty())
                line += ": " + run->troubles().join("; ");
        }
        lines.append(line);
    }
    if (!lines.isEmpty()) {
        lines.append(QByteArray::number(lines.size()) + " of " + QByteArray::number(qsizetype(runs_.size()))
                     + " servers failed");
    }
    return lines;
}

void ServerGroup::onRunCaughtUp()
{
    if (isCaughtUp())
        emit caughtUp();
}

void ServerGroup::onRunFinished()
{
    if (isFinished())
        emit finished();
    else if (isCaughtUp())
        emit caughtUp();
}
