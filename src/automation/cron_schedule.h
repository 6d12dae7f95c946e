#pragma once

// When a scheduled job is due: five-field cron expressions judged in a time
// zone's wall time, and "every" periods measured in real elapsed time.

#include <QDateTime>
#include <QString>
#include <QStringView>
#include <QTimeZone>

#include <chrono>
#include <cstdint>
#include <optional>
#include <variant>

// A five-field cron expression: minute hour day-of-month month day-of-week,
// with the meaning the classic cron daemon gives it.
class CronSchedule
{
public:
    // What is wrong with a schedule's text, said for a person. `column` is the
    // 1-based position in the text where the fault starts.
    struct Problem
    {
        int column = 1;
        QString message;
    };

    // Fields take numbers, "*", ranges "1-5", steps "*/15" and "10-50/10",
    // lists "1,15,30", month names jan..dec and weekday names sun..sat in any
    // case; 0 and 7 are both Sunday. Also @hourly, @daily, @midnight, @weekly,
    // @monthly, @yearly and @annually. An expression no date can match, such as
    // "0 0 30 2 *", is a problem too.
    static std::variant<CronSchedule, Problem> parse(QStringView text);

    // The first instant strictly after `after`, on a whole minute, at which the
    // schedule is due in `zone`'s wall time. A wall time that a spring-forward
    // skips runs at the first instant after the gap. A wall time that a
    // fall-back repeats runs once, at its first pass, unless the hour field is
    // a wildcard: then the job follows real time and runs in both passes.
    // Nothing when no run falls within the search horizon, which is long
    // enough for every schedule that parses. An invalid zone counts as UTC.
    std::optional<QDateTime> nextAfter(const QDateTime& after, const QTimeZone& zone) const;

private:
    CronSchedule() = default;

    // Whether the schedule runs on this day; weekday 0 is Sunday.
    bool matchesDay(int month, int day, int weekday) const;
    // The first matching wall minute in [from, limit), both counted in minutes
    // of naive local time since 1970-01-01 00:00.
    std::optional<std::int64_t> firstWallMatch(std::int64_t from, std::int64_t limit) const;

    std::uint64_t minutes_ = 0; // bit n: minute n
    std::uint32_t hours_ = 0;   // bit n: hour n
    std::uint32_t days_ = 0;    // bit n: day of month n, 1..31
    std::uint16_t months_ = 0;  // bit n: month n, 1..12
    std::uint8_t weekdays_ = 0; // bit n: weekday n, 0 = Sunday
    bool daysStarred_ = false;  // day-of-month field begins with '*'
    bool weekdaysStarred_ = false;
    bool hoursStarred_ = false; // hour field begins with '*': the job follows real time
};

// Reads an "every" period: a number and a unit, or several largest first
// ("1d", "2h", "30m", "1h30m", "90s"), in any case, blanks ignored. At least
// one minute and at most 366 days.
std::variant<std::chrono::seconds, CronSchedule::Problem> parseEvery(QStringView text);

// When one schedule is due: by a cron expression, or every period counted from
// an anchor (the moment the runner started, or the last run). A period P from
// anchor A is due at A+P, A+2P, and so on, by real elapsed time.
class ScheduleTiming
{
public:
    explicit ScheduleTiming(CronSchedule cron);
    ScheduleTiming(std::chrono::seconds period, QDateTime anchor);

    // The first instant strictly after `after` at which the schedule is due.
    std::optional<QDateTime> nextAfter(const QDateTime& after, const QTimeZone& zone) const;
    // True when some run fell due in (from, to]: what "missed = once" asks at start.
    bool dueBetween(const QDateTime& from, const QDateTime& to, const QTimeZone& zone) const;

private:
    struct Every
    {
        std::chrono::seconds period;
        QDateTime anchor;
    };
    std::variant<CronSchedule, Every> timing_;
};
