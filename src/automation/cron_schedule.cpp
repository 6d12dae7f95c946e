#include "automation/cron_schedule.h"

#include <QDate>
#include <QList>

#include <algorithm>
#include <array>
#include <bit>
#include <limits>

namespace {

using Problem = CronSchedule::Problem;

// The longest gap between two runs of any schedule that parses: February 29
// on one weekday (day of month and weekday both required, as "*/28 2 sun"
// asks) can be 40 years apart, from 2088 to 2128, as 2100 is no leap year.
constexpr std::int64_t kSearchMinutes = std::int64_t(41) * 366 * 24 * 60;
// Time zones change offset at most a few times a year; this only guards a
// zone database that reports no progress.
constexpr int kMostSegments = 41 * 12;
constexpr qint64 kUnixEpochJulianDay = 2440588;

struct Field
{
    const char* name;
    int low;
    int high;
    const std::array<const char*, 12>* names; // three-letter names for low, low+1, ...
};

constexpr std::array<const char*, 12> kMonthNames = {"jan", "feb", "mar", "apr", "may", "jun",
                                                     "jul", "aug", "sep", "oct", "nov", "dec"};
constexpr std::array<const char*, 12> kWeekdayNames = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};

constexpr std::array<Field, 5> kFields = {{
    {"minute", 0, 59, nullptr},
    {"hour", 0, 23, nullptr},
    {"day of month", 1, 31, nullptr},
    {"month", 1, 12, &kMonthNames},
    {"day of week", 0, 7, &kWeekdayNames},
}};

struct Word
{
    QStringView text;
    int column; // 1-based
};

QList<Word> splitWords(QStringView text)
{
    QList<Word> words;
    qsizetype i = 0;
    while (i < text.size()) {
        if (text[i].isSpace()) {
            ++i;
            continue;
        }
        const qsizetype start = i;
        while (i < text.size() && !text[i].isSpace())
            ++i;
        words.append({text.sliced(start, i - start), int(start) + 1});
    }
    return words;
}

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

bool isAsciiLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// Reads the digits at `i` as a number; numbers too long to matter read as
// the largest int, which every range check then refuses.
int readNumber(QStringView text, qsizetype& i)
{
    qint64 value = 0;
    while (i < text.size() && isAsciiDigit(text[i])) {
        value = std::min<qint64>(value * 10 + (text[i].unicode() - u'0'), std::numeric_limits<int>::max());
        ++i;
    }
    return int(value);
}

// Reads the set one cron field describes, as bits, or says what is wrong.
class FieldReader
{
public:
    FieldReader(const Field& field, Word word)
        : field_(field)
        , word_(word)
    { }

