#include "store_location.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>

namespace {

// libpq's own settings that a URL may carry besides where and who.
const QStringList kPassedOptions = {
    QStringLiteral("connect_timeout"),      QStringLiteral("application_name"), QStringLiteral("sslmode"),
    QStringLiteral("sslrootcert"),          QStringLiteral("sslcert"),          QStringLiteral("sslkey"),
    QStringLiteral("target_session_attrs"), QStringLiteral("options"),
};

std::optional<StoreLocation> fail(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return std::nullopt;
}

QString expandHome(const QString& path)
{
    if (path == u'~')
        return QDir::homePath();
    if (path.startsWith(QStringLiteral("~/")))
        return QDir::homePath() + path.mid(1);
    return path;
}

std::optional<StoreLocation> parseSqlite(const QString& path, QString* error)
{
    if (path.isEmpty())
        return fail(error, QStringLiteral("The database URL names no SQLite file"));
    StoreLocation location;
    location.backend = StoreLocation::Backend::Sqlite;
    location.path = QDir::cleanPath(QFileInfo(expandHome(path)).absoluteFilePath());
    return location;
}

// "%2F" and the like, as libpq decodes them; nothing when an escape is broken.
std::optional<QString> percentDecoded(const QString& text)
{
    static const QRegularExpression brokenEscape(QStringLiteral("%(?![0-9A-Fa-f]{2})"));
    if (text.contains(brokenEscape))
        return std::nullopt;
    return QUrl::fromPercentEncoding(text.toUtf8());
}

std::optional<int> portNumber(const QString& text)
{
    bool ok = false;
    const int port = text.toInt(&ok);
    if (!ok || port < 1 || port > 65535 || !text.front().isDigit())
        return std::nullopt;
    return port;
}

std::optional<StoreLocation> parsePostgres(const QString& url, qsizetype schemeEnd, QString* error)
{
    // The URL itself stays out of the error text: it may hold a password.
    auto reject = [&](const QString& why) { return fail(error, QStringLiteral("Bad PostgreSQL URL: %1").arg(why)); };

    QString rest = url.mid(schemeEnd);
    QString query;
    if (const qsizetype mark = rest.indexOf(u'?'); mark >= 0) {
        query = rest.mid(mark + 1);
        rest.truncate(mark);
    }
    QString path;
    if (const qsizetype slash = rest.indexOf(u'/'); slash >= 0) {
        path = rest.mid(slash + 1);
        rest.truncate(slash);
    }
    QString userInfo;
    if (const qsizetype at = rest.lastIndexOf(u'@'); at >= 0) {
        userInfo = rest.left(at);
        rest = rest.mid(at + 1);
    }

    StoreLocation location;
    location.backend = StoreLocation::Backend::Postgres;
    if (!userInfo.isEmpty()) {
        const qsizetype colon = userInfo.indexOf(u':');
        const auto user = percentDecoded(colon >= 0 ? userInfo.left(colon) : userInfo);
        const auto password = percentDecoded(colon >= 0 ? userInfo.mid(colon + 1) : QString());
        if (!user || !password)
            return reject(QStringLiteral("a broken %-escape in the user or password"));
        location.user = *user;
        location.password = *password;
    }

    // The host part: "host", "host:port", "[v6]:port" or nothing (libpq's default socket).
    if (rest.contains(u','))
        return reject(QStringLiteral("several hosts are not supported"));
    QString hostText = rest;
    QString portText;
    if (hostText.startsWith(u'[')) {
        const qsizetype close = hostText.indexOf(u']');
        if (close < 0)
            return reject(QStringLiteral("an IPv6 address without its closing ']'"));
        portText = hostText.mid(close + 1);
        hostText = hostText.mid(1, close - 1);
        if (!portText.isEmpty() && !portText.startsWith(u':'))
            return reject(QStringLiteral("text after the IPv6 address"));
        portText = portText.mid(1);
    } else if (const qsizetype colon = hostText.indexOf(u':'); colon >= 0) {
        portText = hostText.mid(colon + 1);
        hostText.truncate(colon);
    }
    const auto host = percentDecoded(hostText);
    if (!host)
        return reject(QStringLiteral("a broken %-escape in the host"));
    location.host = *host;
    if (!portText.isEmpty()) {
        const auto port = portNumber(portText);
        if (!port)
            return reject(QStringLiteral("the port \"%1\" is not a number from 1 to 65535").arg(portText));
        location.port = *port;
    }
    const auto database = percentDecoded(path);
    if (!database)
        return reject(QStringLiteral("a broken %-escape in the database name"));
    location.database = *database;

    QStringList options;
    for (const QString& pair : query.split(u'&', Qt::SkipEmptyParts)) {
        const qsizetype equals = pair.indexOf(u'=');
        const QString key = equals >= 0 ? pair.left(equals) : pair;
        const auto value = percentDecoded(equals >= 0 ? pair.mid(equals + 1) : QString());
        if (!value)
            return reject(QStringLiteral("a broken %-escape in the setting \"%1\"").arg(key));
        if (key == u"host" || key == u"hostaddr") {
            if (value->contains(u','))
                return reject(QStringLiteral("several hosts are not supported"));
            location.host = *value;
        } else if (key == u"port") {
            const auto port = portNumber(*value);
            if (!port)
                return reject(QStringLiteral("the port \"%1\" is not a number from 1 to 65535").arg(*value));
            location.port = *port;
        } else if (key == u"user") {
            location.user = *value;
        } else if (key == u"password") {
            location.password = *value;
        } else if (key == u"dbname") {
            location.database = *value;
        } else if (kPassedOptions.contains(key)) {
            // Qt's driver splits its options at ';', so a value may not hold one.
            if (value->contains(u';'))
                return reject(QStringLiteral("the setting \"%1\" may not hold ';'").arg(key));
            options.append(key + u'=' + *value);
        } else {
            return reject(QStringLiteral("the setting \"%1\" is not known").arg(key));
        }
    }
    location.options = options.join(u';');
    return location;
}

} // namespace

