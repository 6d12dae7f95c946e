#pragma once

// A throwaway PostgreSQL server for tests: a cluster made by initdb in a
// temporary folder, listening on a Unix socket there and on no TCP port. Run
// as root (as CI is), the server runs as the postgres account, which owns the
// folder; PostgreSQL refuses to run as root.

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

class PostgresCluster
{
public:
    PostgresCluster() = default;
    ~PostgresCluster(); // stops the server

    PostgresCluster(const PostgresCluster&) = delete;
    PostgresCluster& operator=(const PostgresCluster&) = delete;

    // Makes the cluster and starts its server; false with `error` saying why.
    bool start(QString* error);
    // Stops the server (the cluster stays) and starts it again.
    bool stop(QString* error = nullptr);
    bool resume(QString* error = nullptr);

    // A new, empty database on the server.
    bool createDatabase(const QString& name, QString* error);

    QString socketFolder() const { return folder_ ? folder_->path() : QString(); }
    static QString user() { return QStringLiteral("ravelin"); }
    // postgresql://ravelin@/<database>?host=<socket folder>
    QString urlFor(const QString& database) const;

private:
    bool run(const QString& tool, const QStringList& arguments, QString* error) const;

    std::unique_ptr<QTemporaryDir> folder_;
    QString binFolder_;
    bool asPostgresAccount_ = false;
    bool running_ = false;
};
