#pragma once

// Ban sync across a fleet: which key and address bans each server lacks that
// another server has, and the copier that adds them, one command at a time on
// each server, then reads that server's ban lists again to see each one there.
// Copying never removes a ban; removal is its own call, made only when the
// user asks for it.

#include "session/command_reply.h"
#include "watch/poll_diff.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

// One server's bans as one look read them: its key and address bans together.
struct ServerBans
{
    QString server;
    QList<SeenBan> bans;
    QDateTime readAt; // when the lists were read, so time left can be run down from it
};

// How a ban another server has is copied.
enum class BanCopy {
    Perm,      // for good
    Timed,     // with the time it has left
    RoundOnly, // every server that has it has it for the round only, which means nothing on another
    Unusable,  // a period this program cannot read, or a text no console command can carry
};

struct MissingBan
{
    QString ban; // the key hash or the address
    bool isAddress = false;
    BanCopy copy = BanCopy::Perm;
    // Timed: the most time left among the servers that have it, as read at `readAt`.
    std::optional<qint64> secondsLeft;
    QDateTime readAt;
    QStringList sources; // the servers that have it, in the order given

    bool isCopyable() const { return copy == BanCopy::Perm || copy == BanCopy::Timed; }
};

struct ServerLack
{
    QString server;
    QList<MissingBan> missing; // in the order the bans were first seen
};

// For each server, in the order given, the bans it lacks that another server
// has. A key and an address with the same text are different bans. A server
// that has a ban, whatever its period there, does not lack it. Of the periods
// the servers give a ban, a permanent one wins over a timed one, and of the
// timed ones the one that ends last; a ban that is only ever for the round is
// listed as not copyable. A server whose lists could not be read is left out
// by the caller: given no bans, it lacks them all.
QList<ServerLack> missingBans(const QList<ServerBans>& servers);

// What became of one ban of a copy or a removal.
struct BanSyncResult
{
    enum class Action { Copy, Remove };
    enum class Outcome {
        Copied,      // added, and there at the re-read
        Removed,     // removed, and gone at the re-read
        Expired,     // a timed ban that ran out before its turn came; not sent
        NotCopyable, // a round ban or an unusable one; not sent
        Failed,
    };
    enum class Failure {
        None,
        NotSent,        // the command never reached the server
        ConnectionLost, // the connection closed before the ban could be seen there
        NotPresent,     // the re-read did not show the copied ban
        StillPresent,   // the re-read still showed the removed ban
    };

    QString server;
    QString ban;
    bool isAddress = false;
    Action action = Action::Copy;
    Outcome outcome = Outcome::Failed;
    Failure failure = Failure::None;
    QByteArray command;                // what was sent, or would have been
    std::optional<qint64> secondsSent; // a timed ban's time as sent
};

// "not sent", "connection lost", "not present after re-read", ...
QString failureText(BanSyncResult::Failure failure);

// One server's results in a line for the view and the log:
// "EU 2: 3 bans copied, 1 failed (connection lost)".
QString syncSummary(const QString& server, const QList<BanSyncResult>& results);

// The command that adds a ban with the given time (none: for good), and the one that removes it.
QByteArray addBanCommand(const QString& ban, bool isAddress, std::optional<qint64> seconds);
QByteArray removeBanCommand(const QString& ban, bool isAddress);

class BanCopier : public QObject
{
    Q_OBJECT

public:
    // Sends one command on a server's session and gives the handle its answer comes to.
    using Send = std::function<CommandReply*(const QByteArray& command)>;

    struct CopyPlan
    {
        QString server;
        Send send;
        QList<MissingBan> bans; // the ones the user picked
    };
    struct RemovalPlan
    {
        QString server;
        Send send;
        QList<SeenBan> bans;
    };

    explicit BanCopier(QObject* parent = nullptr);
    ~BanCopier() override;

    // The clock time left is run down by; the system's by default.
    void setClock(std::function<QDateTime()> now) { now_ = std::move(now); }

    // Adds the bans of each plan to its server; the servers go side by side,
    // each one command at a time. False, and nothing done, while a run is under way.
    bool copy(const QList<CopyPlan>& plans);
    // Removes the bans of each plan from its server, by the same rule.
    bool remove(const QList<RemovalPlan>& plans);
    bool isRunning() const { return !runs_.empty(); }

signals:
    // One ban's outcome is known; `done` of `total` are.
    void progressed(const BanSyncResult& result, int done, int total);
    // A server's ban lists as the re-read after its commands found them.
    void banListsRead(const ServerBans& bans);
    // Every server of the run is done; every ban of the plans has its result.
    void finished(const QList<BanSyncResult>& results);

private:
    struct Item;
    struct Run;

    void start(std::vector<std::unique_ptr<Run>> runs);
    void sendNext(Run& run);
    void reread(Run& run);
    void verify(Run& run, const QList<SeenBan>& present);
    void giveUp(Run& run, BanSyncResult::Failure failure);
    void report(Item& item, BanSyncResult::Outcome outcome,
                BanSyncResult::Failure failure = BanSyncResult::Failure::None);
    void endRun(Run& run);

    std::function<QDateTime()> now_;
    std::vector<std::unique_ptr<Run>> runs_;
    QList<BanSyncResult> results_;
    int total_ = 0;
};
