#include "store/player_store.h"

#include "desired/server_state_json.h"
#include "storage/file_locations.h"

#include <QAtomicInteger>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimeZone>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace {

// Each migration brings the schema from the version before it to its own.
// "{id}" stands for each backend's spelling of a generated row id; the rest
// is the same SQL on both.
const QList<QStringList> kMigrations = {
    {
        QStringLiteral("CREATE TABLE servers (id {id}, name TEXT NOT NULL UNIQUE, address TEXT NOT NULL, "
                       "first_seen BIGINT NOT NULL, last_seen BIGINT NOT NULL)"),
        QStringLiteral("CREATE TABLE players (id {id}, player_key TEXT NOT NULL UNIQUE, hash TEXT NOT NULL, "
                       "first_seen BIGINT NOT NULL, last_seen BIGINT NOT NULL)"),
        QStringLiteral("CREATE INDEX players_hash ON players (hash)"),
        // `folded` is the name with its case folded, for searching.
        QStringLiteral("CREATE TABLE player_names (player_id BIGINT NOT NULL REFERENCES players (id), "
                       "name TEXT NOT NULL, folded TEXT NOT NULL, first_seen BIGINT NOT NULL, "
                       "last_seen BIGINT NOT NULL, PRIMARY KEY (player_id, name))"),
        QStringLiteral("CREATE INDEX player_names_folded ON player_names (folded)"),
        QStringLiteral("CREATE TABLE player_addresses (player_id BIGINT NOT NULL REFERENCES players (id), "
                       "address TEXT NOT NULL, first_seen BIGINT NOT NULL, last_seen BIGINT NOT NULL, "
                       "PRIMARY KEY (player_id, address))"),
        QStringLiteral("CREATE INDEX player_addresses_address ON player_addresses (address)"),
        QStringLiteral("CREATE TABLE sessions (id {id}, server_id BIGINT NOT NULL REFERENCES servers (id), "
                       "player_id BIGINT NOT NULL REFERENCES players (id), player_number INTEGER NOT NULL, "
                       "name TEXT NOT NULL, address TEXT NOT NULL, joined BIGINT NOT NULL, left_at BIGINT)"),
        QStringLiteral("CREATE INDEX sessions_player ON sessions (player_id)"),
        QStringLiteral("CREATE INDEX sessions_open ON sessions (server_id) WHERE left_at IS NULL"),
        QStringLiteral("CREATE TABLE samples (server_id BIGINT NOT NULL REFERENCES servers (id), at BIGINT NOT NULL, "
                       "players INTEGER NOT NULL, max_players INTEGER, map TEXT NOT NULL)"),
        QStringLiteral("CREATE INDEX samples_at ON samples (at)"),
        QStringLiteral("CREATE TABLE bans (id {id}, server_id BIGINT NOT NULL REFERENCES servers (id), "
                       "ban TEXT NOT NULL, is_address INTEGER NOT NULL, period TEXT NOT NULL, seconds_left BIGINT, "
                       "appeared BIGINT NOT NULL, last_seen BIGINT NOT NULL, went BIGINT)"),
        QStringLiteral("CREATE INDEX bans_ban ON bans (ban)"),
        QStringLiteral("CREATE TABLE actions (id {id}, at BIGINT NOT NULL, server_id BIGINT NOT NULL REFERENCES "
                       "servers (id), user_name TEXT NOT NULL, what TEXT NOT NULL, outcome TEXT NOT NULL)"),
        QStringLiteral("CREATE TABLE notes (id {id}, player_id BIGINT NOT NULL REFERENCES players (id), "
                       "at BIGINT NOT NULL, author TEXT NOT NULL, body TEXT NOT NULL)"),
        QStringLiteral("CREATE INDEX notes_player ON notes (player_id)"),
        // Every event as it came, for what is yet to read them; a player's
        // joins and leaves are in `sessions`.
        QStringLiteral("CREATE TABLE events (id {id}, at BIGINT NOT NULL, server_id BIGINT NOT NULL REFERENCES "
                       "servers (id), kind TEXT NOT NULL, player_id BIGINT REFERENCES players (id), name TEXT, "
                       "address TEXT, previous TEXT, detail TEXT, outcome TEXT, user_name TEXT)"),
        QStringLiteral("CREATE INDEX events_at ON events (at)"),
        QStringLiteral("CREATE INDEX events_player ON events (player_id)"),
    },
    {
        // The bans this client placed, with why; `bans` holds what the
        // servers' lists showed. A ban for a time has its seconds, a round or
        // permanent one none.
        QStringLiteral("CREATE TABLE ban_records (id {id}, server_id BIGINT NOT NULL REFERENCES servers (id), "
                       "ban TEXT NOT NULL, is_address INTEGER NOT NULL, player_name TEXT, period TEXT NOT NULL, "
                       "seconds BIGINT, reason TEXT NOT NULL, message TEXT NOT NULL, placed_by TEXT NOT NULL, "
                       "placed_at BIGINT NOT NULL, lifted_at BIGINT, lifted_by TEXT, lift_reason TEXT)"),
        QStringLiteral("CREATE INDEX ban_records_ban ON ban_records (ban)"),
        QStringLiteral("CREATE TABLE watchlist (id {id}, kind TEXT NOT NULL, pattern TEXT NOT NULL, "
                       "note TEXT NOT NULL, added_by TEXT NOT NULL, added_at BIGINT NOT NULL)"),
    },
    {
        // Every run of a scheduled job. The commands sent and the replies
        // come as lists and are kept as JSON arrays, so that a reply of
        // several lines stays one item. A run cut short has no end.
        QStringLiteral("CREATE TABLE schedule_runs (id {id}, schedule TEXT NOT NULL, server_id BIGINT NOT NULL "
                       "REFERENCES servers (id), started BIGINT NOT NULL, finished BIGINT, commands TEXT NOT NULL, "
                       "replies TEXT NOT NULL, outcome TEXT NOT NULL, manual INTEGER NOT NULL)"),
        // The newest run of each schedule on each server is the last row of its range here.
        QStringLiteral("CREATE INDEX schedule_runs_newest ON schedule_runs (schedule, server_id, started)"),
        QStringLiteral("CREATE INDEX schedule_runs_started ON schedule_runs (started)"),
    },
    {
        // A server's state before a change, as JSON (see server_state_json.h).
        QStringLiteral("CREATE TABLE snapshots (id {id}, taken BIGINT NOT NULL, server_id BIGINT NOT NULL "
                       "REFERENCES servers (id), label TEXT NOT NULL, state TEXT NOT NULL, user_name TEXT NOT NULL)"),
        QStringLiteral("CREATE INDEX snapshots_newest ON snapshots (server_id, taken)"),
    },
    {
        // Sessions without a row id nothing reads, the 8-byte columns first so
        // that PostgreSQL pads none of them, and no index no query uses.
        QStringLiteral("CREATE TABLE sessions_new (server_id BIGINT NOT NULL REFERENCES servers (id), "
                       "player_id BIGINT NOT NULL REFERENCES players (id), joined BIGINT NOT NULL, left_at BIGINT, "
                       "player_number INTEGER NOT NULL, name TEXT NOT NULL, address TEXT NOT NULL)"),
        QStringLiteral("INSERT INTO sessions_new (server_id, player_id, joined, left_at, player_number, name, address) "
                       "SELECT server_id, player_id, joined, left_at, player_number, name, address FROM sessions"),
        QStringLiteral("DROP TABLE sessions"),
        QStringLiteral("ALTER TABLE sessions_new RENAME TO sessions"),
        QStringLiteral("CREATE INDEX sessions_player ON sessions (player_id)"),
        QStringLiteral("CREATE INDEX sessions_open ON sessions (server_id) WHERE left_at IS NULL"),
        // A player with a hash has it as their key: the key's own index finds them.
        QStringLiteral("DROP INDEX players_hash"),
        // A part of a name is looked for anywhere in it, which no index serves.
        QStringLiteral("DROP INDEX player_names_folded"),
    },
};

