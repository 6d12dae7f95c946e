#include "cli/output.h"

void Output::writeReply(QByteArrayView bytes)
{
    if (!bytes.isEmpty())
        std::fwrite(bytes.data(), 1, size_t(bytes.size()), replies_);
}

void Output::flushReplies()
{
    std::fflush(replies_);
}

void Output::writeMessage(QByteArrayView line)
{
    flushReplies();
    std::fwrite(line.data(), 1, size_t(line.size()), messages_);
    std::fputc('\n', messages_);
    std::fflush(messages_);
}
