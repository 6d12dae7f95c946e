#include "automation/server_claims.h"

#include <QDir>
#include <QFile>

namespace {

// A lock file's name for an address: its letters and digits kept, the rest
// made '_', so that "[::1]:4711" is a plain file name.
QString lockName(const QString& address)
{
    QString name = address;
    for (QChar& c : name) {
        if (!c.isLetterOrNumber() && c != u'.' && c != u'-')
            c = u'_';
    }
    return name + QStringLiteral(".lock");
}

} // namespace

ServerClaims::ServerClaims(QString folder, QObject* parent)
    : QObject(parent)
    , folder_(std::move(folder))
{
    retry_.setInterval(kRetryInterval);
    connect(&retry_, &QTimer::timeout, this, &ServerClaims::tryAll);
}

ServerClaims::~ServerClaims() = default;

void ServerClaims::claim(const QHash<QString, QString>& addressesByName)
{
    for (auto it = claims_.begin(); it != claims_.end();) {
        if (addressesByName.value(it.key()) != it->address)
            it = claims_.erase(it); // its lock, if held, is let go
        else
            ++it;
    }
    if (!folder_.isEmpty() && QDir().mkpath(folder_))
        QFile::setPermissions(folder_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    for (auto it = addressesByName.cbegin(); it != addressesByName.cend(); ++it) {
        if (claims_.contains(it.key()))
            continue;
        Claim& claim = claims_[it.key()];
        claim.address = it.value();
        if (!folder_.isEmpty()) {
            claim.lock = std::make_shared<QLockFile>(QDir(folder_).filePath(lockName(claim.address)));
            // Held for as long as the program runs: never stale by age, only
            // when its process is gone.
            claim.lock->setStaleLockTime(0);
        }
    }
    tryAll();
}

bool ServerClaims::tryOne(Claim& claim)
{
    if (!claim.lock || claim.lock->isLocked()) {
        claim.holder.clear();
        return true;
    }
    // A folder that takes no lock file (read-only, full) cannot hold
    // another program's claim either: run the server's automation.
    if (claim.lock->tryLock(0) || claim.lock->error() != QLockFile::LockFailedError) {
        claim.holder.clear();
        return true;
    }
    qint64 pid = 0;
    QString host;
    QString program;
    if (claim.lock->getLockInfo(&pid, &host, &program)) {
        const QString who = program == QLatin1String("ravelin-cli") ? QStringLiteral("a watch service")
                                                                    : QStringLiteral("another Ravelin");
        claim.holder = QStringLiteral("%1 (%2, process %3)").arg(who, program).arg(pid);
    } else {
        claim.holder = QStringLiteral("another program");
    }
    return false;
}

void ServerClaims::tryAll()
{
    bool allHeld = true;
    bool moved = false;
    for (Claim& claim : claims_) {
        const QString before = claim.holder;
        const bool wasHeld = claim.lock && claim.lock->isLocked();
        allHeld = tryOne(claim) && allHeld;
        moved = moved || before != claim.holder || wasHeld != (claim.lock && claim.lock->isLocked());
    }
    if (allHeld)
        retry_.stop();
    else if (!retry_.isActive())
        retry_.start();
    if (moved)
        emit changed();
}

bool ServerClaims::holds(const QString& name) const
{
    const auto it = claims_.constFind(name);
    return it != claims_.cend() && it->holder.isEmpty();
}

QString ServerClaims::holder(const QString& name) const
{
    const auto it = claims_.constFind(name);
    return it == claims_.cend() ? QString() : it->holder;
}
