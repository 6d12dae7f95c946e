#include "session/reply_reader.h"

#include "core/text_cut.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

#if defined(__SSE2__)
// A bit for each line feed among the 64 bytes at `bytes`.
quint64 lineFeedsIn64(const char* bytes)
{
    const __m128i lineFeeds = _mm_set1_epi8(kLineFeed);
    quint64 found = 0;
    for (int i = 0; i < 4; ++i) {
        const __m128i bytes16 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * i));
        found |= quint64(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes16, lineFeeds)))) << (16 * i);
    }
    return found;
}
#endif

// Hands each line that `bytes` holds whole to `take`, without its line feed,
// and gives where the unfinished rest begins. List lines are short, shorter
// than what a call to memchr costs for each, so the bytes are looked at 64 at
// a time; a long line is left to memchr once it shows itself.
template <typename Take>
qsizetype forEachLine(QByteArrayView bytes, Take&& take)
{
    const char* const data = bytes.data();
    const qsizetype size = bytes.size();
    qsizetype start = 0;
    qsizetype block = 0;
#if defined(__SSE2__)
    constexpr qsizetype kLongLine = 256;
    while (block + 64 <= size) {
        quint64 found = lineFeedsIn64(data + block);
        if (found == 0 && block - start >= kLongLine) {
            const void* lineFeed = std::memchr(data + block, kLineFeed, size_t(size - block));
            if (!lineFeed)
                return start;
            const qsizetype at = static_cast<const char*>(lineFeed) - data;
            take(QByteArrayView(data + start, at - start));
            start = block = at + 1;
            continue;
        }
        for (; found != 0; found &= found - 1) {
            const qsizetype at = block + std::countr_zero(found);
            take(QByteArrayView(data + start, at - start));
            start = at + 1;
        }
        block += 64;
    }
#endif
    for (qsizetype from = block; from < size;) {
        const void* lineFeed = std::memchr(data + from, kLineFeed, size_t(size - from));
        if (!lineFeed)
            break;
        const qsizetype at = static_cast<const char*>(lineFeed) - data;
        take(QByteArrayView(data + start, at - start));
        start = from = at + 1;
    }
    return start;
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
    const qsizetype firstEnd = text::find(chunk, kEndOfReply);
    busy_ = firstEnd == chunk.size() - 1;
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
        // Most reads of a long list hold no 0x04: they are not searched again.
        const qsizetype endOfReply = firstEnd < 0 ? -1 : text::find(all.sliced(start), kEndOfReply);
        const qsizetype end = endOfReply < 0 ? all.size() : start + endOfReply + 1;
        const QByteArrayView piece = all.sliced(start, end - start);
        if (endOfReply < 0 && !replyOpen_ && isCutMarker(text::skipLineEnds(piece))) {
            heldReplyStart_ = text::skipLineEnds(piece).toByteArray();
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
    QByteArrayView body = ends ? piece.chopped(1) : piece;
    if (!replyOpen_) {
        // Line ends in front of a reply (the greeting's last, empty line)
        // belong to none, whether they come in a read of their own or not.
        body = text::skipLineEnds(body);
        if (body.isEmpty() && !ends)
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

// A reply begins, the line ends in front of it left out: it is recognised by
// its first bytes.
void ReplyReader::beginReply(QByteArrayView body)
{
    replyOpen_ = true;
    replyRecognised_ = false;
    if (body.startsWith(kLoginFailed)) {
        replyRecognised_ = true;
        sink_.log("Authentication Failed");
        sink_.closeConnection();
    } else if (body.startsWith(kLoginSucceeded)) {
        replyRecognised_ = true;
        sink_.log("Authentication successful");
        sink_.loginSucceeded();
    } else if (body.startsWith(kUnknownCommand)) {
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
    if (!partialLine_.isEmpty() || cuttingLine_) {
        // The rest of a line that an earlier read began.
        const qsizetype lineFeed = text::find(body, kLineFeed);
        appendToPartial(lineFeed < 0 ? body : body.first(lineFeed));
        if (lineFeed < 0)
            return;
        const QByteArray line = std::exchange(partialLine_, QByteArray());
        cuttingLine_ = false;
        takeLine(line);
        cursor = lineFeed + 1;
    }
    // Whole lines go straight from the read, without a copy.
    const QByteArrayView lines = body.sliced(cursor);
    const auto list = static_cast<ListKind>(openList_);
    const auto cutLongLine = [this](QByteArrayView line) {
        if (line.size() <= kMaxLineLength)
            return false;
        takeLine(line.first(kMaxLineLength));
        sink_.log("A list line longer than 16 MiB was cut short...");
        return true;
    };
    qsizetype rest;
    if (list == ListKind::Players) {
        rest = forEachLine(lines, [&](QByteArrayView line) {
            if (!cutLongLine(line))
                takeLine(line);
        });
    } else {
        rest = forEachLine(lines, [&](QByteArrayView line) {
            if (!cutLongLine(line))
                sink_.addEntry(list, line, {});
        });
    }
    appendToPartial(lines.sliced(rest));
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
