#include "cli/command_feed.h"

#include "session/console_session.h"

QByteArray CommandFeed::append(const QByteArray& typed)
{
    if (closed_)
        return {};
    TerminalText::ServerBytes command = terminal_.toServer(typed);
    QByteArray problem = command.problem.isEmpty() ? commandLengthProblem(command.bytes)
                                                   : "The command cannot be sent: " + command.problem + "...";
    if (!problem.isEmpty()) {
        refusedAny_ = true;
        return problem;
    }
    commands_.append(std::move(command.bytes));
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
