#pragma once

// Where ravelin-cli writes: the replies to one stream (standard output), what
// went wrong to another (standard error). Replies are buffered and flushed at
// the end of each reply; a message flushes the replies first, so that on a
// shared terminal the two come out in the order they happened. What it is
// given is UTF-8; it goes out in the terminal's encoding.

#include "cli/terminal_text.h"

#include <QByteArrayView>

#include <cstdio>

class Output
{
public:
    Output(std::FILE* replies, std::FILE* messages, TerminalText terminal = TerminalText())
        : replies_(replies)
        , messages_(messages)
        , terminal_(std::move(terminal))
    { }

    void writeReply(QByteArrayView bytes);
    void flushReplies();
    // One line of a message; its line feed is added.
    void writeMessage(QByteArrayView line);

private:
    std::FILE* replies_;
    std::FILE* messages_;
    TerminalText terminal_;
};
