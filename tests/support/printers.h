#pragma once

// Readable GoogleTest output for Qt texts: byte texts print with their control
// bytes escaped, so a failing comparison shows exactly which byte differs.

#include <QByteArray>
#include <QList>
#include <QString>

#include <ostream>

inline void PrintTo(const QByteArray& bytes, std::ostream* os)
{
    *os << '"';
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b == '\\' || b == '"')
            *os << '\\' << c;
        else if (b >= 0x20 && b < 0x7F)
            *os << c;
        else {
            static const char digits[] = "0123456789abcdef";
            *os << "\\x" << digits[b >> 4] << digits[b & 15];
        }
    }
    *os << '"';
}

inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

inline void PrintTo(const QList<QByteArray>& list, std::ostream* os)
{
    *os << '{';
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (i)
            *os << ", ";
        PrintTo(list[i], os);
    }
    *os << '}';
}
