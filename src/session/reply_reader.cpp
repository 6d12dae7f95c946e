#include "session/reply_reader.h"

#include "core/text_cut.h"

#include <cstring>
#include <utility>

namespace {

constexpr char kEndOfReply = '\x04';
constexpr char kLineFeed = '\n';
constexpr QByteArrayView kSeedMarker = "Digest seed: ";
constexpr qsizetype kSeedLength = 16;

constexpr QByteArrayView kMapMarker = "0:";
constexpr QByteArrayView kPlayerMarker = "Id:";
constexpr QByteArrayView kBanMarker = "Key:";
constexpr QByteArrayView kLoginFailed = "Authentication failed";
constexpr QByteArrayView kLoginSucceeded = "Authentication successful";
constexpr QByteArrayView kUnknownCommand = "unknown command";

// The texts a reply is recognised by when it begins a read. A read may end
// inside one of them; the rest then comes with the next read.
constexpr QByteArrayView kReplyMarkers[] = {
    kMapMarker, kPlayerMarker, kBanMarker, kLoginFailed, kLoginSucceeded, kUnknownCommand,
};

const char* startMessage(ListKind list)
{
    switch (list) {
    case ListKind::Maps: return "Refreshing map list...";
    case ListKind::Players: return "Refreshing player list...";
    case ListKind::Bans: break;
    }
    return "Refreshing ban list...";
}

// True for the first bytes of a reply marker that a read cut short.
bool isCutMarker(QByteArrayView piece)
{
    for (const QByteArrayView marker : kReplyMarkers) {
        if (!piece.isEmpty() && piece.size() < marker.size() && marker.startsWith(piece))
            return true;
    }
    return false;
}

// Calls `onLine(line, partial)` with each line of `piece`, without its line
// feed, the first one continuing `partial`. A callback may put text back into
// `partial` for the next line to continue. Returns the bytes after the last
// line feed.
template <typename OnLine>
QByteArrayView forEachLine(QByteArrayView piece, QByteArray& partial, OnLine onLine)
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

} // namespace

ReplyReader::ReplyReader(ReplySink& sink)
    : sink_(sink)
{ }

ReplyReader::List& ReplyReader::listFor(ListKind list)
{
    switch (list) {
    case ListKind::Maps: return maps_;
    case ListKind::Players: return players_;
    case ListKind::Bans: break;
    }
    return bans_;
}

bool ReplyReader::isListOpen(ListKind list) const
{
    switch (list) {
    case ListKind::Maps: return maps_.open;
    case ListKind::Players: return players_.open;
    case ListKind::Bans: break;
    }
    return bans_.open;
}

bool ReplyReader::anyListOpen() const
{
    return maps_.open || players_.open || bans_.open;
}

void ReplyReader::startConnection()
{
    endConnection();
    awaitingSeed_ = true;
}

void ReplyReader::endConnection()
{
    maps_ = players_ = bans_ = List();
    playerLinePair_ = false;
    heldReplyStart_.clear();
    awaitingSeed_ = false;
    greetingLine_.clear();
}

void ReplyReader::read(QByteArrayView chunk)
{
    busy_ = text::find(chunk, kEndOfReply) == chunk.size() - 1;
    // Lowered however the run ends: a raised flag would refuse every command after.
    struct LowerBusy
    {
        bool& busy;
        ~LowerBusy() { busy = false; }
    } lowerBusy{busy_};

    if (awaitingSeed_)
        takeGreeting(chunk);

    // Bytes held back from the last read are read in front of this one.
    QByteArray joined;
    QByteArrayView all = chunk;
    if (!heldReplyStart_.isEmpty()) {
        joined = std::exchange(heldReplyStart_, QByteArray()).append(chunk);
        all = joined;
    }
    qsizetype start = 0;
    QByteArrayView piece;
    do {
        const qsizetype endOfReply = all.indexOf(kEndOfReply, start);
        const qsizetype end = endOfReply < 0 ? all.size() : endOfReply + 1;
        piece = all.sliced(start, end - start);
        readPiece(piece);
        start = end;
    } while (start < all.size());

    if (!anyListOpen() && isCutMarker(text::skipLineEnds(piece)))
        heldReplyStart_ = piece.toByteArray();
}

