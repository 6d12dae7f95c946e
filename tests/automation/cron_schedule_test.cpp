// Cron expressions and "every" periods: what parses, what is refused and
// where, and when each schedule is next due, across month ends, leap years
// and daylight saving changes.

#include "automation/cron_schedule.h"
#include "support/printers.h"

#include <gtest/gtest.h>

namespace {

// Times in the tables are UTC, written "2027-03-28T01:00Z", so that a
// repeated wall time is never ambiguous.
QDateTime utc(const char* text)
{
    const QDateTime time = QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate);
    EXPECT_TRUE(time.isValid()) << text;
    return time.toUTC();
}

CronSchedule cron(const char* text)
{
    auto parsed = CronSchedule::parse(QString::fromLatin1(text));
    if (auto* problem = std::get_if<CronSchedule::Problem>(&parsed))
        ADD_FAILURE() << text << ": " << problem->message.toStdString();
    return std::get<CronSchedule>(std::move(parsed));
}

} // namespace

// That reading `text` gave this problem.
template <typename Parsed>
void expectProblem(const Parsed& parsed, const char* text, int column, const char* message)
{
    const auto* problem = std::get_if<CronSchedule::Problem>(&parsed);
    ASSERT_NE(problem, nullptr) << text;
    EXPECT_EQ(problem->message, QString::fromLatin1(message)) << text;
    EXPECT_EQ(problem->column, column) << text;
}

TEST(CronSchedule, RefusesFaultyTextSayingWhatAndWhere)
{
    struct Case
    {
        const char* text;
        int column;
        const char* message;
    };
    const Case cases[] = {
        {"61 * * * *", 1, "minute 61 is out of range 0-59"},
        {"0 24 * * *", 3, "hour 24 is out of range 0-23"},
        {"0 0 32 * *", 5, "day of month 32 is out of range 1-31"},
        {"0 0 * 13 *", 7, "month 13 is out of range 1-12"},
        {"0 0 * * 8", 9, "day of week 8 is out of range 0-7"},
        {"99999999999 * * * *", 1, "minute 99999999999 is out of range 0-59"},
        {"", 1, "expected 5 fields, found 0"},
        {"0 0 * *", 8, "expected 5 fields, found 4"},
        {"0 0 * * * 1", 11, "expected 5 fields, found 6"},
        {"0 0 31 2 *", 5, "never runs: no month has such a day"},
        {"0 0 30 2 *", 5, "never runs: no month has such a day"},
        {"0 0 31 4,6,9,11 *", 5, "never runs: no month has such a day"},
        {"0 0 31 2 */2", 5, "never runs: no month has such a day"},
        {"0 0 1 foo *", 7, "\"foo\" is not a month name"},
        {"0 x * * *", 3, "hour \"x\" is not a number"},
        {"5-1 * * * *", 1, "minute range 5-1 runs backwards"},
        {"*/0 * * * *", 3, "minute step 0 must be at least 1"},
        {"5/15 * * * *", 1, "minute step needs a range or *, as in 5-59/..."},
        {"1,,2 * * * *", 3, "minute has an empty list entry"},
        {"1-5x * * * *", 4, "unexpected \"x\" in minute"},
        {"@reboot", 1, "unknown shorthand \"@reboot\"; use @hourly, @daily, @weekly, @monthly or @yearly"},
        {"  @daily 5", 10, "expected nothing after @daily"},
    };
    for (const Case& c : cases) {
        const auto parsed = CronSchedule::parse(QString::fromLatin1(c.text));
        expectProblem(parsed, c.text, c.column, c.message);
    }
}

