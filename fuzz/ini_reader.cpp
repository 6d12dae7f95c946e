// The settings file, read once and saved in one go. Reading the five settings
// gives values of at most 2,047 bytes, without CR or LF, each the rest of one
// line of the file after its first "=", and numbers by the whole-number rules.
// Setting one key leaves the file alone until the save; the save changes that
// key's line alone, or adds its line (and its section) and nothing else, and
// leaves no temporary file behind. Read back, from memory and from the saved
// file, the key gives what was set and the other keys read as before.
//
// Input: the file's bytes, then the value to set, then (consumed from the
// end) the value's length and the key to set.

#include "fuzz_support.h"
#include "reference_rules.h"
#include "storage/ini_file.h"

#include <QtGlobal>

#include <array>

namespace {

const fuzz::ScratchFile& file()
{
    static const fuzz::ScratchFile scratch("settings.ini");
    return scratch;
}

constexpr QByteArrayView kSection = "Settings";
constexpr std::array<QByteArrayView, 5> kKeys = {"ipaddress", "port", "password", "delay", "chatname"};
// The keys a write may use: the five, and two spelt in other letter cases.
constexpr std::array<QByteArrayView, 7> kWriteKeys = {"ipaddress", "port",      "password", "delay",
                                                      "chatname",  "IPAddress", "CHATNAME"};
// No value can hold a line feed, so this fallback marks a missing key.
const QByteArray kMissing = "\n(missing)";

bool sameKey(QByteArrayView a, QByteArrayView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// A value written is kept up to its first line break.
QByteArray oneLine(const QByteArray& value)
{
    qsizetype cut = value.size();
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == '\r' || value[i] == '\n') {
            cut = i;
            break;
        }
    }
    return value.first(cut);
}

// The file's lines, each with its line end.
QList<QByteArray> fileLines(const QByteArray& data)
{
    QList<QByteArray> lines;
    qsizetype begin = 0;
    while (begin < data.size()) {
        const qsizetype lf = data.indexOf('\n', begin);
        const qsizetype end = lf < 0 ? data.size() : lf + 1;
        lines.append(data.sliced(begin, end - begin));
        begin = end;
    }
    return lines;
}

QByteArray lineEndOf(QByteArrayView line)
{
    if (line.endsWith("\r\n"))
        return "\r\n";
    if (line.endsWith('\n'))
        return "\n";
    return {};
}

// The line end new lines take: the style of the file's first line end.
QByteArray fileLineEnd(const QByteArray& data)
{
    const qsizetype lf = data.indexOf('\n');
    if (lf < 0)
        return "\r\n";
    return lf > 0 && data[lf - 1] == '\r' ? "\r\n" : "\n";
}

QByteArray show(const QList<QByteArray>& lines)
{
    QByteArray out = "[";
    for (const QByteArray& line : lines)
        out += ' ' + fuzz::escaped(line);
    return out + " ]";
}

// Every line of `before` is in `after` byte for byte, but for the key's line
// with its new value, or for the key's new line (with a new section header,
// and the line end that the file's last line lacked) inserted in one place.
void checkOnlyTheKeyChanged(const QByteArray& before, const QByteArray& after, QByteArrayView key,
                            const QByteArray& stored)
{
    const QList<QByteArray> old = fileLines(before);
    const QList<QByteArray> now = fileLines(after);
    qsizetype head = 0;
    while (head < old.size() && head < now.size() && old[head] == now[head])
        ++head;
    qsizetype tail = 0;
    while (tail < old.size() - head && tail < now.size() - head
           && old[old.size() - 1 - tail] == now[now.size() - 1 - tail])
        ++tail;
    const QList<QByteArray> oldMid = old.mid(head, old.size() - head - tail);
    const QList<QByteArray> newMid = now.mid(head, now.size() - head - tail);

    const QByteArray eol = fileLineEnd(before);
    bool fits = oldMid.isEmpty() && newMid.isEmpty(); // the value was already this
    if (!fits && oldMid.size() == 1 && newMid.size() == 1) {
        const qsizetype equals = oldMid[0].indexOf('=');
        fits = equals >= 0 && newMid[0] == oldMid[0].first(equals + 1) + stored + lineEndOf(oldMid[0]);
    }
    if (!fits) {
        qsizetype kept = 0;
        if (oldMid.size() == 1 && !oldMid[0].endsWith('\n') && tail == 0 && !newMid.isEmpty()
            && newMid[0] == oldMid[0] + eol)
            kept = 1;
        if (oldMid.size() == kept) {
            const QByteArray keyLine = key.toByteArray() + '=' + stored + eol;
            const QList<QByteArray> added = newMid.mid(kept);
            fits = added == QList<QByteArray>{keyLine}
                || added == QList<QByteArray>{'[' + kSection.toByteArray() + ']' + eol, keyLine};
        }
    }
    FUZZ_CHECK(fits, "writing " + key.toByteArray() + " turned lines " + show(oldMid) + " into " + show(newMid));
}

