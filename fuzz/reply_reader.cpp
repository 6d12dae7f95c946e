// The reply reader over a stream of server bytes cut into reads.
//
// The stream is the greeting up to the line feed of its first line holding
// "Digest seed: ", then replies: every byte up to a 0x04 belongs to one reply.
// Read whole, the stream gives what a plain model of those rules gives: line
// ends in front of a reply belong to none; each reply is recognised by its
// first bytes (a login outcome, an unknown command, a list marker "0:", "Id:"
// or "Key:"), a list reply empties its list and fills it with its lines (two
// joined for a player), each cut to ReplyReader::kMaxLineLength, and a list
// that reaches its 0x04 is reported complete. Cut anywhere into reads, the stream gives the same
// reports in the same order, each during the read that brought the byte it
// depends on (an entry its last line feed, a list its marker's last byte, the
// end of a reply its 0x04), and replyText gets the bytes of every reply after
// the greeting, 0x04 left out, with the reply's own recognition. No entry line
// is longer than the limit. The seed is answered once, from the greeting's
// seed line, during the read that brought its line feed. The busy flag is
// raised during a read exactly when the read's first 0x04 is its last byte,
// and lowered after it; at most one list is open, exactly while the stream
// read so far is inside a list reply; an open player list is half-way through
// an entry exactly when it has taken an odd number of lines.
//
// Input: as reply_stream.h reads it. Each read alone: the stream is also read
// one byte per read. A stretched line reaches the cutting of over-long lines.

#include "session/reply_reader.h"

#include "fuzz_support.h"
#include "reply_stream.h"

#include <QList>

#include <algorithm>
#include <optional>
#include <vector>

namespace {

constexpr char kEndOfReply = '\x04';
constexpr char kLineFeed = '\n';
constexpr qsizetype kMaxLine = ReplyReader::kMaxLineLength;
constexpr QByteArrayView kLongLineMessage = "A list line longer than 16 MiB was cut short...";

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

qsizetype markerLength(ListKind list)
{
    return list == ListKind::Maps ? 2 : list == ListKind::Players ? 3 : 4;
}

QByteArrayView skipLineEnds(QByteArrayView text)
{
    while (!text.isEmpty() && (text.front() == '\r' || text.front() == kLineFeed))
        text = text.sliced(1);
    return text;
}

// The first bytes of a reply marker, too few to tell yet.
bool isCutMarker(QByteArrayView start)
{
    for (const QByteArrayView marker :
         {"0:", "Id:", "Key:", "Authentication failed", "Authentication successful", "unknown command"}) {
        if (!start.isEmpty() && start.size() < marker.size() && marker.startsWith(start))
            return true;
    }
    return false;
}

// An entry as two runs compare it: its bytes, or for a long one its length,
// a hash and its ends, so that a 16 MiB entry is not copied for every run.
QByteArray entryText(QByteArrayView first, QByteArrayView second)
{
    const qsizetype size = first.size() + second.size();
    if (size <= 256)
        return first.toByteArray() + second.toByteArray();
    const QByteArray start = (first.first(std::min<qsizetype>(first.size(), 32)).toByteArray()
                              + second.first(std::min<qsizetype>(second.size(), 32)).toByteArray())
                                 .left(32);
    const QByteArray end = (first.last(std::min<qsizetype>(first.size(), 32)).toByteArray()
                            + second.last(std::min<qsizetype>(second.size(), 32)).toByteArray())
                               .right(32);
    return QByteArray::number(size) + " bytes, hash " + QByteArray::number(qHash(second, qHash(first)), 16) + ": "
        + fuzz::escaped(start) + " ... " + fuzz::escaped(end);
}

// One report of the reader, as two runs are compared: what it said and, for
// the model, the stream offset of the byte it waits for.
struct Event
{
    enum Kind { Log, LoginOk, Close, Clear, Entry, ListEnd, ReplyEnd } kind;
    ListKind list = ListKind::Maps;
    QByteArray text;
    qsizetype read = -1;  // the read it came in (runs only)
    qsizetype needs = -1; // the offset of the byte it needs (model only)

