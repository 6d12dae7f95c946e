// The Fleet window's Automation page: the automation file run while the
// window is open, each schedule with its next run and last result and a Run
// now button, each rule with its action; and which servers a watch service
// runs the automation of instead.

#include "app/desktop.h"
#include "app/fleet_window.h"
#include "app/text_codec.h"
#include "app/window_parts.h"
#include "automation/automation_runner.h"
#include "core/counted.h"
#include "storage/file_locations.h"
#include "store/player_lookup.h"
#include "store/store_writer.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QString localTime(const std::optional<QDateTime>& time)
{
    return time ? time->toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")) : QStringLiteral("never");
}

QString runText(const std::optional<ScheduleRun>& run)
{
    if (!run)
        return QStringLiteral("not run yet");
    return QStringLiteral("%1 on %2 at %3").arg(run->outcome, run->server, localTime(run->started));
}

} // namespace

QWidget* FleetWindow::createAutomationPage()
{
    network_ = new QNetworkAccessManager(this);
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("fleetAutomationPage"));
    automationLabel_ = makeStatusLabel(page, "automationLabel", QStringLiteral("Automation status"));
    scheduleList_ = makeRowTable(page, "scheduleList", QStringLiteral("Schedules"),
                                 {QStringLiteral("Schedule"), QStringLiteral("When"), QStringLiteral("Servers"),
                                  QStringLiteral("Next run"), QStringLiteral("Last result")});
    ruleList_ = makeRowTable(page, "ruleList", QStringLiteral("Rules"),
                             {QStringLiteral("Rule"), QStringLiteral("Action"), QStringLiteral("Servers")});
    auto* schedulesLabel = new QLabel(QStringLiteral("S&chedules:"), page);
    schedulesLabel->setBuddy(scheduleList_);
    auto* rulesLabel = new QLabel(QStringLiteral("R&ules:"), page);
    rulesLabel->setBuddy(ruleList_);
    runNowButton_ = makeButton(page, "runNowButton", QStringLiteral("&Run now"));
    reloadAutomationButton_ = makeButton(page, "reloadAutomationButton", QStringLiteral("Re&load file"));

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(automationLabel_);
    layout->addWidget(schedulesLabel);
    layout->addWidget(scheduleList_, 2);
    layout->addLayout(makeButtonRow({runNowButton_, reloadAutomationButton_}));
    layout->addWidget(rulesLabel);
    layout->addWidget(ruleList_, 1);

    connect(runNowButton_, &QPushButton::clicked, this, [this] { guard_.run([this] { onRunNowClicked(); }); });
    connect(reloadAutomationButton_, &QPushButton::clicked, this, [this] {
        guard_.run([this] {
            stopAutomation();
            startAutomation();
        });
    });
    connect(scheduleList_, &QTreeWidget::currentItemChanged, this,
            [this] { runNowButton_->setEnabled(automation_ && scheduleList_->currentItem()); });
    showAutomation();
    return page;
}

void FleetWindow::startAutomation()
{
    if (automation_ || options_.automationPath.isEmpty())
        return;
    automationWanted_ = true;
    if (!QFileInfo::exists(options_.automationPath)) {
        automationLabel_->setText(QStringLiteral("No automation file: write %1 to run schedules, rules and webhooks "
                                                 "(see ravelin-automation(5)).")
                                      .arg(options_.automationPath));
        return;
    }
    if (!lookup_) {
        runAutomation({});
        return;
    }
    // The last runs say what was missed and what each last did.
    auto* connection = new QMetaObject::Connection;
    *connection = connect(
        lookup_.get(), &PlayerLookup::lastScheduleRunsRead, this,
        [this, connection](const QList<ScheduleRun>& runs, const QString& error) {
            disconnect(*connection);
            delete connection;
            guard_.run([&] {
                if (!error.isEmpty())
                    say(QStringLiteral("The last runs of the schedules cannot be read: %1").arg(error));
                if (automationWanted_)
                    runAutomation(runs);
            });
        });
    lookup_->readLastScheduleRuns();
}

