// The player store on both of its databases: a SQLite file and a real
// PostgreSQL server started for the run. Every store test runs on each.

#include "postgres_cluster.h"
#include "store/player_lookup.h"
#include "store/player_store.h"
#include "store/store_location.h"
#include "store/store_writer.h"
#include "support/wait.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace std::chrono_literals;

namespace {

enum class Backend { Sqlite, Postgres };

// The cluster the PostgreSQL runs share, made at the first need and stopped
// when the run ends.
class PostgresEnvironment : public testing::Environment
{
public:
    static PostgresCluster& cluster()
    {
        if (!cluster_) {
            cluster_ = std::make_unique<PostgresCluster>();
            QString error;
            if (!cluster_->start(&error))
                startError_ = error;
        }
        return *cluster_;
    }
    static const QString& startError() { return startError_; }
    void TearDown() override { cluster_.reset(); }

private:
    static inline std::unique_ptr<PostgresCluster> cluster_;
    static inline QString startError_;
};

const auto* const postgresEnvironment = testing::AddGlobalTestEnvironment(new PostgresEnvironment);

QDateTime At(int second)
{
    return QDateTime(QDate(2026, 12, 1), QTime(12, 0), QTimeZone::utc()).addSecs(second);
}

WatchEvent PlayerEvent(WatchEvent::Kind kind, int second, const QString& hash, const QString& name,
                       const QString& address, const QString& server = QStringLiteral("Alpha"))
{
    WatchEvent event;
    event.kind = kind;
    event.time = At(second);
    event.server = server;
    event.serverAddress = QStringLiteral("10.0.0.1:4711");
    event.hash = hash;
    event.name = name;
    event.address = address;
    event.playerId = 3;
    return event;
}

WatchEvent ServerEvent(WatchEvent::Kind kind, int second, const QString& server = QStringLiteral("Alpha"))
{
    return PlayerEvent(kind, second, {}, {}, {}, server);
}

const QString kHashA = QStringLiteral("0123456789abcdef0123456789abcdef");
const QString kHashB = QStringLiteral("fedcba9876543210fedcba9876543210");

class StoreTest : public testing::TestWithParam<Backend>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder_.isValid());
        if (GetParam() == Backend::Sqlite) {
            url_ = QStringLiteral("sqlite:") + folder_.filePath(QStringLiteral("data/players.sqlite"));
            return;
        }
        PostgresCluster& cluster = PostgresEnvironment::cluster();
        ASSERT_TRUE(PostgresEnvironment::startError().isEmpty()) << PostgresEnvironment::startError().toStdString();
        static int databases = 0;
        const QString database = QStringLiteral("store_%1").arg(++databases);
        QString error;
        ASSERT_TRUE(cluster.createDatabase(database, &error)) << error.toStdString();
        url_ = cluster.urlFor(database);
    }

    void TearDown() override
    {
        if (lock_.isValid()) {
            release();
            lock_ = QSqlDatabase();
            QSqlDatabase::removeDatabase(QStringLiteral("store-test-lock"));
        }
    }

    StoreLocation Location() const
    {
        QString error;
        auto location = parseStoreLocation(url_, &error);
        EXPECT_TRUE(location) << error.toStdString();
        location->busyTimeout = 50ms;
        return *location;
    }

    // A number read from the store behind `store`'s back.
    static qint64 Count(PlayerStore& store, const QString& sql)
    {
        QSqlQuery query(QSqlDatabase::database(store.connectionName(), false));
        if (!query.exec(sql) || !query.next()) {
            ADD_FAILURE() << sql.toStdString() << ": " << query.lastError().text().toStdString();
            return -1;
        }
        return query.value(0).toLongLong();
    }

    // Keeps the store from being written: another writer holds a SQLite
    // file, and a PostgreSQL server is stopped.
    void Block()
    {
        if (GetParam() == Backend::Postgres) {
            QString error;
            ASSERT_TRUE(PostgresEnvironment::cluster().stop(&error)) << error.toStdString();
            return;
        }
        lock_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("store-test-lock"));
        lock_.setDatabaseName(Location().path);
        ASSERT_TRUE(lock_.open());
        QSqlQuery query(lock_);
        ASSERT_TRUE(query.exec(QStringLiteral("BEGIN IMMEDIATE"))) << query.lastError().text().toStdString();
        ASSERT_TRUE(query.exec(QStringLiteral("INSERT INTO schema_version VALUES (0, 0)")));
    }

    void release()
    {
        if (GetParam() == Backend::Postgres) {
            QString error;
            ASSERT_TRUE(PostgresEnvironment::cluster().resume(&error)) << error.toStdString();
            return;
        }
        QSqlQuery query(lock_);
        ASSERT_TRUE(query.exec(QStringLiteral("ROLLBACK")));
        lock_.close();
    }

    void Release()
    {
        release();
        if (GetParam() == Backend::Sqlite) {
            lock_ = QSqlDatabase();
            QSqlDatabase::removeDatabase(QStringLiteral("store-test-lock"));
        }
    }

    QTemporaryDir folder_;
    QString url_;
    QSqlDatabase lock_;
};

