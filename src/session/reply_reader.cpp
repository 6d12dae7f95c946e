#include "session/reply_reader.h"

#include "core/text_cut.h"

#include <cstring>
#include <utility>

namespace {

constexpr char kEndOfReply = '\x04';
constexpr char kLineFeed = '\n';
constexpr QByteArrayView kSeedMarker = "Digest seed: ";
constexpr qsizetype kSeedLength = 16;

// The texts a reply is recognised by when it begins a read. A read may end
// inside one of them; the rest then comes with the next read.
constexpr QByteArrayView kReplyMarkers[] = {
    "0:", "Id:", "Key:", "Authentication failed", "Authentication successful", "unknown command",
};

struct ListSettings
{
    bool ConsoleState::*continuation;
    QByteArray ConsoleState::*partialLine;
    const char* startMessage;
};

ListSettings SettingsFor(ListKind list)
{
    switch (list) {
    case ListKind::Maps:
        return {&ConsoleState::mapListContinuation, &ConsoleState::mapPartialLine, "Refreshing map list..."};
    case ListKind::Players:
        return {&ConsoleState::playerListContinuation, &ConsoleState::playerPartialLine, "Refreshing player list..."};
    case ListKind::Bans: break;
    }
    return {&ConsoleState::banListContinuation, &ConsoleState::banPartialLine, "Refreshing ban list..."};
}

// Calls `onLine(line, partial)` with each line of `piece`, without its line
// feed, the first one continuing `partial`. A callback may put text back into
// `partial` for the next line to continue. Returns the bytes after the last
// line feed.
template <typename OnLine>
QByteArrayView ForEachLine(QByteArrayView piece, QByteArray& partial, OnLine onLine)
{
    const char* cursor = piece.data();
    const char* const end = cursor + piece.size();
    while (cursor < end) {
        const auto* lineFeed = static_cast<const char*>(std::memchr(cursor, kLineFeed, end - cursor));
        if (!lineFeed)
            break;
        QByteArray line;
        if (partial.isEmpty()) {
            line = QByteArray(cursor, lineFeed - cursor);
        } else {
            partial.append(cursor, lineFeed - cursor);
            line = std::exchange(partial, QByteArray());
        }
        onLine(std::move(line), partial);
        cursor = lineFeed + 1;
    }
    return QByteArrayView(cursor, end - cursor);
}

// Opens the list when a new reply begins, cuts the piece into lines for
// `onLine`, and keeps the unfinished last line only while the reply is open.
template <typename OnLine>
void ParseList(ConsoleState& state, QByteArrayView piece, ListKind list, ReplySink& sink, OnLine onLine)
{
    const ListSettings settings = SettingsFor(list);
    if (!(state.*settings.continuation)) {
        sink.Log(settings.startMessage);
        sink.ClearList(list);
        (state.*settings.partialLine).clear();
    }
    state.*settings.continuation = true;

    QByteArray partial = std::exchange(state.*settings.partialLine, QByteArray());
    const QByteArrayView rest = ForEachLine(piece, partial, onLine);
    if (piece.endsWith(kEndOfReply))
        state.*settings.continuation = false;
    else
        state.*settings.partialLine = partial.append(rest);
}

void ParseLines(ConsoleState& state, QByteArrayView piece, ListKind list, ReplySink& sink)
{
    ParseList(state, piece, list, sink, [&](QByteArray line, QByteArray&) { sink.AddEntry(list, std::move(line)); });
}

// Every second line feed closes one player entry: two lines joined, their line
// feeds removed. The first line of a pair waits in the partial line, so the
// pairing carries on across reads.
void ParsePlayers(ConsoleState& state, QByteArrayView piece, ReplySink& sink)
{
    // A new list pairs its own lines, whatever an earlier reply left behind.
    if (!state.playerListContinuation)
        state.playerLinePair = state.playerPairComplete = false;

    ParseList(state, piece, ListKind::Players, sink, [&](QByteArray line, QByteArray& partial) {
        if (!state.playerLinePair) {
            state.playerLinePair = true;
            partial = std::move(line);
            return;
        }
        state.playerPairComplete = true;
        sink.AddEntry(ListKind::Players, std::move(line));
        state.playerLinePair = state.playerPairComplete = false;
    });
}

// True for the first bytes of a reply marker that a read cut short.
bool IsCutMarker(QByteArrayView piece)
{
    for (const QByteArrayView marker : kReplyMarkers) {
        if (!piece.isEmpty() && piece.size() < marker.size() && marker.startsWith(piece))
            return true;
    }
    return false;
}

// The greeting ends with an empty line, which often arrives in front of the
// login's outcome: the outcome is recognised after any such line ends.
QByteArrayView AfterLineEnds(QByteArrayView piece)
{
    while (!piece.isEmpty() && (piece.front() == '\r' || piece.front() == kLineFeed))
        piece = piece.sliced(1);
    return piece;
}

// Collects the greeting until the line that holds the seed is whole, then
// answers it: up to 16 characters after the marker, short of the line feed.
void TakeGreeting(ConsoleState& state, QByteArrayView chunk, ReplySink& sink)
{
    state.greetingLine.append(chunk);
    qsizetype lineStart = 0;
    qsizetype lineFeed;
    while ((lineFeed = state.greetingLine.indexOf(kLineFeed, lineStart)) >= 0) {
        const QByteArrayView line = QByteArrayView(state.greetingLine).sliced(lineStart, lineFeed - lineStart);
        if (const qsizetype p = text::Pos(kSeedMarker, line)) {
            state.digestSeed = text::Copy(line, p + kSeedMarker.size(), kSeedLength);
            state.awaitingSeed = false;
            state.greetingLine.clear();
            sink.AnswerGreeting();
            return;
        }
        lineStart = lineFeed + 1;
    }
    state.greetingLine.remove(0, lineStart);
}

bool ListOpen(const ConsoleState& state)
{
    return state.mapListContinuation || state.playerListContinuation || state.banListContinuation;
}

void ReadPiece(ConsoleState& state, QByteArrayView piece, ReplySink& sink)
{
    // A piece that continues an open list reply is the middle of that reply,
    // wherever the read happened to cut it: text at its start that looks like
    // the start of a reply is the list's own.
    const bool replyStart = !ListOpen(state);
    const QByteArrayView start = AfterLineEnds(piece);

    if (replyStart && text::BeginsWith(start, "Authentication failed")) {
        sink.Log("Authentication Failed");
        sink.CloseConnection();
    }
    if (replyStart && text::BeginsWith(start, "Authentication successful")) {
        sink.Log("Authentication successful");
        sink.LoginSucceeded();
    }
    if (replyStart && text::BeginsWith(start, "unknown command"))
        sink.Log("Unknown Command");
    if ((replyStart && text::BeginsWith(piece, "0:")) || state.mapListContinuation)
        ParseLines(state, piece, ListKind::Maps, sink);
    if ((replyStart && text::BeginsWith(piece, "Id:")) || state.playerListContinuation)
        ParsePlayers(state, piece, sink);
    if ((replyStart && text::BeginsWith(piece, "Key:")) || state.banListContinuation)
        ParseLines(state, piece, ListKind::Bans, sink);
    if (piece.endsWith(kEndOfReply))
        sink.ReplyEnded();
}

} // namespace

void ReadReply(ConsoleState& state, const QByteArray& chunk, ReplySink& sink)
{
    state.receiveBuffer = chunk;
    state.busy = text::Pos(kEndOfReply, chunk) == chunk.size();
    // Lowered however the run ends: a raised flag would refuse every command after.
    struct LowerBusy
    {
        ConsoleState& state;
        ~LowerBusy() { state.busy = false; }
    } lowerBusy{state};

    if (state.awaitingSeed)
        TakeGreeting(state, chunk, sink);

    const QByteArray stream = state.heldReplyStart.isEmpty()
        ? chunk
        : std::exchange(state.heldReplyStart, QByteArray()) + chunk;
    const QByteArrayView all(stream);
    qsizetype start = 0;
    QByteArrayView piece;
    do {
        const qsizetype endOfReply = all.indexOf(kEndOfReply, start);
        const qsizetype end = endOfReply < 0 ? all.size() : endOfReply + 1;
        piece = all.sliced(start, end - start);
        ReadPiece(state, piece, sink);
        start = end;
    } while (start < all.size());

    if (!ListOpen(state) && IsCutMarker(AfterLineEnds(piece)))
        state.heldReplyStart = piece.toByteArray();
}
