#include "cli/output.h"

namespace {

void writeText(std::FILE* stream, QByteArrayView utf8, const TerminalText& terminal)
{
    if (terminal.isUtf8()) {
        std::fwrite(utf8.data(), 1, size_t(utf8.size()), stream);
        return;
    }
    const QByteArray shown = terminal.toTerminal(utf8);
    std::fwrite(shown.constData(), 1, size_t(shown.size()), stream);
}

} // namespace

void Output::writeReply(QByteArrayView text)
{
    if (!text.isEmpty())
        writeText(replies_, text, terminal_);
}

void Output::flushReplies()
{
    std::fflush(replies_);
}

void Output::writeMessage(QByteArrayView line)
{
    flushReplies();
    writeText(messages_, line, terminal_);
    std::fputc('\n', messages_);
    std::fflush(messages_);
}
