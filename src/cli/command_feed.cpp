#include "cli/command_feed.h"

void CommandFeed::append(const QByteArray& command)
{
    if (closed_)
        return;
    commands_.append(command);
    emit changed();
}

void CommandFeed::close()
{
    if (closed_)
        return;
    closed_ = true;
    emit changed();
}
