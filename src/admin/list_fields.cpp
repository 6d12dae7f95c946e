#include "admin/list_fields.h"

#include "admin/ban_admin.h"
#include "admin/map_admin.h"
#include "admin/player_admin.h"
#include "core/text_cut.h"

namespace list_fields {

namespace {

constexpr QByteArrayView kRemoteMarker = " is remote ip: ";
constexpr QByteArrayView kEndpointEnd = " ->";
constexpr QByteArrayView kKeyHashMarker = "CD-key hash: ";
constexpr QByteArrayView kBanPrefix = "Key: ";

// Where `needle` last occurs, or -1. A player's name comes before the words
// that follow it, so it may hold them itself; the last occurrence is the
// server's own.
qsizetype findLast(QByteArrayView haystack, QByteArrayView needle)
{
    return haystack.lastIndexOf(needle);
}

// The bytes after the last `marker`, or nothing when it does not occur.
std::optional<QByteArrayView> afterLast(QByteArrayView text, QByteArrayView marker)
{
    const qsizetype at = findLast(text, marker);
    if (at < 0)
        return std::nullopt;
    return text.sliced(at + marker.size());
}

// The text up to the first blank, and what follows that blank.
std::pair<QByteArrayView, QByteArrayView> firstWord(QByteArrayView text)
{
    text = text.trimmed();
    const qsizetype blank = text::find(text, ' ');
    if (blank < 0)
        return {text, {}};
    return {text.first(blank), text.sliced(blank + 1).trimmed()};
}

Text nonEmpty(QByteArrayView text)
{
    return text.isEmpty() ? Text() : Text(text.toByteArray());
}

} // namespace

Number wholeNumber(QByteArrayView text)
{
    text = text.trimmed();
    if (text.isEmpty() || text.size() > 9)
        return std::nullopt;
    qint64 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

PlayerFields playerFields(const QByteArray& entry)
{
    PlayerFields fields;
    const std::optional<QByteArray> id = player_admin::playerId(entry);
    if (id)
        fields.id = wholeNumber(*id);
    const qsizetype remote = findLast(entry, kRemoteMarker);
    // The name follows the "- " behind the id.
    const qsizetype nameStart = text::find(entry, '-') + 2;
    if (id && remote >= nameStart)
        fields.name = text::slice(entry, nameStart, remote).toByteArray();
    if (remote >= 0) {
        const QByteArrayView afterRemote = QByteArrayView(entry).sliced(remote + kRemoteMarker.size());
        const qsizetype end = text::find(afterRemote, kEndpointEnd);
        const QByteArrayView endpoint = end < 0 ? afterRemote : afterRemote.first(end);
        const qsizetype colon = findLast(endpoint, ":");
        fields.address = nonEmpty(colon < 0 ? endpoint : endpoint.first(colon));
        if (colon >= 0)
            fields.port = wholeNumber(endpoint.sliced(colon + 1));
    }
    if (const auto hash = afterLast(entry, kKeyHashMarker))
        fields.keyHash = hash->trimmed().toByteArray();
    return fields;
}

BanFields banFields(const QByteArray& entry)
{
    BanFields fields;
    fields.key = ban_admin::banKey(entry);
    if (fields.key) {
        // The key runs up to the blank in front of the period.
        fields.period = nonEmpty(text::slice(entry, 5 + fields.key->size(), entry.size()).trimmed());
    } else if (entry.startsWith(kBanPrefix)) {
        // A ban that is neither "Perm" nor "Round" ("Time Left: 1800"), which
        // the window cannot cut: the first word is the key, the rest its period.
        const auto [key, period] = firstWord(QByteArrayView(entry).sliced(kBanPrefix.size()));
        fields.key = nonEmpty(key);
        fields.period = nonEmpty(period);
    }
    return fields;
}

MapFields mapFields(const QByteArray& entry)
{
    MapFields fields;
    const QByteArray number = map_admin::mapNumber(entry);
    fields.index = wholeNumber(number);
    const qsizetype colon = text::find(entry, ':');
    if (colon < 0)
        return fields;
    QByteArrayView rest = QByteArrayView(entry).sliced(colon + 1).trimmed();
    const qsizetype closingQuote = findLast(rest, "\"");
    if (rest.startsWith('"') && closingQuote > 0) {
        fields.name = rest.sliced(1, closingQuote - 1).toByteArray();
        rest = rest.sliced(closingQuote + 1);
    } else {
        const auto [name, others] = firstWord(rest);
        fields.name = nonEmpty(name);
        rest = others;
    }
    const auto [mode, others] = firstWord(rest);
    fields.mode = nonEmpty(mode);
    fields.size = wholeNumber(firstWord(others).first);
    return fields;
}

} // namespace list_fields