    std::variant<std::uint64_t, Problem> read()
    {
        std::uint64_t bits = 0;
        qsizetype i = 0;
        const QStringView text = word_.text;
        for (;;) {
            if (i == text.size() || text[i] == u',')
                return problemAt(i, QStringLiteral("%1 has an empty list entry").arg(field_.name));
            int first = field_.low;
            int last = field_.high;
            bool isRange = true;
            const qsizetype itemStart = i;
            if (text[i] == u'*') {
                ++i;
            } else {
                const auto low = readValue(i);
                if (!low)
                    return *problem_;
                first = last = *low;
                isRange = false;
                if (i < text.size() && text[i] == u'-') {
                    ++i;
                    const auto high = readValue(i);
                    if (!high)
                        return *problem_;
                    last = *high;
                    isRange = true;
                    if (last < first) {
                        return problemAt(itemStart,
                                         QStringLiteral("%1 range %2 runs backwards")
                                             .arg(field_.name, text.sliced(itemStart, i - itemStart)));
                    }
                }
            }
            int step = 1;
            if (i < text.size() && text[i] == u'/') {
                // "5/15" means different things to different crons, so it is
                // refused rather than guessed at.
                if (!isRange) {
                    return problemAt(itemStart,
                                     QStringLiteral("%1 step needs a range or *, as in %2-%3/...")
                                         .arg(field_.name)
                                         .arg(first)
                                         .arg(field_.high));
                }
                ++i;
                const qsizetype stepStart = i;
                if (i == text.size() || !isAsciiDigit(text[i]))
                    return problemAt(i, QStringLiteral("%1 step must be a number").arg(field_.name));
                step = readNumber(text, i);
                if (step < 1) {
                    return problemAt(stepStart,
                                     QStringLiteral("%1 step %2 must be at least 1").arg(field_.name).arg(step));
                }
            }
            for (int value = first; value <= last; value += step) {
                bits |= std::uint64_t(1) << value;
                if (value > last - step)
                    break; // no overflow on a huge step
            }
            if (i == text.size())
                return bits;
            if (text[i] != u',')
                return problemAt(i, QStringLiteral("unexpected \"%1\" in %2").arg(text[i]).arg(field_.name));
            ++i;
        }
    }

private:
    std::optional<int> readValue(qsizetype& i)
    {
        const QStringView text = word_.text;
        const qsizetype start = i;
        if (i < text.size() && isAsciiDigit(text[i])) {
            const int value = readNumber(text, i);
            if (value < field_.low || value > field_.high) {
                problem_ = problemAt(start,
                                     QStringLiteral("%1 %2 is out of range %3-%4")
                                         .arg(field_.name, text.sliced(start, i - start))
                                         .arg(field_.low)
                                         .arg(field_.high));
                return std::nullopt;
            }
            return value;
        }
        while (i < text.size() && isAsciiLetter(text[i]))
            ++i;
        const QStringView name = text.sliced(start, i - start);
        if (field_.names && !name.isEmpty()) {
            for (int n = 0; n < int(field_.names->size()) && (*field_.names)[n]; ++n) {
                if (name.compare(QLatin1StringView((*field_.names)[n]), Qt::CaseInsensitive) == 0)
                    return field_.low + n;
            }
            problem_ = problemAt(start, QStringLiteral("\"%1\" is not a %2 name").arg(name).arg(field_.name));
            return std::nullopt;
        }
        if (!name.isEmpty()) {
            problem_ = problemAt(start, QStringLiteral("%1 \"%2\" is not a number").arg(field_.name).arg(name));
        } else if (i < text.size()) {
            problem_ = problemAt(start, QStringLiteral("unexpected \"%1\" in %2").arg(text[i]).arg(field_.name));
        } else {
            problem_ = problemAt(start, QStringLiteral("%1 is missing a number").arg(field_.name));
        }
        return std::nullopt;
    }

    Problem problemAt(qsizetype i, QString message) const { return {word_.column + int(i), std::move(message)}; }

    const Field& field_;
    Word word_;
    std::optional<Problem> problem_;
};

struct Shorthand
{
    const char* name;
    const char* fields;
};

constexpr std::array<Shorthand, 7> kShorthands = {{
    {"@hourly", "0 * * * *"},
    {"@daily", "0 0 * * *"},
    {"@midnight", "0 0 * * *"},
    {"@weekly", "0 0 * * 0"},
    {"@monthly", "0 0 1 * *"},
    {"@yearly", "0 0 1 1 *"},
    {"@annually", "0 0 1 1 *"},
}};

int daysInMonthOfLeapYear(int month)
{
    return QDate(2000, month, 1).daysInMonth();
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

std::int64_t ceilDiv(std::int64_t a, std::int64_t b)
{
    return -floorDiv(-a, b);
}

} // namespace