TEST(StoreLocationTest, ReadsEveryUrlFormAndSaysWhatIsWrongWithABadOne)
{
    struct Case
    {
        const char* url;
        StoreLocation::Backend backend;
        const char* path;
        const char* user;
        const char* password;
        const char* host;
        int port;
        const char* database;
        const char* options;
    };
    using B = StoreLocation::Backend;
    const Case cases[] = {
        {"sqlite:/var/lib/ravelin/p.sqlite", B::Sqlite, "/var/lib/ravelin/p.sqlite", "", "", "", -1, "", ""},
        {"sqlite:///var/lib/p.sqlite", B::Sqlite, "/var/lib/p.sqlite", "", "", "", -1, "", ""},
        {"/srv/store/../p.sqlite", B::Sqlite, "/srv/p.sqlite", "", "", "", -1, "", ""},
        {"postgresql://admin@db.example:5433/ravelin", B::Postgres, "", "admin", "", "db.example", 5433, "ravelin", ""},
        {"postgresql://admin@/ravelin?host=/run/postgresql", B::Postgres, "", "admin", "", "/run/postgresql", -1,
         "ravelin", ""},
        {"postgres://a%40b:p%3Ass@[::1]:6000/team%20db?sslmode=require&connect_timeout=3", B::Postgres, "", "a@b",
         "p:ss", "::1", 6000, "team db", "sslmode=require;connect_timeout=3"},
        {"postgresql://%2Fvar%2Frun%2Fpg/db", B::Postgres, "", "", "", "/var/run/pg", -1, "db", ""},
        {"postgresql://", B::Postgres, "", "", "", "", -1, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        QString error;
        const auto location = parseStoreLocation(QString::fromUtf8(c.url), &error);
        ASSERT_TRUE(location) << error.toStdString();
        EXPECT_EQ(location->backend, c.backend);
        EXPECT_EQ(location->path, QString::fromUtf8(c.path));
        EXPECT_EQ(location->user, QString::fromUtf8(c.user));
        EXPECT_EQ(location->password, QString::fromUtf8(c.password));
        EXPECT_EQ(location->host, QString::fromUtf8(c.host));
        EXPECT_EQ(location->port, c.port);
        EXPECT_EQ(location->database, QString::fromUtf8(c.database));
        EXPECT_EQ(location->options, QString::fromUtf8(c.options));
    }
    EXPECT_EQ(parseStoreLocation(QStringLiteral("players.sqlite"))->path,
              QDir::current().absoluteFilePath(QStringLiteral("players.sqlite")));

    const std::pair<const char*, const char*> bad[] = {
        {"", "empty"},
        {"sqlite:", "names no SQLite file"},
        {"sqlite://otherhost/p.sqlite", "names a host"},
        {"postgresql://u@h:99999/db", "the port \"99999\""},
        {"postgresql://u@h:x/db", "the port \"x\""},
        {"postgresql://u@h1,h2/db", "several hosts"},
        {"postgresql://u:secret@h/db?sslmod=require", "\"sslmod\" is not known"},
        {"postgresql://u@h/d%zzb", "broken %-escape"},
        {"postgresql:/u@h/db", "must begin with postgresql://"},
        {"mysql://root:secret@h/db", "unknown kind \"mysql\""},
    };
    for (const auto& [url, why] : bad) {
        SCOPED_TRACE(url);
        QString error;
        EXPECT_FALSE(parseStoreLocation(QString::fromUtf8(url), &error));
        EXPECT_TRUE(error.contains(QString::fromUtf8(why))) << error.toStdString();
        EXPECT_FALSE(error.contains(QStringLiteral("secret"))) << error.toStdString();
    }

    const auto withPassword = parseStoreLocation(QStringLiteral("postgresql://admin:secret@db:5433/ravelin"));
    EXPECT_EQ(withPassword->description(), QStringLiteral("PostgreSQL admin@db:5433/ravelin"));
    const auto bySocket = parseStoreLocation(QStringLiteral("postgresql://admin:secret@/ravelin?host=/run/pg"));
    EXPECT_EQ(bySocket->description(), QStringLiteral("PostgreSQL admin@/ravelin (socket in /run/pg)"));
}

TEST(StoreLocationTest, TheCommandLineBeatsTheEnvironmentWhichBeatsTheSettingAndTheDefault)
{
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    qunsetenv("RAVELIN_DATABASE");
    EXPECT_EQ(chooseStoreUrl({}, {}), data.filePath(QStringLiteral("ravelin/players.sqlite")));
    EXPECT_EQ(chooseStoreUrl({}, QStringLiteral("sqlite:/s")), QStringLiteral("sqlite:/s"));
    qputenv("RAVELIN_DATABASE", "sqlite:/e");
    EXPECT_EQ(chooseStoreUrl({}, QStringLiteral("sqlite:/s")), QStringLiteral("sqlite:/e"));
    EXPECT_EQ(chooseStoreUrl(QStringLiteral("sqlite:/c"), QStringLiteral("sqlite:/s")), QStringLiteral("sqlite:/c"));
    qunsetenv("RAVELIN_DATABASE");
    qunsetenv("XDG_DATA_HOME");
}

TEST_P(StoreTest, MigratesOnceAndKeepsWhatItHoldsWhenOpenedAgain)
{
    {
        PlayerStore store(Location());
        ASSERT_TRUE(store.open()) << store.lastError().toStdString();
        EXPECT_EQ(store.schemaVersion(), PlayerStore::kSchemaVersion);
        ASSERT_TRUE(store.record({PlayerEvent(WatchEvent::Kind::Join, 0, kHashA, QStringLiteral("Ann"), "1.2.3.4")}));
    }
    PlayerStore again(Location());
    ASSERT_TRUE(again.open()) << again.lastError().toStdString();
    EXPECT_EQ(Count(again, QStringLiteral("SELECT COUNT(*) FROM schema_version")), PlayerStore::kSchemaVersion);
    EXPECT_EQ(again.findPlayers(kHashA).size(), 1);

    // A store from a newer program is left alone.
    QSqlQuery(QSqlDatabase::database(again.connectionName()))
        .exec(QStringLiteral("INSERT INTO schema_version VALUES (%1, 0)").arg(PlayerStore::kSchemaVersion + 1));
    PlayerStore older(Location());
    EXPECT_FALSE(older.open());
    EXPECT_TRUE(older.lastError().contains(QStringLiteral("newer Ravelin"))) << older.lastError().toStdString();
}

TEST_P(StoreTest, PollsBecomeSessionsNamesAndAddressesWithWhenEachWasSeen)
{
    using K = WatchEvent::Kind;
    PlayerStore store(Location());
    ASSERT_TRUE(store.open()) << store.lastError().toStdString();
    const QList<QList<WatchEvent>> polls = {
        {ServerEvent(K::Up, 0), PlayerEvent(K::Join, 0, kHashA, "Ann", "1.2.3.4"),
         PlayerEvent(K::Join, 0, {}, "Bob", "5.6.7.8")},
        {PlayerEvent(K::Rename, 10, kHashA, "Anna", "1.2.3.4")},
        {PlayerEvent(K::Address, 20, kHashA, "Anna", "9.9.9.9")},
        {PlayerEvent(K::Leave, 30, kHashA, "Anna", "9.9.9.9")},
        {PlayerEvent(K::Join, 40, kHashA, "Ann", "1.2.3.4", "Bravo")},
        {ServerEvent(K::Down, 50), ServerEvent(K::Down, 55, "Bravo")},
        // A run that ended without a Down: its sessions end when the server was last seen.
        {ServerEvent(K::Up, 60), PlayerEvent(K::Join, 60, {}, "Bob", "5.6.7.8")},
    };
    for (const auto& poll : polls)
        ASSERT_TRUE(store.record(poll, {{poll.front().time, QStringLiteral("Alpha"), 2, 64, "Karkand"}}))
            << store.lastError().toStdString();
    ASSERT_TRUE(store.record({ServerEvent(K::Up, 90)}));

    const auto ann = store.findPlayers(kHashA);
    ASSERT_EQ(ann.size(), 1);
    EXPECT_EQ(ann[0].key, kHashA);
    EXPECT_EQ(ann[0].firstSeen, At(0));
    EXPECT_EQ(ann[0].lastSeen, At(40));
    ASSERT_EQ(ann[0].names.size(), 2);
    EXPECT_EQ(ann[0].names[0].text, "Ann"); // seen last, at the join on Bravo
    EXPECT_EQ(ann[0].names[0].firstSeen, At(0));
    EXPECT_EQ(ann[0].names[0].lastSeen, At(40));
    EXPECT_EQ(ann[0].names[1].text, "Anna");
    EXPECT_EQ(ann[0].names[1].firstSeen, At(10));
    EXPECT_EQ(ann[0].names[1].lastSeen, At(30));
    ASSERT_EQ(ann[0].addresses.size(), 2);
    EXPECT_EQ(ann[0].addresses[0].text, "1.2.3.4");
    EXPECT_EQ(ann[0].addresses[1].text, "9.9.9.9");
    EXPECT_EQ(ann[0].addresses[1].firstSeen, At(20));
    ASSERT_EQ(ann[0].sessions.size(), 2);
    EXPECT_EQ(ann[0].sessions[0].server, "Alpha");
    EXPECT_EQ(ann[0].sessions[0].joined, At(0));
    EXPECT_EQ(ann[0].sessions[0].left, At(30));
    EXPECT_EQ(ann[0].sessions[1].server, "Bravo");
    EXPECT_EQ(ann[0].sessions[1].left, At(55));

    const auto bob = store.findPlayers(QStringLiteral("5.6.7.8"));
    ASSERT_EQ(bob.size(), 1);
    EXPECT_EQ(bob[0].key, QStringLiteral("name:Bob@5.6.7.8"));
    EXPECT_TRUE(bob[0].hash.isEmpty());
    ASSERT_EQ(bob[0].sessions.size(), 2);
    EXPECT_EQ(bob[0].sessions[0].left, At(50));
    EXPECT_EQ(bob[0].sessions[1].joined, At(60));
    EXPECT_EQ(bob[0].sessions[1].left, At(60)) << "the last sample before the next Up";

    EXPECT_EQ(Count(store, QStringLiteral("SELECT COUNT(*) FROM events")), 7) << "all but the joins and leaves";
    EXPECT_EQ(Count(store, QStringLiteral("SELECT COUNT(*) FROM samples")), 7);
}

TEST_P(StoreTest, FindsPlayersByAnyPartOfANameInAnyCaseByHashAndByAddress)
{
    using K = WatchEvent::Kind;
    PlayerStore store(Location());
    ASSERT_TRUE(store.open()) << store.lastError().toStdString();
    const QStringList names = {QStringLiteral("Straße"),
                               QStringLiteral("Élan"),
                               QStringLiteral("100%Pure"),
                               QStringLiteral("under_score"),
                               QStringLiteral("'; DROP TABLE players; --"),
                               QString::fromUtf16(u"nul\0byte", 8)};
    QList<WatchEvent> poll;
    for (qsizetype i = 0; i < names.size(); ++i)
        poll.append(PlayerEvent(K::Join, int(i), QString(kHashA).replace(0, 1, QString::number(i)), names[i],
                                QStringLiteral("10.1.1.%1").arg(i)));
    ASSERT_TRUE(store.record(poll)) << store.lastError().toStdString();

    const std::pair<QString, QStringList> queries[] = {
        {QStringLiteral("STRASSE"), {QStringLiteral("Straße")}},
        {QStringLiteral("straße"), {QStringLiteral("Straße")}},
        {QStringLiteral("ẞE"), {QStringLiteral("Straße")}},
        {QStringLiteral("élan"), {QStringLiteral("Élan")}},
        {QStringLiteral("ÉLA"), {QStringLiteral("Élan")}},
        {QStringLiteral("%p"), {QStringLiteral("100%Pure")}},
        {QStringLiteral("r_s"), {QStringLiteral("under_score")}},
        {QStringLiteral("r%s"), {}},
        {QStringLiteral("drop table"), {QStringLiteral("'; DROP TABLE players; --")}},
        {QStringLiteral("10.1.1.1"), {QStringLiteral("Élan")}},
        {QStringLiteral("10.1.1"), {}},
        {QStringLiteral("2123456789ABCDEF0123456789ABCDEF"), {QStringLiteral("100%Pure")}},
        {QStringLiteral("nobody"), {}},
        {QStringLiteral("byte"), {QString::fromUtf16(u"nul\uFFFDbyte")}},
    };
    for (const auto& [query, expected] : queries) {
        SCOPED_TRACE(query.toStdString());
        QStringList found;
        for (const PlayerHistory& history : store.findPlayers(query))
            found.append(history.names.value(0).text);
        EXPECT_EQ(found, expected);
    }
    // The most recently seen first, no more than asked for.
    const auto two = store.findPlayers(QString(), 2);
    ASSERT_EQ(two.size(), 2);
    EXPECT_EQ(two[0].names[0].text, QString::fromUtf16(u"nul\uFFFDbyte"));
    EXPECT_EQ(two[1].names[0].text, names[4]);
    EXPECT_EQ(Count(store, QStringLiteral("SELECT COUNT(*) FROM players")), 6);
}

TEST_P(StoreTest, APollThatFailsLeavesNoneOfItWritten)
{
    PlayerStore store(Location());
    ASSERT_TRUE(store.open()) << store.lastError().toStdString();
    ASSERT_TRUE(QSqlQuery(QSqlDatabase::database(store.connectionName())).exec(QStringLiteral("DROP TABLE samples")));
    const QList<WatchEvent> poll = {PlayerEvent(WatchEvent::Kind::Join, 0, kHashA, "Ann", "1.2.3.4"),
                                    PlayerEvent(WatchEvent::Kind::Join, 0, kHashB, "Bob", "5.6.7.8")};
    EXPECT_FALSE(store.record(poll, {{At(0), QStringLiteral("Alpha"), 2, 64, "Karkand"}}));
    EXPECT_FALSE(store.lastError().isEmpty());
    for (const char* table : {"players", "player_names", "sessions", "events", "servers"})
        EXPECT_EQ(Count(store, QStringLiteral("SELECT COUNT(*) FROM %1").arg(QLatin1String(table))), 0) << table;
    ASSERT_TRUE(store.record(poll)) << store.lastError().toStdString();
    EXPECT_EQ(Count(store, QStringLiteral("SELECT COUNT(*) FROM sessions")), 2);
}

TEST_P(StoreTest, NotesAndRetention)
{
    using K = WatchEvent::Kind;
    PlayerStore store(Location());
    ASSERT_TRUE(store.open()) << store.lastError().toStdString();
    ASSERT_TRUE(store.record({PlayerEvent(K::Join, 0, kHashA, "Old", "1.1.1.1"),
                              PlayerEvent(K::Join, 0, kHashB, "Noted", "2.2.2.2"),
                              PlayerEvent(K::Join, 0, {}, "Stays", "3.3.3.3")},
                             {{At(0), QStringLiteral("Alpha"), 3, 64, "Karkand"}}));
    ASSERT_TRUE(store.record(
        {PlayerEvent(K::Leave, 10, kHashA, "Old", "1.1.1.1"), PlayerEvent(K::Leave, 10, kHashB, "Noted", "2.2.2.2")}));
    ASSERT_TRUE(store.addNote(kHashB, QStringLiteral("teamkills; \"warned\""), QStringLiteral("ops"), At(20)));
    const QString unseen = QStringLiteral("00000000000000000000000000000000");
    ASSERT_TRUE(store.addNote(unseen, QStringLiteral("watch for him"), QStringLiteral("ops"), At(20)));

    ASSERT_TRUE(store.removeOlderThan(30, At(0).addDays(31))) << store.lastError().toStdString();
    EXPECT_TRUE(store.findPlayers(QStringLiteral("old")).isEmpty());
    const auto noted = store.findPlayers(kHashB);
    ASSERT_EQ(noted.size(), 1);
    EXPECT_EQ(noted[0].names.value(0).text, "Noted");
    EXPECT_TRUE(noted[0].sessions.isEmpty());
    ASSERT_EQ(noted[0].notes.size(), 1);
    EXPECT_EQ(noted[0].notes[0].text, QStringLiteral("teamkills; \"warned\""));
    EXPECT_EQ(noted[0].notes[0].author, "ops");
    EXPECT_EQ(noted[0].notes[0].time, At(20));
    EXPECT_EQ(store.findPlayers(unseen).value(0).notes.size(), 1);
    QStringList notedKeys = store.notedKeys();
    notedKeys.sort();
    EXPECT_EQ(notedKeys, QStringList({unseen, kHashB}));
    // A session still open is history in the making.
    EXPECT_EQ(store.findPlayers(QStringLiteral("stays")).value(0).sessions.size(), 1);
    EXPECT_EQ(Count(store, QStringLiteral("SELECT COUNT(*) FROM samples")), 0);
}

TEST_P(StoreTest, TheWriterKeepsEventsWhileTheStoreIsDownAndWritesThemWhenItIsBack)
{
    using K = WatchEvent::Kind;
    {
        PlayerStore store(Location());
        ASSERT_TRUE(store.open()) << store.lastError().toStdString();
    }
    StoreWriter writer(Location());
    writer.setRetryInterval(50ms);
    QSignalSpy log(&writer, &StoreWriter::logLine);
    writer.submit({PlayerEvent(K::Join, 0, kHashA, "Ann", "1.2.3.4")});
    ASSERT_TRUE(writer.flush(10s));
    EXPECT_EQ(writer.written(), 1);

    Block();
    writer.submit({PlayerEvent(K::Join, 1, kHashB, "Bob", "5.6.7.8")},
                  {{At(1), QStringLiteral("Alpha"), 2, 64, "Karkand"}});
    ASSERT_TRUE(WaitUntil([&] { return writer.isFailing(); }, 10s));
    // The writer's thread says so a moment after the flag shows.
    ASSERT_TRUE(WaitUntil([&] { return log.size() >= 1; }));
    writer.submit({PlayerEvent(K::Leave, 2, kHashA, "Ann", "1.2.3.4")});
    EXPECT_EQ(writer.held(), 2);
    EXPECT_FALSE(writer.flush(10s));
    ASSERT_TRUE(WaitUntil([&] { return log.size() >= 2; }));
    EXPECT_TRUE(log[0][0].toByteArray().startsWith("The store could not be written ("));
    EXPECT_TRUE(log[0][0].toByteArray().endsWith("); 1 event waits")) << log[0][0].toByteArray().toStdString();
    EXPECT_EQ(log[1][0].toByteArray(),
              "The store could not be written before closing: 2 events and 1 sample are not in it");

    Release();
    ASSERT_TRUE(WaitUntil([&] { return writer.held() == 0 && !writer.isFailing(); }, 20s));
    ASSERT_TRUE(WaitUntil([&] { return log.size() >= 3; }));
    EXPECT_EQ(log[2][0].toByteArray(), "The store is written again: 2 events that waited are in it");
    EXPECT_EQ(writer.written(), 3);
    EXPECT_EQ(writer.dropped(), 0);

    PlayerStore store(Location());
    const auto ann = store.findPlayers(kHashA);
    ASSERT_EQ(ann.size(), 1) << store.lastError().toStdString();
    EXPECT_EQ(ann[0].sessions.value(0).left, At(2));
    EXPECT_EQ(store.findPlayers(kHashB).size(), 1);
    EXPECT_EQ(Count(store, QStringLiteral("SELECT COUNT(*) FROM samples")), 1);
}

TEST_P(StoreTest, TheWriterHoldsNoMoreThanItsLimitAndCountsWhatItDropped)
{
    using K = WatchEvent::Kind;
    {
        PlayerStore store(Location());
        ASSERT_TRUE(store.open()) << store.lastError().toStdString();
    }
    StoreWriter writer(Location());
    writer.setRetryInterval(50ms);
    writer.setHeldLimit(5);
    QSignalSpy log(&writer, &StoreWriter::logLine);
    Block();
    auto poll = [](int n) {
        QList<WatchEvent> events;
        for (int i = 0; i < 3; ++i)
            events.append(PlayerEvent(K::Join, n * 10 + i, {}, QStringLiteral("p%1").arg(n * 10 + i), "1.1.1.1"));
        return events;
    };
    writer.submit(poll(0));
    ASSERT_TRUE(WaitUntil([&] { return writer.isFailing(); }, 10s));
    writer.submit(poll(1));
    writer.submit(poll(2));
    EXPECT_EQ(writer.held(), 5);
    EXPECT_EQ(writer.dropped(), 4);

    Release();
    ASSERT_TRUE(WaitUntil([&] { return writer.held() == 0 && !writer.isFailing(); }, 20s));
    ASSERT_TRUE(WaitUntil([&] { return log.size() >= 2; }));
    EXPECT_EQ(log[1][0].toByteArray(),
              "The store is written again: 5 events that waited are in it; "
              "4 events had no room to wait and were dropped");
    PlayerStore store(Location());
    ASSERT_TRUE(store.open());
    QStringList kept;
    for (const PlayerHistory& history : store.findPlayers(QStringLiteral("p")))
        kept.append(history.names.value(0).text);
    EXPECT_EQ(kept, QStringList({"p22", "p21", "p20", "p12", "p11"})) << "the newest are kept";
}

BanRecord Ban(const QString& ban, const QString& server, int second, const QString& reason)
{
    BanRecord record;
    record.server = server;
    record.ban = ban;
    record.isAddress = !ban.contains(QRegularExpression(QStringLiteral("^[0-9a-fA-F]{32}$")));
    record.period = BanRecord::Period::Seconds;
    record.seconds = 86400;
    record.reason = reason;
    record.placedBy = QStringLiteral("ops");
    record.placed = At(second);
    return record;
}

// A store made before bans had reasons is brought up to date where it is,
// with what it held: its sessions too, rebuilt in a table of their own.
TEST_P(StoreTest, AVersionOneStoreIsUpgradedInPlace)
{
    {
        PlayerStore store(Location());
        ASSERT_TRUE(store.open()) << store.lastError().toStdString();
        // Back to what the first schema had.
        QSqlQuery query(QSqlDatabase::database(store.connectionName()));
        const QString rowId = GetParam() == Backend::Postgres
            ? QStringLiteral("BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY")
            : QStringLiteral("INTEGER PRIMARY KEY");
        for (const QString& sql :
             {QStringLiteral("DROP TABLE snapshots"), QStringLiteral("DROP TABLE schedule_runs"),
              QStringLiteral("DROP TABLE ban_records"), QStringLiteral("DROP TABLE watchlist"),
              QStringLiteral("DROP TABLE sessions"),
              QStringLiteral("CREATE TABLE sessions (id %1, server_id BIGINT NOT NULL REFERENCES servers (id), "
                             "player_id BIGINT NOT NULL REFERENCES players (id), player_number INTEGER NOT NULL, "
                             "name TEXT NOT NULL, address TEXT NOT NULL, joined BIGINT NOT NULL, left_at BIGINT)")
                  .arg(rowId),
              QStringLiteral("CREATE INDEX sessions_player ON sessions (player_id)"),
              QStringLiteral("CREATE INDEX sessions_open ON sessions (server_id) WHERE left_at IS NULL"),
              QStringLiteral("CREATE INDEX players_hash ON players (hash)"),
              QStringLiteral("CREATE INDEX player_names_folded ON player_names (folded)"),
              QStringLiteral("DELETE FROM schema_version WHERE version > 1")})
            ASSERT_TRUE(query.exec(sql)) << sql.toStdString() << query.lastError().text().toStdString();
        ASSERT_EQ(store.schemaVersion(), 1);
        ASSERT_TRUE(store.record({PlayerEvent(WatchEvent::Kind::Join, 0, kHashA, QStringLiteral("Ann"), "1.2.3.4")}));
    }
    PlayerStore store(Location());
    ASSERT_TRUE(store.open()) << store.lastError().toStdString();
    EXPECT_EQ(store.schemaVersion(), PlayerStore::kSchemaVersion);
    // The session rebuilt in place is still open, and the next leave ends it.
    ASSERT_TRUE(store.record({PlayerEvent(WatchEvent::Kind::Leave, 60, kHashA, QStringLiteral("Ann"), "1.2.3.4")}));
    const QList<PlayerSession> sessions = store.findPlayers(kHashA.toUpper()).value(0).sessions;
    ASSERT_EQ(sessions.size(), 1);
    EXPECT_EQ(sessions[0].address, QStringLiteral("1.2.3.4"));
    EXPECT_EQ(sessions[0].joined, At(0));
    EXPECT_EQ(sessions[0].left, At(60));
    EXPECT_TRUE(store.recordBan(Ban(kHashA, QStringLiteral("Alpha"), 5, QStringLiteral("spam"))))
        << store.lastError().toStdString();
    EXPECT_EQ(store.banRecords(kHashA).size(), 1);
}

// Each ban keeps why, for how long and by whom; a lift marks the latest
// standing ban of the key on its own server only; the player's history shows
// them, the newest first.
TEST_P(StoreTest, BansKeepTheirReasonAndALiftMarksTheLatestStandingOneOnItsServer)
{
    PlayerStore store(Location());
    ASSERT_TRUE(store.open()) << store.lastError().toStdString();
    ASSERT_TRUE(store.record({PlayerEvent(WatchEvent::Kind::Join, 0, kHashA, QStringLiteral("Ann"), "1.2.3.4")}));

    BanRecord round = Ban(kHashA.toUpper(), QStringLiteral("Alpha"), 10, QStringLiteral("team killing"));
    round.period = BanRecord::Period::Round;
    round.seconds = 600; // no time for a round ban
    round.playerName = QStringLiteral("Ann");
    round.message = QStringLiteral("Bye, 'Ann'\0; DROP TABLE bans;--");
    const BanRecord later = Ban(kHashA, QStringLiteral("Alpha"), 20, QStringLiteral("again"));
    const BanRecord elsewhere = Ban(kHashA, QStringLiteral("Beta"), 30, QStringLiteral("on Beta"));
    const BanRecord address = Ban(QStringLiteral("1.2.3.4"), QStringLiteral("Alpha"), 40, QStringLiteral("proxy"));
    for (const BanRecord& record : {round, later, elsewhere, address})
        ASSERT_TRUE(store.recordBan(record)) << store.lastError().toStdString();

    bool found = false;
    ASSERT_TRUE(store.recordBanLifted(
        {QStringLiteral("Alpha"), kHashA.toUpper(), QStringLiteral("lead"), QStringLiteral("appeal granted"), At(50)},
        &found));
    EXPECT_TRUE(found);
    // A second lift on Alpha finds the older ban; a third finds none and is no failure.
    ASSERT_TRUE(store.recordBanLifted({QStringLiteral("Alpha"), kHashA, QStringLiteral("lead"), {}, At(60)}, &found));
    EXPECT_TRUE(found);
    ASSERT_TRUE(store.recordBanLifted({QStringLiteral("Alpha"), kHashA, QStringLiteral("lead"), {}, At(70)}, &found));
    EXPECT_FALSE(found);

    const QList<BanRecord> bans = store.banRecords(kHashA.toUpper());
    ASSERT_EQ(bans.size(), 3) << store.lastError().toStdString();
    EXPECT_EQ(bans[0].server, QStringLiteral("Beta"));
    EXPECT_FALSE(bans[0].lifted.isValid()) << "a lift on Alpha leaves Beta's ban standing";
    EXPECT_EQ(bans[1].reason, QStringLiteral("again"));
    EXPECT_EQ(bans[1].lifted, At(50));
    EXPECT_EQ(bans[1].liftedBy, QStringLiteral("lead"));
    EXPECT_EQ(bans[1].liftReason, QStringLiteral("appeal granted"));
    EXPECT_EQ(bans[1].seconds, 86400);
    EXPECT_EQ(bans[2].lifted, At(60));
    EXPECT_EQ(bans[2].period, BanRecord::Period::Round);
    EXPECT_EQ(bans[2].seconds, std::nullopt);
    EXPECT_EQ(bans[2].playerName, QStringLiteral("Ann"));
    EXPECT_EQ(bans[2].message, QString(round.message).replace(QChar(0), QChar::ReplacementCharacter));
    EXPECT_EQ(bans[2].placed, At(10));
    EXPECT_EQ(store.banRecords(QStringLiteral("1.2.3.4")).value(0).isAddress, true);

    const PlayerHistory ann = store.findPlayers(kHashA).value(0);
    EXPECT_EQ(ann.bans.size(), 3) << "the address ban is not the hash's";
    QStringList newest;
    for (const BanRecord& record : store.newestBanRecords())
        newest.append(record.ban + u' ' + record.reason);
    EXPECT_EQ(newest, QStringList({"0123456789abcdef0123456789abcdef on Beta", "1.2.3.4 proxy"}));
}

// Entries that cannot match are refused with why; the rest are kept, listed
// oldest first and taken off again. A watched player's join is kept as an event.
TEST_P(StoreTest, TheWatchlistKeepsValidEntriesAndRefusesOthersWithWhy)
{
    PlayerStore store(Location());
    ASSERT_TRUE(store.open()) << store.lastError().toStdString();
    using Kind = WatchEntry::Kind;
    const auto entry = [](Kind kind, const char* pattern, int second) {
        return WatchEntry{0,
                          kind,
                          QLatin1String(pattern),
                          QStringLiteral("note ") + QLatin1String(pattern),
                          QStringLiteral("ops"),
                          At(second)};
    };
    const auto hash = store.addWatchEntry(entry(Kind::Hash, "0123456789ABCDEF0123456789ABCDEF", 1));
    const auto range = store.addWatchEntry(entry(Kind::Address, "2001:db8::/32", 2));
    const auto name = store.addWatchEntry(entry(Kind::Name, "^\\[clan\\]", 3));
    ASSERT_TRUE(hash && range && name) << store.lastError().toStdString();
    EXPECT_FALSE(store.addWatchEntry(entry(Kind::Name, "(unclosed", 4)));
    EXPECT_TRUE(store.lastError().contains(QStringLiteral("not a valid regular expression")))
        << store.lastError().toStdString();
    EXPECT_FALSE(store.addWatchEntry(entry(Kind::Address, "10.0.0.0/33", 5)));
    EXPECT_FALSE(store.lastError().isEmpty());

    ASSERT_TRUE(store.removeWatchEntry(*range));
    ASSERT_TRUE(store.removeWatchEntry(*range)) << "one already gone is no failure";
    const QList<WatchEntry> kept = store.watchlist();
    ASSERT_EQ(kept.size(), 2) << store.lastError().toStdString();
    EXPECT_EQ(kept[0].id, *hash);
    EXPECT_EQ(kept[0].note, QStringLiteral("note 0123456789ABCDEF0123456789ABCDEF"));
    EXPECT_EQ(kept[1].kind, Kind::Name);
    EXPECT_EQ(kept[1].added, At(3));
    EXPECT_EQ(Watchlist(kept).matches(kHashA, {}, {}).size(), 1);

    WatchEvent watched = PlayerEvent(WatchEvent::Kind::Watched, 9, kHashA, QStringLiteral("[clan]Ann"), "1.2.3.4");
    watched.text = kept[1].note;
    ASSERT_TRUE(store.record({watched})) << store.lastError().toStdString();
    EXPECT_EQ(Count(store,
                    QStringLiteral("SELECT COUNT(*) FROM events WHERE kind = 'watched' AND detail = "
                                   "'note ^\\[clan\\]' AND player_id IS NOT NULL")),
              1);
}

// Changes go through the writer as polls do: held while the store is down,
// no more than the limit, the oldest dropped; the window's look at the
// newest ban sees a submitted one at once and a stored one once loaded.
TEST_P(StoreTest, TheWriterCarriesChangesWithinItsLimitAndKnowsTheNewestBan)
{
    {
        PlayerStore store(Location());
        ASSERT_TRUE(store.open()) << store.lastError().toStdString();
        ASSERT_TRUE(store.recordBan(Ban(kHashB, QStringLiteral("Alpha"), 0, QStringLiteral("aimbot"))));
    }
    StoreWriter writer(Location());
    writer.setRetryInterval(50ms);
    writer.setHeldLimit(2);
    writer.setBanCacheAge(0ms);
    WatchEntry refused;
    refused.kind = WatchEntry::Kind::Address;
    refused.pattern = QStringLiteral("300.1.1.1");
    EXPECT_FALSE(writer.submitChange(refused).isEmpty());
    EXPECT_EQ(writer.heldChanges(), 0) << "a refused entry is not submitted";
    ASSERT_TRUE(WaitUntil([&] { return writer.newestBan(kHashB.toUpper()).has_value(); }, 10s));
    EXPECT_EQ(writer.newestBan(kHashB)->reason, QStringLiteral("aimbot"));

    Block();
    EXPECT_TRUE(writer.submitChange(Ban(kHashA, QStringLiteral("Alpha"), 1, QStringLiteral("first"))).isEmpty());
    ASSERT_TRUE(WaitUntil([&] { return writer.isFailing(); }, 10s));
    writer.submitChange(Ban(kHashA, QStringLiteral("Alpha"), 2, QStringLiteral("second")));
    writer.submitChange(
        BanLift{QStringLiteral("Alpha"), kHashA, QStringLiteral("lead"), QStringLiteral("sorry"), At(3)});
    // The first may be on its way to the store as the others come; it is
    // dropped when it comes back.
    ASSERT_TRUE(WaitUntil([&] { return writer.droppedChanges() == 1; }, 10s));
    EXPECT_EQ(writer.heldChanges(), 2);
    const std::optional<BanRecord> shown = writer.newestBan(kHashA);
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->reason, QStringLiteral("second"));
    EXPECT_EQ(shown->liftReason, QStringLiteral("sorry"));

    Release();
    ASSERT_TRUE(writer.flush(20s));
    PlayerStore store(Location());
    const QList<BanRecord> kept = store.banRecords(kHashA);
    ASSERT_EQ(kept.size(), 1) << store.lastError().toStdString();
    EXPECT_EQ(kept[0].reason, QStringLiteral("second"));
    EXPECT_EQ(kept[0].liftedBy, QStringLiteral("lead"));

    // A ban another admin placed shows once the writer reads the store again.
    ASSERT_TRUE(store.recordBan(Ban(kHashB, QStringLiteral("Beta"), 9, QStringLiteral("wallhack"))));
    EXPECT_TRUE(WaitUntil([&] { return writer.newestBan(kHashB)->reason == QStringLiteral("wallhack"); }, 10s));
}