    bool operator==(const Event& other) const { return kind == other.kind && list == other.list && text == other.text; }
};

QByteArray show(const Event& e)
{
    switch (e.kind) {
    case Event::Log: return "log " + fuzz::escaped(e.text);
    case Event::LoginOk: return "login succeeded";
    case Event::Close: return "close";
    case Event::Clear: return QByteArray("clear ") + listName(e.list);
    case Event::Entry:
        return QByteArray("add ") + listName(e.list) + ' ' + (e.text.size() > 256 ? e.text : fuzz::escaped(e.text));
    case Event::ListEnd: return QByteArray("end of ") + listName(e.list) + " list";
    case Event::ReplyEnd: break;
    }
    return "end of reply";
}

// A reply after the greeting: where it lies, how it reads, what it fills.
struct Reply
{
    qsizetype begin = 0;
    qsizetype end = 0; // past its 0x04, or the stream's end
    bool ends = false; // it has its 0x04
    bool recognised = false;
    std::optional<ListKind> list;
    QByteArrayView text; // its bytes without the 0x04
};

struct Expected
{
    std::optional<qsizetype> seedLineFeed;
    QByteArray seed;
    QList<Event> events;
    QList<Reply> replies;
    qsizetype longLines = 0;
};

// The plain model of the rules above, for the stream read whole.
Expected model(QByteArrayView stream)
{
    Expected out;
    constexpr QByteArrayView kSeedMarker = "Digest seed: ";
    qsizetype begin = 0;
    for (qsizetype lf; (lf = stream.indexOf(kLineFeed, begin)) >= 0; begin = lf + 1) {
        const QByteArrayView line = stream.sliced(begin, lf - begin);
        const qsizetype at = line.indexOf(kSeedMarker);
        if (at >= 0) {
            const QByteArrayView rest = line.sliced(at + kSeedMarker.size());
            out.seed = rest.first(std::min<qsizetype>(rest.size(), 16)).toByteArray();
            out.seedLineFeed = lf;
            break;
        }
    }
    if (!out.seedLineFeed)
        return out;

    const auto add = [&](Event::Kind kind, qsizetype needs, ListKind list = ListKind::Maps, QByteArray text = {}) {
        Event e{kind, list, std::move(text)};
        e.needs = needs;
        out.events.append(e);
    };
    qsizetype pos = *out.seedLineFeed + 1;
    while (pos < stream.size()) {
        const qsizetype endOfReply = stream.indexOf(kEndOfReply, pos);
        const bool ends = endOfReply >= 0;
        const qsizetype bodyEnd = ends ? endOfReply : stream.size();
        // Line ends in front of a reply belong to none.
        const QByteArrayView body = skipLineEnds(stream.sliced(pos, bodyEnd - pos));
        pos = bodyEnd - body.size();
        // An unfinished start that may yet become a marker, or line ends alone, wait for more.
        if (!ends && (body.isEmpty() || isCutMarker(body)))
            break;

        Reply reply{pos, ends ? endOfReply + 1 : stream.size(), ends, true, std::nullopt, body};
        const QByteArrayView start = body;
        if (start.startsWith("Authentication failed")) {
            add(Event::Log, -1, ListKind::Maps, "Authentication Failed");
            add(Event::Close, -1);
        } else if (start.startsWith("Authentication successful")) {
            add(Event::Log, -1, ListKind::Maps, "Authentication successful");
            add(Event::LoginOk, -1);
        } else if (start.startsWith("unknown command")) {
            add(Event::Log, -1, ListKind::Maps, "Unknown Command");
        } else if (body.startsWith("0:")) {
            reply.list = ListKind::Maps;
        } else if (body.startsWith("Id:")) {
            reply.list = ListKind::Players;
        } else if (body.startsWith("Key:")) {
            reply.list = ListKind::Bans;
        } else {
            reply.recognised = false;
        }

        if (reply.list) {
            const ListKind list = *reply.list;
            const qsizetype markerEnd = pos + markerLength(list);
            add(Event::Log, markerEnd - 1, ListKind::Maps, startMessage(list));
            add(Event::Clear, markerEnd - 1, list);
            QByteArrayView firstOfPair;
            bool half = false;
            qsizetype lineBegin = 0;
            for (qsizetype lf; (lf = body.indexOf(kLineFeed, lineBegin)) >= 0; lineBegin = lf + 1) {
                const QByteArrayView line = body.sliced(lineBegin, lf - lineBegin);
                if (line.size() > kMaxLine)
                    ++out.longLines;
                const QByteArrayView kept = line.first(std::min(line.size(), kMaxLine));
                if (list != ListKind::Players) {
                    add(Event::Entry, pos + lf, list, entryText(kept, {}));
                } else if (!half) {
                    firstOfPair = kept;
                    half = true;
                } else {
                    add(Event::Entry, pos + lf, list, entryText(firstOfPair, kept));
                    half = false;
                }
            }
            if (body.size() - lineBegin > kMaxLine)
                ++out.longLines;
            if (ends)
                add(Event::ListEnd, endOfReply, list);
        }
        if (ends)
            add(Event::ReplyEnd, endOfReply);
        out.replies.append(reply);
        pos = reply.end;
    }
    return out;
}

class RecordingSink : public ReplySink
{
public:
    const ReplyReader* reader = nullptr;
    const Expected* expected = nullptr;
    QByteArray cutsShown;
    QList<Event> events;
    // The reply whose text is arriving, and how much of it has.
    qsizetype reply = 0;
    qsizetype replyTaken = 0;
    bool replyOpen = false;
    qsizetype read = 0;
    QByteArrayView chunk; // the read under way, for messages
    bool busyExpected = false;
    qsizetype longLines = 0;
    int greetingsAnswered = 0;
    QByteArray answeredSeed;
    qsizetype answeredInRead = -1;
    // Player entries since the player list was last emptied; -1 before that.
    qsizetype playerEntries = -1;

