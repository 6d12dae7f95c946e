#include "session/reply_reader.h"

#include "core/text_cut.h"

#include <utility>

namespace {

constexpr char kEndOfReply = '\x04';
constexpr char kLineFeed = '\n';
constexpr QByteArrayView kSeedMarker = "Digest seed: ";
constexpr qsizetype kSeedLength = 16;
// A greeting line is short; a longer one is kept only this far.
constexpr qsizetype kMaxGreetingLine = 64 * 1024;

constexpr QByteArrayView kMapMarker = "0:";
constexpr QByteArrayView kPlayerMarker = "Id:";
constexpr QByteArrayView kBanMarker = "Key:";
constexpr QByteArrayView kLoginFailed = "Authentication failed";
constexpr QByteArrayView kLoginSucceeded = "Authentication successful";
constexpr QByteArrayView kUnknownCommand = "unknown command";

// The texts a reply is recognised by when it begins. A read may end inside
// one of them; the rest then comes with the next read.
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
bool isCutMarker(QByteArrayView start)
{
    for (const QByteArrayView marker : kReplyMarkers) {
        if (!start.isEmpty() && start.size() < marker.size() && marker.startsWith(start))
            return true;
    }
    return false;
}

} // namespace

ReplyReader::ReplyReader(ReplySink& sink)
    : sink_(sink)
{ }

void ReplyReader::startConnection()
{
    endConnection();
    awaitingSeed_ = true;
}

void ReplyReader::endConnection()
{
    ++connection_;
    awaitingSeed_ = false;
    greetingLine_.clear();
    replyOpen_ = replyRecognised_ = false;
    openList_ = -1;
    heldReplyStart_.clear();
    partialLine_.clear();
    cuttingLine_ = false;
    playerLinePair_ = false;
    playerFirstLine_.clear();
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

    const quint64 connection = connection_;
    const QByteArrayView rest = awaitingSeed_ ? takeGreeting(chunk) : chunk;
    if (connection != connection_)
        return;

    // Bytes held back from the last read are read in front of this one.
    QByteArray joined;
    QByteArrayView all = rest;
    if (!heldReplyStart_.isEmpty()) {
        joined = std::exchange(heldReplyStart_, QByteArray()).append(rest);
        all = joined;
    }
    qsizetype start = 0;
    while (start < all.size() && connection == connection_) {
        const qsizetype endOfReply = all.indexOf(kEndOfReply, start);
        const qsizetype end = endOfReply < 0 ? all.size() : endOfReply + 1;
        const QByteArrayView piece = all.sliced(start, end - start);
        if (endOfReply < 0 && !replyOpen_ && isCutMarker(text::skipLineEnds(piece))) {
            heldReplyStart_ = piece.toByteArray();
            break;
        }
        readPiece(piece);
        start = end;
    }
}

// Collects the greeting until the line that holds the seed is whole, then
// answers it: up to 16 characters after the marker, short of the line feed.
// Gives the bytes of the chunk after that line.
QByteArrayView ReplyReader::takeGreeting(QByteArrayView chunk)
{
    qsizetype taken = 0;
    while (taken < chunk.size()) {
        const qsizetype lineFeed = chunk.indexOf(kLineFeed, taken);
        const qsizetype end = lineFeed < 0 ? chunk.size() : lineFeed;
        greetingLine_.append(
            text::firstBytes(chunk.sliced(taken, end - taken), kMaxGreetingLine - greetingLine_.size()));
        if (lineFeed < 0)
            return {};
        taken = lineFeed + 1;
        if (const auto seed = text::after(greetingLine_, kSeedMarker, kSeedLength)) {
            digestSeed_ = seed->toByteArray();
            awaitingSeed_ = false;
            greetingLine_.clear();
            sink_.answerGreeting(digestSeed_);
            return chunk.sliced(taken);
        }
        greetingLine_.clear();
    }
    return {};
}

