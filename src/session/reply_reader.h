#pragma once

// The reply reader: recognises the few server texts the client knows and cuts
// the three list replies into list entries. It keeps the state that lets a
// reply arrive in any number of reads: the server answers one command at a
// time, and every reply ends with a 0x04 byte.

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
    // One entry, made of `first` followed directly by `second`; the views are
    // valid during the call only.
    virtual void addEntry(ListKind list, QByteArrayView first, QByteArrayView second) = 0;
    // The bytes of a reply as they arrive, its 0x04 left out. `recognised`
    // when the reader takes the reply for a list, a login outcome or an
    // unknown command.
    virtual void replyText(QByteArrayView bytes, bool recognised) = 0;
    // A list reply has ended: the list is complete.
    virtual void listEnded(ListKind list) = 0;
    // A 0x04 byte arrived: the reply has ended.
    virtual void replyEnded() = 0;
};

class ReplyReader
{
public:
    // The longest list line kept whole; the rest of a longer one is dropped.
    static constexpr qsizetype kMaxLineLength = 16 * 1024 * 1024;

    explicit ReplyReader(ReplySink& sink);

    // A new connection: the greeting is awaited, and nothing the last one left
    // unfinished is carried over.
    void startConnection();
    // The connection ended; a reply it cut short is forgotten.
    void endConnection();

    // Handles the bytes of one read. While the seed is awaited, the greeting is
    // collected up to the seed line's line feed, so a greeting cut anywhere is
    // answered as a whole one; what follows it is replies. A reply that begins
    // with a list marker fills that list until its 0x04, whatever its later
    // reads begin with.
    void read(QByteArrayView chunk);

    // Raised while a read whose first 0x04 byte is its last byte is handled;
    // nothing may be sent meanwhile.
    bool isBusy() const { return busy_; }
    bool isAwaitingSeed() const { return awaitingSeed_; }
    bool isListOpen(ListKind list) const { return openList_ == static_cast<int>(list); }
    // The seed of the latest greeting.
    const QByteArray& digestSeed() const { return digestSeed_; }
    // The first line of a player entry is waiting for its second line.
    bool isPlayerEntryHalfDone() const { return playerLinePair_; }

private:
    QByteArrayView takeGreeting(QByteArrayView chunk);
    void readPiece(QByteArrayView piece);
    void beginReply(QByteArrayView body);
    void openList(ListKind list);
    void parseListLines(QByteArrayView body);
    void takeLine(QByteArrayView line);
    void appendToPartial(QByteArrayView bytes);

    ReplySink& sink_;
    bool busy_ = false;
    // Changes whenever a connection starts or ends, so a read whose reply
    // closed the connection stops there.
    quint64 connection_ = 0;

    bool awaitingSeed_ = false;
    QByteArray greetingLine_; // the greeting's unfinished line, while the seed is awaited
    QByteArray digestSeed_;

    bool replyOpen_ = false;       // a reply has begun and its 0x04 has not come
    bool replyRecognised_ = false; // the open reply is one the reader knows
    int openList_ = -1;            // the list the open reply fills, or -1
    // The start of a reply whose marker was cut by the end of a read ("K" of
    // "Key:", "Authentic" of a login outcome), read again in front of the next one.
    QByteArray heldReplyStart_;

    // The unfinished last line of the open list reply, and whether it has
    // grown past the longest line kept.
    QByteArray partialLine_;
    bool cuttingLine_ = false;
    // An odd number of player lines since the last player entry: the first
    // line of the pair waits for the second.
    bool playerLinePair_ = false;
    QByteArray playerFirstLine_;
};
