#pragma once

// One server brought to a desired state, over whatever sends its commands (a
// session of the command line's own, or the Fleet window's watch): its live
// state read, the plan made; for an apply, the live state kept as a snapshot
// first, the plan's commands sent one at a time, the state read back and
// checked. A server that fails in the middle, or does not read back as
// wanted, is put back as the snapshot shows, and says so. An undo is an apply
// whose wanted state is a snapshot.

#include "desired/desired_plan.h"
#include "desired/state_applier.h"
#include "desired/state_reader.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// How one server's change ended.
struct ChangeReport
{
    enum class Result {
        Planned,    // a plan only: `plan` says what would change
        Unchanged,  // nothing to do: the server was as wanted
        Applied,    // every command went through and the server reads back as wanted
        RolledBack, // it failed or did not read back as wanted; it was put back as the snapshot shows
        Failed,     // it failed, and could not be put back (or nothing was changed: `applied` is 0)
    };

    QString server;
    Result result = Result::Failed;
    ServerPlan plan;
    std::optional<ServerState> before; // the live state read first, as kept in the snapshot
    int applied = 0;                   // commands of the plan that went through
    QString problem;                   // why it failed or was rolled back, in words
};

class ServerChange : public QObject
{
    Q_OBJECT

public:
    // Keeps the live state before anything is sent: false stops the change
    // (nothing is sent without a snapshot to go back to).
    using SnapshotKeeper = std::function<bool(const ServerState& before)>;

    ServerChange(QString server, CommandSender send, QObject* parent = nullptr);
    ~ServerChange() override;

    const QString& server() const { return server_; }

    // Reads and plans; `finished` with Planned (or Failed) follows.
    void plan(const DesiredServer& want);
    // Reads, plans, keeps a snapshot, applies and checks.
    void apply(const DesiredServer& want, SnapshotKeeper keep);
    // Brings the server back to `snapshot`: its rotation and settings, and its
    // bans with the time they had left less the time passed since.
    void undo(const ServerState& snapshot, SnapshotKeeper keep);

signals:
    void finished(const ChangeReport& report);
    // Each command as its reply ends.
    void progress(const QByteArray& command, const QByteArray& reply);

private:
    enum class Step { Plan, Apply, Undo };
    void start(Step step, QList<QByteArray> settings);
    void onRead(const ServerState& live);
    void onApplied(const ApplyOutcome& outcome);
    void onRolledBack(const ApplyOutcome& outcome);
    void finish(ChangeReport::Result result, const QString& problem = {});

    QString server_;
    CommandSender send_;
    std::unique_ptr<StateReader> reader_;
    std::unique_ptr<StateApplier> applier_;
    Step step_ = Step::Plan;
    DesiredServer want_;
    std::optional<ServerState> snapshot_; // for an undo: the state to reach
    SnapshotKeeper keep_;
    ChangeReport report_;
    QString failure_; // why the apply failed, kept across the roll-back
};

// The settings a plan or a snapshot reads: those named, in a stable order.
QList<QByteArray> settingNames(const QMap<QByteArray, QByteArray>& settings);
