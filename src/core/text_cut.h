#pragma once

// The one vocabulary for cutting 8-bit text. Positions count from 1 and the
// bounds are forgiving: a search that fails gives 0, a copy or delete outside
// the text gives or removes nothing instead of failing.

#include <QByteArray>
#include <QByteArrayView>

#include <cstring>
#include <string_view>

namespace text {

// Position of the first occurrence of `needle` in `haystack`, or 0. An empty
// needle is never found.
inline qsizetype Pos(QByteArrayView needle, QByteArrayView haystack)
{
    if (needle.isEmpty())
        return 0;
    // string_view's search skips to candidates with memchr: many times faster
    // than QByteArrayView::indexOf on the long chunks the reader searches.
    const std::string_view in(haystack.data(), size_t(haystack.size()));
    const size_t at = in.find(std::string_view(needle.data(), size_t(needle.size())));
    return at == std::string_view::npos ? 0 : qsizetype(at) + 1;
}

inline qsizetype Pos(char needle, QByteArrayView haystack)
{
    const void* at = haystack.isEmpty() ? nullptr : std::memchr(haystack.data(), needle, size_t(haystack.size()));
    return at ? static_cast<const char*>(at) - haystack.data() + 1 : 0;
}

// True when `haystack` begins with `needle`, that is Pos(needle, haystack) == 1.
inline bool BeginsWith(QByteArrayView haystack, QByteArrayView needle)
{
    return !needle.isEmpty() && haystack.startsWith(needle);
}

// True when the two texts differ at most in the case of ASCII letters.
inline bool SameText(QByteArrayView a, QByteArrayView b)
{
    return qstrnicmp(a.data(), a.size(), b.data(), b.size()) == 0;
}

// `count` characters from position `index`. An index below 1 starts at 1; a
// count reaching past the end stops there; nothing when count <= 0 or the
// index lies past the end.
inline QByteArray Copy(QByteArrayView source, qsizetype index, qsizetype count)
{
    if (index < 1)
        index = 1;
    if (count <= 0 || index > source.size())
        return {};
    count = std::min(count, source.size() - index + 1);
    return source.sliced(index - 1, count).toByteArray();
}

// Removes `count` characters from position `index`; nothing when the index is
// below 1 or past the end or the count is not positive.
inline void Delete(QByteArray& target, qsizetype index, qsizetype count)
{
    if (index < 1 || index > target.size() || count <= 0)
        return;
    target.remove(index - 1, std::min(count, target.size() - index + 1));
}

} // namespace text