    void log(const QByteArray& line) override
    {
        checkBusy("log");
        if (line == kLongLineMessage) {
            ++longLines;
            return;
        }
        bool known = line == "Authentication Failed" || line == "Authentication successful"
            || line == "Unknown Command";
        for (const ListKind list : {ListKind::Maps, ListKind::Players, ListKind::Bans})
            known = known || line == startMessage(list);
        FUZZ_CHECK(known, "logged " + fuzz::escaped(line));
        record(Event::Log, ListKind::Maps, line);
    }

    void answerGreeting(const QByteArray& seed) override
    {
        checkBusy("answering the greeting");
        FUZZ_CHECK(reader->digestSeed() == seed,
                   "answered the seed " + fuzz::escaped(seed) + " but keeps " + fuzz::escaped(reader->digestSeed()));
        FUZZ_CHECK(++greetingsAnswered == 1, "the greeting answered twice");
        answeredSeed = seed;
        answeredInRead = read;
    }

    void loginSucceeded() override { record(Event::LoginOk); }
    void closeConnection() override { record(Event::Close); }
    void clearList(ListKind list) override { record(Event::Clear, list); }

    void addEntry(ListKind list, QByteArrayView first, QByteArrayView second) override
    {
        checkBusy("adding an entry");
        FUZZ_CHECK(first.size() <= kMaxLine && second.size() <= kMaxLine,
                   "an entry line of " + QByteArray::number(std::max(first.size(), second.size())) + " bytes");
        FUZZ_CHECK(list == ListKind::Players || second.isEmpty(), "a second line for a " + QByteArray(listName(list)));
        record(Event::Entry, list, entryText(first, second));
    }

