#include "watch/event_line.h"

#include "core/json_line.h"

namespace {

QByteArray timeOf(const WatchEvent& event)
{
    return event.time.toUTC().toString(Qt::ISODate).toLatin1();
}

// A text from a server, quoted so that blanks and odd characters stay visible.
QByteArray quoted(const QString& text)
{
    QByteArray out = "\"";
    for (const QChar c : text) {
        if (c == u'"' || c == u'\\')
            out += '\\' + QString(c).toUtf8();
        else if (c.unicode() < 0x20 || c.unicode() == 0x7F || (c.unicode() >= 0x80 && c.unicode() < 0xA0))
            out += "\\x" + QByteArray::number(c.unicode(), 16).rightJustified(2, '0');
        else
            out += QString(c).toUtf8();
    }
    return out + '"';
}

QByteArray player(const WatchEvent& event)
{
    QByteArray words = quoted(event.name);
    if (!event.hash.isEmpty())
        words += ' ' + event.hash.toUtf8();
    if (!event.address.isEmpty())
        words += ' ' + event.address.toUtf8();
    return words;
}

} // namespace

QByteArray eventText(const WatchEvent& event)
{
    QByteArray line = timeOf(event) + ' ' + event.server.toUtf8() + ": " + eventName(event.kind);
    switch (event.kind) {
    case WatchEvent::Kind::Up: break;
    case WatchEvent::Kind::Down: line += " (" + event.text.toUtf8() + ')'; break;
    case WatchEvent::Kind::Join:
    case WatchEvent::Kind::Leave: line += ' ' + player(event); break;
    case WatchEvent::Kind::Watched: line += ' ' + player(event) + ": " + quoted(event.text); break;
    case WatchEvent::Kind::Rename: line += ' ' + quoted(event.previous) + " -> " + player(event); break;
    case WatchEvent::Kind::Address:
        line += ' ' + event.previous.toUtf8() + " -> " + event.address.toUtf8() + ' ' + quoted(event.name);
        break;
    case WatchEvent::Kind::Map: line += ' ' + quoted(event.previous) + " -> " + quoted(event.map); break;
    case WatchEvent::Kind::Ban:
    case WatchEvent::Kind::Unban:
        line += QByteArray(event.banIsAddress ? " address " : " key ") + event.ban.toUtf8();
        if (!event.banPeriod.isEmpty())
            line += " (" + event.banPeriod.toUtf8() + ')';
        break;
    case WatchEvent::Kind::Action: line += ' ' + quoted(event.text) + ": " + event.outcome.toUtf8(); break;
    case WatchEvent::Kind::Rule:
        line += ' ' + quoted(event.text) + ' ' + player(event) + ": " + event.outcome.toUtf8()
            + (event.dryRun ? " (dry run)" : "");
        break;
    case WatchEvent::Kind::Schedule: line += ' ' + quoted(event.text) + ": " + event.outcome.toUtf8(); break;
    case WatchEvent::Kind::Drift:
        line += event.text.isEmpty() ? QByteArray(" none: as wanted") : ": " + event.text.toUtf8().replace('\n', "; ");
        break;
    }
    return line + '\n';
}

QByteArray eventJson(const WatchEvent& event)
{
    JsonLine line;
    line.text("time", QStringView(QString::fromLatin1(timeOf(event))))
        .text("server", QStringView(event.server))
        .text("event", QStringView(QString::fromLatin1(eventName(event.kind))));
    const auto optionalText = [&](const char* key, const QString& value) {
        if (!value.isEmpty())
            line.text(key, QStringView(value));
    };
    switch (event.kind) {
    case WatchEvent::Kind::Up: break;
    case WatchEvent::Kind::Down: optionalText("reason", event.text); break;
    case WatchEvent::Kind::Join:
    case WatchEvent::Kind::Leave:
    case WatchEvent::Kind::Rename:
    case WatchEvent::Kind::Address:
    case WatchEvent::Kind::Watched:
        line.text("hash", QStringView(event.hash))
            .text("name", QStringView(event.name))
            .text("address", QStringView(event.address))
            .number("id", event.playerId >= 0 ? std::optional<qint64>(event.playerId) : std::nullopt);
        optionalText("previous", event.previous);
        if (event.kind == WatchEvent::Kind::Watched)
            line.text("note", QStringView(event.text));
        break;
    case WatchEvent::Kind::Map:
        line.text("map", QStringView(event.map));
        optionalText("previous", event.previous);
        break;
    case WatchEvent::Kind::Ban:
    case WatchEvent::Kind::Unban:
        line.text(event.banIsAddress ? "address" : "hash", QStringView(event.ban));
        optionalText("period", event.banPeriod);
        line.number("seconds_left", event.secondsLeft);
        break;
    case WatchEvent::Kind::Action:
        line.text("action", QStringView(event.text)).text("outcome", QStringView(event.outcome));
        break;
    case WatchEvent::Kind::Rule:
        line.text("name", QStringView(event.text))
            .text("player", QStringView(event.name))
            .text("hash", QStringView(event.hash))
            .text("address", QStringView(event.address))
            .number("id", event.playerId >= 0 ? std::optional<qint64>(event.playerId) : std::nullopt)
            .text("action", QStringView(event.outcome))
            .boolean("dry_run", event.dryRun);
        break;
    case WatchEvent::Kind::Schedule:
        line.text("name", QStringView(event.text)).text("outcome", QStringView(event.outcome));
        break;
    case WatchEvent::Kind::Drift: {
        QByteArray changes = "[";
        for (const QString& change : event.text.split(u'\n', Qt::SkipEmptyParts))
            changes += (changes.size() > 1 ? "," : "") + jsonString(QStringView(change));
        line.raw("changes", changes + ']');
        break;
    }
    }
    return line.finish();
}