QAtomicInteger<quint64> connectionCount;

qint64 msecs(const QDateTime& time)
{
    return time.toMSecsSinceEpoch();
}

QDateTime timeFrom(const QVariant& value)
{
    return value.isNull() ? QDateTime() : QDateTime::fromMSecsSinceEpoch(value.toLongLong(), QTimeZone::utc());
}

QVariant textOrNull(const QString& text)
{
    return text.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(text);
}

// A value as the database is to get it. Qt's drivers write a null QString as
// NULL, but an empty text is an empty text. PostgreSQL refuses the character
// 0 in a text, and a poll it refuses would wait for ever, so on both databases
// it is kept as U+FFFD.
QVariant boundValue(const QVariant& value)
{
    if (value.typeId() != QMetaType::QString || value.isNull())
        return value;
    QString text = value.toString();
    if (text.isNull())
        return QStringLiteral("");
    if (!text.contains(QChar(0)))
        return value;
    return text.replace(QChar(0), QChar::ReplacementCharacter);
}

// The form names are searched in: case folded, with the letters that fold to
// two (ß, ẞ) spelled out, so that "STRASSE", "straße" and "Straße" all meet.
QString folded(const QString& text)
{
    QString result = text.toUpper().toCaseFolded();
    result.replace(QChar(0x00DF), QStringLiteral("ss"));
    return result;
}

QString likePattern(const QString& fragment)
{
    QString escaped;
    for (const QChar c : fragment) {
        if (c == u'\\' || c == u'%' || c == u'_')
            escaped += u'\\';
        escaped += c;
    }
    return u'%' + escaped + u'%';
}

bool isHash(const QString& text)
{
    static const QRegularExpression hash(QStringLiteral("^[0-9A-Fa-f]{32}$"));
    return hash.match(text).hasMatch();
}

bool hasPlayer(const WatchEvent& event)
{
    using Kind = WatchEvent::Kind;
    const bool aboutPlayer = event.kind == Kind::Join || event.kind == Kind::Leave || event.kind == Kind::Rename
        || event.kind == Kind::Address || event.kind == Kind::Watched || event.kind == Kind::Rule;
    return aboutPlayer && (!event.hash.isEmpty() || !event.name.isEmpty());
}

// A list as the JSON array text it is kept as.
QString jsonText(const QStringList& list)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(list)).toJson(QJsonDocument::Compact));
}

// The list a JSON array text holds. Text that is not one (written by hand)
// is read as a list of itself, so that nothing kept is hidden.
QStringList listFromJson(const QString& text)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return {text};
    QStringList list;
    for (const QJsonValue& value : document.array())
        list.append(value.toString());
    return list;
}

// The newest run of the same schedule on the same server as the row of
// schedule_runs in the outer statement.
const QString kNewestRunOfItsPair = QStringLiteral(
    "(SELECT newest.id FROM schedule_runs newest WHERE newest.schedule = schedule_runs.schedule AND "
    "newest.server_id = schedule_runs.server_id ORDER BY newest.started DESC, newest.id DESC LIMIT 1)");

// The newest snapshot of the same server as the row of snapshots in the outer statement.
const QString kNewestSnapshotOfItsServer = QStringLiteral(
    "(SELECT newest.id FROM snapshots newest WHERE newest.server_id = snapshots.server_id "
    "ORDER BY newest.taken DESC, newest.id DESC LIMIT 1)");
// The same, among the snapshots of its label.
const QString kNewestSnapshotOfItsServerAndLabel = QStringLiteral(
    "(SELECT newest.id FROM snapshots newest WHERE newest.server_id = snapshots.server_id "
    "AND newest.label = snapshots.label ORDER BY newest.taken DESC, newest.id DESC LIMIT 1)");

QString errorText(const QSqlError& error)
{
    const QString database = error.databaseText().trimmed();
    return database.isEmpty() ? error.text().trimmed() : database;
}

} // namespace

// The database connection and its prepared statements, kept for as long as
// the connection lasts.
struct PlayerStore::Connection
{
    QString name;
    QSqlDatabase db;
    bool postgres = false;
    QHash<QString, QSqlQuery> prepared;
    QSqlQuery plain;
    QString error;

    ~Connection()
    {
        prepared.clear();
        plain = QSqlQuery();
        if (db.isOpen())
            db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
    }

    // Runs `sql` with `values` bound in order; nothing, with `error` set, on failure.
    QSqlQuery* run(const QString& sql, const QVariantList& values = {})
    {
        // Statements without parameters (BEGIN, DDL, PRAGMA) are run as they
        // are: PostgreSQL cannot prepare all of them.
        if (values.isEmpty()) {
            plain = QSqlQuery(db);
            plain.setForwardOnly(true);
            if (!plain.exec(sql)) {
                error = errorText(plain.lastError());
                return nullptr;
            }
            return &plain;
        }
        auto it = prepared.find(sql);
        if (it == prepared.end()) {
            QSqlQuery query(db);
            query.setForwardOnly(true);
            if (!query.prepare(sql)) {
                error = errorText(query.lastError());
                return nullptr;
            }
            it = prepared.insert(sql, std::move(query));
        }
        for (qsizetype i = 0; i < values.size(); ++i) {
            it->bindValue(int(i), boundValue(values[i]));
        }
        if (!it->exec()) {
            error = errorText(it->lastError());
            return nullptr;
        }
        return &*it;
    }

    bool execute(const QString& sql, const QVariantList& values = {})
    {
        QSqlQuery* query = run(sql, values);
        if (query)
            query->finish();
        return query != nullptr;
    }