    void replyText(QByteArrayView bytes, bool recognised) override
    {
        checkBusy("giving reply text");
        replyOpen = true;
        FUZZ_CHECK(reply < expected->replies.size(),
                   cutsShown + ": reply text " + fuzz::escaped(bytes.first(std::min<qsizetype>(bytes.size(), 300)))
                       + " after the stream's last reply");
        const Reply& want = expected->replies[reply];
        const QByteArrayView due = want.text.sliced(std::min(replyTaken, want.text.size()));
        FUZZ_CHECK(due.startsWith(bytes),
                   cutsShown + ": reply " + QByteArray::number(reply + 1) + " gave the text "
                       + fuzz::escaped(bytes.first(std::min<qsizetype>(bytes.size(), 300))) + " where its bytes are "
                       + fuzz::escaped(due.first(std::min<qsizetype>(due.size(), 300))) + " (from "
                       + fuzz::escaped(want.text.first(std::min<qsizetype>(want.text.size(), 300))) + ")");
        FUZZ_CHECK(recognised == want.recognised,
                   cutsShown + ": reply " + QByteArray::number(reply + 1) + " taken as "
                       + (recognised ? "recognised" : "unknown"));
        replyTaken += bytes.size();
    }

    // Every reply's text arrived whole, the last one's too if it has no end yet.
    void checkRepliesWhole() const
    {
        const qsizetype whole = reply + (replyOpen && replyTaken == expected->replies.value(reply).text.size() ? 1 : 0);
        FUZZ_CHECK(whole == expected->replies.size(),
                   cutsShown + ": the text of " + QByteArray::number(whole) + " replies arrived whole, the stream has "
                       + QByteArray::number(expected->replies.size()));
    }

    void listEnded(ListKind list) override { record(Event::ListEnd, list); }

    void replyEnded() override
    {
        record(Event::ReplyEnd);
        const qsizetype due = reply < expected->replies.size() ? expected->replies[reply].text.size() : 0;
        FUZZ_CHECK(replyTaken == due,
                   cutsShown + ": reply " + QByteArray::number(reply + 1) + " ended after "
                       + QByteArray::number(replyTaken) + " bytes of text, it has " + QByteArray::number(due));
        ++reply;
        replyTaken = 0;
        replyOpen = false;
    }

private:
    void checkBusy(const char* what) const
    {
        FUZZ_CHECK(reader->isBusy() == busyExpected,
                   "busy " + QByteArray(reader->isBusy() ? "raised" : "lowered") + " while " + what + " in "
                       + fuzz::escaped(chunk));
    }

    void record(Event::Kind kind, ListKind list = ListKind::Maps, QByteArray text = {})
    {
        if (kind == Event::Clear && list == ListKind::Players)
            playerEntries = 0;
        else if (kind == Event::Entry && list == ListKind::Players)
            ++playerEntries;
        Event e{kind, list, std::move(text)};
        e.read = read;
        events.append(e);
    }
};

struct Read
{
    qsizetype begin;
    qsizetype end;
};

QByteArray showCuts(const QList<qsizetype>& cuts)
{
    if (cuts.isEmpty())
        return "read whole";
    if (cuts.size() > 40)
        return QByteArray::number(cuts.size()) + " cuts";
    QByteArray out = "cuts at";
    for (const qsizetype cut : cuts)
        out += ' ' + QByteArray::number(cut);
    return out;
}

// The list a reply of the model has open once the stream up to `end` was
// read: only the last reply to begin before `end` can still be open.
std::optional<ListKind> openListAt(const Expected& expected, qsizetype end)
{
    const auto after = std::partition_point(expected.replies.begin(), expected.replies.end(),
                                            [end](const Reply& reply) { return reply.begin < end; });
    if (after == expected.replies.begin())
        return std::nullopt;
    const Reply& reply = *std::prev(after);
    if (reply.list && reply.begin + markerLength(*reply.list) <= end && (!reply.ends || reply.end > end))
        return reply.list;
    return std::nullopt;
}

// What the rule on player entries needs at the end of any read, worked out
// once per stream so that a stream read byte by byte is not scanned again at
// every byte: the line feeds before each offset, where the reply around it
// began (past the last 0x04 before it) and the first byte from each offset
// that is no line end.
struct StreamIndex
{
    std::vector<qsizetype> lineFeedsBefore, replyStart, bodyFrom;

