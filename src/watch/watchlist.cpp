#include "watch/watchlist.h"

namespace {

bool isHash(const QString& text)
{
    static const QRegularExpression hash(QStringLiteral("^[0-9A-Fa-f]{32}$"));
    return hash.match(text).hasMatch();
}

// A range as "address/length", or one address alone as a range of one.
std::optional<QPair<QHostAddress, int>> subnetFrom(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.contains(u'/')) {
        const QPair<QHostAddress, int> subnet = QHostAddress::parseSubnet(trimmed);
        if (subnet.first.isNull() || subnet.second < 0)
            return std::nullopt;
        return subnet;
    }
    const QHostAddress address(trimmed);
    if (address.isNull())
        return std::nullopt;
    return QPair<QHostAddress, int>(address, address.protocol() == QAbstractSocket::IPv6Protocol ? 128 : 32);
}

QRegularExpression namePattern(const QString& pattern)
{
    return QRegularExpression(pattern, QRegularExpression::CaseInsensitiveOption);
}

} // namespace

QString watchKindName(WatchEntry::Kind kind)
{
    switch (kind) {
    case WatchEntry::Kind::Hash: return QStringLiteral("hash");
    case WatchEntry::Kind::Address: return QStringLiteral("address");
    case WatchEntry::Kind::Name: return QStringLiteral("name");
    }
    return {};
}

std::optional<WatchEntry::Kind> watchKindFrom(const QString& name)
{
    for (const auto kind : {WatchEntry::Kind::Hash, WatchEntry::Kind::Address, WatchEntry::Kind::Name}) {
        if (name == watchKindName(kind))
            return kind;
    }
    return std::nullopt;
}

QString watchEntryProblem(const WatchEntry& entry)
{
    switch (entry.kind) {
    case WatchEntry::Kind::Hash:
        if (!isHash(entry.pattern))
            return QStringLiteral("\"%1\" is not a key hash: a key hash is 32 hexadecimal digits.").arg(entry.pattern);
        return {};
    case WatchEntry::Kind::Address:
        if (!subnetFrom(entry.pattern))
            return QStringLiteral("\"%1\" is not an address or a range of addresses such as 10.1.0.0/16 or "
                                  "2001:db8::/32.")
                .arg(entry.pattern);
        return {};
    case WatchEntry::Kind::Name: {
        if (entry.pattern.isEmpty())
            return QStringLiteral("A name pattern cannot be empty: it would match every player.");
        const QRegularExpression pattern = namePattern(entry.pattern);
        if (!pattern.isValid())
            return QStringLiteral("\"%1\" is not a valid regular expression: %2 at character %3.")
                .arg(entry.pattern, pattern.errorString())
                .arg(pattern.patternErrorOffset() + 1);
        return {};
    }
    }
    return QStringLiteral("Unknown kind of watchlist entry.");
}

Watchlist::Watchlist(const QList<WatchEntry>& entries)
{
    for (const WatchEntry& entry : entries) {
        if (!watchEntryProblem(entry).isEmpty())
            continue;
        Compiled compiled;
        if (entry.kind == WatchEntry::Kind::Name) {
            compiled.name = namePattern(entry.pattern);
            compiled.name.optimize();
        } else if (entry.kind == WatchEntry::Kind::Address) {
            compiled.subnet = *subnetFrom(entry.pattern);
        }
        entries_.append(entry);
        compiled_.append(compiled);
    }
}

QList<WatchEntry> Watchlist::matches(const QString& hash, const QString& name, const QString& address) const
{
    QList<WatchEntry> found;
    const QHostAddress playerAddress(address.trimmed());
    for (qsizetype i = 0; i < entries_.size(); ++i) {
        const WatchEntry& entry = entries_[i];
        const Compiled& compiled = compiled_[i];
        bool match = false;
        switch (entry.kind) {
        case WatchEntry::Kind::Hash:
            match = !hash.isEmpty() && hash.compare(entry.pattern, Qt::CaseInsensitive) == 0;
            break;
        case WatchEntry::Kind::Address:
            match = !playerAddress.isNull() && playerAddress.isInSubnet(compiled.subnet);
            break;
        case WatchEntry::Kind::Name: match = !name.isEmpty() && compiled.name.match(name).hasMatch(); break;
        }
        if (match)
            found.append(entry);
    }
    return found;
}