    // The first column of the first row, or an invalid value with `error` set.
    QVariant value(const QString& sql, const QVariantList& values = {})
    {
        QSqlQuery* query = run(sql, values);
        if (!query)
            return {};
        if (!query->next()) {
            error = QStringLiteral("no row came back");
            return {};
        }
        const QVariant result = query->value(0);
        query->finish();
        return result;
    }

    bool begin() { return execute(postgres ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE")); }
    bool commit() { return execute(QStringLiteral("COMMIT")); }
    void rollback()
    {
        const QString kept = error;
        execute(QStringLiteral("ROLLBACK"));
        error = kept;
    }
};

namespace {

// One transaction's writes. Server and player ids are looked up once per
// transaction: an id from a transaction that was rolled back means nothing.
class BatchWriter
{
public:
    explicit BatchWriter(PlayerStore::Connection& connection)
        : db_(connection)
    { }

    bool write(const WatchEvent& event);
    bool write(const PopulationSample& sample);
    bool finish();

private:
    std::optional<qint64> server(const QString& name, const QString& address, qint64 at);
    std::optional<qint64> player(const WatchEvent& event, qint64 at);
    bool seen(qint64 playerId, const WatchEvent& event, qint64 at);

    PlayerStore::Connection& db_;
    QHash<QString, qint64> servers_;
    QHash<qint64, qint64> serverLastSeen_;
    QHash<QString, qint64> players_;
};

std::optional<qint64> BatchWriter::server(const QString& name, const QString& address, qint64 at)
{
    if (const auto it = servers_.constFind(name); it != servers_.cend()) {
        serverLastSeen_[*it] = std::max(serverLastSeen_.value(*it), at);
        return *it;
    }
    const QVariant id = db_.value(
        QStringLiteral("INSERT INTO servers (name, address, first_seen, last_seen) VALUES (?, ?, ?, ?) "
                       "ON CONFLICT (name) DO UPDATE SET address = CASE WHEN excluded.address = '' "
                       "THEN servers.address ELSE excluded.address END RETURNING id"),
        {name, address, at, at});
    if (!id.isValid())
        return std::nullopt;
    servers_.insert(name, id.toLongLong());
    serverLastSeen_[id.toLongLong()] = at;
    return id.toLongLong();
}

std::optional<qint64> BatchWriter::player(const WatchEvent& event, qint64 at)
{
    const QString key = event.playerKey();
    const QVariant id = db_.value(
        QStringLiteral("INSERT INTO players (player_key, hash, first_seen, last_seen) VALUES (?, ?, ?, ?) "
                       "ON CONFLICT (player_key) DO UPDATE SET "
                       "first_seen = CASE WHEN excluded.first_seen < players.first_seen "
                       "THEN excluded.first_seen ELSE players.first_seen END, "
                       "last_seen = CASE WHEN excluded.last_seen > players.last_seen "
                       "THEN excluded.last_seen ELSE players.last_seen END RETURNING id"),
        {key, event.hash, at, at});
    if (!id.isValid())
        return std::nullopt;
    return id.toLongLong();
}

bool BatchWriter::seen(qint64 playerId, const WatchEvent& event, qint64 at)
{
    static const QString keepSpan = QStringLiteral(
        "first_seen = CASE WHEN excluded.first_seen < %1.first_seen THEN excluded.first_seen ELSE %1.first_seen END, "
        "last_seen = CASE WHEN excluded.last_seen > %1.last_seen THEN excluded.last_seen ELSE %1.last_seen END");
    if (!event.name.isEmpty()
        && !db_.execute(QStringLiteral("INSERT INTO player_names (player_id, name, folded, first_seen, last_seen) "
                                       "VALUES (?, ?, ?, ?, ?) ON CONFLICT (player_id, name) DO UPDATE SET ")
                            + keepSpan.arg(QStringLiteral("player_names")),
                        {playerId, event.name, folded(event.name), at, at}))
        return false;
    if (!event.address.isEmpty()
        && !db_.execute(QStringLiteral("INSERT INTO player_addresses (player_id, address, first_seen, last_seen) "
                                       "VALUES (?, ?, ?, ?) ON CONFLICT (player_id, address) DO UPDATE SET ")
                            + keepSpan.arg(QStringLiteral("player_addresses")),
                        {playerId, event.address, at, at}))
        return false;
    return true;
}

bool BatchWriter::write(const WatchEvent& event)
{
    using Kind = WatchEvent::Kind;
    const qint64 at = msecs(event.time);
    const auto serverId = server(event.server, event.serverAddress, at);
    if (!serverId)
        return false;
    std::optional<qint64> playerId;
    if (hasPlayer(event)) {
        playerId = player(event, at);
        if (!playerId || !seen(*playerId, event, at))
            return false;
    }

    bool ok = true;
    switch (event.kind) {
    case Kind::Up:
        // Sessions a run that ended without a Down left open end when the server was last seen.
        ok = db_.execute(QStringLiteral("UPDATE sessions SET left_at = (SELECT last_seen FROM servers WHERE id = ?) "
                                        "WHERE server_id = ? AND left_at IS NULL"),
                         {*serverId, *serverId});
        break;
    case Kind::Down:
        ok = db_.execute(QStringLiteral("UPDATE sessions SET left_at = ? WHERE server_id = ? AND left_at IS NULL"),
                         {at, *serverId});
        break;
    case Kind::Join:
        if (!playerId)
            break;
        // A session still open for the same player on the same server ended unseen.
        ok = db_.execute(QStringLiteral("UPDATE sessions SET left_at = ? "
                                        "WHERE server_id = ? AND player_id = ? AND left_at IS NULL"),
                         {at, *serverId, *playerId})
            && db_.execute(QStringLiteral("INSERT INTO sessions (server_id, player_id, player_number, name, address, "
                                          "joined) VALUES (?, ?, ?, ?, ?, ?)"),
                           {*serverId, *playerId, event.playerId, event.name, event.address, at});
        break;
    case Kind::Leave:
        if (!playerId)
            break;
        ok = db_.execute(QStringLiteral("UPDATE sessions SET left_at = ? "
                                        "WHERE server_id = ? AND player_id = ? AND left_at IS NULL"),
                         {at, *serverId, *playerId});
        break;
    case Kind::Ban: {
        const QVariant secondsLeft = event.secondsLeft ? QVariant(*event.secondsLeft)
                                                       : QVariant(QMetaType::fromType<qint64>());
        QSqlQuery* update = db_.run(QStringLiteral("UPDATE bans SET last_seen = ?, period = ?, seconds_left = ? "
                                                   "WHERE server_id = ? AND ban = ? AND went IS NULL"),
                                    {at, event.banPeriod, secondsLeft, *serverId, event.ban});
        ok = update != nullptr;
        if (ok && update->numRowsAffected() == 0)
            ok = db_.execute(QStringLiteral("INSERT INTO bans (server_id, ban, is_address, period, seconds_left, "
                                            "appeared, last_seen) VALUES (?, ?, ?, ?, ?, ?, ?)"),
                             {*serverId, event.ban, int(event.banIsAddress), event.banPeriod, secondsLeft, at, at});
        break;
    }
    case Kind::Unban:
        ok = db_.execute(QStringLiteral("UPDATE bans SET went = ? WHERE server_id = ? AND ban = ? AND went IS NULL"),
                         {at, *serverId, event.ban});
        break;
    case Kind::Action:
        ok = db_.execute(QStringLiteral("INSERT INTO actions (at, server_id, user_name, what, outcome) "
                                        "VALUES (?, ?, ?, ?, ?)"),
                         {at, *serverId, event.user, event.text, event.outcome});
        break;
    case Kind::Rename:
    case Kind::Address:
    case Kind::Map:
    case Kind::Watched:
    case Kind::Rule:
    case Kind::Schedule:
    case Kind::Drift: break;
    }
    if (!ok)
        return false;
    // A player's join and leave are their session's row, which holds all they
    // say; kept again here they would more than double what a session costs.
    if (playerId && (event.kind == Kind::Join || event.kind == Kind::Leave))
        return true;

    QString detail = event.text;
    QString outcome = event.outcome;
    if (event.kind == Kind::Map) {
        detail = event.map;
    } else if (event.kind == Kind::Ban || event.kind == Kind::Unban) {
        detail = event.ban;
        outcome = event.banPeriod;
    } else if (event.kind == Kind::Rule && event.dryRun) {
        outcome += QStringLiteral(" (dry run)");
    }
    return db_.execute(QStringLiteral("INSERT INTO events (at, server_id, kind, player_id, name, address, previous, "
                                      "detail, outcome, user_name) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                       {at, *serverId, QString::fromLatin1(eventName(event.kind)),
                        playerId ? QVariant(*playerId) : QVariant(QMetaType::fromType<qint64>()),
                        textOrNull(event.name), textOrNull(event.address), textOrNull(event.previous),
                        textOrNull(detail), textOrNull(outcome), textOrNull(event.user)});
}

bool BatchWriter::write(const PopulationSample& sample)
{
    const qint64 at = msecs(sample.time);
    const auto serverId = server(sample.server, QString(), at);
    return serverId
        && db_.execute(QStringLiteral("INSERT INTO samples (server_id, at, players, max_players, map) "
                                      "VALUES (?, ?, ?, ?, ?)"),
                       {*serverId, at, sample.players,
                        sample.maxPlayers ? QVariant(*sample.maxPlayers) : QVariant(QMetaType::fromType<int>()),
                        sample.map});
}

bool BatchWriter::finish()
{
    for (auto it = serverLastSeen_.cbegin(); it != serverLastSeen_.cend(); ++it) {
        if (!db_.execute(QStringLiteral("UPDATE servers SET last_seen = ? WHERE id = ? AND last_seen < ?"),
                         {it.value(), it.key(), it.value()}))
            return false;
    }
    return true;
}

} // namespace

PlayerStore::PlayerStore(StoreLocation location)
    : location_(std::move(location))
    , connectionName_(QStringLiteral("ravelin-store-%1").arg(connectionCount.fetchAndAddRelaxed(1)))
{ }

PlayerStore::~PlayerStore() = default;

bool PlayerStore::fail(const QString& what)
{
    lastError_ = what;
    return false;
}

bool PlayerStore::isOpen() const
{
    return connection_ && connection_->db.isOpen();
}

void PlayerStore::close()
{
    connection_.reset();
}

bool PlayerStore::open()
{
    lastError_.clear();
    close();
    reconnect_ = false;
    const bool connected = location_.backend == StoreLocation::Backend::Sqlite ? connectSqlite() : connectPostgres();
    if (!connected || !migrate()) {
        close();
        return false;
    }
    return true;
}

bool PlayerStore::connectSqlite()
{
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
        return fail(QStringLiteral("Qt's SQLite driver is missing (the package libqt6sql6-sqlite)"));
    const QString& path = location_.path;
    if (!makePrivateFolderFor(path))
        return fail(QStringLiteral("The folder of %1 could not be made").arg(path));
    if (!QFileInfo::exists(path)) {
        // The store is the user's own: made 0600 before SQLite sees it, and
        // its journal files take the same mode.
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            return fail(QStringLiteral("%1 could not be made: %2").arg(path, QString::fromLocal8Bit(strerror(errno))));
        if (fd >= 0)
            ::close(fd);
    }
    connection_ = std::make_unique<Connection>();
    connection_->name = connectionName_;
    connection_->db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName_);
    connection_->db.setDatabaseName(path);
    connection_->db.setConnectOptions(
        QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(qint64(location_.busyTimeout.count())));
    if (!connection_->db.open())
        return fail(errorText(connection_->db.lastError()));
    const QVariant mode = connection_->value(QStringLiteral("PRAGMA journal_mode=WAL"));
    if (mode.toString().compare(QStringLiteral("wal"), Qt::CaseInsensitive) != 0)
        return fail(QStringLiteral("%1 could not be switched to write-ahead logging: %2")
                        .arg(path, mode.isValid() ? mode.toString() : connection_->error));
    if (!connection_->execute(QStringLiteral("PRAGMA foreign_keys=ON")))
        return fail(connection_->error);
    return true;
}

bool PlayerStore::connectPostgres()
{
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
        return fail(QStringLiteral("Qt's PostgreSQL driver is missing (the package libqt6sql6-psql)"));
    connection_ = std::make_unique<Connection>();
    connection_->name = connectionName_;
    connection_->postgres = true;
    connection_->db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connectionName_);
    QSqlDatabase& db = connection_->db;
    db.setHostName(location_.host);
    if (location_.port > 0)
        db.setPort(location_.port);
    db.setUserName(location_.user);
    db.setPassword(location_.password);
    db.setDatabaseName(location_.database);
    // A server that does not answer is a failed write, not a hung writer.
    QStringList options = location_.options.split(u';', Qt::SkipEmptyParts);
    if (!location_.options.contains(QStringLiteral("connect_timeout=")))
        options.append(QStringLiteral("connect_timeout=10"));
    if (!location_.options.contains(QStringLiteral("application_name=")))
        options.append(QStringLiteral("application_name=ravelin"));
    db.setConnectOptions(options.join(u';'));
    if (!db.open())
        return fail(errorText(db.lastError()));
    // Notices such as "already exists, skipping" are no news.
    if (!connection_->execute(QStringLiteral("SET client_min_messages TO WARNING")))
        return fail(connection_->error);
    return true;
}