    explicit StreamIndex(QByteArrayView stream)
        : lineFeedsBefore(size_t(stream.size()) + 1)
        , replyStart(size_t(stream.size()) + 1)
        , bodyFrom(size_t(stream.size()) + 1)
    {
        for (qsizetype i = 0; i < stream.size(); ++i) {
            lineFeedsBefore[i + 1] = lineFeedsBefore[i] + (stream[i] == kLineFeed ? 1 : 0);
            replyStart[i + 1] = stream[i] == kEndOfReply ? i + 1 : replyStart[i];
        }
        bodyFrom[stream.size()] = stream.size();
        for (qsizetype i = stream.size() - 1; i >= 0; --i)
            bodyFrom[i] = stream[i] == '\r' || stream[i] == kLineFeed ? bodyFrom[i + 1] : i;
    }
};

void checkStateAfterRead(const ReplyReader& reader, const RecordingSink& sink, const Expected& expected,
                         const std::optional<StreamIndex>& index, const Read& read, const QList<qsizetype>& cuts)
{
    FUZZ_CHECK(!reader.isBusy(), "busy still raised after a read");
    FUZZ_CHECK(reader.isAwaitingSeed() == (sink.greetingsAnswered == 0),
               QByteArray(reader.isAwaitingSeed() ? "still" : "no longer") + " awaiting the seed after "
                   + QByteArray::number(sink.greetingsAnswered) + " answers");
    const std::optional<ListKind> open = openListAt(expected, read.end);
    for (const ListKind list : {ListKind::Maps, ListKind::Players, ListKind::Bans}) {
        FUZZ_CHECK(reader.isListOpen(list) == (open == list),
                   showCuts(cuts) + ": after the read ending at " + QByteArray::number(read.end) + " the "
                       + listName(list) + " list is " + (reader.isListOpen(list) ? "open" : "closed"));
    }
    // Counting a stretched stream's lines would take most of the run; the
    // short streams, which have an index, check this rule.
    if (open != ListKind::Players || !index)
        return;
    // The open player list took every line feed of its reply so far: two for
    // each entry, and one more while an entry waits for its second line.
    FUZZ_CHECK(sink.playerEntries >= 0, "the player list is open but was never emptied");
    const qsizetype afterSeed = *expected.seedLineFeed + 1;
    const qsizetype replyStart = std::min(index->bodyFrom[std::max(index->replyStart[read.end], afterSeed)], read.end);
    const qsizetype lineFeeds = index->lineFeedsBefore[read.end] - index->lineFeedsBefore[replyStart];
    const bool halfDone = reader.isPlayerEntryHalfDone();
    FUZZ_CHECK(lineFeeds == 2 * sink.playerEntries + (halfDone ? 1 : 0),
               QByteArray::number(sink.playerEntries) + " player entries" + (halfDone ? " and a half" : "") + " from "
                   + QByteArray::number(lineFeeds) + " lines");
}

void run(const QByteArray& stream, const QList<qsizetype>& cuts, const Expected& expected,
         const std::optional<StreamIndex>& index)
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
    sink.expected = &expected;
    sink.cutsShown = showCuts(cuts);
    reader.startConnection();
    for (qsizetype r = 0; r < reads.size(); ++r) {
        const Read& read = reads[r];
        sink.chunk = QByteArrayView(stream).sliced(read.begin, read.end - read.begin);
        sink.read = r;
        sink.busyExpected = sink.chunk.indexOf(kEndOfReply) + 1 == sink.chunk.size();
        reader.read(sink.chunk);
        checkStateAfterRead(reader, sink, expected, index, read, cuts);
    }