std::variant<CronSchedule, CronSchedule::Problem> CronSchedule::parse(QStringView text)
{
    QList<Word> words = splitWords(text);
    QString expanded; // the fields a shorthand stands for; the words point into it
    if (!words.isEmpty() && words.front().text.startsWith(u'@')) {
        const Word shorthand = words.front();
        if (words.size() > 1) {
            return Problem{words[1].column, QStringLiteral("expected nothing after %1").arg(shorthand.text.toString())};
        }
        const auto known = std::find_if(kShorthands.begin(), kShorthands.end(), [&](const Shorthand& s) {
            return shorthand.text.compare(QLatin1StringView(s.name), Qt::CaseInsensitive) == 0;
        });
        if (known == kShorthands.end()) {
            return Problem{shorthand.column,
                           QStringLiteral("unknown shorthand \"%1\"; use @hourly, @daily, "
                                          "@weekly, @monthly or @yearly")
                               .arg(shorthand.text.toString())};
        }
        // Faults cannot arise in the expansion, so its columns never show.
        expanded = QLatin1StringView(known->fields);
        words = splitWords(expanded);
        for (Word& word : words)
            word.column = shorthand.column;
    }
    if (words.size() != int(kFields.size())) {
        const int column = words.size() > int(kFields.size()) ? words[kFields.size()].column : int(text.size()) + 1;
        return Problem{column, QStringLiteral("expected 5 fields, found %1").arg(words.size())};
    }

    std::array<std::uint64_t, 5> bits{};
    for (size_t f = 0; f < kFields.size(); ++f) {
        auto read = FieldReader(kFields[f], words[f]).read();
        if (auto* problem = std::get_if<Problem>(&read))
            return std::move(*problem);
        bits[f] = std::get<std::uint64_t>(read);
    }

    CronSchedule schedule;
    schedule.minutes_ = bits[0];
    schedule.hours_ = std::uint32_t(bits[1]);
    schedule.days_ = std::uint32_t(bits[2]);
    schedule.months_ = std::uint16_t(bits[3]);
    // 7 is Sunday as well as 0.
    schedule.weekdays_ = std::uint8_t((bits[4] | (bits[4] >> 7)) & 0x7F);
    // As the classic cron does, a field that begins with '*' ("*" or "*/2")
    // counts as unrestricted when deciding whether the day of month and the
    // weekday must both match or either will do.
    schedule.hoursStarred_ = words[1].text.startsWith(u'*');
    schedule.daysStarred_ = words[2].text.startsWith(u'*');
    schedule.weekdaysStarred_ = words[4].text.startsWith(u'*');

    // When the day of month must match, some chosen month has to have one of
    // the chosen days; every date falls on every weekday sooner or later.
    if (schedule.daysStarred_ || schedule.weekdaysStarred_) {
        bool someDateExists = false;
        for (int month = 1; month <= 12 && !someDateExists; ++month) {
            const std::uint32_t daysOfMonth = ((std::uint32_t(1) << daysInMonthOfLeapYear(month)) - 1) << 1;
            someDateExists = (schedule.months_ >> month & 1) && (schedule.days_ & daysOfMonth);
        }
        if (!someDateExists)
            return Problem{words[2].column, QStringLiteral("never runs: no month has such a day")};
    }
    return schedule;
}

bool CronSchedule::matchesDay(int month, int day, int weekday) const
{
    if (!(months_ >> month & 1))
        return false;
    const bool dayOfMonth = days_ >> day & 1;
    const bool dayOfWeek = weekdays_ >> weekday & 1;
    return (daysStarred_ || weekdaysStarred_) ? (dayOfMonth && dayOfWeek) : (dayOfMonth || dayOfWeek);
}

