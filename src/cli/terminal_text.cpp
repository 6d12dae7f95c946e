#include "cli/terminal_text.h"

#include "core/windows1252.h"

#include <cerrno>
#include <clocale>
#include <functional>
#include <iconv.h>
#include <langinfo.h>

namespace {

constexpr char32_t kNoCharacter = 0xFFFFFFFF;

// The character a UTF-8 sequence at the start of `bytes` stands for, and its
// length; kNoCharacter (length 1) for a byte that starts no valid sequence.
std::pair<char32_t, qsizetype> nextCharacter(QByteArrayView bytes)
{
    const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return {lead, 1};
    qsizetype length = 0;
    char32_t character = 0;
    char32_t lowest = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, character = lead & 0x1F, lowest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, character = lead & 0x0F, lowest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, character = lead & 0x07, lowest = 0x10000;
    } else {
        return {kNoCharacter, 1};
    }
    if (bytes.size() < length)
        return {kNoCharacter, 1};
    for (qsizetype i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return {kNoCharacter, 1};
        character = (character << 6) | (byte(i) & 0x3F);
    }
    // Overlong forms, surrogates and numbers past Unicode are no characters.
    if (character < lowest || (character >= 0xD800 && character <= 0xDFFF) || character > 0x10FFFF)
        return {kNoCharacter, 1};
    return {character, length};
}

// Calls `character` for each character of UTF-8 text, `rawByte` for each byte
// that is not part of one.
void readUtf8(QByteArrayView bytes, const std::function<void(char32_t)>& character,
              const std::function<void(char)>& rawByte)
{
    while (!bytes.isEmpty()) {
        const auto [found, length] = nextCharacter(bytes);
        if (found == kNoCharacter)
            rawByte(bytes[0]);
        else
            character(found);
        bytes = bytes.sliced(length);
    }
}

// Converts with iconv; a byte the source encoding does not know goes to
// `rawByte`, and the text around it is converted on.
void convert(const QByteArray& from, const QByteArray& to, QByteArrayView bytes,
             const std::function<void(QByteArrayView)>& converted, const std::function<void(char)>& rawByte)
{
    const iconv_t converter = ::iconv_open(to.constData(), from.constData());
    if (converter == iconv_t(-1)) {
        converted(bytes);
        return;
    }
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = size_t(bytes.size());
    while (inLeft > 0) {
        char buffer[4096];
        char* out = buffer;
        size_t outLeft = sizeof buffer;
        const size_t done = ::iconv(converter, &in, &inLeft, &out, &outLeft);
        const int error = errno;
        converted(QByteArrayView(buffer, out - buffer));
        if (done == size_t(-1) && error != E2BIG) {
            // An unknown or cut-short sequence: its first byte stands alone.
            rawByte(*in);
            ++in;
            --inLeft;
            ::iconv(converter, nullptr, nullptr, nullptr, nullptr);
        }
    }
    ::iconv_close(converter);
}

QByteArray describeUnsendable(char32_t character)
{
    const QString shown = QString::fromUcs4(&character, 1);
    return "the character \"" + shown.toUtf8() + "\" (U+"
        + QByteArray::number(quint32(character), 16).toUpper().rightJustified(4, '0')
        + ") has no byte in the server's text (Windows-1252)";
}

} // namespace

TerminalText::TerminalText(QByteArray codeset)
    : codeset_(std::move(codeset))
{
    const QByteArray name = codeset_.toUpper();
    utf8_ = name.isEmpty() || name == "UTF-8" || name == "UTF8" || name == "ANSI_X3.4-1968" || name == "ASCII"
        || name == "US-ASCII";
}

TerminalText TerminalText::fromLocale()
{
    std::setlocale(LC_CTYPE, "");
    return TerminalText(QByteArray(::nl_langinfo(CODESET)));
}

TerminalText::ServerBytes TerminalText::toServer(QByteArrayView typed) const
{
    ServerBytes result;
    result.bytes.reserve(typed.size());
    const auto character = [&](char32_t found) {
        if (const auto byte = windows1252::fromUnicode(found))
            result.bytes.append(*byte);
        else if (result.problem.isEmpty())
            result.problem = describeUnsendable(found);
    };
    const auto rawByte = [&](char byte) { result.bytes.append(byte); };
    if (utf8_) {
        readUtf8(typed, character, rawByte);
    } else {
        convert(
            codeset_, "UTF-8", typed, [&](QByteArrayView utf8) { readUtf8(utf8, character, rawByte); }, rawByte);
    }
    return result;
}

QString TerminalText::toUnicode(QByteArrayView typed) const
{
    QString text;
    const auto character = [&](char32_t found) { text.append(QString::fromUcs4(&found, 1)); };
    const auto rawByte = [&](char byte) {
        text.append(QChar(windows1252::toUnicode(static_cast<unsigned char>(byte))));
    };
    if (utf8_) {
        readUtf8(typed, character, rawByte);
    } else {
        convert(
            codeset_, "UTF-8", typed, [&](QByteArrayView utf8) { readUtf8(utf8, character, rawByte); }, rawByte);
    }
    return text;
}

QByteArray TerminalText::toTerminal(QByteArrayView utf8) const
{
    if (utf8_)
        return utf8.toByteArray();
    QByteArray shown;
    convert(
        "UTF-8", codeset_ + "//TRANSLIT", utf8, [&](QByteArrayView part) { shown.append(part); },
        [&](char) { shown.append('?'); });
    return shown;
}

QByteArray serverTextAsUtf8(QByteArrayView bytes)
{
    // Plain ASCII, the common case, is the same in both.
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return windows1252::decode(bytes).toUtf8();
    }
    return bytes.toByteArray();
}
