#pragma once

// A fault in a file a person wrote (the automation file, the desired-state
// file), said where it is, as compilers say it.

#include <QString>

struct FileProblem
{
    int line = 0; // 1-based; 0 when the fault is the file's, not a place in it
    int column = 0;
    QString message;

    // "FILE:LINE:COLUMN: message", or "FILE: message" without a place.
    QString text(const QString& fileName) const
    {
        if (line <= 0)
            return QStringLiteral("%1: %2").arg(fileName, message);
        return QStringLiteral("%1:%2:%3: %4").arg(fileName).arg(line).arg(column).arg(message);
    }
};