bool PlayerStore::migrate()
{
    Connection& db = *connection_;
    if (!db.execute(QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version "
                                   "(version INTEGER NOT NULL, applied BIGINT NOT NULL)")))
        return fail(db.error);
    if (!db.begin())
        return fail(db.error);
    // Two programs opening a new store at once: the second waits and then finds it made.
    if (db.postgres && !db.execute(QStringLiteral("LOCK TABLE schema_version IN SHARE ROW EXCLUSIVE MODE"))) {
        db.rollback();
        return fail(db.error);
    }
    const QVariant current = db.value(QStringLiteral("SELECT COALESCE(MAX(version), 0) FROM schema_version"));
    if (!current.isValid()) {
        db.rollback();
        return fail(db.error);
    }
    const int version = current.toInt();
    if (version > int(kMigrations.size())) {
        db.rollback();
        return fail(QStringLiteral("The store has schema version %1, made by a newer Ravelin; this one knows "
                                   "versions up to %2")
                        .arg(version)
                        .arg(kMigrations.size()));
    }
    const QString rowId = db.postgres ? QStringLiteral("BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY")
                                      : QStringLiteral("INTEGER PRIMARY KEY");
    for (int next = version + 1; next <= int(kMigrations.size()); ++next) {
        for (QString statement : kMigrations[next - 1]) {
            statement.replace(QStringLiteral("{id}"), rowId);
            // DDL is run once, unprepared, and not kept among the statements.
            QSqlQuery query(db.db);
            if (!query.exec(statement)) {
                const QString why = errorText(query.lastError());
                db.rollback();
                return fail(QStringLiteral("Migration to schema version %1 failed: %2").arg(next).arg(why));
            }
        }
        if (!db.execute(QStringLiteral("INSERT INTO schema_version (version, applied) VALUES (?, ?)"),
                        {next, msecs(QDateTime::currentDateTimeUtc())})) {
            db.rollback();
            return fail(db.error);
        }
    }
    if (!db.commit()) {
        db.rollback();
        return fail(db.error);
    }
    return true;
}

