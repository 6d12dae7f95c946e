// The reply reader over a stream of server replies cut into reads.
//
// However the stream is cut, every map and ban entry is one line of a reply
// (the bytes after a line feed, a 0x04 or the stream's start, up to the next
// line feed, without it), every player entry two consecutive lines of a reply
// joined, in the order of the stream, each stored during the read that brought
// its last line feed. Every 0x04 ends one reply, reported once. The seed is
// answered at most once, from the first line that holds its marker. The Busy
// flag is raised during a read exactly when the
// read's first 0x04 is its last byte and is lowered after every read; no
// partial line is kept for a list that is not open; at most one list is open;
// and a stream that ends with 0x04 leaves every list closed.
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
#include <array>
#include <optional>

namespace {

constexpr char kEndOfReply = '\x04';
constexpr char kLineFeed = '\n';

const char* ListName(ListKind list)
{
    switch (list) {
    case ListKind::Maps: return "map";
    case ListKind::Players: return "player";
    case ListKind::Bans: break;
    }
    return "ban";
}

QByteArray StartMessage(ListKind list)
{
    return QByteArray("Refreshing ") + ListName(list) + " list...";
}

std::optional<ListKind> ListOf(QByteArrayView reply)
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

QByteArray Show(const ListEvent& e)
{
    return QByteArray(e.start ? "start " : "add ") + ListName(e.list) + (e.start ? "" : " " + fuzz::Escaped(e.entry));
}

class RecordingSink : public ReplySink
{
public:
    explicit RecordingSink(const ConsoleState& state)
        : state_(state)
    { }

    QList<ListEvent> events;
    qsizetype read = 0;
    bool busyExpected = false;
    qsizetype repliesEnded = 0;
    int greetingsAnswered = 0;

    void Log(const QByteArray& line) override
    {
        FUZZ_CHECK(pendingStart_.isEmpty(), "a start message not followed by emptying its list");
        for (const ListKind list : {ListKind::Maps, ListKind::Players, ListKind::Bans}) {
            if (line == StartMessage(list)) {
                pendingStart_ = line;
                return;
            }
        }
        FUZZ_CHECK(line == "Authentication Failed" || line == "Authentication successful" || line == "Unknown Command",
                   "logged " + fuzz::Escaped(line));
    }

    void AnswerGreeting() override
    {
        FUZZ_CHECK(state_.busy == busyExpected,
                   "Busy " + QByteArray(state_.busy ? "raised" : "lowered") + " while answering the greeting in "
                       + fuzz::Escaped(state_.receiveBuffer));
        FUZZ_CHECK(state_.digestSeed.size() <= 16, "seed " + fuzz::Escaped(state_.digestSeed));
        FUZZ_CHECK(!state_.digestSeed.contains(kLineFeed), "seed " + fuzz::Escaped(state_.digestSeed));
        FUZZ_CHECK(++greetingsAnswered == 1, "the greeting answered twice");
    }

    void ReplyEnded() override { ++repliesEnded; }

    void LoginSucceeded() override { }
    void CloseConnection() override { }

    void ClearList(ListKind list) override
    {
        FUZZ_CHECK(pendingStart_ == StartMessage(list),
                   "the " + QByteArray(ListName(list)) + " list emptied after " + fuzz::Escaped(pendingStart_));
        pendingStart_.clear();
        events.append({true, list, {}, read});
    }

    void AddEntry(ListKind list, QByteArray entry) override
    {
        FUZZ_CHECK(pendingStart_.isEmpty(), "an entry added between a start message and emptying the list");
        events.append({false, list, entry, read});
    }

