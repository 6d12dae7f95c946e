#include "cli/command_feed.h"

#include "session/console_session.h"

QByteArray CommandFeed::append(const QByteArray& command)
{
    if (closed_)
        return {};
    QByteArray problem = commandLengthProblem(command);
    if (!problem.isEmpty()) {
        refusedAny_ = true;
        return problem;
    }
    commands_.append(command);
    emit changed();
    return {};
}

void CommandFeed::close()
{
    if (closed_)
        return;
    closed_ = true;
    emit changed();
}
