#pragma once

// The reply reader: recognises the few server texts the client knows in each
// chunk of bytes and cuts the three list replies into list entries. It knows
// nothing of requests; it goes by the text and by the state it keeps.

#include "session/console_state.h"

#include <QByteArray>

enum class ListKind { Maps, Players, Bans };

// What the reader reports. The window (through the console session) applies it.
class ReplySink
{
public:
    virtual ~ReplySink() = default;
    virtual void Log(const QByteArray& line) = 0;
    // A greeting arrived; its seed is in ConsoleState::digestSeed.
    virtual void AnswerGreeting() = 0;
    virtual void LoginSucceeded() = 0;
    virtual void CloseConnection() = 0;
    virtual void ClearList(ListKind list) = 0;
    virtual void AddEntry(ListKind list, QByteArray entry) = 0;
    // A 0x04 byte arrived: the reply to the command on the wire has ended.
    virtual void ReplyEnded() = 0;
};

// Handles one chunk: the bytes taken at one read notification. While the seed
// is awaited, the greeting is collected up to the seed line's line feed, so a
// greeting cut anywhere is answered as a whole one. The chunk is then cut after
// every 0x04 byte and each piece is read as if it had arrived alone, so a list
// never takes the lines of the reply that follows it.
void ReadReply(ConsoleState& state, const QByteArray& chunk, ReplySink& sink);