    void EndOfRead() const { FUZZ_CHECK(pendingStart_.isEmpty(), "a start message without its list emptied"); }

private:
    const ConsoleState& state_;
    QByteArray pendingStart_;
};

// The stream as the server meant it: replies, each ending after its 0x04.
QList<QByteArrayView> Replies(QByteArrayView stream)
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
QList<ListEvent> ModelEvents(QByteArrayView stream)
{
    QList<ListEvent> events;
    for (const QByteArrayView reply : Replies(stream)) {
        const std::optional<ListKind> list = ListOf(reply);
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

// False when a read starts inside a reply that is not a list, at a point where
// the rest of that reply begins with a list marker.
bool CutsKeepReplies(QByteArrayView stream, const QList<qsizetype>& readStarts)
{
    for (const qsizetype at : readStarts) {
        if (at <= 0 || at >= stream.size())
            continue;
        const qsizetype replyStart = stream.lastIndexOf(kEndOfReply, at - 1) + 1;
        if (at == replyStart || ListOf(stream.sliced(replyStart)))
            continue;
        const qsizetype end = stream.indexOf(kEndOfReply, at);
        const qsizetype replyEnd = end < 0 ? stream.size() : end + 1;
        if (ListOf(stream.sliced(at, replyEnd - at)))
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
void CheckEntriesAreLines(QByteArrayView stream, const QList<ListEvent>& events, const QList<Read>& reads)
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
                   Show(e) + " in read " + QByteArray::number(e.read) + " [" + QByteArray::number(read.begin) + ", "
                       + QByteArray::number(read.end) + ") is no line of the stream after offset "
                       + QByteArray::number(next));
        next = found;
        openedAt.reset();
    }
}

void CheckStateAfterRead(const ConsoleState& state, const QByteArray& chunk, QByteArrayView streamSoFar)
{
    FUZZ_CHECK(!state.busy, "Busy still raised after a read");
    FUZZ_CHECK(!state.playerPairComplete, "a completed pair not stored");
    FUZZ_CHECK(state.receiveBuffer == chunk, "the receive buffer does not hold the read");
    const std::array<std::pair<bool, const QByteArray*>, 3> lists = {{
        {state.mapListContinuation, &state.mapPartialLine},
        {state.playerListContinuation, &state.playerPartialLine},
        {state.banListContinuation, &state.banPartialLine},
    }};
    int open = 0;
    for (const auto& [continuing, partial] : lists) {
        open += continuing ? 1 : 0;
        FUZZ_CHECK(continuing || partial->isEmpty(),
                   "a partial line " + fuzz::Escaped(*partial) + " kept for a closed list");
    }
    FUZZ_CHECK(open <= 1, QByteArray::number(open) + " lists open at once");
    const QByteArray& held = state.heldReplyStart;
    if (!held.isEmpty()) {
        FUZZ_CHECK(open == 0, "bytes held back while a list is open");
        QByteArrayView start(held);
        while (!start.isEmpty() && (start.front() == '\r' || start.front() == kLineFeed))
            start = start.sliced(1);
        bool cutMarker = false;
        for (const QByteArrayView marker :
             {"0:", "Id:", "Key:", "Authentication failed", "Authentication successful", "unknown command"})
            cutMarker = cutMarker || (!start.isEmpty() && start.size() < marker.size() && marker.startsWith(start));
        FUZZ_CHECK(cutMarker, "held back " + fuzz::Escaped(held) + ", which is not the start of a reply marker");
        FUZZ_CHECK(streamSoFar.endsWith(held),
                   "held back " + fuzz::Escaped(held) + ", which is not the end of the stream");
    }
}

QList<ListEvent> Run(const QByteArray& stream, const QList<qsizetype>& cuts)
{
    QList<Read> reads;
    qsizetype begin = 0;
    for (const qsizetype cut : cuts) {
        reads.append({begin, cut});
        begin = cut;
    }
    reads.append({begin, stream.size()});

    ConsoleState state;
    state.awaitingSeed = true; // a new connection
    RecordingSink sink(state);
    for (qsizetype r = 0; r < reads.size(); ++r) {
        Read& read = reads[r];
        const QByteArray chunk = stream.sliced(read.begin, read.end - read.begin);
        read.origin = read.begin - state.heldReplyStart.size();
        sink.read = r;
        sink.busyExpected = chunk.indexOf(kEndOfReply) + 1 == chunk.size();
        ReadReply(state, chunk, sink);
        sink.EndOfRead();
        CheckStateAfterRead(state, chunk, QByteArrayView(stream).first(read.end));
    }
    if (stream.endsWith(kEndOfReply)) {
        FUZZ_CHECK(!state.mapListContinuation && !state.playerListContinuation && !state.banListContinuation,
                   "a list left open by a stream that ends with 0x04");
        FUZZ_CHECK(state.heldReplyStart.isEmpty(), "bytes held back after the last reply ended");
    }
    FUZZ_CHECK(sink.repliesEnded == stream.count(kEndOfReply),
               QByteArray::number(sink.repliesEnded) + " replies ended for "
                   + QByteArray::number(stream.count(kEndOfReply)) + " 0x04 bytes");
    CheckEntriesAreLines(stream, sink.events, reads);
    return sink.events;
}

QByteArray ShowCuts(const QList<qsizetype>& cuts)
{
    if (cuts.size() > 40)
        return QByteArray::number(cuts.size()) + " cuts";
    QByteArray out = "cuts at";
    for (const qsizetype cut : cuts)
        out += ' ' + QByteArray::number(cut);
    return out;
}

void CheckSame(const QList<ListEvent>& got, const QList<ListEvent>& want, const QList<qsizetype>& cuts)
{
    const qsizetype n = std::min(got.size(), want.size());
    qsizetype i = 0;
    while (i < n && got[i] == want[i])
        ++i;
    FUZZ_CHECK(i == got.size() && i == want.size(),
               ShowCuts(cuts) + ": list change " + QByteArray::number(i + 1) + " is "
                   + (i < got.size() ? Show(got[i]) : QByteArray("missing")) + ", reading the stream whole gives "
                   + (i < want.size() ? Show(want[i]) : QByteArray("nothing")));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const auto mode = input.ConsumeIntegral<uint8_t>();
    std::vector<uint16_t> rawCuts;
    for (int i = mode >> 3; i > 0; --i)
        rawCuts.push_back(input.ConsumeIntegral<uint16_t>());
    QByteArray stream = fuzz::RemainingBytes(input);
    if (mode & 1)
        stream += kEndOfReply;

    const QList<ListEvent> model = ModelEvents(stream);
    CheckSame(Run(stream, {}), model, {});

    QList<qsizetype> cuts;
    for (const uint16_t raw : rawCuts)
        cuts.append(raw % (stream.size() + 1));
    std::sort(cuts.begin(), cuts.end());
    const QList<ListEvent> cut = Run(stream, cuts);
    if (CutsKeepReplies(stream, cuts))
        CheckSame(cut, model, cuts);

    if (mode & 2) {
        QList<qsizetype> everyByte;
        for (qsizetype i = 1; i < stream.size(); ++i)
            everyByte.append(i);
        const QList<ListEvent> bytes = Run(stream, everyByte);
        if (CutsKeepReplies(stream, everyByte))
            CheckSame(bytes, model, everyByte);
    }
    return 0;
}
