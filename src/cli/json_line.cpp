#include "cli/json_line.h"

QByteArray jsonString(QByteArrayView bytes)
{
    static constexpr char kHex[] = "0123456789abcdef";
    QByteArray out;
    out.reserve(bytes.size() + 2);
    out.append('"');
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '"' || byte == '\\') {
            out.append('\\').append(c);
        } else if (byte >= 0x20 && byte < 0x7F) {
            out.append(c);
        } else {
            out.append("\\u00").append(kHex[byte >> 4]).append(kHex[byte & 0x0F]);
        }
    }
    out.append('"');
    return out;
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

QByteArray JsonLine::finish()
{
    return line_ + "}\n";
}