ScheduleRun JobRun(const char* schedule, const char* server, const QDateTime& started, const char* outcome)
{
    return {QLatin1String(schedule), QLatin1String(server), started, started.addSecs(2), {}, {},
            QLatin1String(outcome)};
}

QStringList Outcomes(const QList<ScheduleRun>& runs)
{
    QStringList outcomes;
    for (const ScheduleRun& run : runs)
        outcomes.append(run.schedule + u' ' + run.server + u' ' + run.outcome);
    return outcomes;
}

// Replies keep every character; the newest run of each schedule on each
// server is the one started last, whatever order the runs came in, and it
// outlives retention, which takes the other old runs.
TEST_P(StoreTest, ScheduleRunsKeepTheirRepliesAndTheNewestOfEachScheduleOnEachServer)
{
    PlayerStore store(Location());
    ASSERT_TRUE(store.open()) << store.lastError().toStdString();
    ScheduleRun awkward = JobRun("notice", "Beta", At(7), "failed: no reply");
    awkward.commands = {QStringLiteral("admin.say \"hi\""), QStringLiteral("map.list")};
    awkward.replies = {QStringLiteral("one\ntwo\r\n"), QStringLiteral("\"quoted\" \\ 'x'"),
                       QStringLiteral("Ünïcödé 名前 😀"), QString(QChar(0)) + u'x', QString()};
    awkward.manual = true;
    for (const ScheduleRun& run :
         {JobRun("restart", "Alpha", At(0), "old"), JobRun("restart", "Alpha", At(100), "done"),
          JobRun("restart", "Alpha", At(50), "between"), JobRun("restart", "Beta", At(20), "only"),
          JobRun("notice", "Alpha", At(0).addDays(2), "recent"), JobRun("notice", "Alpha", At(5), "stale"), awkward})
        ASSERT_TRUE(store.recordScheduleRun(run)) << store.lastError().toStdString();
    EXPECT_FALSE(store.recordScheduleRun(JobRun("restart", "", At(1), "nowhere")));
    EXPECT_FALSE(store.lastError().isEmpty());

    const QStringList newest = {"notice Alpha recent", "notice Beta failed: no reply", "restart Alpha done",
                                "restart Beta only"};
    const QList<ScheduleRun> last = store.lastScheduleRuns();
    EXPECT_EQ(Outcomes(last), newest) << store.lastError().toStdString();
    const ScheduleRun read = last.value(1);
    EXPECT_EQ(read.replies, awkward.replies);
    EXPECT_TRUE(read.commands == awkward.commands && read.manual && read.started == awkward.started
                && read.finished == awkward.finished);
    EXPECT_EQ(Outcomes(store.scheduleRuns(QStringLiteral("restart"), 2)),
              QStringList({"restart Alpha done", "restart Alpha between"}));

    PlayerLookup lookup(Location());
    QSignalSpy answers(&lookup, &PlayerLookup::lastScheduleRunsRead);
    lookup.readLastScheduleRuns();
    ASSERT_TRUE(WaitUntil([&] { return answers.size() == 1; }, 10s));
    EXPECT_EQ(Outcomes(answers[0][0].value<QList<ScheduleRun>>()), newest);

    ASSERT_TRUE(store.removeOlderThan(30, At(0).addDays(31))) << store.lastError().toStdString();
    EXPECT_EQ(Count(store, QStringLiteral("SELECT COUNT(*) FROM schedule_runs")), 4);
    EXPECT_EQ(Outcomes(store.lastScheduleRuns()), newest);
}

