#include "storage/ini_file.h"

#include "core/errors.h"
#include "core/integer_text.h"
#include "core/text_cut.h"
#include "storage/replacing_file.h"

#include <QFile>
#include <QList>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace {

// The file may hold a password that can be recovered, so only its owner reads it.
constexpr mode_t kNewFileMode = 0600;

// One line of the file: [begin, contentEnd) is its text, [contentEnd, end) its
// line end (LF or CR LF, or nothing for a last line without one).
struct Line
{
    qsizetype begin;
    qsizetype contentEnd;
    qsizetype end;
};

QList<Line> splitLines(const QByteArray& data)
{
    QList<Line> lines;
    qsizetype begin = 0;
    while (begin < data.size()) {
        const qsizetype lf = data.indexOf('\n', begin);
        if (lf < 0) {
            lines.append({begin, data.size(), data.size()});
            break;
        }
        const qsizetype contentEnd = (lf > begin && data[lf - 1] == '\r') ? lf - 1 : lf;
        lines.append({begin, contentEnd, lf + 1});
        begin = lf + 1;
    }
    return lines;
}

QByteArrayView contentOf(const QByteArray& data, const Line& line)
{
    return QByteArrayView(data).sliced(line.begin, line.contentEnd - line.begin);
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

QByteArrayView trimBlanks(QByteArrayView text)
{
    while (!text.isEmpty() && isBlank(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);
    return text;
}

bool sameName(QByteArrayView a, QByteArrayView b)
{
    return text::sameText(trimBlanks(a), trimBlanks(b));
}

// The name of a "[name]" line, or nothing when the line is no section header.
std::optional<QByteArrayView> sectionName(QByteArrayView content)
{
    content = trimBlanks(content);
    if (!content.startsWith('['))
        return std::nullopt;
    const qsizetype close = content.indexOf(']');
    if (close < 0)
        return std::nullopt;
    return content.sliced(1, close - 1);
}

// Where the value of a "key=value" line starts, or -1 when the line holds no
// key (no "=", or a ";" comment).
qsizetype valueOffset(QByteArrayView content)
{
    const QByteArrayView trimmed = trimBlanks(content);
    if (trimmed.startsWith(';'))
        return -1;
    const qsizetype equals = content.indexOf('=');
    return equals < 0 ? -1 : equals + 1;
}

// What a lookup found, as indexes into the lines; -1 where nothing was found.
struct Lookup
{
    qsizetype section = -1;
    qsizetype key = -1;
    qsizetype lastKey = -1; // the section's last key line
};

Lookup find(const QByteArray& data, const QList<Line>& lines, QByteArrayView section, QByteArrayView key)
{
    Lookup found;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArrayView content = contentOf(data, lines[i]);
        if (const auto name = sectionName(content)) {
            if (found.section >= 0)
                break; // the section ends where the next one begins
            if (sameName(*name, section))
                found.section = i;
            continue;
        }
        if (found.section < 0)
            continue;
        const qsizetype valueStart = valueOffset(content);
        if (valueStart < 0)
            continue;
        found.lastKey = i;
        if (found.key < 0 && sameName(content.first(valueStart - 1), key))
            found.key = i;
    }
    return found;
}

// The whole file, or the platform's error number.
int readWholeFile(const QString& path, QByteArray* data)
{
    const QByteArray nativePath = QFile::encodeName(path);
    const int fd = ::open(nativePath.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    char chunk[16 * 1024];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got > 0) {
            data->append(chunk, got);
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        const int error = got < 0 ? errno : 0;
        ::close(fd);
        return error;
    }
}

// The line end the file already uses, so that added lines match it.
QByteArray lineEndOf(const QByteArray& data)
{
    const qsizetype lf = data.indexOf('\n');
    if (lf > 0 && data[lf - 1] == '\r')
        return "\r\n";
    if (lf >= 0)
        return "\n";
    return "\r\n";
}

qsizetype keyValueOffset(const QByteArray& data, const Line& line)
{
    return line.begin + valueOffset(contentOf(data, line));
}

// A line break in a value would end the key's line and turn the rest into
// lines of their own, so the value stops at its first one. Reading stops at
// the same place, so that a lone CR in a file means the same to both.
QByteArray oneLine(const QByteArray& value)
{
    qsizetype cut = value.size();
    for (const char lineBreak : {'\n', '\r'}) {
        const qsizetype at = value.indexOf(lineBreak);
        if (at >= 0)
            cut = std::min(cut, at);
    }
    return value.first(cut);
}

} // namespace

IniFile::IniFile(QString path)
    : path_(std::move(path))
{
    const int error = readWholeFile(path_, &data_);
    if (error != 0) {
        data_.clear();
        readable_ = error == ENOENT;
    }
}

QByteArray IniFile::value(QByteArrayView section, QByteArrayView key, const QByteArray& fallback) const
{
    const QList<Line> lines = splitLines(data_);
    const Lookup found = find(data_, lines, section, key);
    if (found.key < 0)
        return fallback.left(kMaxValueLength);
    const Line& line = lines[found.key];
    const qsizetype valueBegin = keyValueOffset(data_, line);
    return oneLine(data_.mid(valueBegin, line.contentEnd - valueBegin)).left(kMaxValueLength);
}

qint32 IniFile::integer(QByteArrayView section, QByteArrayView key, qint32 fallback) const
{
    return toIntegerOr(value(section, key, QByteArray()), fallback);
}

void IniFile::setValue(QByteArrayView section, QByteArrayView key, const QByteArray& value)
{
    const QByteArray storedValue = oneLine(value);
    const QList<Line> lines = splitLines(data_);
    const Lookup found = find(data_, lines, section, key);
    const QByteArray lineEnd = lineEndOf(data_);
    if (found.key >= 0) {
        const Line& line = lines[found.key];
        const qsizetype valueBegin = keyValueOffset(data_, line);
        data_.replace(valueBegin, line.contentEnd - valueBegin, storedValue);
    } else {
        const QByteArray keyLine = key.toByteArray() + '=' + storedValue + lineEnd;
        if (found.section >= 0) {
            const Line& anchor = lines[found.lastKey >= 0 ? found.lastKey : found.section];
            const QByteArray before = anchor.contentEnd == anchor.end ? lineEnd : QByteArray();
            data_.insert(anchor.end, before + keyLine);
        } else {
            if (!data_.isEmpty() && !data_.endsWith('\n'))
                data_.append(lineEnd);
            data_.append('[' + section.toByteArray() + ']' + lineEnd + keyLine);
        }
    }
}

bool IniFile::save() const
{
    if (!readable_)
        return false;
    try {
        ReplacingFile file(path_, kNewFileMode);
        file.write(data_);
        file.commit();
    } catch (const FileRefused&) {
        throw;
    } catch (const FileError&) {
        return false;
    }
    return true;
}
