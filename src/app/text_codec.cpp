#include "app/text_codec.h"

#include "core/text_cut.h"
#include "core/windows1252.h"

namespace {

char byteFor(char16_t unit)
{
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF))
        return static_cast<char>(unit);
    for (int byte = 0x80; byte < 0xA0; ++byte) {
        if (windows1252::toUnicode(static_cast<unsigned char>(byte)) == unit)
            return static_cast<char>(byte);
    }
    return '?';
}

} // namespace

QString toDisplay(QByteArrayView bytes)
{
    return windows1252::decode(bytes);
}

QString toDisplayLine(QByteArrayView bytes)
{
    constexpr qsizetype kMaxShownLength = 4096;
    return toDisplay(text::firstBytes(bytes, kMaxShownLength));
}

QByteArray toBytes(const QString& text)
{
    QByteArray bytes(text.size(), Qt::Uninitialized);
    char* out = bytes.data();
    for (const QChar c : text)
        *out++ = byteFor(c.unicode());
    return bytes;
}
