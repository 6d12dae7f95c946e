#pragma once

// A fault in a file a person wrote (the automation file, the desired-state
// file), said where it is, as compilers say it.

#include <QByteArray>
#include <QString>

#include <variant>

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

// The most a file a person wrote may hold: a few pages of text; a larger
// one is a mistake.
inline constexpr qint64 kWrittenFileBound = 4 * 1024 * 1024;

// The text of such a file, or a problem without a place when it cannot be
// read or holds more than `bound` bytes. One byte past the bound is read
// rather than the size trusted, which a pipe has not.
std::variant<QByteArray, FileProblem> readWrittenFile(const QString& path, qint64 bound = kWrittenFileBound);

// What `read` makes of such a file's text; a file that cannot be read gives
// an empty result whose one problem says why. `Read` is a result of the
// {value, problems} shape.
template <typename Read>
Read readWrittenFileWith(const QString& path, Read (*read)(const QByteArray&))
{
    auto text = readWrittenFile(path);
    if (const auto* problem = std::get_if<FileProblem>(&text))
        return {{}, {*problem}};
    return read(std::get<QByteArray>(text));
}
