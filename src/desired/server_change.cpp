#include "desired/server_change.h"

QList<QByteArray> settingNames(const QMap<QByteArray, QByteArray>& settings)
{
    return settings.keys();
}

ServerChange::ServerChange(QString server, CommandSender send, QObject* parent)
    : QObject(parent)
    , server_(std::move(server))
    , send_(std::move(send))
{ }

ServerChange::~ServerChange() = default;

void ServerChange::plan(const DesiredServer& want)
{
    want_ = want;
    start(Step::Plan, settingNames(want.settings));
}

void ServerChange::apply(const DesiredServer& want, SnapshotKeeper keep)
{
    want_ = want;
    keep_ = std::move(keep);
    start(Step::Apply, settingNames(want.settings));
}

void ServerChange::undo(const ServerState& snapshot, SnapshotKeeper keep)
{
    snapshot_ = snapshot;
    keep_ = std::move(keep);
    start(Step::Undo, settingNames(snapshot.settings));
}

void ServerChange::start(Step step, QList<QByteArray> settings)
{
    step_ = step;
    report_ = ChangeReport{};
    report_.server = server_;
    failure_.clear();
    reader_ = std::make_unique<StateReader>(send_, settings);
    applier_ = std::make_unique<StateApplier>(send_, settings);
    connect(reader_.get(), &StateReader::read, this, &ServerChange::onRead);
    connect(reader_.get(), &StateReader::failed, this,
            [this](const StateFailure& failure) { finish(ChangeReport::Result::Failed, failure.message()); });
    connect(applier_.get(), &StateApplier::commandApplied, this,
            [this](int, const QByteArray& command, const QByteArray& reply) { emit progress(command, reply); });
    reader_->start();
}

void ServerChange::onRead(const ServerState& live)
{
    report_.before = live;
    if (step_ == Step::Undo)
        want_ = snapshotAsDesired(*snapshot_, live);
    report_.plan = planFor(live, want_);
    if (step_ == Step::Plan) {
        finish(ChangeReport::Result::Planned);
        return;
    }
    if (report_.plan.changes.isEmpty()) {
        finish(ChangeReport::Result::Unchanged);
        return;
    }
    if (report_.plan.commands.isEmpty()) {
        // Only what cannot be done is left: said, and nothing sent.
        finish(ChangeReport::Result::Failed, report_.plan.lines().join(QStringLiteral("; ")));
        return;
    }
    if (keep_ && !keep_(live)) {
        finish(ChangeReport::Result::Failed, QStringLiteral("the snapshot could not be kept, so nothing was sent"));
        return;
    }
    connect(applier_.get(), &StateApplier::finished, this, &ServerChange::onApplied, Qt::SingleShotConnection);
    const DesiredServer want = want_;
    applier_->apply(report_.plan.commands, [want](const ServerState& after) { return satisfies(after, want); });
}

void ServerChange::onApplied(const ApplyOutcome& outcome)
{
    report_.applied = outcome.applied;
    if (outcome.verified) {
        finish(ChangeReport::Result::Applied);
        return;
    }
    if (outcome.failure)
        failure_ = outcome.failure->message();
    else if (outcome.readFailure)
        failure_ = QStringLiteral("it could not be read back: ") + outcome.readFailure->message();
    else
        failure_ = QStringLiteral("it did not read back as wanted");
    if (outcome.applied == 0 && outcome.failure) {
        // Nothing changed: there is nothing to put back.
        finish(ChangeReport::Result::Failed, failure_);
        return;
    }
    if (!outcome.after) {
        finish(ChangeReport::Result::Failed, failure_ + QStringLiteral(", and it could not be put back"));
        return;
    }
    // Back to what it was before this change.
    const DesiredServer back = snapshotAsDesired(*report_.before, *outcome.after);
    const ServerPlan undo = planFor(*outcome.after, back);
    if (undo.commands.isEmpty()) {
        finish(ChangeReport::Result::RolledBack, failure_);
        return;
    }
    connect(applier_.get(), &StateApplier::finished, this, &ServerChange::onRolledBack, Qt::SingleShotConnection);
    applier_->apply(undo.commands, [back](const ServerState& after) { return satisfies(after, back); });
}

void ServerChange::onRolledBack(const ApplyOutcome& outcome)
{
    if (outcome.verified)
        finish(ChangeReport::Result::RolledBack, failure_);
    else
        finish(ChangeReport::Result::Failed, failure_ + QStringLiteral(", and putting it back failed too"));
}

void ServerChange::finish(ChangeReport::Result result, const QString& problem)
{
    report_.result = result;
    report_.problem = problem;
    emit finished(report_);
}