int PlayerStore::schemaVersion()
{
    if (!isOpen())
        return 0;
    const QVariant version = connection_->value(QStringLiteral("SELECT COALESCE(MAX(version), 0) FROM schema_version"));
    return version.isValid() ? version.toInt() : 0;
}

bool PlayerStore::reopenIfNeeded()
{
    if (isOpen() && !reconnect_)
        return true;
    return open();
}

bool PlayerStore::record(const QList<WatchEvent>& events, const QList<PopulationSample>& samples)
{
    lastError_.clear();
    if (!reopenIfNeeded())
        return false;
    Connection& db = *connection_;
    auto failed = [&] {
        db.rollback();
        reconnect_ = true;
        return fail(db.error);
    };
    if (!db.begin()) {
        reconnect_ = true;
        return fail(db.error);
    }
    BatchWriter writer(db);
    for (const WatchEvent& event : events) {
        // An event without a time cannot be placed in history; the rest of the poll still can.
        if (!event.time.isValid())
            continue;
        if (!writer.write(event))
            return failed();
    }
    for (const PopulationSample& sample : samples) {
        if (sample.time.isValid() && !writer.write(sample))
            return failed();
    }
    if (!writer.finish() || !db.commit())
        return failed();
    return true;
}

bool PlayerStore::addNote(const QString& playerKey, const QString& text, const QString& author, const QDateTime& time)
{
    lastError_.clear();
    if (!reopenIfNeeded())
        return false;
    Connection& db = *connection_;
    const qint64 at = msecs(time);
    if (!db.begin()) {
        reconnect_ = true;
        return fail(db.error);
    }
    const QString hash = isHash(playerKey) ? playerKey : QString();
    QVariant id;
    if (db.execute(QStringLiteral("INSERT INTO players (player_key, hash, first_seen, last_seen) VALUES (?, ?, ?, ?) "
                                  "ON CONFLICT (player_key) DO NOTHING"),
                   {playerKey, hash, at, at}))
        id = db.value(QStringLiteral("SELECT id FROM players WHERE player_key = ?"), {playerKey});
    if (!id.isValid()
        || !db.execute(QStringLiteral("INSERT INTO notes (player_id, at, author, body) VALUES (?, ?, ?, ?)"),
                       {id, at, author, text})
        || !db.commit()) {
        db.rollback();
        reconnect_ = true;
        return fail(db.error);
    }
    return true;
}

bool PlayerStore::removeOlderThan(int days, const QDateTime& now)
{
    lastError_.clear();
    if (days <= 0)
        return true;
    if (!reopenIfNeeded())
        return false;
    Connection& db = *connection_;
    const qint64 cutoff = msecs(now.addDays(-days));
    // A player with a note, or on a server now, keeps their names and addresses.
    static const QString noted = QStringLiteral(
        "NOT EXISTS (SELECT 1 FROM notes WHERE notes.player_id = %1) AND NOT EXISTS "
        "(SELECT 1 FROM sessions WHERE sessions.player_id = %1 AND sessions.left_at IS NULL)");
    const QStringList statements = {
        QStringLiteral("DELETE FROM events WHERE at < ?"),
        QStringLiteral("DELETE FROM samples WHERE at < ?"),
        QStringLiteral("DELETE FROM actions WHERE at < ?"),
        QStringLiteral("DELETE FROM bans WHERE last_seen < ?"),
        QStringLiteral("DELETE FROM sessions WHERE left_at < ?"),
        // The runner reads when each schedule last ran to know what it missed.
        QStringLiteral("DELETE FROM schedule_runs WHERE started < ? AND id <> ") + kNewestRunOfItsPair,
        // An undo goes back to the newest snapshot of a server, however old.
        QStringLiteral("DELETE FROM snapshots WHERE taken < ? AND id <> ") + kNewestSnapshotOfItsServer,
        QStringLiteral("DELETE FROM player_names WHERE last_seen < ? AND ")
            + noted.arg(QStringLiteral("player_names.player_id")),
        QStringLiteral("DELETE FROM player_addresses WHERE last_seen < ? AND ")
            + noted.arg(QStringLiteral("player_addresses.player_id")),
        QStringLiteral("DELETE FROM players WHERE last_seen < ? AND ") + noted.arg(QStringLiteral("players.id"))
            + QStringLiteral(" AND NOT EXISTS (SELECT 1 FROM sessions WHERE sessions.player_id = players.id)"
                             " AND NOT EXISTS (SELECT 1 FROM events WHERE events.player_id = players.id)"
                             " AND NOT EXISTS (SELECT 1 FROM player_names WHERE player_names.player_id = players.id)"
                             " AND NOT EXISTS (SELECT 1 FROM player_addresses "
                             "WHERE player_addresses.player_id = players.id)"),
    };
    if (!db.begin()) {
        reconnect_ = true;
        return fail(db.error);
    }
    for (const QString& statement : statements) {
        if (!db.execute(statement, {cutoff})) {
            db.rollback();
            reconnect_ = true;
            return fail(db.error);
        }
    }
    if (!db.commit()) {
        db.rollback();
        reconnect_ = true;
        return fail(db.error);
    }
    return true;
}

