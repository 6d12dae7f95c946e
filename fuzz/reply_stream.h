#pragma once

// The input of the two targets that take server replies, decoded the same way
// by both: the stream, then, consumed from the end, a mode byte (bit 0
// appends a closing 0x04, bit 1 asks for each read alone, bit 2 takes an
// extras byte, bits 3 to 7 give the number of cuts), the cut points, and the
// extras byte: bit 0 puts a stock greeting in front; bits 1 to 4 all set
// stretch one line of a reply past the line limit (two more bytes say where,
// one how far past).

#include "fuzz_support.h"

#include <QByteArray>
#include <QList>

#include <algorithm>
#include <optional>

namespace fuzz {

inline constexpr QByteArrayView kStockGreeting =
    "### Battlefield 2 ModManager Rcon v3.5.\n### Digest seed: abcdefghijklmnop\n\n";

struct ReplyStream
{
    QByteArray stream;
    QList<qsizetype> cuts; // within the stream, in the order given
    bool eachReadAlone = false;
    struct Stretch
    {
        qsizetype at = 0;
        qsizetype past = 0; // bytes past the limit, -128 to 127
    };
    std::optional<Stretch> stretch;

    // Stretches one line at or after `firstReplyByte` to `maxLine` bytes and
    // the stretch's `past` by repeating the byte found there (a line feed or
    // a 0x04 gives 'a'); cuts after it move with the bytes. Gives where the
    // stretch went, or nothing when no reply byte is there to stretch.
    std::optional<qsizetype> applyStretch(qsizetype firstReplyByte, qsizetype maxLine)
    {
        if (!stretch || firstReplyByte >= stream.size())
            return std::nullopt;
        const qsizetype where = firstReplyByte + stretch->at % (stream.size() - firstReplyByte);
        const char found = stream[where];
        const char filler = found == '\n' || found == '\x04' ? 'a' : found;
        const qsizetype fill = maxLine + stretch->past;
        stream.insert(where, fill, filler);
        for (qsizetype& cut : cuts)
            cut = cut > where ? cut + fill : cut;
        return where;
    }
};

inline ReplyStream takeReplyStream(FuzzedDataProvider& input)
{
    ReplyStream out;
    const auto mode = input.ConsumeIntegral<uint8_t>();
    QList<uint16_t> rawCuts;
    for (int i = mode >> 3; i > 0; --i)
        rawCuts.append(input.ConsumeIntegral<uint16_t>());
    const auto extras = (mode & 4) ? input.ConsumeIntegral<uint8_t>() : uint8_t(0);
    if ((extras & 0x1e) == 0x1e) {
        const auto at = input.ConsumeIntegral<uint16_t>();
        out.stretch = ReplyStream::Stretch{at, input.ConsumeIntegral<int8_t>()};
    }
    out.stream = remainingBytes(input);
    if (extras & 1)
        out.stream.prepend(kStockGreeting.toByteArray());
    if (mode & 1)
        out.stream += '\x04';
    out.eachReadAlone = (mode & 2) != 0;
    for (const uint16_t raw : rawCuts)
        out.cuts.append(raw % (out.stream.size() + 1));
    return out;
}

} // namespace fuzz
