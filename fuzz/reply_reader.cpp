// The reply reader over a stream of server replies cut into reads.
//
// However the stream is cut, every map and ban entry is one line of a reply
// (the bytes after a line feed, a 0x04 or the stream's start, up to the next
// line feed, without it), every player entry two consecutive lines of a reply
// joined, in the order of the stream, each stored during the read that brought
// its last line feed. Every 0x04 ends one reply, reported once. The seed is
// answered once, from the first line that holds its marker, during the read
// that brought that line's line feed, and the reader awaits it until then. The busy
// flag is raised during a read exactly when the read's first 0x04 is its last
// byte and is lowered after every read; at most one list is open; an open
// player list is half-way through an entry exactly when it has taken an odd
// number of lines; and a stream that ends with 0x04 leaves every list closed.
//
// Read whole, the stream gives exactly the entries of a plain model: each
// reply that begins with "0:", "Id:" or "Key:" empties its list and fills it
// with its lines. Cut into reads, the stream gives the same entries as long as
// no cut falls inside a reply that is not a list at a point where the rest of
// that reply begins with a list marker: the reader cannot tell such a rest
// from a new reply, so there it promises only the rules above.
//
// Input: the stream, then (consumed from the end) the cut points, and a byte
// whose bit 0 appends a closing 0x04, bit 1 also reads the stream one byte
// per read, and bits 3 to 7 give the number of cuts.

#include "session/reply_reader.h"

#include "fuzz_support.h"

#include <QList>

#include <algorithm>
#include <optional>

namespace {

constexpr char kEndOfReply = '\x04';
constexpr char kLineFeed = '\n';

const char* listName(ListKind list)
{
    switch (list) {
    case ListKind::Maps: return "map";
    case ListKind::Players: return "player";
    case ListKind::Bans: break;
    }
    return "ban";
}

QByteArray startMessage(ListKind list)
{
    return QByteArray("Refreshing ") + listName(list) + " list...";
}

std::optional<ListKind> listOf(QByteArrayView reply)
{
    if (reply.startsWith("0:"))
        return ListKind::Maps;
    if (reply.startsWith("Id:"))
        return ListKind::Players;
    if (reply.startsWith("Key:"))
        return ListKind::Bans;
    return std::nullopt;
}

// What the reader did to the lists: a list started (start message, emptied),
// or an entry added.
struct ListEvent
{
    bool start;
    ListKind list;
    QByteArray entry;
    qsizetype read = 0; // the read during which it happened

    bool operator==(const ListEvent& other) const
    {
        return start == other.start && list == other.list && entry == other.entry;
    }
};

QByteArray show(const ListEvent& e)
{
    return QByteArray(e.start ? "start " : "add ") + listName(e.list) + (e.start ? "" : " " + fuzz::escaped(e.entry));
}

class RecordingSink : public ReplySink
{
public:
    const ReplyReader* reader = nullptr;
    QList<ListEvent> events;
    qsizetype read = 0;
    QByteArray chunk; // the read under way
    bool busyExpected = false;
    qsizetype repliesEnded = 0;
    int greetingsAnswered = 0;
    QByteArray answeredSeed;
    qsizetype answeredInRead = -1;

    void log(const QByteArray& line) override
    {
        FUZZ_CHECK(pendingStart_.isEmpty(), "a start message not followed by emptying its list");
        for (const ListKind list : {ListKind::Maps, ListKind::Players, ListKind::Bans}) {
            if (line == startMessage(list)) {
                pendingStart_ = line;
                return;
            }
        }
        FUZZ_CHECK(line == "Authentication Failed" || line == "Authentication successful" || line == "Unknown Command",
                   "logged " + fuzz::escaped(line));
    }

    void answerGreeting(const QByteArray& seed) override
    {
        FUZZ_CHECK(reader->isBusy() == busyExpected,
                   "busy " + QByteArray(reader->isBusy() ? "raised" : "lowered") + " while answering the greeting in "
                       + fuzz::escaped(chunk));
        FUZZ_CHECK(seed.size() <= 16, "seed " + fuzz::escaped(seed));
        FUZZ_CHECK(!seed.contains(kLineFeed), "seed " + fuzz::escaped(seed));
        FUZZ_CHECK(reader->digestSeed() == seed,
                   "answered the seed " + fuzz::escaped(seed) + " but keeps " + fuzz::escaped(reader->digestSeed()));
        FUZZ_CHECK(++greetingsAnswered == 1, "the greeting answered twice");
        answeredSeed = seed;
        answeredInRead = read;
    }

    void replyEnded() override { ++repliesEnded; }

    void loginSucceeded() override { }
    void closeConnection() override { }

