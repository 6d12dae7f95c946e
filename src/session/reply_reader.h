#pragma once

// The reply reader: recognises the few server texts the client knows in each
// read and cuts the three list replies into list entries. It knows nothing of
// requests; it goes by the text and by the state it keeps between reads.

#include <QByteArray>
#include <QByteArrayView>

enum class ListKind { Maps, Players, Bans };

// What the reader reports.
class ReplySink
{
public:
    virtual ~ReplySink() = default;
    virtual void log(const QByteArray& line) = 0;
    // The greeting's seed line arrived: it is to be answered with a login.
    virtual void answerGreeting(const QByteArray& seed) = 0;
    virtual void loginSucceeded() = 0;
    // The login failed: the connection is to be closed, within this read.
    virtual void closeConnection() = 0;
    virtual void clearList(ListKind list) = 0;
    virtual void addEntry(ListKind list, QByteArray entry) = 0;
    // A 0x04 byte arrived: a reply has ended.
    virtual void replyEnded() = 0;
};

class ReplyReader
{
public:
    explicit ReplyReader(ReplySink& sink);

    // A new connection: the greeting is awaited, and no reply the last one
    // left open swallows it.
    void startConnection();
    // The connection ended; a reply it cut short is forgotten.
    void endConnection();

    // Handles the bytes of one read. While the seed is awaited, the greeting is
    // collected up to the seed line's line feed, so a greeting cut anywhere is
    // answered as a whole one. The read is then cut after every 0x04 byte and
    // each piece is read as if it had arrived alone, so a list never takes the
    // lines of the reply that follows it.
    void read(QByteArrayView chunk);

    // Raised while a read whose first 0x04 byte is its last byte is handled;
    // nothing may be sent meanwhile.
    bool isBusy() const { return busy_; }
    bool isAwaitingSeed() const { return awaitingSeed_; }
    bool isListOpen(ListKind list) const;
    // The seed of the latest greeting.
    const QByteArray& digestSeed() const { return digestSeed_; }
    // The first line of a player entry is waiting for its second line.
    bool isPlayerEntryHalfDone() const { return playerLinePair_; }

private:
    struct List
    {
        bool open = false;
        // The unfinished last line of the open reply. A line that arrives in
        // two reads is joined instead of being cut in two.
        QByteArray partialLine;
    };

    List& listFor(ListKind list);
    bool anyListOpen() const;
    void takeGreeting(QByteArrayView chunk);
    void readPiece(QByteArrayView piece);
    template <typename OnLine>
    void parseList(QByteArrayView piece, ListKind list, OnLine onLine);
    void parseLines(QByteArrayView piece, ListKind list);
    void parsePlayers(QByteArrayView piece);

    ReplySink& sink_;
    bool busy_ = false;
    List maps_, players_, bans_;
    // An odd number of player lines since the last player entry.
    bool playerLinePair_ = false;
    // The start of a reply whose marker was cut by the end of a read ("K" of
    // "Key:", "Authentic" of a login outcome), read again in front of the next one.
    QByteArray heldReplyStart_;
    // From the connect until the greeting's seed line has been answered: the
    // seed is answered once per connection, never from a later reply.
    bool awaitingSeed_ = false;
    // The greeting's unfinished last line, while the seed is awaited.
    QByteArray greetingLine_;
    QByteArray digestSeed_;
};