std::optional<std::int64_t> CronSchedule::firstWallMatch(std::int64_t from, std::int64_t limit) const
{
    std::int64_t day = floorDiv(from, 24 * 60);
    int minuteOfDay = int(from - day * 24 * 60);
    while (day * 24 * 60 < limit) {
        const QDate date = QDate::fromJulianDay(kUnixEpochJulianDay + day);
        if (!(months_ >> date.month() & 1)) {
            // Whole months that cannot match are skipped in one step.
            day = QDate(date.year(), date.month(), 1).addMonths(1).toJulianDay() - kUnixEpochJulianDay;
            minuteOfDay = 0;
            continue;
        }
        if (matchesDay(date.month(), date.day(), date.dayOfWeek() % 7)) {
            for (int hour = minuteOfDay / 60; hour < 24; ++hour) {
                if (!(hours_ >> hour & 1))
                    continue;
                const int firstMinute = hour == minuteOfDay / 60 ? minuteOfDay % 60 : 0;
                const std::uint64_t minutes = minutes_ & (~std::uint64_t(0) << firstMinute);
                if (minutes) {
                    const std::int64_t found = day * 24 * 60 + hour * 60 + std::countr_zero(minutes);
                    if (found >= limit)
                        return std::nullopt;
                    return found;
                }
            }
        }
        ++day;
        minuteOfDay = 0;
    }
    return std::nullopt;
}

std::optional<QDateTime> CronSchedule::nextAfter(const QDateTime& after, const QTimeZone& givenZone) const
{
    if (!after.isValid())
        return std::nullopt;
    const QTimeZone zone = givenZone.isValid() ? givenZone : QTimeZone::utc();
    const auto utcAt = [](qint64 secs) { return QDateTime::fromSecsSinceEpoch(secs, QTimeZone::utc()); };
    const auto found = [&](qint64 secs) { return std::optional<QDateTime>(QDateTime::fromSecsSinceEpoch(secs, zone)); };

    // Time is walked one span of constant UTC offset at a time. Within a span,
    // wall minute W is the instant W*60 - offset. Walls count in minutes since
    // 1970-01-01 00:00 local; the first one considered lies strictly after `after`.
    const qint64 afterSecs = floorDiv(after.toMSecsSinceEpoch(), 1000);
    qint64 spanStart = afterSecs;
    int offset = zone.offsetFromUtc(utcAt(spanStart));
    std::int64_t lowWall = floorDiv(afterSecs + offset, 60) + 1;
    const std::int64_t limitWall = lowWall + kSearchMinutes;

    if (!hoursStarred_) {
        // A job at a fixed hour already ran in the first pass of wall times
        // that a recent fall-back repeats.
        const QTimeZone::OffsetData previous = zone.previousTransition(after.addMSecs(1));
        if (previous.atUtc.isValid()) {
            const qint64 at = floorDiv(previous.atUtc.toMSecsSinceEpoch(), 1000);
            const int before = zone.offsetFromUtc(utcAt(at - 1));
            if (before > previous.offsetFromUtc)
                lowWall = std::max(lowWall, ceilDiv(at + before, 60));
        }
    }

    for (int span = 0; span < kMostSegments; ++span) {
        const QTimeZone::OffsetData next = zone.nextTransition(utcAt(spanStart));
        const bool hasNext = next.atUtc.isValid() && next.atUtc.toSecsSinceEpoch() > spanStart;
        const qint64 spanEnd = hasNext ? next.atUtc.toSecsSinceEpoch() : std::numeric_limits<qint64>::max() / 2;
        const std::int64_t endWall = std::min(ceilDiv(spanEnd + offset, 60), limitWall);
        if (lowWall < endWall) {
            if (const auto wall = firstWallMatch(lowWall, endWall))
                return found(*wall * 60 - offset);
        }
        if (!hasNext || endWall >= limitWall)
            return std::nullopt;

        const int nextOffset = next.offsetFromUtc;
        const std::int64_t nextStartWall = ceilDiv(spanEnd + nextOffset, 60);
        if (nextOffset > offset) {
            // Spring forward: the walls in between never happen. A fixed-hour
            // job due in them runs as soon as the clock has jumped; a job that
            // follows real time simply has no such minute.
            const std::int64_t gapStart = std::max(lowWall, endWall);
            if (!hoursStarred_ && gapStart < nextStartWall && firstWallMatch(gapStart, nextStartWall))
                return found(spanEnd);
            lowWall = nextStartWall;
        } else {
            // Fall back: the walls from nextStartWall to endWall come round
            // again. Only a job that follows real time runs in them twice.
            lowWall = hoursStarred_ ? nextStartWall : std::max({lowWall, nextStartWall, endWall});
        }
        spanStart = spanEnd;
        offset = nextOffset;
    }
    return std::nullopt;
}