TEST(CronSchedule, NextRunFollowsClassicCronRules)
{
    const QTimeZone berlin("Europe/Berlin");
    const QTimeZone newYork("America/New_York");
    ASSERT_TRUE(berlin.isValid() && newYork.isValid());
    struct Case
    {
        const char* expression;
        QTimeZone zone;
        const char* after;
        const char* expected;
    };
    const QTimeZone z = QTimeZone::utc();
    const Case cases[] = {
        {"*/15 * * * *", z, "2027-06-01T10:07:30Z", "2027-06-01T10:15:00Z"},
        {"*/15 * * * *", z, "2027-06-01T10:15:00Z", "2027-06-01T10:30:00Z"}, // never the same minute again
        {"10-50/20 8 * * *", z, "2027-06-01T08:30:00Z", "2027-06-01T08:50:00Z"},
        {"0 9 * * mon-fri", z, "2027-06-04T09:00:00Z", "2027-06-07T09:00:00Z"}, // Friday to Monday
        {"0 12 1 jan,JUL *", z, "2027-02-01T00:00:00Z", "2027-07-01T12:00:00Z"},
        {"0 0 * * 7", z, "2027-06-04T00:00:00Z", "2027-06-06T00:00:00Z"}, // 7 is Sunday
        {"@WEEKLY", z, "2027-06-04T00:00:00Z", "2027-06-06T00:00:00Z"},
        {"@yearly", z, "2027-06-01T00:00:00Z", "2028-01-01T00:00:00Z"},
        // Day of month and weekday both restricted: either will do.
        {"0 0 13 * fri", z, "2027-06-01T00:00:00Z", "2027-06-04T00:00:00Z"},
        // One of them "*": only the other counts.
        {"0 0 * * fri", z, "2027-06-04T00:00:00Z", "2027-06-11T00:00:00Z"},
        // A stepped "*/2" counts as "*", so both must match: an odd-numbered Friday.
        {"0 0 */2 * fri", z, "2027-06-01T00:00:00Z", "2027-06-11T00:00:00Z"},
        // Month ends and leap years.
        {"0 0 31 * *", z, "2027-04-01T00:00:00Z", "2027-05-31T00:00:00Z"},
        {"0 0 29 2 *", z, "2027-03-01T00:00:00Z", "2028-02-29T00:00:00Z"},
        // Runs years apart are still found: February 1 on a Sunday, then
        // February 29 on a Sunday across 2100, which is no leap year.
        {"0 0 */31 2 sun", z, "2043-02-01T00:00:00Z", "2054-02-01T00:00:00Z"},
        {"0 0 29 2 */7", z, "2088-02-29T00:00:00Z", "2128-02-29T00:00:00Z"},
        // Spring forward in Berlin, 2027-03-28 02:00 CET to 03:00 CEST (01:00Z).
        {"30 2 * * *", berlin, "2027-03-27T23:00:00Z", "2027-03-28T01:00:00Z"}, // skipped: at 03:00
        {"30 2 * * *", berlin, "2027-03-28T01:00:00Z", "2027-03-29T00:30:00Z"},
        {"5 * * * *", berlin, "2027-03-28T00:05:00Z", "2027-03-28T01:05:00Z"}, // one real hour on
        // Fall back in Berlin, 2027-10-31 03:00 CEST to 02:00 CET (01:00Z).
        {"30 2 * * *", berlin, "2027-10-30T22:00:00Z", "2027-10-31T00:30:00Z"}, // first pass
        {"30 2 * * *", berlin, "2027-10-31T00:30:00Z", "2027-11-01T01:30:00Z"}, // not again
        {"15 2 * * *", berlin, "2027-10-31T01:10:00Z", "2027-11-01T01:15:00Z"}, // from the second pass
        {"*/15 * * * *", berlin, "2027-10-31T00:50:00Z", "2027-10-31T01:00:00Z"},
        // New York: 2027-03-14 02:00 EST to 03:00 EDT, 2027-11-07 02:00 EDT to 01:00 EST.
        {"30 2 * * *", newYork, "2027-03-14T05:00:00Z", "2027-03-14T07:00:00Z"},
        {"30 1 * * *", newYork, "2027-11-07T04:00:00Z", "2027-11-07T05:30:00Z"},
        {"30 1 * * *", newYork, "2027-11-07T05:30:00Z", "2027-11-08T06:30:00Z"},
    };
    for (const Case& c : cases) {
        const auto next = cron(c.expression).nextAfter(utc(c.after), c.zone);
        ASSERT_TRUE(next.has_value()) << c.expression << " after " << c.after;
        EXPECT_EQ(next->toUTC(), utc(c.expected)) << c.expression << " after " << c.after;
        EXPECT_EQ(next->timeZone(), c.zone) << "shown in the schedule's zone";
    }
}

