#include "cli/automation_main.h"

#include "automation/automation_file.h"
#include "cli/exit_status.h"
#include "cli/server_choice.h"

#include <QDir>
#include <QFile>

#include <cstdio>

namespace {

QByteArray helpText()
{
    return "Usage: ravelin-cli automation check [FILE]\n"
           "       ravelin-cli automation next [FILE]\n"
           "check reads an automation file and says each fault with its line and column\n"
           "(exit status 2 when there is one); next prints when each schedule runs next,\n"
           "in local time. FILE is ~/.config/ravelin/automation.toml when not given.\n"
           "See ravelin-automation(5).\n";
}

int usage(const QByteArray& message)
{
    std::fprintf(stderr, "ravelin-cli: %s\nTry 'ravelin-cli automation --help'.\n", message.constData());
    return int(ExitStatus::Usage);
}

} // namespace

int automationMain(const QList<QByteArray>& arguments, const QDateTime& now, const QTimeZone& zone)
{
    const QByteArray verb = arguments.value(1);
    if (verb == "-h" || verb == "--help") {
        std::fputs(helpText().constData(), stdout);
        return 0;
    }
    if (verb != "check" && verb != "next")
        return usage(verb.isEmpty() ? "automation needs check or next"
                                    : "automation has no '" + verb + "'; it has check and next");
    if (arguments.size() > 3)
        return usage("automation " + verb + " takes one FILE");
    const QString path = arguments.size() == 3
        ? QFile::decodeName(arguments[2])
        : QDir(userFolders().userConfigDir).filePath(QStringLiteral("automation.toml"));

    const AutomationRead read = readAutomationFile(path);
    if (!read.ok()) {
        for (const FileProblem& problem : read.problems)
            std::fprintf(stderr, "%s\n", problem.text(path).toUtf8().constData());
        return int(ExitStatus::Usage);
    }
    const AutomationFile& file = read.file;
    if (verb == "check") {
        std::printf("%s: %lld schedules, %lld rules, %lld webhooks; no problems\n", QFile::encodeName(path).constData(),
                    qint64(file.schedules.size()), qint64(file.rules.size()), qint64(file.webhooks.size()));
        return 0;
    }
    for (const ScheduledJob& job : file.schedules) {
        // An "every" counts from when the watch starts or last ran it; from
        // now, here.
        const std::optional<QDateTime> next = std::holds_alternative<CronSchedule>(job.when)
            ? ScheduleTiming(std::get<CronSchedule>(job.when)).nextAfter(now, zone)
            : ScheduleTiming(std::get<std::chrono::seconds>(job.when), now).nextAfter(now, zone);
        const QString when = next ? next->toTimeZone(zone).toString(Qt::ISODate) : QStringLiteral("never");
        std::printf("%s\t%s\t%s\n", when.toUtf8().constData(), job.name.toUtf8().constData(),
                    job.whenText.toUtf8().constData());
    }
    return 0;
}
