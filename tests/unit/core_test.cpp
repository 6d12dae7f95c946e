// The shared vocabulary: text cutting, whole-number conversion, error texts.

#include "core/delphi_number.h"
#include "core/errors.h"
#include "core/text_cut.h"
#include "support/printers.h"

#include <gtest/gtest.h>

using text::Copy;
using text::Delete;
using text::Pos;

TEST(TextCut, PosCountsFromOneAndGivesZeroWhenMissing)
{
    EXPECT_EQ(Pos("b", "abcb"), 2);
    EXPECT_EQ(Pos("abc", "abc"), 1);
    EXPECT_EQ(Pos("x", "abc"), 0);
    EXPECT_EQ(Pos("B", "abc"), 0) << "searches are case-sensitive";
    EXPECT_EQ(Pos("", "abc"), 0);
    EXPECT_EQ(Pos('\x04', QByteArray("ab\x04", 3)), 3);
    EXPECT_EQ(Pos('\x04', ""), 0);
}

TEST(TextCut, CopyHasForgivingBounds)
{
    struct Case
    {
        const char* source;
        qsizetype index, count;
        const char* expected;
    };
    const Case cases[] = {
        {"abcdef", 2, 3, "bcd"}, {"abcdef", 0, 2, "ab"},  // index below 1 starts at 1
        {"abcdef", -5, 2, "ab"}, {"abcdef", 5, 10, "ef"}, // stops at the end
        {"abcdef", 7, 1, ""},                             // past the end
        {"abcdef", 1, 0, ""},    {"abcdef", 1, -3, ""},   {"", 1, 1, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Copy(c.source, c.index, c.count), QByteArray(c.expected))
            << c.source << " from " << c.index << " count " << c.count;
}

TEST(TextCut, DeleteHasForgivingBounds)
{
    struct Case
    {
        const char* source;
        qsizetype index, count;
        const char* expected;
    };
    const Case cases[] = {
        {"abcdef", 2, 3, "aef"},    {"abcdef", 5, 10, "abcd"},  {"abcdef", 0, 2, "abcdef"},
        {"abcdef", 7, 1, "abcdef"}, {"abcdef", 3, 0, "abcdef"}, {"abcdef", 1, 6, ""},
    };
    for (const Case& c : cases) {
        QByteArray s = c.source;
        Delete(s, c.index, c.count);
        EXPECT_EQ(s, QByteArray(c.expected)) << c.source << " at " << c.index << " count " << c.count;
    }
}

TEST(DelphiNumber, ConvertsTheAcceptedForms)
{
    struct Case
    {
        const char* text;
        std::optional<qint32> expected;
    };
    const Case cases[] = {
        {"4711", 4711},
        {"   4711", 4711},
        {"+12", 12},
        {"-12", -12},
        {"$1E", 30},
        {"x1e", 30},
        {"X1E", 30},
        {"0x1E", 30},
        {"0X1e", 30},
        {"-$10", -16},
        {"$FFFFFFFF", -1},
        {"2147483647", 2147483647},
        {"-2147483648", std::numeric_limits<qint32>::min()},
        {"007", 7},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"$100000000", std::nullopt},
        {"12a", std::nullopt},
        {"12 ", std::nullopt},
        {"1 2", std::nullopt},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"-", std::nullopt},
        {"$", std::nullopt},
        {"0x", std::nullopt},
        {"+-1", std::nullopt},
        {"\t12", std::nullopt},
        {"1.5", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TryStrToInt(c.text), c.expected) << '"' << c.text << '"';
}

TEST(DelphiNumber, StrToIntNamesTheTextThatFailed)
{
    try {
        StrToInt("12a");
        FAIL() << "no error raised";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), QByteArray("'12a' is not a valid integer value"));
    }
    EXPECT_EQ(StrToIntDef("junk", 10), 10);
    EXPECT_EQ(StrToIntDef("$14", 10), 20);
}

TEST(Errors, ErrorBoxAppendsAFullStopAfterCharactersThatSortAfterIt)
{
    EXPECT_EQ(ErrorBoxText("File not found"), QByteArray("File not found."));
    EXPECT_EQ(ErrorBoxText("I/O error 9"), QByteArray("I/O error 9."));
    EXPECT_EQ(ErrorBoxText("'12a' is not a valid integer value"), QByteArray("'12a' is not a valid integer value."));
    EXPECT_EQ(ErrorBoxText("Disconnected..."), QByteArray("Disconnected..."));
    EXPECT_EQ(ErrorBoxText("say \"hi\""), QByteArray("say \"hi\"")) << "a quotation mark sorts before the full stop";
    EXPECT_EQ(ErrorBoxText("caf\xe9"), QByteArray("caf\xe9.")) << "bytes above 0x7F sort after it";
    EXPECT_EQ(ErrorBoxText(""), QByteArray(""));
}

TEST(Errors, FileErrorsCarryTheirNumberAndMessage)
{
    EXPECT_EQ(EInOutError(2).Message(), QByteArray("File not found"));
    EXPECT_EQ(EInOutError(106).Message(), QByteArray("Invalid numeric input"));
    EXPECT_EQ(EInOutError(32).Message(), QByteArray("I/O error 32"));
    EXPECT_EQ(io_error::FromErrno(ENOENT), 2);
    EXPECT_EQ(io_error::FromErrno(EACCES), 5);
    EXPECT_EQ(io_error::FromErrno(ENOSPC), 101);
    // An error without a number of its own is the general failure, never one
    // that means something else: EIO is 5, which would read "File access denied".
    for (const int other : {EIO, ENXIO, EBADF, ENETDOWN, EISCONN})
        EXPECT_EQ(EInOutError(io_error::FromErrno(other)).Message(), QByteArray("I/O error 31")) << other;
}

TEST(Errors, ApplicationTitleIsTheFileNameCutAtTheFirstDot)
{
    EXPECT_EQ(ApplicationTitle("/opt/ravelin/bin/ravelin"), QString("ravelin"));
    EXPECT_EQ(ApplicationTitle("/x/ravelin.v2.exe"), QString("ravelin"));
    EXPECT_EQ(ApplicationTitle("/x.d/tool"), QString("tool"));
}