// Collects the greeting until the line that holds the seed is whole, then
// answers it: up to 16 characters after the marker, short of the line feed.
void ReplyReader::takeGreeting(QByteArrayView chunk)
{
    greetingLine_.append(chunk);
    qsizetype lineStart = 0;
    qsizetype lineFeed;
    while ((lineFeed = greetingLine_.indexOf(kLineFeed, lineStart)) >= 0) {
        const QByteArrayView line = QByteArrayView(greetingLine_).sliced(lineStart, lineFeed - lineStart);
        if (const auto seed = text::after(line, kSeedMarker, kSeedLength)) {
            digestSeed_ = seed->toByteArray();
            awaitingSeed_ = false;
            greetingLine_.clear();
            sink_.answerGreeting(digestSeed_);
            return;
        }
        lineStart = lineFeed + 1;
    }
    greetingLine_.remove(0, lineStart);
}

void ReplyReader::readPiece(QByteArrayView piece)
{
    // A piece that continues an open list reply is the middle of that reply,
    // wherever the read happened to cut it: text at its start that looks like
    // the start of a reply is the list's own.
    const bool replyStart = !anyListOpen();
    // The greeting ends with an empty line, which often arrives in front of the
    // login's outcome: the outcome is recognised after any such line ends.
    const QByteArrayView start = text::skipLineEnds(piece);

    if (replyStart && start.startsWith(kLoginFailed)) {
        sink_.log("Authentication Failed");
        sink_.closeConnection();
    }
    if (replyStart && start.startsWith(kLoginSucceeded)) {
        sink_.log("Authentication successful");
        sink_.loginSucceeded();
    }
    if (replyStart && start.startsWith(kUnknownCommand))
        sink_.log("Unknown Command");
    if ((replyStart && piece.startsWith(kMapMarker)) || maps_.open)
        parseLines(piece, ListKind::Maps);
    if ((replyStart && piece.startsWith(kPlayerMarker)) || players_.open)
        parsePlayers(piece);
    if ((replyStart && piece.startsWith(kBanMarker)) || bans_.open)
        parseLines(piece, ListKind::Bans);
    if (piece.endsWith(kEndOfReply))
        sink_.replyEnded();
}

// Opens the list when a new reply begins, cuts the piece into lines for
// `onLine`, and keeps the unfinished last line only while the reply is open.
template <typename OnLine>
void ReplyReader::parseList(QByteArrayView piece, ListKind kind, OnLine onLine)
{
    List& list = listFor(kind);
    if (!list.open) {
        sink_.log(startMessage(kind));
        sink_.clearList(kind);
        list.partialLine.clear();
    }
    list.open = true;

    QByteArray partial = std::exchange(list.partialLine, QByteArray());
    const QByteArrayView rest = forEachLine(piece, partial, onLine);
    if (piece.endsWith(kEndOfReply))
        list.open = false;
    else
        list.partialLine = partial.append(rest);
}

void ReplyReader::parseLines(QByteArrayView piece, ListKind list)
{
    parseList(piece, list, [&](QByteArray line, QByteArray&) { sink_.addEntry(list, std::move(line)); });
}

// Every second line feed closes one player entry: two lines joined, their line
// feeds removed. The first line of a pair waits in the partial line, so the
// pairing carries on across reads.
void ReplyReader::parsePlayers(QByteArrayView piece)
{
    // A new list pairs its own lines, whatever an earlier reply left behind.
    if (!players_.open)
        playerLinePair_ = false;

    parseList(piece, ListKind::Players, [&](QByteArray line, QByteArray& partial) {
        if (!playerLinePair_) {
            playerLinePair_ = true;
            partial = std::move(line);
            return;
        }
        sink_.addEntry(ListKind::Players, std::move(line));
        playerLinePair_ = false;
    });
}
