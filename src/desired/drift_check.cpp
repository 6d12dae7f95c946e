#include "desired/drift_check.h"

#include <QPointer>

DriftCheck::DriftCheck(DesiredState desired, Fleet& fleet, std::chrono::milliseconds interval, QObject* parent)
    : QObject(parent)
    , desired_(std::move(desired))
    , fleet_(fleet)
{
    timer_.setInterval(interval);
    connect(&timer_, &QTimer::timeout, this, &DriftCheck::checkAll);
}

DriftCheck::~DriftCheck() = default;

void DriftCheck::start()
{
    // A server's first look after it comes up is the moment to check it.
    connect(&fleet_, &Fleet::observed, this, [this](const QList<WatchEvent>&, const QList<PopulationSample>& samples) {
        for (const PopulationSample& sample : samples) {
            const std::optional<qsizetype> index = fleet_.indexOf(sample.server);
            if (index && !said_.contains(sample.server))
                check(fleet_.server(*index));
        }
    });
    timer_.start();
}

void DriftCheck::checkAll()
{
    for (qsizetype i = 0; i < fleet_.size(); ++i) {
        if (fleet_.server(i).isUp())
            check(fleet_.server(i));
    }
}

void DriftCheck::check(ServerWatch& watch)
{
    const QString name = watch.target().name;
    if (checking_.contains(name))
        return;
    QPointer<ServerWatch> target(&watch);
    auto change = std::make_shared<ServerChange>(name, [target](const QByteArray& command) -> CommandReply* {
        return target ? target->send(command) : nullptr;
    });
    checking_.insert(name, change);
    connect(change.get(), &ServerChange::finished, this, [this, name, target](const ChangeReport& report) {
        // Deleted later: this is its own signal.
        QTimer::singleShot(0, this, [this, name] { checking_.remove(name); });
        if (report.result == ChangeReport::Result::Failed) {
            emit logLine(
                QStringLiteral("%1: the desired state could not be compared: %2").arg(name, report.problem).toUtf8());
            return;
        }
        const QStringList lines = report.plan.lines();
        const auto said = said_.constFind(name);
        if ((said == said_.cend() && lines.isEmpty()) || (said != said_.cend() && *said == lines)) {
            said_.insert(name, lines);
            return;
        }
        said_.insert(name, lines);
        WatchEvent event;
        event.kind = WatchEvent::Kind::Drift;
        event.time = QDateTime::currentDateTimeUtc();
        event.server = name;
        if (target)
            event.serverAddress = QString::fromUtf8(target->target().host) + u':'
                + QString::number(target->target().port);
        event.text = lines.join(u'\n');
        emit drift(event);
    });
    change->plan(desired_.desiredFor(name));
}
