#pragma once

// The Windows-1252 table the program reads every 8-bit text with, its five
// undefined bytes (0x81, 0x8D, 0x8F, 0x90, 0x9D) taken as the control
// characters of the same number so that every byte value has one character.

#include <QByteArrayView>
#include <QString>

namespace windows1252 {

char16_t toUnicode(unsigned char byte);
QString decode(QByteArrayView bytes);

} // namespace windows1252
