#pragma once

// Which program runs a server's automation. The window and a watch service
// may both be watching a server, but only one of them may run its schedules
// and rules, or a restart warning would be said twice and a player kicked
// twice. Each claims a server with a lock file named for its address, in the
// per-user state folder; whoever holds it runs the automation, the other
// leaves the server alone and tries again every minute, so that closing one
// hands the server to the other. A program that died loses its claims.

#include <QHash>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <memory>

class ServerClaims : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kRetryInterval{60000};

    // Lock files go in `folder`, made for the user alone; an empty folder
    // claims nothing and holds every server (for tests and one-off runs).
    explicit ServerClaims(QString folder, QObject* parent = nullptr);
    ~ServerClaims() override;

    // Claims these servers ("host:port" by name), lets go of any other, and
    // tries again every kRetryInterval for those another program holds.
    void claim(const QHash<QString, QString>& addressesByName);
    bool holds(const QString& name) const;
    // Who holds a server this program does not: "a watch service (ravelin-cli,
    // process 1234)"; empty when this program holds it.
    QString holder(const QString& name) const;

    void setRetryInterval(std::chrono::milliseconds interval) { retry_.setInterval(interval); }

signals:
    // A server was won or lost; holds() and holder() say the new state.
    void changed();

private:
    struct Claim
    {
        QString address;
        std::shared_ptr<QLockFile> lock; // shared only so that the table may copy it
        QString holder;
    };
    void tryAll();
    bool tryOne(Claim& claim);

    QString folder_;
    QHash<QString, Claim> claims_;
    QTimer retry_;
};