void FleetWindow::runAutomation(const QList<ScheduleRun>& lastRuns)
{
    if (automation_)
        return;
    const AutomationRead read = readAutomationFile(options_.automationPath);
    if (!read.ok()) {
        QStringList problems;
        for (const FileProblem& problem : read.problems)
            problems.append(problem.text(options_.automationPath));
        automationLabel_->setText(QStringLiteral("The automation file has problems; nothing of it runs:\n")
                                  + problems.join(u'\n'));
        for (const QString& problem : std::as_const(problems))
            say(problem);
        showAutomation();
        return;
    }
    AutomationRunner::Options options;
    options.claimFolder = options_.claimFolder;
    options.network = network_;
    options.user = localUserName();
    automation_ = std::make_unique<AutomationRunner>(read.file, fleet_, options);
    connect(automation_.get(), &AutomationRunner::eventMade, this,
            [this](const WatchEvent& event) { guard_.run([&] { onAutomationEvent(event); }); });
    connect(automation_.get(), &AutomationRunner::scheduleRan, this, [this](const ScheduleRun& run) {
        if (options_.storeWriter)
            options_.storeWriter->submitChange(run);
    });
    connect(automation_.get(), &AutomationRunner::logLine, this,
            [this](const QByteArray& line) { say(QString::fromUtf8(line)); });
    // The main window's log writes the audit log.
    connect(automation_.get(), &AutomationRunner::auditLine, this,
            [this](const QByteArray&, const QByteArray& line) { emit logLine(line); });
    connect(automation_.get(), &AutomationRunner::changed, this, [this] { guard_.run([this] { showAutomation(); }); });
    automation_->start(lastRuns);
    showAutomation();
}

void FleetWindow::stopAutomation()
{
    automationWanted_ = false;
    automation_.reset();
    showAutomation();
}

void FleetWindow::onAutomationEvent(const WatchEvent& event)
{
    if (options_.storeWriter)
        options_.storeWriter->submit({event});
    if (event.kind == WatchEvent::Kind::Action)
        say(QStringLiteral("%1: %2: %3").arg(event.server, event.text, event.outcome));
    if (event.kind == WatchEvent::Kind::Rule && options_.desktop) {
        const QString who = event.hash.isEmpty() ? event.name : QStringLiteral("%1 (%2)").arg(event.name, event.hash);
        const QString what = event.dryRun ? QStringLiteral("would %1 (dry run)").arg(event.outcome) : event.outcome;
        options_.desktop->notify(QStringLiteral("Rule \"%1\" on %2").arg(event.text, event.server),
                                 QStringLiteral("%1 from %2: %3").arg(who, event.address, what));
    }
}

void FleetWindow::showAutomation()
{
    // The rows are made anew; the one chosen stays chosen.
    const int chosen = scheduleList_->currentItem() ? scheduleList_->indexOfTopLevelItem(scheduleList_->currentItem())
                                                    : 0;
    scheduleList_->clear();
    ruleList_->clear();
    if (!automation_) {
        runNowButton_->setEnabled(false);
        if (!automationWanted_ && automationLabel_->text().isEmpty())
            automationLabel_->setText(QStringLiteral("Automation runs while this window is open."));
        return;
    }
    const AutomationFile& file = automation_->file();
    QStringList status{QStringLiteral("%1: %2, %3, %4.")
                           .arg(options_.automationPath, counted(file.schedules.size(), "schedule", "schedules"),
                                counted(file.rules.size(), "rule", "rules"),
                                counted(file.webhooks.size(), "webhook", "webhooks"))};
    for (const auto& [server, holder] : automation_->heldElsewhere())
        status.append(QStringLiteral("%1: %2 runs its automation; this window leaves it alone.").arg(server, holder));
    automationLabel_->setText(status.join(u'\n'));

    for (const AutomationRunner::ScheduleStatus& schedule : automation_->schedules()) {
        new QTreeWidgetItem(scheduleList_,
                            {schedule.name, schedule.timing, schedule.servers,
                             schedule.running ? QStringLiteral("running now") : localTime(schedule.next),
                             runText(schedule.last)});
    }
    for (const JoinRule& rule : file.rules) {
        const QString action = actionName(rule.action) + (rule.dryRun ? QStringLiteral(" (dry run)") : QString());
        new QTreeWidgetItem(ruleList_, {rule.name, action, rule.servers.text()});
    }
    if (QTreeWidgetItem* item = scheduleList_->topLevelItem(std::max(chosen, 0)))
        scheduleList_->setCurrentItem(item);
    fitRowColumns(scheduleList_);
    fitRowColumns(ruleList_);
    runNowButton_->setEnabled(scheduleList_->topLevelItemCount() > 0);
}

void FleetWindow::onRunNowClicked()
{
    const QTreeWidgetItem* item = scheduleList_->currentItem();
    if (!automation_ || !item) {
        say(QStringLiteral("Choose a schedule to run."));
        return;
    }
    say(QStringLiteral("Running schedule \"%1\" now.").arg(item->text(0)));
    automation_->runNow(scheduleList_->indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(item)));
}
