// The Fleet window's Desired State page: the desired-state file planned
// against every saved server that is up, each plan shown as its changes; Apply
// and Undo run the same server changes as the command line, over the fleet's
// own watches, at most one change per server at a time.

#include "app/dialogs.h"
#include "app/fleet_window.h"
#include "app/text_codec.h"
#include "app/window_parts.h"
#include "core/counted.h"
#include "storage/file_locations.h"
#include "store/player_lookup.h"
#include "store/store_writer.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

const QString kBeforeApply = QStringLiteral("before apply");
const QString kBeforeUndo = QStringLiteral("before undo");

} // namespace

QWidget* FleetWindow::createDesiredPage()
{
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("fleetDesiredPage"));
    desiredLabel_ = makeStatusLabel(page, "desiredLabel", QStringLiteral("Desired state status"));
    planTree_ = makeRowTable(page, "planTree", QStringLiteral("Plan"),
                             {QStringLiteral("Server"), QStringLiteral("Plan")});
    planTree_->setRootIsDecorated(true);
    planTree_->setUniformRowHeights(false);
    auto* planLabel = new QLabel(QStringLiteral("Ser&ver plans:"), page);
    planLabel->setBuddy(planTree_);
    // Every letter of "Plan" and "Apply" is another page's mnemonic already.
    planButton_ = makeButton(page, "planButton", QStringLiteral("Plan"));
    applyButton_ = makeButton(page, "applyButton", QStringLiteral("Apply"));
    undoButton_ = makeButton(page, "undoButton", QStringLiteral("Und&o"));

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(desiredLabel_);
    layout->addWidget(planLabel);
    layout->addWidget(planTree_, 1);
    layout->addLayout(makeButtonRow({planButton_, applyButton_, undoButton_}));

    connect(planButton_, &QPushButton::clicked, this, [this] { guard_.run([this] { onPlanClicked(); }); });
    connect(applyButton_, &QPushButton::clicked, this, [this] { guard_.run([this] { onApplyClicked(); }); });
    connect(undoButton_, &QPushButton::clicked, this, [this] { guard_.run([this] { onUndoClicked(); }); });
    // What the store kept before earlier applies is read as the page opens.
    connect(pages_, &QTabWidget::currentChanged, this, [this, page] {
        if (pages_->currentWidget() == page)
            guard_.run([this] { readStoredSnapshots(); });
    });
    desiredLabel_->setText(options_.desiredStatePath.isEmpty()
                               ? QStringLiteral("No desired-state file is set.")
                               : QStringLiteral("Press Plan to read %1 and compare every server that is up with it.")
                                     .arg(options_.desiredStatePath));
    showDesiredRows();
    return page;
}

QStringList FleetWindow::savedServerNames() const
{
    QStringList names;
    for (const SavedServer& server : servers_.servers())
        names.append(toDisplay(server.name));
    return names;
}

bool FleetWindow::readDesiredFile()
{
    desired_.reset();
    const QString& path = options_.desiredStatePath;
    if (path.isEmpty()) {
        desiredLabel_->setText(QStringLiteral("No desired-state file is set."));
        return false;
    }
    const DesiredStateRead read = readDesiredStateFile(path);
    if (!read.problems.isEmpty()) {
        QStringList problems;
        for (const FileProblem& problem : read.problems)
            problems.append(problem.text(path));
        desiredLabel_->setText(QStringLiteral("The desired-state file has problems; nothing is planned:\n")
                               + problems.join(u'\n'));
        for (const QString& problem : std::as_const(problems))
            say(problem);
        return false;
    }
    desired_ = read.state;
    QStringList status{QStringLiteral("%1: read.").arg(path)};
    const QStringList saved = savedServerNames();
    for (const DesiredOverride& override : read.state.overrides) {
        if (!saved.contains(override.name))
            status.append(QStringLiteral("%1:%2:%3: there is no saved server \"%4\"; its table is not used.")
                              .arg(path)
                              .arg(override.line)
                              .arg(override.column)
                              .arg(override.name));
    }
    desiredLabel_->setText(status.join(u'\n'));
    return true;
}

void FleetWindow::readStoredSnapshots()
{
    if (!lookup_)
        return;
    connect(
        lookup_.get(), &PlayerLookup::latestSnapshotsRead, this,
        [this](const QList<StateSnapshot>& snapshots, const QString& error) {
            guard_.run([&] {
                if (!error.isEmpty()) {
                    say(error);
                    return;
                }
                keptInStore_.clear();
                for (const StateSnapshot& snapshot : snapshots)
                    keptInStore_.insert(snapshot.server, snapshot.state);
                updateDesiredButtons();
            });
        },
        Qt::SingleShotConnection);
    lookup_->readLatestSnapshots(savedServerNames(), kBeforeApply);
}

