#include "core/integer_text.h"

#include "core/errors.h"

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::optional<qint32> parseInteger(QByteArrayView text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }

    bool hex = false;
    if (i < n && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i == n)
        return std::nullopt;

    quint64 value = 0;
    if (hex) {
        for (; i < n; ++i) {
            const int digit = hexDigit(text[i]);
            if (digit < 0)
                return std::nullopt;
            value = value * 16 + digit;
            if (value > 0xFFFFFFFFu)
                return std::nullopt;
        }
        const auto bits = static_cast<qint32>(static_cast<quint32>(value));
        return negative ? static_cast<qint32>(0u - static_cast<quint32>(bits)) : bits;
    }

    const quint64 limit = negative ? 2147483648u : 2147483647u;
    for (; i < n; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        value = value * 10 + (text[i] - '0');
        if (value > limit)
            return std::nullopt;
    }
    return negative ? static_cast<qint32>(-static_cast<qint64>(value)) : static_cast<qint32>(value);
}

qint32 toInteger(QByteArrayView text)
{
    if (const auto value = parseInteger(text))
        return *value;
    throw ConvertError("'" + text.toByteArray() + "' is not a valid integer value");
}

qint32 toIntegerOr(QByteArrayView text, qint32 fallback)
{
    return parseInteger(text).value_or(fallback);
}