// A snapshot gives back every byte of the state it kept; the newest of each
// server is found, and stays however old when history is trimmed.
TEST_P(StoreTest, SnapshotsKeepEveryByteAndTheNewestOfEachServerStays)
{
    PlayerStore store(Location());
    ASSERT_TRUE(store.open()) << store.lastError().toStdString();
    QByteArray everyByte;
    for (int b = 0; b < 256; ++b)
        everyByte += char(b);
    ServerState odd;
    odd.rotation = {{"caf\xe9\x81\"q\"", "gpm_cq", 64}, {QByteArray("\0z", 2), "gpm_ctf", 16}};
    odd.settings = {{"sv.welcomeMessage", everyByte}, {"sv.ticketRatio", "100"}};
    odd.bans = {{"k\x9d\xff", false, StateBan::Period::Seconds, 900}, {"10.0.0.1", true, StateBan::Period::Round, 0}};
    odd.readAt = At(3);
    ServerState plain;
    plain.rotation = {{"kubra_dam", "gpm_cq", 32}};

    const struct
    {
        const char* server;
        int second;
        const ServerState& state;
    } taken[] = {{"Alpha", 0, plain}, {"Alpha", 10, odd}, {"Beta", 5, plain}, {"Beta", 2, odd}};
    QList<qint64> ids;
    for (const auto& t : taken) {
        const std::optional<qint64> id = store.saveSnapshot(QString::fromLatin1(t.server), t.state,
                                                            QStringLiteral("before apply"), QStringLiteral("ann"),
                                                            At(t.second));
        ASSERT_TRUE(id) << store.lastError().toStdString();
        ids.append(*id);
    }
    EXPECT_FALSE(store.saveSnapshot({}, plain, {}, {}));

    const std::optional<StateSnapshot> read = store.snapshot(ids[1]);
    ASSERT_TRUE(read) << store.lastError().toStdString();
    EXPECT_EQ(read->state, odd);
    EXPECT_TRUE(read->server == "Alpha" && read->label == "before apply" && read->user == "ann"
                && read->taken == At(10));
    EXPECT_FALSE(store.snapshot(ids.last() + 100));

    const auto newest = [&](const QStringList& servers) {
        QStringList found;
        for (const StateSnapshot& snapshot : store.latestSnapshots(servers))
            found.append(snapshot.server + u' ' + QString::number(ids.indexOf(snapshot.id)));
        return found;
    };
    EXPECT_EQ(newest({}), QStringList({"Alpha 1", "Beta 2"}));
    EXPECT_EQ(newest({QStringLiteral("Beta"), QStringLiteral("Gamma")}), QStringList({"Beta 2"}));
    QList<qint64> listed;
    for (const StateSnapshot& snapshot : store.snapshotsTaken())
        listed.append(snapshot.id);
    EXPECT_EQ(listed, QList<qint64>({ids[1], ids[2], ids[3], ids[0]}));
    EXPECT_EQ(store.snapshotsTaken(QStringLiteral("Beta"), 1).value(0).id, ids[2]);

    ASSERT_TRUE(store.removeOlderThan(30, At(0).addDays(31))) << store.lastError().toStdString();
    EXPECT_EQ(Count(store, QStringLiteral("SELECT COUNT(*) FROM snapshots")), 2);
    EXPECT_EQ(newest({}), QStringList({"Alpha 1", "Beta 2"}));

    // A snapshot goes in as a change like any other; one kept before an undo
    // is the newest, but not the newest kept before an apply.
    StateSnapshot beforeUndo{0,    At(40), QStringLiteral("Alpha"), QStringLiteral("before undo"), QStringLiteral("bo"),
                             plain};
    ASSERT_TRUE(store.apply(beforeUndo)) << store.lastError().toStdString();
    const StateSnapshot newestOfAlpha = store.latestSnapshots({QStringLiteral("Alpha")}).value(0);
    EXPECT_TRUE(newestOfAlpha.label == "before undo" && newestOfAlpha.user == "bo" && newestOfAlpha.taken == At(40));
    QList<qint64> beforeApply;
    for (const StateSnapshot& snapshot : store.latestSnapshots({}, QStringLiteral("before apply")))
        beforeApply.append(snapshot.id);
    EXPECT_EQ(beforeApply, QList<qint64>({ids[1], ids[2]}));
    EXPECT_FALSE(store.apply(StateSnapshot{}));

    // A snapshot spoiled behind the store's back is an error, not an empty state.
    QSqlQuery(QSqlDatabase::database(store.connectionName()))
        .exec(QStringLiteral("UPDATE snapshots SET state = 'not json' WHERE id = %1").arg(ids[2]));
    EXPECT_TRUE(store.latestSnapshots().isEmpty());
    EXPECT_FALSE(store.lastError().isEmpty());
}

