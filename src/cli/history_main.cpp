#include "cli/history_main.h"

#include "cli/cli_options.h"
#include "cli/exit_status.h"
#include "cli/output.h"
#include "core/json_line.h"
#include "store/player_store.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

QByteArray when(const QDateTime& time)
{
    return time.isValid() ? time.toUTC().toString(Qt::ISODate).toLatin1() : QByteArray("-");
}

QByteArray jsonTime(const QDateTime& time)
{
    return time.isValid() ? jsonString(QStringView(time.toUTC().toString(Qt::ISODate))) : QByteArray("null");
}

// A JSON array of `items`, each made into an object by `object`.
template <typename Item, typename Make>
QByteArray jsonArray(const QList<Item>& items, Make object)
{
    QByteArray out = "[";
    for (const Item& item : items) {
        if (out.size() > 1)
            out += ',';
        out += object(item);
    }
    return out + ']';
}

QByteArray playerJson(const PlayerHistory& player)
{
    const auto seen = [](const char* key) {
        return [key](const SeenText& seen) {
            return "{\"" + QByteArray(key) + "\":" + jsonString(QStringView(seen.text))
                + ",\"first_seen\":" + jsonTime(seen.firstSeen) + ",\"last_seen\":" + jsonTime(seen.lastSeen) + '}';
        };
    };
    const auto session = [](const PlayerSession& s) {
        return "{\"server\":" + jsonString(QStringView(s.server))
            + ",\"id\":" + (s.playerId >= 0 ? QByteArray::number(s.playerId) : QByteArray("null"))
            + ",\"name\":" + jsonString(QStringView(s.name)) + ",\"address\":" + jsonString(QStringView(s.address))
            + ",\"joined\":" + jsonTime(s.joined) + ",\"left\":" + jsonTime(s.left) + '}';
    };
    const auto note = [](const PlayerNote& n) {
        return "{\"time\":" + jsonTime(n.time) + ",\"author\":" + jsonString(QStringView(n.author))
            + ",\"text\":" + jsonString(QStringView(n.text)) + '}';
    };
    const auto ban = [](const BanRecord& b) {
        return "{\"server\":" + jsonString(QStringView(b.server)) + ",\"placed\":" + jsonTime(b.placed) + ",\"by\":"
            + jsonString(QStringView(b.placedBy)) + ",\"period\":" + jsonString(QStringView(banPeriodName(b.period)))
            + ",\"seconds\":" + (b.seconds ? QByteArray::number(*b.seconds) : QByteArray("null"))
            + ",\"reason\":" + jsonString(QStringView(b.reason)) + ",\"message\":" + jsonString(QStringView(b.message))
            + ",\"lifted\":" + jsonTime(b.lifted) + ",\"lifted_by\":" + jsonString(QStringView(b.liftedBy))
            + ",\"lift_reason\":" + jsonString(QStringView(b.liftReason)) + '}';
    };
    return "{\"key\":" + jsonString(QStringView(player.key)) + ",\"hash\":" + jsonString(QStringView(player.hash))
        + ",\"first_seen\":" + jsonTime(player.firstSeen) + ",\"last_seen\":" + jsonTime(player.lastSeen)
        + ",\"names\":" + jsonArray(player.names, seen("name")) + ",\"addresses\":"
        + jsonArray(player.addresses, seen("address")) + ",\"sessions\":" + jsonArray(player.sessions, session)
        + ",\"notes\":" + jsonArray(player.notes, note) + ",\"bans\":" + jsonArray(player.bans, ban) + "}\n";
}

QByteArray playerText(const PlayerHistory& player)
{
    QByteArray text = (player.hash.isEmpty() ? player.key : player.hash).toUtf8() + "  first seen "
        + when(player.firstSeen) + ", last seen " + when(player.lastSeen) + '\n';
    for (const SeenText& name : player.names)
        text += "  name     \"" + name.text.toUtf8() + "\"  " + when(name.firstSeen) + " to " + when(name.lastSeen)
            + '\n';
    for (const SeenText& address : player.addresses)
        text += "  address  " + address.text.toUtf8() + "  " + when(address.firstSeen) + " to " + when(address.lastSeen)
            + '\n';
    for (const PlayerSession& s : player.sessions) {
        text += "  session  " + s.server.toUtf8() + "  \"" + s.name.toUtf8() + "\" " + s.address.toUtf8() + "  "
            + when(s.joined) + " to " + (s.left.isValid() ? when(s.left) : QByteArray("now")) + '\n';
    }
    for (const PlayerNote& note : player.notes)
        text += "  note     " + when(note.time) + ' ' + note.author.toUtf8() + ": " + note.text.toUtf8() + '\n';
    for (const BanRecord& ban : player.bans) {
        text += "  ban      " + ban.server.toUtf8() + "  " + when(ban.placed) + ' ' + ban.placedBy.toUtf8() + " for "
            + banDurationText(ban).toUtf8() + ": " + ban.reason.toUtf8();
        if (ban.lifted.isValid())
            text += "; lifted " + when(ban.lifted) + ' ' + ban.liftedBy.toUtf8() + ": " + ban.liftReason.toUtf8();
        text += '\n';
    }
    return text;
}

} // namespace

int historyMain(const QList<QByteArray>& arguments, int& argc, char** argv, const TerminalText& terminal)
{
    const HistoryCommandLine commandLine = parseHistoryCommandLine(arguments, CliEnvironment::fromProcess());
    if (commandLine.exitStatus) {
        std::fputs(commandLine.output.constData(), commandLine.outputIsError ? stderr : stdout);
        return *commandLine.exitStatus;
    }
    const HistoryOptions& options = commandLine.options;
    QCoreApplication application(argc, argv);
    QString error;
    const std::optional<StoreLocation> location = parseStoreLocation(
        chooseStoreUrl(options.database.value_or(QString()), {}), &error);
    if (!location) {
        std::fprintf(stderr, "ravelin-cli: %s\n", error.toUtf8().constData());
        return int(ExitStatus::Usage);
    }
    PlayerStore store(*location);
    if (!store.open()) {
        std::fprintf(stderr, "ravelin-cli: the store %s could not be opened: %s\n",
                     location->description().toUtf8().constData(), store.lastError().toUtf8().constData());
        return int(ExitStatus::ConnectionFailed);
    }
    const QList<PlayerHistory> players = store.findPlayers(terminal.toUnicode(options.query), options.limit);
    if (!store.lastError().isEmpty()) {
        std::fprintf(stderr, "ravelin-cli: the store could not be read: %s\n", store.lastError().toUtf8().constData());
        return int(ExitStatus::ConnectionFailed);
    }
    if (players.isEmpty()) {
        // Standard output stays empty for a script; a person reads why.
        std::fprintf(stderr, "ravelin-cli: no player in %s matches \"%s\"\n",
                     location->description().toUtf8().constData(),
                     terminal.toUnicode(options.query).toUtf8().constData());
        return int(ExitStatus::Answered);
    }
    Output output(stdout, stderr, terminal);
    for (const PlayerHistory& player : players)
        output.writeReply(options.json ? playerJson(player) : playerText(player));
    output.flushReplies();
    return int(ExitStatus::Answered);
}