void ReplyReader::readPiece(QByteArrayView piece)
{
    const bool ends = piece.endsWith(kEndOfReply);
    const QByteArrayView body = ends ? piece.chopped(1) : piece;
    if (!replyOpen_) {
        // Line ends between replies (the greeting's last, empty line) belong to none.
        if (text::skipLineEnds(body).isEmpty() && !ends)
            return;
        beginReply(body);
    }
    const quint64 connection = connection_;
    if (openList_ >= 0)
        parseListLines(body);
    if (connection != connection_)
        return;
    if (!body.isEmpty())
        sink_.replyText(body, replyRecognised_);
    if (ends) {
        const int list = std::exchange(openList_, -1);
        replyOpen_ = replyRecognised_ = false;
        if (list >= 0) {
            partialLine_.clear();
            cuttingLine_ = false;
            sink_.listEnded(static_cast<ListKind>(list));
        }
        sink_.replyEnded();
    }
}

// A reply begins: it is recognised by its first bytes, a login outcome or an
// unknown command after any line ends in front of it.
void ReplyReader::beginReply(QByteArrayView body)
{
    replyOpen_ = true;
    replyRecognised_ = false;
    const QByteArrayView start = text::skipLineEnds(body);
    if (start.startsWith(kLoginFailed)) {
        replyRecognised_ = true;
        sink_.log("Authentication Failed");
        sink_.closeConnection();
    } else if (start.startsWith(kLoginSucceeded)) {
        replyRecognised_ = true;
        sink_.log("Authentication successful");
        sink_.loginSucceeded();
    } else if (start.startsWith(kUnknownCommand)) {
        replyRecognised_ = true;
        sink_.log("Unknown Command");
    } else if (body.startsWith(kMapMarker)) {
        openList(ListKind::Maps);
    } else if (body.startsWith(kPlayerMarker)) {
        openList(ListKind::Players);
    } else if (body.startsWith(kBanMarker)) {
        openList(ListKind::Bans);
    }
}

void ReplyReader::openList(ListKind list)
{
    replyRecognised_ = true;
    openList_ = static_cast<int>(list);
    partialLine_.clear();
    cuttingLine_ = false;
    // A new list pairs its own lines, whatever an earlier reply left behind.
    playerLinePair_ = false;
    playerFirstLine_.clear();
    sink_.log(startMessage(list));
    sink_.clearList(list);
}

// Cuts the bytes into lines; the unfinished last line waits for the next read.
void ReplyReader::parseListLines(QByteArrayView body)
{
    qsizetype cursor = 0;
    qsizetype lineFeed;
    while ((lineFeed = body.indexOf(kLineFeed, cursor)) >= 0) {
        const QByteArrayView bytes = body.sliced(cursor, lineFeed - cursor);
        if (partialLine_.isEmpty() && !cuttingLine_) {
            takeLine(text::firstBytes(bytes, kMaxLineLength)); // straight from the read, no copy
            if (bytes.size() > kMaxLineLength)
                sink_.log("A list line longer than 16 MiB was cut short...");
        } else {
            appendToPartial(bytes);
            const QByteArray line = std::exchange(partialLine_, QByteArray());
            cuttingLine_ = false;
            takeLine(line);
        }
        cursor = lineFeed + 1;
    }
    appendToPartial(body.sliced(cursor));
}

void ReplyReader::appendToPartial(QByteArrayView bytes)
{
    if (cuttingLine_ || bytes.isEmpty())
        return;
    const qsizetype room = kMaxLineLength - partialLine_.size();
    partialLine_.append(text::firstBytes(bytes, room));
    if (bytes.size() > room) {
        cuttingLine_ = true;
        sink_.log("A list line longer than 16 MiB was cut short...");
    }
}

// Every line is a map or ban entry; for players, every second line closes an
// entry of two lines joined.
void ReplyReader::takeLine(QByteArrayView line)
{
    const auto list = static_cast<ListKind>(openList_);
    if (list != ListKind::Players) {
        sink_.addEntry(list, line, {});
        return;
    }
    if (!playerLinePair_) {
        playerLinePair_ = true;
        playerFirstLine_ = line.toByteArray();
        return;
    }
    playerLinePair_ = false;
    sink_.addEntry(list, playerFirstLine_, line);
    playerFirstLine_.clear();
}