QList<PlayerHistory> PlayerStore::findPlayers(const QString& query, int limit)
{
    lastError_.clear();
    QList<PlayerHistory> found;
    if (!reopenIfNeeded())
        return found;
    Connection& db = *connection_;
    const QString text = query.trimmed();

    QString sql = QStringLiteral("SELECT id, player_key, hash, first_seen, last_seen FROM players WHERE id IN "
                                 "(SELECT player_id FROM player_names WHERE folded LIKE ? ESCAPE '\\')");
    QVariantList values = {likePattern(folded(text))};
    if (isHash(text)) {
        sql += QStringLiteral(" OR player_key = ? OR player_key = ?");
        values << text.toLower() << text.toUpper();
    }
    if (!QHostAddress(text).isNull()) {
        sql += QStringLiteral(" OR id IN (SELECT player_id FROM player_addresses WHERE address = ?)");
        values << text;
    }
    sql += QStringLiteral(" ORDER BY last_seen DESC, id LIMIT ?");
    values << std::max(limit, 0);

    QList<qint64> ids;
    QSqlQuery* players = db.run(sql, values);
    if (!players) {
        reconnect_ = true;
        fail(db.error);
        return found;
    }
    while (players->next()) {
        ids.append(players->value(0).toLongLong());
        PlayerHistory history;
        history.key = players->value(1).toString();
        history.hash = players->value(2).toString();
        history.firstSeen = timeFrom(players->value(3));
        history.lastSeen = timeFrom(players->value(4));
        found.append(history);
    }
    players->finish();

    auto readSeen = [&](const QString& table, const QString& column, qint64 id, QList<SeenText>& into) {
        QSqlQuery* rows = db.run(QStringLiteral("SELECT %1, first_seen, last_seen FROM %2 WHERE player_id = ? "
                                                "ORDER BY last_seen DESC, %1")
                                     .arg(column, table),
                                 {id});
        if (!rows)
            return false;
        while (rows->next())
            into.append({rows->value(0).toString(), timeFrom(rows->value(1)), timeFrom(rows->value(2))});
        rows->finish();
        return true;
    };
    for (qsizetype i = 0; i < found.size(); ++i) {
        PlayerHistory& history = found[i];
        const qint64 id = ids[i];
        if (!readSeen(QStringLiteral("player_names"), QStringLiteral("name"), id, history.names)
            || !readSeen(QStringLiteral("player_addresses"), QStringLiteral("address"), id, history.addresses)) {
            fail(db.error);
            return {};
        }
        QSqlQuery* sessions = db.run(
            QStringLiteral("SELECT servers.name, sessions.player_number, sessions.name, sessions.address, "
                           "sessions.joined, sessions.left_at FROM sessions JOIN servers ON servers.id = "
                           "sessions.server_id WHERE sessions.player_id = ? ORDER BY servers.name, sessions.joined"),
            {id});
        if (!sessions) {
            fail(db.error);
            return {};
        }
        while (sessions->next())
            history.sessions.append({sessions->value(0).toString(), sessions->value(1).toInt(),
                                     sessions->value(2).toString(), sessions->value(3).toString(),
                                     timeFrom(sessions->value(4)), timeFrom(sessions->value(5))});
        sessions->finish();
        QSqlQuery* notes = db.run(
            QStringLiteral("SELECT at, author, body FROM notes WHERE player_id = ? ORDER BY at, id"), {id});
        if (!notes) {
            fail(db.error);
            return {};
        }
        while (notes->next())
            history.notes.append({timeFrom(notes->value(0)), notes->value(1).toString(), notes->value(2).toString()});
        notes->finish();
        if (!history.hash.isEmpty()) {
            history.bans = readBans(QStringLiteral("WHERE ban = ? AND is_address = 0 ORDER BY placed_at DESC, "
                                                   "ban_records.id DESC"),
                                    {banKeyText(history.hash)});
            if (!lastError_.isEmpty())
                return {};
        }
    }
    return found;
}

bool PlayerStore::write(const QString& statement, const QVariantList& values)
{
    lastError_.clear();
    if (!reopenIfNeeded())
        return false;
    if (!connection_->execute(statement, values)) {
        reconnect_ = true;
        return fail(connection_->error);
    }
    return true;
}

std::optional<qint64> PlayerStore::serverId(const QString& name, qint64 at)
{
    // A server first met in a ban record has no address yet; its polls give it one.
    const QVariant id = connection_->value(
        QStringLiteral("INSERT INTO servers (name, address, first_seen, last_seen) VALUES (?, ?, ?, ?) "
                       "ON CONFLICT (name) DO UPDATE SET address = servers.address RETURNING id"),
        {name, QString(), at, at});
    if (!id.isValid())
        return std::nullopt;
    return id.toLongLong();
}

bool PlayerStore::recordBan(const BanRecord& record)
{
    lastError_.clear();
    if (!reopenIfNeeded())
        return false;
    Connection& db = *connection_;
    const qint64 at = msecs(record.placed);
    if (!db.begin()) {
        reconnect_ = true;
        return fail(db.error);
    }
    const std::optional<qint64> server = serverId(record.server, at);
    const QVariant seconds = record.period == BanRecord::Period::Seconds && record.seconds
        ? QVariant(*record.seconds)
        : QVariant(QMetaType::fromType<qint64>());
    const QVariant lifted = record.lifted.isValid() ? QVariant(msecs(record.lifted))
                                                    : QVariant(QMetaType::fromType<qint64>());
    if (!server
        || !db.execute(QStringLiteral("INSERT INTO ban_records (server_id, ban, is_address, player_name, period, "
                                      "seconds, reason, message, placed_by, placed_at, lifted_at, lifted_by, "
                                      "lift_reason) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                       {*server, banKeyText(record.ban), int(record.isAddress), textOrNull(record.playerName),
                        banPeriodName(record.period), seconds, record.reason, record.message, record.placedBy, at,
                        lifted, textOrNull(record.liftedBy), textOrNull(record.liftReason)})
        || !db.commit()) {
        db.rollback();
        reconnect_ = true;
        return fail(db.error);
    }
    return true;
}

bool PlayerStore::recordBanLifted(const BanLift& lift, bool* found)
{
    if (found)
        *found = false;
    lastError_.clear();
    if (!reopenIfNeeded())
        return false;
    QSqlQuery* update = connection_->run(
        QStringLiteral("UPDATE ban_records SET lifted_at = ?, lifted_by = ?, lift_reason = ? WHERE id = "
                       "(SELECT id FROM ban_records WHERE server_id = (SELECT id FROM servers WHERE name = ?) "
                       "AND ban = ? AND lifted_at IS NULL ORDER BY placed_at DESC, id DESC LIMIT 1)"),
        {msecs(lift.time), lift.by, lift.why, lift.server, banKeyText(lift.ban)});
    if (!update) {
        reconnect_ = true;
        return fail(connection_->error);
    }
    if (found)
        *found = update->numRowsAffected() > 0;
    update->finish();
    return true;
}