// The key written reads as `stored`, the other keys as they read at first.
void checkReadBack(const IniFile& ini, const char* how, QByteArrayView writeKey, const QByteArray& stored,
                   const QList<QByteArray>& read)
{
    const QByteArray readBack = ini.value(kSection, writeKey, kMissing);
    FUZZ_CHECK(readBack == stored.left(IniFile::kMaxValueLength),
               writeKey.toByteArray() + ' ' + how + ", reads back " + fuzz::escaped(readBack) + ", not "
                   + fuzz::escaped(stored));
    for (qsizetype i = 0; i < qsizetype(kKeys.size()); ++i) {
        if (sameKey(kKeys[size_t(i)], writeKey))
            continue;
        const QByteArray now = ini.value(kSection, kKeys[size_t(i)], kMissing);
        FUZZ_CHECK(now == read[i],
                   kKeys[size_t(i)].toByteArray() + " read " + fuzz::escaped(read[i]) + " and now " + fuzz::escaped(now)
                       + " after " + writeKey.toByteArray() + " was " + how);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const QByteArrayView writeKey = kWriteKeys[input.ConsumeIntegral<uint8_t>() % kWriteKeys.size()];
    const auto valueLength = input.ConsumeIntegralInRange<qsizetype>(0, 4095);
    const QByteArray rest = fuzz::remainingBytes(input);
    const qsizetype fileLength = std::max<qsizetype>(rest.size() - valueLength, 0);
    const QByteArray before = rest.first(fileLength);
    const QByteArray value = rest.sliced(fileLength);
    file().write(before);

    // What any key may read: the text after the first "=" of a line, up to
    // its first line break, cut to the longest value a read returns.
    QList<QByteArray> values;
    for (const QByteArray& line : fileLines(before)) {
        const QByteArray content = line.first(line.size() - lineEndOf(line).size());
        const qsizetype equals = content.indexOf('=');
        if (equals >= 0)
            values.append(oneLine(content.sliced(equals + 1)).left(IniFile::kMaxValueLength));
    }

    IniFile ini(file().path());
    QList<QByteArray> read;
    for (const QByteArrayView key : kKeys) {
        const QByteArray got = ini.value(kSection, key, kMissing);
        read.append(got);
        const qint32 fallback = 10;
        const qint32 number = ini.integer(kSection, key, fallback);
        if (got == kMissing) {
            FUZZ_CHECK(number == fallback,
                       key.toByteArray() + " is missing but reads as " + QByteArray::number(number));
            continue;
        }
        FUZZ_CHECK(got.size() <= IniFile::kMaxValueLength,
                   key.toByteArray() + " reads " + QByteArray::number(got.size()) + " bytes");
        FUZZ_CHECK(!got.contains('\n') && !got.contains('\r'), key.toByteArray() + " reads " + fuzz::escaped(got));
        FUZZ_CHECK(values.contains(got), key.toByteArray() + " reads " + fuzz::escaped(got) + ", the value of no line");
        const qint32 want = reference::parseInteger(got).value_or(fallback);
        FUZZ_CHECK(number == want,
                   key.toByteArray() + " " + fuzz::escaped(got) + " reads as the number " + QByteArray::number(number)
                       + ", not " + QByteArray::number(want));
    }

    ini.setValue(kSection, writeKey, value);
    FUZZ_CHECK(file().read() == before, "setting " + writeKey.toByteArray() + " changed the file before the save");
    const QByteArray stored = oneLine(value);
    checkReadBack(ini, "set", writeKey, stored, read);

    FUZZ_CHECK(ini.save(), "saving " + writeKey.toByteArray() + " failed");
    FUZZ_CHECK(file().directoryEntries() == 1, "the save left a file behind");
    checkOnlyTheKeyChanged(before, file().read(), writeKey, stored);
    checkReadBack(IniFile(file().path()), "saved", writeKey, stored, read);
    return 0;
}
