#pragma once

// Plain, slow restatements of the client's text rules, written apart from the
// product code so that the fuzz targets can hold the two against each other.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <algorithm>
#include <optional>

namespace reference {

// A whole number: blanks, one optional sign, then decimal digits, or
// hexadecimal digits after "$", "x", "X", "0x" or "0X", and nothing after.
// Decimal values must fit a signed 32-bit integer; hexadecimal ones may use
// all 32 bits and wrap (so "$FFFFFFFF" is -1 and "-$1" is -1).
inline std::optional<qint32> parseInteger(QByteArrayView text)
{
    while (!text.isEmpty() && text.front() == ' ')
        text = text.sliced(1);
    bool negative = false;
    if (!text.isEmpty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text = text.sliced(1);
    }
    int base = 10;
    if (text.startsWith("0x") || text.startsWith("0X")) {
        base = 16;
        text = text.sliced(2);
    } else if (!text.isEmpty() && (text.front() == '$' || text.front() == 'x' || text.front() == 'X')) {
        base = 16;
        text = text.sliced(1);
    }
    if (text.isEmpty())
        return std::nullopt;

    // Far above any 32-bit value, and small enough that value * 16 + 15 fits.
    constexpr qint64 kCeiling = qint64(1) << 40;
    qint64 value = 0;
    for (const char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0)
            return std::nullopt;
        value = std::min(value * base + digit, kCeiling);
    }

    if (base == 10) {
        if (value > (negative ? qint64(2147483648) : qint64(2147483647)))
            return std::nullopt;
        return static_cast<qint32>(negative ? -value : value);
    }
    if (value > qint64(0xFFFFFFFF))
        return std::nullopt;
    qint64 bits = negative ? -value : value;
    bits &= 0xFFFFFFFF;
    return static_cast<qint32>(bits >= qint64(0x80000000) ? bits - (qint64(1) << 32) : bits);
}

// The program's text files, held in memory with a read position: LF or CR LF
// ends a line and is not part of it, a CR anywhere else is dropped, and a
// Ctrl+Z byte ends the file.
class TextModel
{
public:
    explicit TextModel(QByteArrayView file)
        : data_(file.first(file.indexOf('\x1A') < 0 ? file.size() : file.indexOf('\x1A')))
    { }

    bool atEnd() const { return pos_ >= data_.size(); }

    QByteArray readLine()
    {
        const qsizetype lf = data_.indexOf('\n', pos_);
        const qsizetype end = lf < 0 ? data_.size() : lf;
        QByteArray line = data_.sliced(std::min(pos_, end), std::max<qsizetype>(end - pos_, 0)).toByteArray();
        line.removeIf([](char c) { return c == '\r'; });
        pos_ = lf < 0 ? data_.size() : lf + 1;
        return line;
    }

    void skipLine() { readLine(); }

    QByteArray readWord(qsizetype maxLength)
    {
        while (!atEnd() && static_cast<unsigned char>(data_[pos_]) <= ' ')
            ++pos_;
        QByteArray word;
        while (word.size() < maxLength && !atEnd() && static_cast<unsigned char>(data_[pos_]) > ' ')
            word += data_[pos_++];
        return word;
    }

    // Every line from here to the end; a line end after the last line gives
    // no extra line.
    QList<QByteArray> remainingLines()
    {
        QList<QByteArray> lines;
        while (!atEnd())
            lines.append(readLine());
        return lines;
    }

private:
    QByteArrayView data_;
    qsizetype pos_ = 0;
};

} // namespace reference
