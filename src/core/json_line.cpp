#include "core/json_line.h"

#include "core/windows1252.h"

QByteArray jsonString(QStringView text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    QByteArray out;
    out.reserve(text.size() + 2);
    out.append('"');
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        if (unit == '"' || unit == '\\') {
            out.append('\\').append(char(unit));
        } else if (unit >= 0x20 && unit < 0x7F) {
            out.append(char(unit));
        } else {
            // A character past U+FFFF comes as its two surrogates, each escaped.
            out.append("\\u")
                .append(kHex[unit >> 12])
                .append(kHex[(unit >> 8) & 0x0F])
                .append(kHex[(unit >> 4) & 0x0F])
                .append(kHex[unit & 0x0F]);
        }
    }
    out.append('"');
    return out;
}

QByteArray jsonString(QByteArrayView serverBytes)
{
    return jsonString(windows1252::decode(serverBytes));
}

void JsonLine::key(const char* name)
{
    if (line_.size() > 1)
        line_.append(',');
    line_.append('"').append(name).append("\":");
}

JsonLine& JsonLine::text(const char* name, QByteArrayView bytes)
{
    key(name);
    line_.append(jsonString(bytes));
    return *this;
}

JsonLine& JsonLine::text(const char* name, QStringView text)
{
    key(name);
    line_.append(jsonString(text));
    return *this;
}

JsonLine& JsonLine::text(const char* name, const std::optional<QByteArray>& bytes)
{
    if (bytes)
        return text(name, QByteArrayView(*bytes));
    key(name);
    line_.append("null");
    return *this;
}

JsonLine& JsonLine::number(const char* name, std::optional<qint64> value)
{
    key(name);
    line_.append(value ? QByteArray::number(*value) : QByteArray("null"));
    return *this;
}

JsonLine& JsonLine::boolean(const char* name, bool value)
{
    key(name);
    line_.append(value ? "true" : "false");
    return *this;
}

JsonLine& JsonLine::raw(const char* name, QByteArrayView json)
{
    key(name);
    line_.append(json);
    return *this;
}

QByteArray JsonLine::finish()
{
    return line_ + "}\n";
}
