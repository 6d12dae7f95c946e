#pragma once

#include <QByteArray>

// The one record of the console session for the whole process: what the reply
// reader and the announcer share between events.
struct ConsoleState
{
    QByteArray receiveBuffer; // the chunk of the most recent read
    QByteArray digestSeed;    // the seed of the most recent greeting
    bool busy = false;        // raised while the reader handles a chunk whose first 0x04 is its last byte
    bool mapListContinuation = false;
    bool playerListContinuation = false;
    bool banListContinuation = false;
    bool playerLinePair = false;     // an odd number of line feeds since the last player entry
    bool playerPairComplete = false; // the second line feed of a pair, until its entry is stored
    qint32 announceRowIndex = 0;     // the announcement row the announcer sends next

    // The unfinished last line of each open list reply. A line that arrives in
    // two reads is joined instead of being cut in two.
    QByteArray mapPartialLine;
    QByteArray playerPartialLine;
    QByteArray banPartialLine;
    // The start of a reply whose marker was cut by the end of a read ("K" of
    // "Key:", "Authentic" of a login outcome), read again in front of the next chunk.
    QByteArray heldReplyStart;

    // From the connect until the greeting's seed line has been answered. The
    // seed is answered once per connection, never from a later reply.
    bool awaitingSeed = false;
    // The greeting's unfinished last line, while the seed is awaited.
    QByteArray greetingLine;

    void Reset() { *this = ConsoleState{}; }

    // A new connection starts clean: a reply that the old connection left open
    // must not swallow the new greeting. The announcer's place is kept.
    void ForgetOpenReplies()
    {
        mapListContinuation = playerListContinuation = banListContinuation = false;
        playerLinePair = playerPairComplete = false;
        mapPartialLine.clear();
        playerPartialLine.clear();
        banPartialLine.clear();
        heldReplyStart.clear();
        awaitingSeed = false;
        greetingLine.clear();
    }
};
