#pragma once

// `ravelin-cli automation check [FILE]` says what is wrong with an automation
// file, each fault with its line and column; `ravelin-cli automation next
// [FILE]` says when each of its schedules runs next.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QTimeZone>

// `arguments` from the word "automation" on. `now` and `zone` are the
// clock's, but for tests.
int automationMain(const QList<QByteArray>& arguments, const QDateTime& now = QDateTime::currentDateTimeUtc(),
                   const QTimeZone& zone = QTimeZone::systemTimeZone());
