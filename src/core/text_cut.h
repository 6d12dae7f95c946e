#pragma once

// The one vocabulary for cutting the program's 8-bit texts: small helpers on
// QByteArrayView, positions counted from 0, whose names say what they cut.
// Bounds are forgiving: a part that lies outside the text is empty, never an
// error, because server lines and typed texts can be any length.

#include <QByteArrayView>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>

namespace text {

// Where `needle` first occurs in `haystack`, or -1. An empty needle is never found.
inline qsizetype find(QByteArrayView haystack, QByteArrayView needle)
{
    if (needle.isEmpty())
        return -1;
    // string_view's search skips to candidates with memchr: many times faster
    // than QByteArrayView::indexOf on the long reads the reader searches.
    const std::string_view in(haystack.data(), size_t(haystack.size()));
    const size_t at = in.find(std::string_view(needle.data(), size_t(needle.size())));
    return at == std::string_view::npos ? -1 : qsizetype(at);
}

inline qsizetype find(QByteArrayView haystack, char needle)
{
    const void* at = haystack.isEmpty() ? nullptr : std::memchr(haystack.data(), needle, size_t(haystack.size()));
    return at ? static_cast<const char*>(at) - haystack.data() : -1;
}

// The bytes from `from` up to, not including, `to`, both brought into the text;
// empty when `to` is not past `from`.
inline QByteArrayView slice(QByteArrayView text, qsizetype from, qsizetype to)
{
    from = std::clamp<qsizetype>(from, 0, text.size());
    to = std::clamp<qsizetype>(to, 0, text.size());
    return to > from ? text.sliced(from, to - from) : QByteArrayView();
}

// At most the first `length` bytes.
inline QByteArrayView firstBytes(QByteArrayView text, qsizetype length)
{
    return slice(text, 0, length);
}

// Everything in front of the first `separator`; empty when there is none
// (the number before the colon of "12: map").
inline QByteArrayView before(QByteArrayView text, char separator)
{
    return slice(text, 0, find(text, separator));
}

// At most `length` bytes right after the first `marker`; nothing when the
// marker does not occur (the seed after "Digest seed: ").
inline std::optional<QByteArrayView> after(QByteArrayView text, QByteArrayView marker, qsizetype length)
{
    const qsizetype at = find(text, marker);
    if (at < 0)
        return std::nullopt;
    const qsizetype from = at + marker.size();
    return slice(text, from, from + length);
}

// The text without the line ends (CR and LF bytes) in front of it.
inline QByteArrayView skipLineEnds(QByteArrayView text)
{
    while (!text.isEmpty() && (text.front() == '\r' || text.front() == '\n'))
        text = text.sliced(1);
    return text;
}

// True when the two texts differ at most in the case of ASCII letters.
inline bool sameText(QByteArrayView a, QByteArrayView b)
{
    return a.size() == b.size() && qstrnicmp(a.data(), a.size(), b.data(), b.size()) == 0;
}

} // namespace text