std::variant<std::chrono::seconds, CronSchedule::Problem> parseEvery(QStringView text)
{
    struct Unit
    {
        char letter;
        qint64 seconds;
    };
    static constexpr std::array<Unit, 4> kUnits = {{{'d', 86400}, {'h', 3600}, {'m', 60}, {'s', 1}}};
    constexpr qint64 kLongest = qint64(366) * 86400;
    const QString shown = text.trimmed().toString();

    qint64 total = 0;
    int lastUnit = -1;
    bool sawNumber = false;
    qsizetype i = 0;
    const auto skipBlanks = [&] {
        while (i < text.size() && text[i].isSpace())
            ++i;
    };
    for (skipBlanks(); i < text.size(); skipBlanks()) {
        if (!isAsciiDigit(text[i]))
            return Problem{int(i) + 1, QStringLiteral("expected a number, as in 30m or 1h30m")};
        const qsizetype numberStart = i;
        const qint64 number = readNumber(text, i);
        skipBlanks();
        if (i == text.size()) {
            return Problem{
                int(i) + 1,
                QStringLiteral("%1 needs a unit: d, h, m or s").arg(text.sliced(numberStart).trimmed().toString())};
        }
        const char letter = char(text[i].toLower().unicode());
        const auto unit = std::find_if(kUnits.begin(), kUnits.end(), [&](const Unit& u) { return u.letter == letter; });
        if (!text[i].isLetter() || unit == kUnits.end())
            return Problem{int(i) + 1, QStringLiteral("unknown unit \"%1\"; use d, h, m or s").arg(text[i])};
        const int unitIndex = int(unit - kUnits.begin());
        if (unitIndex <= lastUnit)
            return Problem{int(i) + 1, QStringLiteral("units go largest first, each once, as in 1h30m")};
        lastUnit = unitIndex;
        sawNumber = true;
        total = std::min(total + number * unit->seconds, kLongest + 1);
        ++i;
    }
    if (!sawNumber)
        return Problem{1, QStringLiteral("expected a period such as 30m or 1h30m")};
    if (total < 60)
        return Problem{1, QStringLiteral("every %1 is under 1 minute").arg(shown)};
    if (total > kLongest)
        return Problem{1, QStringLiteral("every %1 is more than 366 days").arg(shown)};
    return std::chrono::seconds(total);
}

ScheduleTiming::ScheduleTiming(CronSchedule cron)
    : timing_(std::move(cron))
{ }

ScheduleTiming::ScheduleTiming(std::chrono::seconds period, QDateTime anchor)
    : timing_(Every{period, std::move(anchor)})
{ }

std::optional<QDateTime> ScheduleTiming::nextAfter(const QDateTime& after, const QTimeZone& zone) const
{
    if (const auto* cron = std::get_if<CronSchedule>(&timing_))
        return cron->nextAfter(after, zone);
    const Every& every = std::get<Every>(timing_);
    const qint64 period = qint64(every.period.count()) * 1000;
    if (!after.isValid() || !every.anchor.isValid() || period <= 0)
        return std::nullopt;
    const qint64 anchor = every.anchor.toMSecsSinceEpoch();
    const qint64 since = after.toMSecsSinceEpoch() - anchor;
    // Runs are anchor + k*period for k >= 1; the anchor itself is not one.
    const qint64 runs = since < period ? 1 : since / period + 1;
    return QDateTime::fromMSecsSinceEpoch(anchor + runs * period, zone.isValid() ? zone : QTimeZone::utc());
}

bool ScheduleTiming::dueBetween(const QDateTime& from, const QDateTime& to, const QTimeZone& zone) const
{
    const auto next = nextAfter(from, zone);
    return next && *next <= to;
}
