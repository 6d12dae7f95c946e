#include "cli/watch_config.h"

#include "admin/list_fields.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

WatchConfig parseWatchConfig(QByteArrayView text, const QString& path)
{
    WatchConfig config;
    qsizetype lineNumber = 0;
    const auto fail = [&](const QByteArray& message) {
        WatchConfig failed;
        failed.error = QFile::encodeName(path) + ':' + QByteArray::number(lineNumber) + ": " + message;
        return failed;
    };
    for (const QByteArrayView rawLine : QByteArray(text.toByteArray()).split('\n')) {
        ++lineNumber;
        const QByteArrayView line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qsizetype equals = line.indexOf('=');
        if (equals < 0)
            return fail("expected KEY = VALUE, found '" + line.toByteArray() + "'");
        const QByteArray key = line.first(equals).trimmed().toByteArray();
        const QByteArray value = line.sliced(equals + 1).trimmed().toByteArray();
        if (key == "servers" || key == "automation" || key == "desired") {
            QString file = QString::fromUtf8(value);
            if (file.startsWith(QStringLiteral("~/")))
                file = QDir::homePath() + file.mid(1);
            QString& setting = key == "servers" ? config.servers
                : key == "automation"           ? config.automation
                                                : config.desired;
            setting = QFileInfo(path).absoluteDir().absoluteFilePath(file);
        } else if (key == "database") {
            config.database = QString::fromUtf8(value);
        } else if (key == "interval") {
            const auto seconds = list_fields::wholeNumber(value);
            if (!seconds || *seconds < 5 || *seconds > 86400)
                return fail("the interval must be a whole number of seconds from 5 to 86400, not '" + value + "'");
            config.interval = std::chrono::seconds(*seconds);
        } else if (key == "retention-days") {
            const auto days = list_fields::wholeNumber(value);
            if (!days || *days < 1 || *days > 100000)
                return fail("the retention must be a whole number of days from 1, not '" + value + "'");
            config.retentionDays = int(*days);
        } else {
            return fail("unknown setting '" + key + "'");
        }
    }
    return config;
}

WatchConfig readWatchConfig(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        WatchConfig failed;
        failed.error = QFile::encodeName(path) + ": " + file.errorString().toLocal8Bit();
        return failed;
    }
    return parseWatchConfig(file.read(1024 * 1024), path);
}