// A run goes through the writer like any change: held while the store is
// down and written when it is back; one the store would refuse is not taken.
TEST_P(StoreTest, TheWriterHoldsAScheduleRunWhileTheStoreIsDown)
{
    {
        PlayerStore store(Location());
        ASSERT_TRUE(store.open()) << store.lastError().toStdString();
    }
    StoreWriter writer(Location());
    writer.setRetryInterval(50ms);
    EXPECT_FALSE(writer.submitChange(JobRun("restart", "Alpha", QDateTime(), "done")).isEmpty());
    Block();
    EXPECT_TRUE(writer.submitChange(JobRun("restart", "Alpha", At(1), "done")).isEmpty());
    ASSERT_TRUE(WaitUntil([&] { return writer.isFailing(); }, 10s));
    EXPECT_EQ(writer.heldChanges(), 1);
    Release();
    ASSERT_TRUE(writer.flush(20s));
    PlayerStore store(Location());
    EXPECT_EQ(Outcomes(store.scheduleRuns(QStringLiteral("restart"), 10)), QStringList({"restart Alpha done"}))
        << store.lastError().toStdString();
}

TEST(BanRecordTest, SaysWhenByWhomForHowLongAndWhy)
{
    struct Case
    {
        BanRecord::Period period;
        std::optional<qint64> seconds;
        const char* lifted; // by whom, or none
        const char* expected;
    };
    const Case cases[] = {
        {BanRecord::Period::Seconds, 86400, nullptr, "Banned 2026-12-09 07:10 by ops for 1 day: team killing"},
        {BanRecord::Period::Seconds, 5400, nullptr, "Banned 2026-12-09 07:10 by ops for 90 minutes: team killing"},
        {BanRecord::Period::Seconds, 7200, nullptr, "Banned 2026-12-09 07:10 by ops for 2 hours: team killing"},
        {BanRecord::Period::Seconds, 61, nullptr, "Banned 2026-12-09 07:10 by ops for 61 seconds: team killing"},
        {BanRecord::Period::Round, std::nullopt, nullptr, "Banned 2026-12-09 07:10 by ops for the round: team killing"},
        {BanRecord::Period::Perm, std::nullopt, "lead",
         "Banned 2026-12-09 07:10 by ops for ever: team killing; lifted 2026-12-10 09:00 by lead: appeal"},
    };
    const std::optional<QByteArray> zone = qEnvironmentVariableIsSet("TZ") ? std::optional(qgetenv("TZ"))
                                                                           : std::nullopt;
    qputenv("TZ", "UTC");
    for (const Case& c : cases) {
        BanRecord record;
        record.period = c.period;
        record.seconds = c.seconds;
        record.placedBy = QStringLiteral("ops");
        record.placed = QDateTime(QDate(2026, 12, 9), QTime(7, 10, 30), QTimeZone::utc());
        record.reason = QStringLiteral("team killing");
        if (c.lifted) {
            record.lifted = QDateTime(QDate(2026, 12, 10), QTime(9, 0), QTimeZone::utc());
            record.liftedBy = QLatin1String(c.lifted);
            record.liftReason = QStringLiteral("appeal");
        }
        EXPECT_EQ(banSummary(record), QLatin1String(c.expected));
    }
    if (zone)
        qputenv("TZ", *zone);
    else
        qunsetenv("TZ");
}