QList<BanRecord> PlayerStore::readBans(const QString& where, const QVariantList& values)
{
    QList<BanRecord> records;
    QSqlQuery* rows = connection_->run(
        QStringLiteral("SELECT servers.name, ban, is_address, player_name, period, seconds, reason, message, "
                       "placed_by, placed_at, lifted_at, lifted_by, lift_reason FROM ban_records JOIN servers ON "
                       "servers.id = ban_records.server_id ")
            + where,
        values);
    if (!rows) {
        reconnect_ = true;
        fail(connection_->error);
        return records;
    }
    while (rows->next()) {
        BanRecord record;
        record.server = rows->value(0).toString();
        record.ban = rows->value(1).toString();
        record.isAddress = rows->value(2).toInt() != 0;
        record.playerName = rows->value(3).toString();
        record.period = banPeriodFrom(rows->value(4).toString()).value_or(BanRecord::Period::Perm);
        if (!rows->value(5).isNull())
            record.seconds = rows->value(5).toLongLong();
        record.reason = rows->value(6).toString();
        record.message = rows->value(7).toString();
        record.placedBy = rows->value(8).toString();
        record.placed = timeFrom(rows->value(9));
        record.lifted = timeFrom(rows->value(10));
        record.liftedBy = rows->value(11).toString();
        record.liftReason = rows->value(12).toString();
        records.append(record);
    }
    rows->finish();
    return records;
}

QList<BanRecord> PlayerStore::banRecords(const QString& ban)
{
    lastError_.clear();
    if (!reopenIfNeeded())
        return {};
    return readBans(QStringLiteral("WHERE ban = ? ORDER BY placed_at DESC, ban_records.id DESC"), {banKeyText(ban)});
}

QList<BanRecord> PlayerStore::newestBanRecords()
{
    lastError_.clear();
    if (!reopenIfNeeded())
        return {};
    return readBans(QStringLiteral("WHERE ban_records.id = (SELECT newest.id FROM ban_records newest WHERE "
                                   "newest.ban = ban_records.ban ORDER BY newest.placed_at DESC, newest.id DESC "
                                   "LIMIT 1) ORDER BY ban"),
                    {});
}

std::optional<qint64> PlayerStore::addWatchEntry(const WatchEntry& entry)
{
    lastError_.clear();
    if (const QString problem = watchEntryProblem(entry); !problem.isEmpty()) {
        fail(problem);
        return std::nullopt;
    }
    if (!reopenIfNeeded())
        return std::nullopt;
    const QVariant id = connection_->value(
        QStringLiteral("INSERT INTO watchlist (kind, pattern, note, added_by, added_at) VALUES (?, ?, ?, ?, ?) "
                       "RETURNING id"),
        {watchKindName(entry.kind), entry.pattern.trimmed(), entry.note, entry.addedBy, msecs(entry.added)});
    if (!id.isValid()) {
        reconnect_ = true;
        fail(connection_->error);
        return std::nullopt;
    }
    return id.toLongLong();
}

bool PlayerStore::removeWatchEntry(qint64 id)
{
    return write(QStringLiteral("DELETE FROM watchlist WHERE id = ?"), {id});
}

QList<WatchEntry> PlayerStore::watchlist()
{
    lastError_.clear();
    QList<WatchEntry> entries;
    if (!reopenIfNeeded())
        return entries;
    // The statement has no parameter and is run unprepared.
    QSqlQuery* rows = connection_->run(
        QStringLiteral("SELECT id, kind, pattern, note, added_by, added_at FROM watchlist ORDER BY added_at, id"));
    if (!rows) {
        reconnect_ = true;
        fail(connection_->error);
        return entries;
    }
    while (rows->next()) {
        const std::optional<WatchEntry::Kind> kind = watchKindFrom(rows->value(1).toString());
        if (!kind)
            continue; // made by a newer program
        entries.append({rows->value(0).toLongLong(), *kind, rows->value(2).toString(), rows->value(3).toString(),
                        rows->value(4).toString(), timeFrom(rows->value(5))});
    }
    rows->finish();
    return entries;
}

QStringList PlayerStore::notedKeys()
{
    lastError_.clear();
    QStringList keys;
    if (!reopenIfNeeded())
        return keys;
    // The statement has no parameter and is run unprepared.
    QSqlQuery* rows = connection_->run(
        QStringLiteral("SELECT DISTINCT players.player_key FROM notes JOIN players ON players.id = notes.player_id"));
    if (!rows) {
        reconnect_ = true;
        fail(connection_->error);
        return keys;
    }
    while (rows->next())
        keys.append(rows->value(0).toString());
    rows->finish();
    return keys;
}

QString scheduleRunProblem(const ScheduleRun& run)
{
    if (run.schedule.isEmpty())
        return QStringLiteral("A run of a schedule must name its schedule");
    if (run.server.isEmpty())
        return QStringLiteral("The run of %1 must name its server").arg(run.schedule);
    if (!run.started.isValid())
        return QStringLiteral("The run of %1 on %2 has no start time").arg(run.schedule, run.server);
    return {};
}

QString snapshotProblem(const StateSnapshot& snapshot)
{
    return snapshot.server.isEmpty() ? QStringLiteral("A snapshot must name its server") : QString();
}

bool PlayerStore::recordScheduleRun(const ScheduleRun& run)
{
    lastError_.clear();
    if (const QString problem = scheduleRunProblem(run); !problem.isEmpty())
        return fail(problem);
    if (!reopenIfNeeded())
        return false;
    Connection& db = *connection_;
    const qint64 at = msecs(run.started);
    if (!db.begin()) {
        reconnect_ = true;
        return fail(db.error);
    }
    const std::optional<qint64> server = serverId(run.server, at);
    const QVariant finished = run.finished.isValid() ? QVariant(msecs(run.finished))
                                                     : QVariant(QMetaType::fromType<qint64>());
    if (!server
        || !db.execute(QStringLiteral("INSERT INTO schedule_runs (schedule, server_id, started, finished, commands, "
                                      "replies, outcome, manual) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"),
                       {run.schedule, *server, at, finished, jsonText(run.commands), jsonText(run.replies), run.outcome,
                        int(run.manual)})
        || !db.commit()) {
        db.rollback();
        reconnect_ = true;
        return fail(db.error);
    }
    return true;
}

