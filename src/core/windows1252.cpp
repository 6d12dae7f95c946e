#include "core/windows1252.h"

#include <QList>

#include <array>

namespace {

// Unicode for the bytes 0x80 to 0x9F; the undefined ones map to themselves.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

} // namespace

char16_t windows1252::toUnicode(unsigned char byte)
{
    return byte >= 0x80 && byte < 0xA0 ? kHighControls[byte - 0x80] : char16_t(byte);
}

QString windows1252::decode(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char c : bytes)
        *out++ = QChar(toUnicode(static_cast<unsigned char>(c)));
    return text;
}

std::optional<char> windows1252::fromUnicode(char32_t character)
{
    if (character < 0x80 || (character >= 0xA0 && character <= 0xFF))
        return static_cast<char>(character);
    for (int byte = 0x80; byte < 0xA0; ++byte) {
        if (toUnicode(static_cast<unsigned char>(byte)) == character)
            return static_cast<char>(byte);
    }
    return std::nullopt;
}

std::optional<QByteArray> windows1252::encode(QStringView text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const char32_t character : text.toUcs4()) {
        const std::optional<char> byte = fromUnicode(character);
        if (!byte)
            return std::nullopt;
        bytes.append(*byte);
    }
    return bytes;
}
