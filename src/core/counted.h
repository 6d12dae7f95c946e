#pragma once

// A count with its noun, for messages: "1 rule", "3 rules", "0 webhooks".

#include <QString>

inline QString counted(qint64 count, const char* one, const char* many)
{
    return QString::number(count) + u' ' + QLatin1String(count == 1 ? one : many);
}
