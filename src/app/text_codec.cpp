#include "app/text_codec.h"

#include "core/text_cut.h"
#include "core/windows1252.h"

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
        *out++ = windows1252::fromUnicode(c.unicode()).value_or('?');
    return bytes;
}