    void clearList(ListKind list) override
    {
        FUZZ_CHECK(pendingStart_ == startMessage(list),
                   "the " + QByteArray(listName(list)) + " list emptied after " + fuzz::escaped(pendingStart_));
        pendingStart_.clear();
        events.append({true, list, {}, read});
    }

    void addEntry(ListKind list, QByteArray entry) override
    {
        FUZZ_CHECK(pendingStart_.isEmpty(), "an entry added between a start message and emptying the list");
        events.append({false, list, entry, read});
    }

    void endOfRead() const { FUZZ_CHECK(pendingStart_.isEmpty(), "a start message without its list emptied"); }

private:
    QByteArray pendingStart_;
};

// The stream as the server meant it: replies, each ending after its 0x04.
QList<QByteArrayView> splitReplies(QByteArrayView stream)
{
    QList<QByteArrayView> replies;
    qsizetype start = 0;
    do {
        const qsizetype end = stream.indexOf(kEndOfReply, start);
        const qsizetype next = end < 0 ? stream.size() : end + 1;
        replies.append(stream.sliced(start, next - start));
        start = next;
    } while (start < stream.size());
    return replies;
}

// The plain model of reading the whole stream at once.
QList<ListEvent> modelEvents(QByteArrayView stream)
{
    QList<ListEvent> events;
    for (const QByteArrayView reply : splitReplies(stream)) {
        const std::optional<ListKind> list = listOf(reply);
        if (!list)
            continue;
        events.append({true, *list, {}});
        QList<QByteArray> lines;
        qsizetype begin = 0;
        for (qsizetype lf; (lf = reply.indexOf(kLineFeed, begin)) >= 0; begin = lf + 1)
            lines.append(reply.sliced(begin, lf - begin).toByteArray());
        if (*list == ListKind::Players) {
            for (qsizetype i = 0; i + 1 < lines.size(); i += 2)
                events.append({false, *list, lines[i] + lines[i + 1]});
        } else {
            for (const QByteArray& line : lines)
                events.append({false, *list, line});
        }
    }
    return events;
}

// The greeting's seed: up to 16 bytes after the marker in the first whole line
// that holds it, and where that line's line feed lies. Nothing when no line does.
struct Seed
{
    QByteArray seed;
    qsizetype lineFeed;
};

std::optional<Seed> greetingSeed(QByteArrayView stream)
{
    constexpr QByteArrayView kMarker = "Digest seed: ";
    qsizetype begin = 0;
    for (qsizetype lf; (lf = stream.indexOf(kLineFeed, begin)) >= 0; begin = lf + 1) {
        const QByteArrayView line = stream.sliced(begin, lf - begin);
        const qsizetype at = line.indexOf(kMarker);
        if (at >= 0) {
            const QByteArrayView rest = line.sliced(at + kMarker.size());
            return Seed{rest.first(std::min<qsizetype>(rest.size(), 16)).toByteArray(), lf};
        }
    }
    return std::nullopt;
}

// False when a read starts inside a reply that is not a list, at a point where
// the rest of that reply begins with a list marker.
bool cutsKeepReplies(QByteArrayView stream, const QList<qsizetype>& readStarts)
{
    for (const qsizetype at : readStarts) {
        if (at <= 0 || at >= stream.size())
            continue;
        const qsizetype replyStart = stream.lastIndexOf(kEndOfReply, at - 1) + 1;
        if (at == replyStart || listOf(stream.sliced(replyStart)))
            continue;
        const qsizetype end = stream.indexOf(kEndOfReply, at);
        const qsizetype replyEnd = end < 0 ? stream.size() : end + 1;
        if (listOf(stream.sliced(at, replyEnd - at)))
            return false;
    }
    return true;
}

struct Read
{
    qsizetype begin;
    qsizetype end;
    qsizetype origin = 0; // where the reader's text began: earlier when bytes were held back
};

// Every entry is one line (two for a player) of one reply, in stream order,
// completed by a line feed of the read that stored it. A line starts after a
// line feed, a 0x04 or the stream's start, or, for the first entry of a list,
// where the read that opened the list began.
void checkEntriesAreLines(QByteArrayView stream, const QList<ListEvent>& events, const QList<Read>& reads)
{
    QList<qsizetype> lineStarts = {0};
    for (qsizetype i = 0; i < stream.size(); ++i) {
        if (stream[i] == kLineFeed || stream[i] == kEndOfReply)
            lineStarts.append(i + 1);
    }

    // The end of the line starting at `at`, past its line feed, or -1.
    const auto lineEnd = [&](qsizetype at) -> qsizetype {
        for (qsizetype i = at; i < stream.size(); ++i) {
            if (stream[i] == kLineFeed)
                return i + 1;
            if (stream[i] == kEndOfReply)
                return -1;
        }
        return -1;
    };

    qsizetype next = 0;
    std::optional<qsizetype> openedAt;
    for (const ListEvent& e : events) {
        if (e.start) {
            openedAt = reads[e.read].origin;
            continue;
        }
        const Read& read = reads[e.read];
        const auto matches = [&](qsizetype at) -> qsizetype {
            qsizetype end = lineEnd(at);
            if (end < 0)
                return -1;
            QByteArray text = stream.sliced(at, end - 1 - at).toByteArray();
            if (e.list == ListKind::Players) {
                const qsizetype second = end;
                end = lineEnd(second);
                if (end < 0)
                    return -1;
                text += stream.sliced(second, end - 1 - second);
            }
            // Its last line feed arrived with this read.
            if (text != e.entry || end - 1 < read.begin || end > read.end)
                return -1;
            return end;
        };

        qsizetype found = -1;
        if (openedAt && *openedAt >= next)
            found = matches(*openedAt);
        for (auto it = std::lower_bound(lineStarts.begin(), lineStarts.end(), next);
             found < 0 && it != lineStarts.end(); ++it) {
            if (*it >= read.end)
                break;
            found = matches(*it);
        }
        FUZZ_CHECK(found >= 0,
                   show(e) + " in read " + QByteArray::number(e.read) + " [" + QByteArray::number(read.begin) + ", "
                       + QByteArray::number(read.end) + ") is no line of the stream after offset "
                       + QByteArray::number(next));
        next = found;
        openedAt.reset();
    }
}

// The start of a reply marker that the end of a read cut short ("K" of "Key:").
bool isCutMarker(QByteArrayView text)
{
    while (!text.isEmpty() && (text.front() == '\r' || text.front() == kLineFeed))
        text = text.sliced(1);
    for (const QByteArrayView marker :
         {"0:", "Id:", "Key:", "Authentication failed", "Authentication successful", "unknown command"}) {
        if (!text.isEmpty() && text.size() < marker.size() && marker.startsWith(text))
            return true;
    }
    return false;
}

bool anyListOpen(const ReplyReader& reader)
{
    return reader.isListOpen(ListKind::Maps) || reader.isListOpen(ListKind::Players)
        || reader.isListOpen(ListKind::Bans);
}

void checkStateAfterRead(const ReplyReader& reader, const RecordingSink& sink, const QList<Read>& reads,
                         QByteArrayView streamSoFar)
{
    FUZZ_CHECK(!reader.isBusy(), "busy still raised after a read");
    FUZZ_CHECK(reader.isAwaitingSeed() == (sink.greetingsAnswered == 0),
               QByteArray(reader.isAwaitingSeed() ? "still" : "no longer") + " awaiting the seed after "
                   + QByteArray::number(sink.greetingsAnswered) + " answers");
    int open = 0;
    for (const ListKind list : {ListKind::Maps, ListKind::Players, ListKind::Bans})
        open += reader.isListOpen(list) ? 1 : 0;
    FUZZ_CHECK(open <= 1, QByteArray::number(open) + " lists open at once");

    // An open player list took every line feed from where its reply began, in
    // the read that opened it, up to here: two for each entry, and one more
    // while an entry waits for its second line.
    if (reader.isListOpen(ListKind::Players)) {
        qsizetype opened = sink.events.size() - 1;
        while (opened >= 0 && !(sink.events[opened].start && sink.events[opened].list == ListKind::Players))
            --opened;
        FUZZ_CHECK(opened >= 0, "the player list is open but was never emptied");
        const qsizetype entries = std::count_if(sink.events.begin() + opened + 1, sink.events.end(),
                                                [](const ListEvent& e) { return e.list == ListKind::Players; });
        const qsizetype replyStart = std::max(streamSoFar.lastIndexOf(kEndOfReply) + 1,
                                              reads[sink.events[opened].read].origin);
        const qsizetype lineFeeds = streamSoFar.sliced(replyStart).count(kLineFeed);
        const bool halfDone = reader.isPlayerEntryHalfDone();
        FUZZ_CHECK(lineFeeds == 2 * entries + (halfDone ? 1 : 0),
                   QByteArray::number(entries) + " player entries" + (halfDone ? " and a half" : "") + " from "
                       + QByteArray::number(lineFeeds) + " lines");
    }
}

QList<ListEvent> run(const QByteArray& stream, const QList<qsizetype>& cuts)
{
    QList<Read> reads;
    qsizetype begin = 0;
    for (const qsizetype cut : cuts) {
        reads.append({begin, cut});
        begin = cut;
    }
    reads.append({begin, stream.size()});

    RecordingSink sink;
    ReplyReader reader(sink);
    sink.reader = &reader;
    reader.startConnection();
    // Where the bytes the reader holds back begin. They are its own, so this
    // restates its rule: after a read, with no list open, the text past the
    // last 0x04 when it is a reply marker cut short.
    qsizetype heldFrom = -1;
    for (qsizetype r = 0; r < reads.size(); ++r) {
        Read& read = reads[r];
        sink.chunk = stream.sliced(read.begin, read.end - read.begin);
        read.origin = heldFrom >= 0 ? heldFrom : read.begin;
        sink.read = r;
        sink.busyExpected = sink.chunk.indexOf(kEndOfReply) + 1 == sink.chunk.size();
        reader.read(sink.chunk);
        sink.endOfRead();
        const QByteArrayView streamSoFar = QByteArrayView(stream).first(read.end);
        checkStateAfterRead(reader, sink, reads, streamSoFar);
        const qsizetype tail = std::max(streamSoFar.lastIndexOf(kEndOfReply) + 1, read.origin);
        heldFrom = !anyListOpen(reader) && isCutMarker(streamSoFar.sliced(tail)) ? tail : -1;
    }
    if (stream.endsWith(kEndOfReply))
        FUZZ_CHECK(!anyListOpen(reader), "a list left open by a stream that ends with 0x04");
    if (const std::optional<Seed> seed = greetingSeed(stream)) {
        FUZZ_CHECK(sink.greetingsAnswered == 1, "the greeting " + fuzz::escaped(seed->seed) + " never answered");
        FUZZ_CHECK(sink.answeredSeed == seed->seed,
                   "answered the seed " + fuzz::escaped(sink.answeredSeed) + ", the greeting's is "
                       + fuzz::escaped(seed->seed));
        const Read& read = reads[sink.answeredInRead];
        FUZZ_CHECK(read.begin <= seed->lineFeed && seed->lineFeed < read.end,
                   "the seed answered in read " + QByteArray::number(sink.answeredInRead) + " ["
                       + QByteArray::number(read.begin) + ", " + QByteArray::number(read.end) + "), its line ends at "
                       + QByteArray::number(seed->lineFeed));
    } else {
        FUZZ_CHECK(sink.greetingsAnswered == 0,
                   "answered the seed " + fuzz::escaped(sink.answeredSeed) + " of a stream without a whole seed line");
    }
    FUZZ_CHECK(sink.repliesEnded == stream.count(kEndOfReply),
               QByteArray::number(sink.repliesEnded) + " replies ended for "
                   + QByteArray::number(stream.count(kEndOfReply)) + " 0x04 bytes");
    checkEntriesAreLines(stream, sink.events, reads);
    return sink.events;
}

QByteArray showCuts(const QList<qsizetype>& cuts)
{
    if (cuts.size() > 40)
        return QByteArray::number(cuts.size()) + " cuts";
    QByteArray out = "cuts at";
    for (const qsizetype cut : cuts)
        out += ' ' + QByteArray::number(cut);
    return out;
}

void checkSame(const QList<ListEvent>& got, const QList<ListEvent>& want, const QList<qsizetype>& cuts)
{
    const qsizetype n = std::min(got.size(), want.size());
    qsizetype i = 0;
    while (i < n && got[i] == want[i])
        ++i;
    FUZZ_CHECK(i == got.size() && i == want.size(),
               showCuts(cuts) + ": list change " + QByteArray::number(i + 1) + " is "
                   + (i < got.size() ? show(got[i]) : QByteArray("missing")) + ", reading the stream whole gives "
                   + (i < want.size() ? show(want[i]) : QByteArray("nothing")));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const auto mode = input.ConsumeIntegral<uint8_t>();
    std::vector<uint16_t> rawCuts;
    for (int i = mode >> 3; i > 0; --i)
        rawCuts.push_back(input.ConsumeIntegral<uint16_t>());
    QByteArray stream = fuzz::remainingBytes(input);
    if (mode & 1)
        stream += kEndOfReply;

    const QList<ListEvent> model = modelEvents(stream);
    checkSame(run(stream, {}), model, {});

    QList<qsizetype> cuts;
    for (const uint16_t raw : rawCuts)
        cuts.append(raw % (stream.size() + 1));
    std::sort(cuts.begin(), cuts.end());
    const QList<ListEvent> cut = run(stream, cuts);
    if (cutsKeepReplies(stream, cuts))
        checkSame(cut, model, cuts);

    if (mode & 2) {
        QList<qsizetype> everyByte;
        for (qsizetype i = 1; i < stream.size(); ++i)
            everyByte.append(i);
        const QList<ListEvent> bytes = run(stream, everyByte);
        if (cutsKeepReplies(stream, everyByte))
            checkSame(bytes, model, everyByte);
    }
    return 0;
}