QList<ScheduleRun> PlayerStore::readScheduleRuns(const QString& where, const QVariantList& values)
{
    QList<ScheduleRun> runs;
    QSqlQuery* rows = connection_->run(
        QStringLiteral("SELECT schedule, servers.name, started, finished, commands, replies, outcome, manual FROM "
                       "schedule_runs JOIN servers ON servers.id = schedule_runs.server_id ")
            + where,
        values);
    if (!rows) {
        reconnect_ = true;
        fail(connection_->error);
        return runs;
    }
    while (rows->next()) {
        ScheduleRun run;
        run.schedule = rows->value(0).toString();
        run.server = rows->value(1).toString();
        run.started = timeFrom(rows->value(2));
        run.finished = timeFrom(rows->value(3));
        run.commands = listFromJson(rows->value(4).toString());
        run.replies = listFromJson(rows->value(5).toString());
        run.outcome = rows->value(6).toString();
        run.manual = rows->value(7).toInt() != 0;
        runs.append(run);
    }
    rows->finish();
    return runs;
}

QList<ScheduleRun> PlayerStore::lastScheduleRuns()
{
    lastError_.clear();
    if (!reopenIfNeeded())
        return {};
    return readScheduleRuns(QStringLiteral("WHERE schedule_runs.id = ") + kNewestRunOfItsPair
                                + QStringLiteral(" ORDER BY schedule, servers.name"),
                            {});
}

QList<ScheduleRun> PlayerStore::scheduleRuns(const QString& schedule, int limit)
{
    lastError_.clear();
    if (!reopenIfNeeded())
        return {};
    return readScheduleRuns(QStringLiteral("WHERE schedule = ? ORDER BY started DESC, schedule_runs.id DESC LIMIT ?"),
                            {schedule, std::max(limit, 0)});
}

std::optional<qint64> PlayerStore::saveSnapshot(const QString& server, const ServerState& state, const QString& label,
                                                const QString& user, const QDateTime& taken)
{
    lastError_.clear();
    if (server.isEmpty()) {
        fail(QStringLiteral("A snapshot must name its server"));
        return std::nullopt;
    }
    if (!reopenIfNeeded())
        return std::nullopt;
    Connection& db = *connection_;
    const qint64 at = msecs(taken);
    if (!db.begin()) {
        reconnect_ = true;
        fail(db.error);
        return std::nullopt;
    }
    const std::optional<qint64> serverNumber = serverId(server, at);
    QVariant id;
    if (serverNumber) {
        id = db.value(QStringLiteral("INSERT INTO snapshots (taken, server_id, label, state, user_name) "
                                     "VALUES (?, ?, ?, ?, ?) RETURNING id"),
                      {at, *serverNumber, label, serverStateJson(state), user});
    }
    if (!id.isValid() || !db.commit()) {
        db.rollback();
        reconnect_ = true;
        fail(db.error);
        return std::nullopt;
    }
    return id.toLongLong();
}

std::optional<QList<StateSnapshot>> PlayerStore::readSnapshots(const QString& where, const QVariantList& values,
                                                               bool withState)
{
    QSqlQuery* rows = connection_->run(
        QStringLiteral("SELECT snapshots.id, taken, servers.name, label, user_name, %1 FROM snapshots "
                       "JOIN servers ON servers.id = snapshots.server_id ")
                .arg(withState ? QStringLiteral("state") : QStringLiteral("''"))
            + where,
        values);
    if (!rows) {
        reconnect_ = true;
        fail(connection_->error);
        return std::nullopt;
    }
    QList<StateSnapshot> snapshots;
    while (rows->next()) {
        StateSnapshot snapshot;
        snapshot.id = rows->value(0).toLongLong();
        snapshot.taken = timeFrom(rows->value(1));
        snapshot.server = rows->value(2).toString();
        snapshot.label = rows->value(3).toString();
        snapshot.user = rows->value(4).toString();
        if (withState) {
            // A snapshot that cannot be read back must not pass for an empty state.
            std::optional<ServerState> state = serverStateFromJson(rows->value(5).toString());
            if (!state) {
                rows->finish();
                fail(QStringLiteral("Snapshot %1 of %2 cannot be read").arg(snapshot.id).arg(snapshot.server));
                return std::nullopt;
            }
            snapshot.state = std::move(*state);
        }
        snapshots.append(snapshot);
    }
    rows->finish();
    return snapshots;
}

QList<StateSnapshot> PlayerStore::latestSnapshots(const QStringList& servers, const QString& label)
{
    lastError_.clear();
    if (!reopenIfNeeded())
        return {};
    const std::optional<QList<StateSnapshot>> newest = label.isEmpty()
        ? readSnapshots(QStringLiteral("WHERE snapshots.id = ") + kNewestSnapshotOfItsServer
                            + QStringLiteral(" ORDER BY servers.name"),
                        {}, true)
        : readSnapshots(QStringLiteral("WHERE label = ? AND snapshots.id = ") + kNewestSnapshotOfItsServerAndLabel
                            + QStringLiteral(" ORDER BY servers.name"),
                        {label}, true);
    if (!newest)
        return {};
    if (servers.isEmpty())
        return *newest;
    QList<StateSnapshot> chosen;
    for (const StateSnapshot& snapshot : *newest) {
        if (servers.contains(snapshot.server))
            chosen.append(snapshot);
    }
    return chosen;
}

std::optional<StateSnapshot> PlayerStore::snapshot(qint64 id)
{
    lastError_.clear();
    if (!reopenIfNeeded())
        return std::nullopt;
    const std::optional<QList<StateSnapshot>> found = readSnapshots(QStringLiteral("WHERE snapshots.id = ?"), {id},
                                                                    true);
    if (!found)
        return std::nullopt;
    if (found->isEmpty()) {
        fail(QStringLiteral("There is no snapshot %1").arg(id));
        return std::nullopt;
    }
    return found->first();
}

QList<StateSnapshot> PlayerStore::snapshotsTaken(const QString& server, int limit)
{
    lastError_.clear();
    if (!reopenIfNeeded())
        return {};
    const QString order = QStringLiteral("ORDER BY taken DESC, snapshots.id DESC LIMIT ?");
    const std::optional<QList<StateSnapshot>> found = server.isEmpty()
        ? readSnapshots(order, {std::max(limit, 0)}, false)
        : readSnapshots(QStringLiteral("WHERE servers.name = ? ") + order, {server, std::max(limit, 0)}, false);
    return found.value_or(QList<StateSnapshot>());
}

bool PlayerStore::apply(const StoreChange& change)
{
    if (const auto* record = std::get_if<BanRecord>(&change))
        return recordBan(*record);
    if (const auto* lift = std::get_if<BanLift>(&change))
        return recordBanLifted(*lift);
    if (const auto* entry = std::get_if<WatchEntry>(&change))
        return addWatchEntry(*entry).has_value();
    if (const auto* run = std::get_if<ScheduleRun>(&change))
        return recordScheduleRun(*run);
    if (const auto* kept = std::get_if<StateSnapshot>(&change)) {
        const QDateTime taken = kept->taken.isValid() ? kept->taken : QDateTime::currentDateTimeUtc();
        return saveSnapshot(kept->server, kept->state, kept->label, kept->user, taken).has_value();
    }
    return removeWatchEntry(std::get<WatchEntryRemoval>(change).id);
}