TEST(SqliteStoreTest, TheFileIsItsUsersAloneAndWrittenThroughAWriteAheadLog)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("new/players.sqlite"));
    PlayerStore store(*parseStoreLocation(path));
    ASSERT_TRUE(store.open()) << store.lastError().toStdString();
    struct stat file
    {
    };
    struct stat dir
    {
    };
    ASSERT_EQ(stat(QFile::encodeName(path).constData(), &file), 0);
    ASSERT_EQ(stat(QFile::encodeName(folder.filePath(QStringLiteral("new"))).constData(), &dir), 0);
    EXPECT_EQ(file.st_mode & 0777, 0600u);
    EXPECT_EQ(dir.st_mode & 0777, 0700u);
    QSqlQuery query(QSqlDatabase::database(store.connectionName()));
    ASSERT_TRUE(query.exec(QStringLiteral("PRAGMA journal_mode")) && query.next());
    EXPECT_EQ(query.value(0).toString(), "wal");
}

TEST(SqliteStoreTest, FlushReturnsInTimeWhileTheWriterWaitsForAnotherWriter)
{
    QTemporaryDir folder;
    auto location = *parseStoreLocation(folder.filePath(QStringLiteral("players.sqlite")));
    location.busyTimeout = 30s;
    {
        PlayerStore store(location);
        ASSERT_TRUE(store.open()) << store.lastError().toStdString();
    }
    {
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other-writer"));
        other.setDatabaseName(location.path);
        ASSERT_TRUE(other.open());
        QSqlQuery hold(other);
        ASSERT_TRUE(hold.exec(QStringLiteral("BEGIN IMMEDIATE")));

        StoreWriter writer(location);
        writer.submit({PlayerEvent(WatchEvent::Kind::Join, 0, kHashA, "Ann", "1.2.3.4")});
        EXPECT_FALSE(writer.flush(200ms));
        // The write still waits on the other writer (for up to its 30 s busy
        // timeout): had flush waited for it, the write would have failed by now.
        EXPECT_FALSE(writer.isFailing()) << "flush waited for the other writer";
        EXPECT_EQ(writer.held(), 1);

        ASSERT_TRUE(hold.exec(QStringLiteral("ROLLBACK")));
        ASSERT_TRUE(WaitUntil([&] { return writer.written() == 1; }, 20s));
        EXPECT_FALSE(writer.isFailing());
        other.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other-writer"));
}

INSTANTIATE_TEST_SUITE_P(Backends, StoreTest, testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const testing::TestParamInfo<Backend>& info) {
                             return info.param == Backend::Sqlite ? "Sqlite" : "Postgres";
                         });

} // namespace