TEST(CronSchedule, WildcardHourRunsByRealTimeThroughBothChanges)
{
    const QTimeZone berlin("Europe/Berlin");
    const CronSchedule quarterHours = cron("*/15 * * * *");
    // Two hours of real time around each change hold eight quarter hours:
    // none lost to the gap, the repeated hour run twice.
    for (const char* start : {"2027-03-27T23:00:00Z", "2027-10-30T23:00:00Z"}) {
        QDateTime at = utc(start);
        for (int run = 1; run <= 16; ++run) {
            const auto next = quarterHours.nextAfter(at, berlin);
            ASSERT_TRUE(next.has_value());
            EXPECT_EQ(at.secsTo(*next), 15 * 60) << start << " run " << run;
            at = *next;
        }
    }
}

TEST(ParseEvery, ReadsPeriodsFromOneMinuteTo366Days)
{
    struct Case
    {
        const char* text;
        qint64 seconds; // 0: refused
        int column;
        const char* message;
    };
    const Case cases[] = {
        {"1m", 60, 0, ""},
        {"30m", 1800, 0, ""},
        {"2h", 7200, 0, ""},
        {"1d", 86400, 0, ""},
        {" 1H 30m ", 5400, 0, ""},
        {"90s", 90, 0, ""},
        {"366d", 366 * 86400, 0, ""},
        {"59s", 0, 1, "every 59s is under 1 minute"},
        {"366d1s", 0, 1, "every 366d1s is more than 366 days"},
        {"99999999999d", 0, 1, "every 99999999999d is more than 366 days"},
        {"", 0, 1, "expected a period such as 30m or 1h30m"},
        {"m", 0, 1, "expected a number, as in 30m or 1h30m"},
        {"1x", 0, 2, "unknown unit \"x\"; use d, h, m or s"},
        {"30", 0, 3, "30 needs a unit: d, h, m or s"},
        {"30m1h", 0, 5, "units go largest first, each once, as in 1h30m"},
    };
    for (const Case& c : cases) {
        const auto parsed = parseEvery(QString::fromLatin1(c.text));
        if (c.seconds) {
            ASSERT_TRUE(std::holds_alternative<std::chrono::seconds>(parsed)) << c.text;
            EXPECT_EQ(std::get<std::chrono::seconds>(parsed).count(), c.seconds) << c.text;
            continue;
        }
        expectProblem(parsed, c.text, c.column, c.message);
    }
}

TEST(ScheduleTiming, EveryCountsRealTimeFromItsAnchor)
{
    // An hour from 02:30 CEST on Berlin's fall-back day is 02:30 CET.
    const QTimeZone berlin("Europe/Berlin");
    const ScheduleTiming hourly(std::chrono::hours(1), utc("2027-10-31T00:30:00Z"));
    const struct
    {
        const char* after;
        const char* expected;
    } cases[] = {
        {"2027-10-30T12:00:00Z", "2027-10-31T01:30:00Z"}, // before the anchor: its first run
        {"2027-10-31T00:30:00Z", "2027-10-31T01:30:00Z"},
        {"2027-10-31T01:30:00Z", "2027-10-31T02:30:00Z"},
        {"2027-10-31T03:00:00Z", "2027-10-31T03:30:00Z"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hourly.nextAfter(utc(c.after), berlin), utc(c.expected)) << c.after;
}

TEST(ScheduleTiming, DueBetweenCountsRunsAfterFromUpToAndIncludingTo)
{
    const QTimeZone z = QTimeZone::utc();
    const ScheduleTiming daily(cron("0 6 * * *"));
    EXPECT_TRUE(daily.dueBetween(utc("2027-06-01T05:00:00Z"), utc("2027-06-01T07:00:00Z"), z));
    EXPECT_TRUE(daily.dueBetween(utc("2027-06-01T05:00:00Z"), utc("2027-06-01T06:00:00Z"), z));
    EXPECT_FALSE(daily.dueBetween(utc("2027-06-01T06:00:00Z"), utc("2027-06-02T05:59:00Z"), z));
    const ScheduleTiming every(std::chrono::minutes(30), utc("2027-06-01T05:00:00Z"));
    EXPECT_TRUE(every.dueBetween(utc("2027-06-01T05:10:00Z"), utc("2027-06-01T05:40:00Z"), z));
    EXPECT_FALSE(every.dueBetween(utc("2027-06-01T05:31:00Z"), utc("2027-06-01T05:59:00Z"), z));
}
