#pragma once

// Whole numbers written the way administrators and the program's files write
// them: leading blanks, one optional sign, then decimal digits, or hexadecimal
// digits after "$", "x", "X", "0x" or "0X", and nothing after.

#include <QByteArrayView>

#include <optional>

// The value of `text`, or nothing when it does not convert. A decimal value
// outside the signed 32-bit range does not convert; a hexadecimal one may use
// all 32 bits (so "$FFFFFFFF" is -1).
std::optional<qint32> parseInteger(QByteArrayView text);

// As parseInteger, raising ConvertError "'<text>' is not a valid integer value".
qint32 toInteger(QByteArrayView text);

// As parseInteger, giving `fallback` when the text does not convert.
qint32 toIntegerOr(QByteArrayView text, qint32 fallback);