void FleetWindow::onPlanClicked()
{
    readStoredSnapshots();
    const bool read = readDesiredFile();
    for (const QString& server : savedServerNames()) {
        if (changes_.contains(server))
            continue;
        DesiredRow& row = desiredRows_[server];
        row.lines.clear();
        row.pending = false;
        if (!read) {
            row.summary = QStringLiteral("not planned");
            continue;
        }
        startChange(server, DesiredStep::Plan,
                    [want = desired_->desiredFor(server)](ServerChange& change) { change.plan(want); });
    }
    showDesiredRows();
}

QStringList FleetWindow::desiredTargets(const QStringList& names, const QString& caption, const QString& question)
{
    const QList<QTreeWidgetItem*> chosen = planTree_->selectedItems();
    if (!chosen.isEmpty()) {
        const QTreeWidgetItem* item = chosen.first();
        while (item->parent())
            item = item->parent();
        return {item->text(0)};
    }
    // Every server at once only when the user says so.
    if (names.isEmpty() || !options_.dialogs
        || !options_.dialogs->askYesNo(this, caption, question.arg(names.join(QStringLiteral(", ")))))
        return {};
    return names;
}

void FleetWindow::onApplyClicked()
{
    if (!desired_) {
        say(QStringLiteral("Press Plan first: nothing is planned."));
        return;
    }
    QStringList pending;
    for (const QString& server : savedServerNames()) {
        if (desiredRows_.value(server).pending)
            pending.append(server);
    }
    if (pending.isEmpty() && planTree_->selectedItems().isEmpty()) {
        say(QStringLiteral("No server has changes planned."));
        return;
    }
    const QStringList targets = desiredTargets(pending, QStringLiteral("Apply"),
                                               QStringLiteral("Apply the planned changes to %1?"));
    for (const QString& server : targets) {
        if (!desiredRows_.value(server).pending) {
            say(QStringLiteral("%1: no changes are planned; press Plan to compare it again.").arg(server));
            continue;
        }
        startChange(server, DesiredStep::Apply,
                    [want = desired_->desiredFor(server),
                     keep = keepSnapshot(server, kBeforeApply)](ServerChange& change) { change.apply(want, keep); });
    }
    showDesiredRows();
}

void FleetWindow::onUndoClicked()
{
    QStringList kept;
    for (const QString& server : savedServerNames()) {
        if (keptThisRun_.contains(server) || keptInStore_.contains(server))
            kept.append(server);
    }
    if (kept.isEmpty() && planTree_->selectedItems().isEmpty()) {
        say(QStringLiteral("No snapshot is kept to go back to."));
        return;
    }
    const QStringList targets = desiredTargets(kept, QStringLiteral("Undo"),
                                               QStringLiteral("Put %1 back as they were before the last apply?"));
    for (const QString& server : targets) {
        // This run's own snapshot is newer than any the store had when read.
        const auto ours = keptThisRun_.constFind(server);
        const auto stored = keptInStore_.constFind(server);
        if (ours == keptThisRun_.cend() && stored == keptInStore_.cend()) {
            say(QStringLiteral("%1: no snapshot is kept to go back to.").arg(server));
            continue;
        }
        const ServerState snapshot = ours != keptThisRun_.cend() ? *ours : *stored;
        startChange(server, DesiredStep::Undo,
                    [snapshot, keep = keepSnapshot(server, kBeforeUndo)](ServerChange& change) {
                        change.undo(snapshot, keep);
                    });
    }
    showDesiredRows();
}

ServerChange::SnapshotKeeper FleetWindow::keepSnapshot(const QString& server, const QString& label)
{
    return [self = QPointer(this), server, label](const ServerState& before) {
        if (!self)
            return false;
        if (self->options_.storeWriter) {
            const QDateTime taken = before.readAt.isValid() ? before.readAt : QDateTime::currentDateTimeUtc();
            const QString problem = self->options_.storeWriter->submitChange(
                StateSnapshot{0, taken, server, label, localUserName(), before});
            if (!problem.isEmpty()) {
                self->say(
                    QStringLiteral("%1: the snapshot cannot be kept (%2); nothing was sent.").arg(server, problem));
                return false;
            }
        } else {
            self->say(QStringLiteral("%1: no player store is set: the snapshot %2 is kept for this run only.")
                          .arg(server, label));
        }
        if (label == kBeforeApply)
            self->keptThisRun_.insert(server, before);
        return true;
    };
}

