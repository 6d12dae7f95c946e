#pragma once

// The Windows-1252 table the program reads every 8-bit text with, its five
// undefined bytes (0x81, 0x8D, 0x8F, 0x90, 0x9D) taken as the control
// characters of the same number so that every byte value has one character.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace windows1252 {

char16_t toUnicode(unsigned char byte);
QString decode(QByteArrayView bytes);

// The byte that stands for a character, or nothing when the table has none.
std::optional<char> fromUnicode(char32_t character);
// The bytes of a text, or nothing when a character of it has none.
std::optional<QByteArray> encode(QStringView text);

} // namespace windows1252
