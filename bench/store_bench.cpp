// The player store at size: how many bytes a session costs in a SQLite file,
// and how long the history of a name fragment takes through the store against
// the same statements typed into the database's own shell (sqlite3 or psql)
// on the same store.
// Usage: ravelin_bench_store [players] [sessions] [database URL]
//        (100000, 1000000 and a new SQLite file by default; a PostgreSQL
//        database given by URL should be empty)

#include "bench_summary.h"
#include "store/player_store.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimeZone>

#include <cstdio>

namespace {

QString randomName(QRandomGenerator& random)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_";
    QString name;
    const int length = 6 + random.bounded(8);
    for (int i = 0; i < length; ++i)
        name += QLatin1Char(letters[random.bounded(int(sizeof letters) - 1)]);
    return name;
}

QString randomAddress(QRandomGenerator& random)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(random.bounded(1, 224))
        .arg(random.bounded(256))
        .arg(random.bounded(256))
        .arg(random.bounded(1, 255));
}

double millisecondsOf(const std::function<void()>& work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int players = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int sessions = argc > 2 ? std::atoi(argv[2]) : 1000000;
    QTemporaryDir folder;
    QString error;
    const auto parsed = parseStoreLocation(
        argc > 3 ? QString::fromLocal8Bit(argv[3]) : folder.filePath(QStringLiteral("players.sqlite")), &error);
    if (!parsed) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 2;
    }
    const StoreLocation location = *parsed;
    const bool postgres = location.backend == StoreLocation::Backend::Postgres;
    PlayerStore store(location);
    if (!store.open()) {
        std::fprintf(stderr, "%s\n", qPrintable(store.lastError()));
        return 1;
    }

    QRandomGenerator random(20261209);
    struct Player
    {
        QString hash, name, address;
    };
    QList<Player> people;
    for (int i = 0; i < players; ++i)
        people.append({QStringLiteral("%1").arg(random.generate64(), 16, 16, QLatin1Char('0'))
                           + QStringLiteral("%1").arg(random.generate64(), 16, 16, QLatin1Char('0')),
                       randomName(random), randomAddress(random)});

    // Polls of 500 sessions each, on ten servers, a session a few minutes to an hour long.
    const QDateTime start(QDate(2026, 1, 1), QTime(0, 0), QTimeZone::utc());
    QElapsedTimer filling;
    filling.start();
    constexpr int kPerPoll = 500;
    for (int first = 0; first < sessions; first += kPerPoll) {
        QList<WatchEvent> events;
        for (int i = first; i < std::min(sessions, first + kPerPoll); ++i) {
            Player& player = people[random.bounded(players)];
            if (random.bounded(20) == 0)
                player.name = randomName(random);
            if (random.bounded(10) == 0)
                player.address = randomAddress(random);
            WatchEvent join;
            join.kind = WatchEvent::Kind::Join;
            join.time = start.addSecs(qint64(i) * 30);
            join.server = QStringLiteral("Server %1").arg(random.bounded(10));
            join.serverAddress = QStringLiteral("10.0.0.1:4711");
            join.hash = player.hash;
            join.name = player.name;
            join.address = player.address;
            join.playerId = random.bounded(64);
            WatchEvent leave = join;
            leave.kind = WatchEvent::Kind::Leave;
            leave.time = join.time.addSecs(180 + random.bounded(3600));
            events << join << leave;
        }
        if (!store.record(events)) {
            std::fprintf(stderr, "%s\n", qPrintable(store.lastError()));
            return 1;
        }
    }
    QSqlQuery tables(QSqlDatabase::database(store.connectionName()));
    double bytes = 0;
    if (postgres) {
        tables.exec(QStringLiteral("VACUUM ANALYZE"));
        tables.exec(QStringLiteral("SELECT relname, pg_total_relation_size(oid) FROM pg_class WHERE relkind = 'r' "
                                   "AND relnamespace = 'public'::regnamespace ORDER BY 2 DESC"));
    } else {
        tables.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
        bytes = double(QFileInfo(location.path).size());
        tables.exec(QStringLiteral("SELECT name, SUM(pgsize) FROM dbstat GROUP BY name ORDER BY 2 DESC"));
    }
    while (tables.next()) {
        if (postgres)
            bytes += tables.value(1).toDouble();
        std::fprintf(stderr, "  %-36s %7.1f bytes a session\n", qPrintable(tables.value(0).toString()),
                     tables.value(1).toDouble() / sessions);
    }
    std::fprintf(stderr, "filled %d sessions of %d players in %.1f s\n", sessions, players,
                 double(filling.elapsed()) / 1000);
    printResult("store_bytes_per_session", bytes / sessions);

    // A fragment that matches a handful of names.
    const QString fragment = QStringLiteral("xq7");
    QList<PlayerHistory> found;
    std::vector<double> ours;
    for (int run = 0; run < 7; ++run)
        ours.push_back(millisecondsOf([&] { found = store.findPlayers(fragment, 50); }));
    std::fprintf(stderr, "%lld players match \"%s\"\n", qlonglong(found.size()), qPrintable(fragment));

    // The same statements for the sqlite3 shell, the per-player ones for the players found.
    QString script = QStringLiteral(
        "SELECT id, player_key, hash, first_seen, last_seen FROM players WHERE id IN (SELECT player_id FROM "
        "player_names WHERE folded LIKE '%xq7%' ESCAPE '\\') ORDER BY last_seen DESC, id LIMIT 50;\n");
    QSqlQuery ids(QSqlDatabase::database(store.connectionName()));
    ids.exec(QStringLiteral("SELECT id FROM players WHERE id IN (SELECT player_id FROM player_names WHERE folded "
                            "LIKE '%xq7%') ORDER BY last_seen DESC, id LIMIT 50"));
    while (ids.next()) {
        const QString id = ids.value(0).toString();
        script += QStringLiteral("SELECT name, first_seen, last_seen FROM player_names WHERE player_id = %1 ORDER BY "
                                 "last_seen DESC, name;\n"
                                 "SELECT address, first_seen, last_seen FROM player_addresses WHERE player_id = %1 "
                                 "ORDER BY last_seen DESC, address;\n"
                                 "SELECT servers.name, sessions.player_number, sessions.name, sessions.address, "
                                 "sessions.joined, sessions.left_at FROM sessions JOIN servers ON servers.id = "
                                 "sessions.server_id WHERE sessions.player_id = %1 ORDER BY servers.name, "
                                 "sessions.joined;\n"
                                 "SELECT at, author, body FROM notes WHERE player_id = %1 ORDER BY at, id;\n")
                      .arg(id);
    }
    // The shell's own timer, statement by statement, added up.
    std::vector<double> shell;
    for (int run = 0; run < 7; ++run) {
        QProcess process;
        if (postgres) {
            QStringList arguments = {QStringLiteral("-X"), QStringLiteral("-q")};
            if (!location.host.isEmpty())
                arguments << QStringLiteral("-h") << location.host;
            if (location.port > 0)
                arguments << QStringLiteral("-p") << QString::number(location.port);
            if (!location.user.isEmpty())
                arguments << QStringLiteral("-U") << location.user;
            if (!location.database.isEmpty())
                arguments << QStringLiteral("-d") << location.database;
            process.start(QStringLiteral("psql"), arguments);
            process.write("\\timing on\n" + script.toUtf8());
        } else {
            process.start(QStringLiteral("sqlite3"), {QStringLiteral("-batch"), location.path});
            process.write(".timer on\n" + script.toUtf8());
        }
        process.closeWriteChannel();
        process.waitForFinished();
        // The shell's own timer, statement by statement, added up.
        double total = 0;
        for (const QByteArray& line : process.readAllStandardOutput().split('\n')) {
            if (line.startsWith("Run Time: real "))
                total += line.mid(15).split(' ').value(0).toDouble() * 1000;
            else if (line.startsWith("Time: "))
                total += line.mid(6).split(' ').value(0).toDouble();
        }
        shell.push_back(total);
    }
    QSqlQuery plan(QSqlDatabase::database(store.connectionName()));
    plan.exec((postgres ? QStringLiteral("EXPLAIN ") : QStringLiteral("EXPLAIN QUERY PLAN "))
              + script.section(u'\n', 0, 0).chopped(1));
    while (plan.next())
        std::fprintf(stderr, "  plan: %s\n", qPrintable(plan.value(postgres ? 0 : 3).toString()));
    printResult("store_history_fragment_ms", median(ours));
    printResult("sqlite3_history_fragment_ms", median(shell));
    printResult("store_history_fragment_ratio", median(ours) / median(shell));
    return 0;
}