    // The seed.
    if (expected.seedLineFeed) {
        FUZZ_CHECK(sink.greetingsAnswered == 1, "the greeting " + fuzz::escaped(expected.seed) + " never answered");
        FUZZ_CHECK(sink.answeredSeed == expected.seed,
                   "answered the seed " + fuzz::escaped(sink.answeredSeed) + ", the greeting's is "
                       + fuzz::escaped(expected.seed));
        const Read& read = reads[sink.answeredInRead];
        FUZZ_CHECK(read.begin <= *expected.seedLineFeed && *expected.seedLineFeed < read.end,
                   "the seed answered in the read [" + QByteArray::number(read.begin) + ", "
                       + QByteArray::number(read.end) + "), its line ends at "
                       + QByteArray::number(*expected.seedLineFeed));
    } else {
        FUZZ_CHECK(sink.greetingsAnswered == 0,
                   "answered the seed " + fuzz::escaped(sink.answeredSeed) + " of a stream without a whole seed line");
    }

    // The reports, in order, each in the read that brought what it needs.
    const qsizetype n = std::min(sink.events.size(), expected.events.size());
    qsizetype i = 0;
    while (i < n && sink.events[i] == expected.events[i])
        ++i;
    FUZZ_CHECK(i == sink.events.size() && i == expected.events.size(),
               showCuts(cuts) + ": report " + QByteArray::number(i + 1) + " is "
                   + (i < sink.events.size() ? show(sink.events[i]) : QByteArray("missing")) + ", the rules give "
                   + (i < expected.events.size() ? show(expected.events[i]) : QByteArray("nothing")));
    for (qsizetype k = 0; k < n; ++k) {
        const qsizetype needs = expected.events[k].needs;
        if (needs < 0)
            continue;
        const Read& read = reads[sink.events[k].read];
        FUZZ_CHECK(read.begin <= needs && needs < read.end,
                   showCuts(cuts) + ": " + show(sink.events[k]) + " came in the read [" + QByteArray::number(read.begin)
                       + ", " + QByteArray::number(read.end) + "), the byte it needs is at "
                       + QByteArray::number(needs));
    }
    FUZZ_CHECK(sink.longLines == expected.longLines,
               showCuts(cuts) + ": " + QByteArray::number(sink.longLines) + " lines reported cut short, "
                   + QByteArray::number(expected.longLines) + " were longer than the limit");

    sink.checkRepliesWhole();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    fuzz::ReplyStream in = fuzz::takeReplyStream(input);
    const bool stretched = in.stretch.has_value();
    // A stretch adds a cut where the stretched line reaches the limit.
    if (stretched) {
        const Expected plain = model(in.stream);
        if (!plain.seedLineFeed)
            return 0;
        if (const std::optional<qsizetype> where = in.applyStretch(*plain.seedLineFeed + 1, kMaxLine)) {
            const QByteArrayView before = QByteArrayView(in.stream).first(*where);
            const qsizetype lineStart = std::max(before.lastIndexOf(kLineFeed), before.lastIndexOf(kEndOfReply)) + 1;
            in.cuts.append(std::clamp<qsizetype>(lineStart + kMaxLine, 0, in.stream.size()));
        }
    }
    const QByteArray& stream = in.stream;
    QList<qsizetype>& cuts = in.cuts;
    std::sort(cuts.begin(), cuts.end());

    const Expected expected = model(stream);
    std::optional<StreamIndex> index;
    if (stream.size() <= kMaxLine / 16)
        index.emplace(stream);
    run(stream, {}, expected, index);
    run(stream, cuts, expected, index);
    if (in.eachReadAlone && !stretched) {
        QList<qsizetype> everyByte;
        for (qsizetype i = 1; i < stream.size(); ++i)
            everyByte.append(i);
        run(stream, everyByte, expected, index);
    }
    return 0;
}
