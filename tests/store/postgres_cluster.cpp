#include "postgres_cluster.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <pwd.h>
#include <unistd.h>

namespace {

bool failWith(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return false;
}

// The newest installed PostgreSQL's programs, e.g. /usr/lib/postgresql/15/bin.
QString newestBinFolder()
{
    QStringList versions = QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCollator numeric;
    numeric.setNumericMode(true);
    std::sort(versions.begin(), versions.end(), numeric);
    for (auto it = versions.crbegin(); it != versions.crend(); ++it) {
        const QString bin = QStringLiteral("/usr/lib/postgresql/%1/bin").arg(*it);
        if (QFile::exists(bin + QStringLiteral("/initdb")) && QFile::exists(bin + QStringLiteral("/pg_ctl")))
            return bin;
    }
    return {};
}

} // namespace

PostgresCluster::~PostgresCluster()
{
    if (running_)
        run(QStringLiteral("pg_ctl"),
            {QStringLiteral("-D"), folder_->filePath(QStringLiteral("data")), QStringLiteral("-m"),
             QStringLiteral("immediate"), QStringLiteral("-w"), QStringLiteral("stop")},
            nullptr);
}

bool PostgresCluster::run(const QString& tool, const QStringList& arguments, QString* error) const
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    const QString program = binFolder_ + u'/' + tool;
    if (asPostgresAccount_)
        process.start(QStringLiteral("runuser"),
                      QStringList{QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--"), program}
                          + arguments);
    else
        process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return failWith(error, QStringLiteral("%1 failed: %2").arg(tool, QString::fromLocal8Bit(process.readAll())));
    return true;
}

bool PostgresCluster::start(QString* error)
{
    binFolder_ = newestBinFolder();
    if (binFolder_.isEmpty())
        return failWith(error,
                        QStringLiteral("PostgreSQL's initdb and pg_ctl are not installed "
                                       "(the Debian package postgresql; scripts/deps installs it)"));
    // A short path: a Unix socket's path may not be longer than about 100 bytes.
    folder_ = std::make_unique<QTemporaryDir>(QStringLiteral("/tmp/ravelin-pg-XXXXXX"));
    if (!folder_->isValid())
        return failWith(error, QStringLiteral("no temporary folder: %1").arg(folder_->errorString()));
    asPostgresAccount_ = ::geteuid() == 0;
    if (asPostgresAccount_) {
        const passwd* account = ::getpwnam("postgres");
        if (!account)
            return failWith(error,
                            QStringLiteral("run as root, the tests need the postgres account to run the server"));
        if (::chown(QFile::encodeName(folder_->path()).constData(), account->pw_uid, account->pw_gid) != 0)
            return failWith(error, QStringLiteral("the temporary folder could not be given to postgres"));
    }
    const QString data = folder_->filePath(QStringLiteral("data"));
    if (!run(QStringLiteral("initdb"),
             {QStringLiteral("-D"), data, QStringLiteral("--auth=trust"), QStringLiteral("--username=") + user(),
              QStringLiteral("--encoding=UTF8"), QStringLiteral("--no-locale"), QStringLiteral("--no-sync")},
             error))
        return false;
    return resume(error);
}

bool PostgresCluster::resume(QString* error)
{
    // Durability is not under test: a server that skips fsync starts and writes quicker.
    const QString options = QStringLiteral("-k %1 -c listen_addresses='' -c fsync=off -c synchronous_commit=off "
                                           "-c full_page_writes=off")
                                .arg(folder_->path());
    if (!run(QStringLiteral("pg_ctl"),
             {QStringLiteral("-D"), folder_->filePath(QStringLiteral("data")), QStringLiteral("-l"),
              folder_->filePath(QStringLiteral("server.log")), QStringLiteral("-o"), options, QStringLiteral("-w"),
              QStringLiteral("-t"), QStringLiteral("60"), QStringLiteral("start")},
             error))
        return false;
    running_ = true;
    return true;
}

bool PostgresCluster::stop(QString* error)
{
    if (!run(QStringLiteral("pg_ctl"),
             {QStringLiteral("-D"), folder_->filePath(QStringLiteral("data")), QStringLiteral("-m"),
              QStringLiteral("fast"), QStringLiteral("-w"), QStringLiteral("stop")},
             error))
        return false;
    running_ = false;
    return true;
}

bool PostgresCluster::createDatabase(const QString& name, QString* error)
{
    const QString connection = QStringLiteral("postgres-cluster-admin");
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
        db.setHostName(socketFolder());
        db.setUserName(user());
        db.setDatabaseName(QStringLiteral("postgres"));
        if (!db.open()) {
            failWith(error, db.lastError().text());
        } else {
            QSqlQuery query(db);
            ok = query.exec(QStringLiteral("CREATE DATABASE \"%1\"").arg(name));
            if (!ok)
                failWith(error, query.lastError().text());
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return ok;
}

QString PostgresCluster::urlFor(const QString& database) const
{
    return QStringLiteral("postgresql://%1@/%2?host=%3").arg(user(), database, socketFolder());
}