QString StoreLocation::description() const
{
    if (backend == Backend::Sqlite)
        return QStringLiteral("SQLite %1").arg(path);
    QString where = user.isEmpty() ? QString() : user + u'@';
    const bool socketFolder = host.startsWith(u'/');
    if (!socketFolder)
        where += host.contains(u':') ? u'[' + host + u']' : host;
    if (port > 0)
        where += u':' + QString::number(port);
    where += u'/' + database;
    if (socketFolder)
        where += QStringLiteral(" (socket in %1)").arg(host);
    return QStringLiteral("PostgreSQL %1").arg(where);
}

std::optional<StoreLocation> parseStoreLocation(const QString& url, QString* error)
{
    const QString trimmed = url.trimmed();
    if (trimmed.isEmpty())
        return fail(error, QStringLiteral("The database URL is empty"));
    for (const QString& scheme : {QStringLiteral("postgresql://"), QStringLiteral("postgres://")}) {
        if (trimmed.startsWith(scheme, Qt::CaseInsensitive))
            return parsePostgres(trimmed, scheme.size(), error);
    }
    if (trimmed.startsWith(QStringLiteral("sqlite:"), Qt::CaseInsensitive)) {
        QString path = trimmed.mid(7);
        // sqlite:///var/lib/x and sqlite://localhost/... are the URL spellings of a path.
        if (path.startsWith(QStringLiteral("//"))) {
            path = path.mid(2);
            if (path.startsWith(QStringLiteral("localhost/")))
                path = path.mid(9);
            if (!path.startsWith(u'/'))
                return fail(error, QStringLiteral("The SQLite URL names a host; only local files can be used"));
        }
        return parseSqlite(path, error);
    }
    static const QRegularExpression otherScheme(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*):"));
    if (const auto match = otherScheme.match(trimmed); match.hasMatch() && match.captured(1).size() > 1) {
        const QString scheme = match.captured(1);
        if (scheme.compare(QStringLiteral("postgresql"), Qt::CaseInsensitive) == 0
            || scheme.compare(QStringLiteral("postgres"), Qt::CaseInsensitive) == 0)
            return fail(error, QStringLiteral("Bad PostgreSQL URL: it must begin with %1://").arg(scheme));
        if (trimmed.mid(match.capturedLength()).startsWith(QStringLiteral("//")))
            return fail(error,
                        QStringLiteral("The database URL is of an unknown kind \"%1\"; "
                                       "use sqlite:PATH, a file path or postgresql://")
                            .arg(scheme));
    }
    return parseSqlite(trimmed, error);
}

QString defaultStorePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/ravelin/players.sqlite");
}

QString chooseStoreUrl(const QString& commandLine, const QString& setting)
{
    if (!commandLine.trimmed().isEmpty())
        return commandLine;
    const QString environment = qEnvironmentVariable("RAVELIN_DATABASE");
    if (!environment.trimmed().isEmpty())
        return environment;
    if (!setting.trimmed().isEmpty())
        return setting;
    return defaultStorePath();
}
