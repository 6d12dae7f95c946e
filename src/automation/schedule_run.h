#pragma once

// One run of a scheduled job on one server: what was sent, what came back,
// and how it ended. The store keeps every run.

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

struct ScheduleRun
{
    QString schedule;     // the schedule's name in the automation file
    QString server;       // the saved server's name
    QDateTime started;    // in UTC
    QDateTime finished;   // in UTC
    QStringList commands; // as sent, one a line
    QStringList replies;  // the server's answer to each command, as shown
    QString outcome;      // "done", or what went wrong
    bool manual = false;  // started by Run now rather than by its time
};