void FleetWindow::startChange(const QString& server, DesiredStep step, const std::function<void(ServerChange&)>& begin)
{
    if (changes_.contains(server)) {
        say(QStringLiteral("%1: a change is under way; wait for it to end.").arg(server));
        return;
    }
    const std::optional<qsizetype> index = fleet_.indexOf(server);
    ServerWatch* watch = index ? &fleet_.server(*index) : nullptr;
    DesiredRow& row = desiredRows_[server];
    if (!watch || !watch->isUp()) {
        row = {QStringLiteral("not up"), {}, false};
        say(QStringLiteral("%1: not up; nothing was read or sent.").arg(server));
        return;
    }
    // The watch may go (the servers were changed) while the change runs.
    CommandSender send = [watch = QPointer<ServerWatch>(watch)](const QByteArray& command) -> CommandReply* {
        return watch ? watch->send(command) : nullptr;
    };
    auto change = std::make_unique<ServerChange>(server, std::move(send));
    ServerChange* running = change.get();
    connect(running, &ServerChange::finished, this,
            [this, step](const ChangeReport& report) { guard_.run([&] { onChangeFinished(report, step); }); });
    if (step != DesiredStep::Plan) {
        connect(running, &ServerChange::progress, this,
                [this, server](const QByteArray& command, const QByteArray& reply) {
                    const QString line = QStringLiteral("%1: %2: %3")
                                             .arg(server, toDisplayLine(command),
                                                  reply.trimmed().isEmpty() ? QStringLiteral("done")
                                                                            : toDisplayLine(reply.trimmed()));
                    say(line);
                    emit logLine(toBytes(QStringLiteral("Fleet: ") + line));
                });
    }
    changes_[server] = std::move(change);
    row.summary = step == DesiredStep::Plan ? QStringLiteral("planning")
        : step == DesiredStep::Apply        ? QStringLiteral("applying")
                                            : QStringLiteral("undoing");
    updateDesiredButtons();
    begin(*running);
}

void FleetWindow::onChangeFinished(const ChangeReport& report, DesiredStep step)
{
    // It is still emitting: it goes once the event loop has a turn.
    if (const auto it = changes_.find(report.server); it != changes_.end()) {
        it->second.release()->deleteLater();
        changes_.erase(it);
    }
    DesiredRow& row = desiredRows_[report.server];
    row.lines = report.plan.lines();
    row.pending = false;
    const bool undo = step == DesiredStep::Undo;
    switch (report.result) {
    case ChangeReport::Result::Planned:
        row.pending = !report.plan.changes.isEmpty();
        row.summary = row.pending ? counted(report.plan.changes.size(), "change", "changes")
                                  : QStringLiteral("as wanted");
        break;
    case ChangeReport::Result::Unchanged:
        row.summary = undo ? QStringLiteral("as the snapshot") : QStringLiteral("as wanted");
        break;
    case ChangeReport::Result::Applied:
        row.summary = undo ? QStringLiteral("undone") : QStringLiteral("applied");
        break;
    case ChangeReport::Result::RolledBack: row.summary = QStringLiteral("rolled back: ") + report.problem; break;
    case ChangeReport::Result::Failed: row.summary = QStringLiteral("failed: ") + report.problem; break;
    }
    const QString line = QStringLiteral("%1: %2").arg(report.server, row.summary);
    say(line);
    if (step != DesiredStep::Plan)
        emit logLine(toBytes(QStringLiteral("Fleet: ") + line));
    showDesiredRows();
}

void FleetWindow::showDesiredRows()
{
    // The rows are made anew; the server chosen stays chosen.
    QString chosen;
    if (const QList<QTreeWidgetItem*> selected = planTree_->selectedItems(); !selected.isEmpty()) {
        const QTreeWidgetItem* item = selected.first();
        while (item->parent())
            item = item->parent();
        chosen = item->text(0);
    }
    planTree_->clear();
    for (const QString& server : savedServerNames()) {
        const DesiredRow row = desiredRows_.value(server);
        auto* item = new QTreeWidgetItem(planTree_, {server, row.summary});
        for (const QString& line : row.lines)
            new QTreeWidgetItem(item, {QString(), line});
        item->setExpanded(true);
        if (server == chosen)
            item->setSelected(true);
    }
    fitRowColumns(planTree_);
    updateDesiredButtons();
}

void FleetWindow::updateDesiredButtons()
{
    const bool idle = changes_.empty();
    bool pending = false;
    for (const DesiredRow& row : std::as_const(desiredRows_))
        pending = pending || row.pending;
    planButton_->setEnabled(idle);
    applyButton_->setEnabled(idle && pending);
    undoButton_->setEnabled(idle && !(keptThisRun_.isEmpty() && keptInStore_.isEmpty()));
}
