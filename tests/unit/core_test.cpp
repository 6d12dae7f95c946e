// The shared vocabulary: text cutting, whole-number conversion, error texts,
// and the block that holds a list's entries.

#include "core/entry_block.h"
#include "core/errors.h"
#include "core/integer_text.h"
#include "core/secrets.h"
#include "core/text_cut.h"
#include "support/printers.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <limits>
#include <optional>
#include <random>

namespace {

QByteArray bytes(QByteArrayView view)
{
    return view.toByteArray();
}

} // namespace

TEST(TextCut, FindCountsFromZeroAndGivesMinusOneWhenMissing)
{
    struct Case
    {
        QByteArray haystack, needle;
        qsizetype expected;
    };
    const Case cases[] = {
        {"abcb", "b", 1},
        {"abc", "abc", 0},
        {"abc", "bc", 1},
        {"abc", "x", -1},
        {"abc", "B", -1}, // searches are case-sensitive
        {"abc", "", -1},
        {"", "", -1},
        {"", "a", -1},
        {"ab", "abc", -1},
        {QByteArray("a\0b", 3), QByteArray("\0b", 2), 1}, // a zero byte is a byte like any other
    };
    for (const Case& c : cases) {
        EXPECT_EQ(text::find(c.haystack, c.needle), c.expected)
            << c.haystack.constData() << " / " << c.needle.constData();
        if (c.needle.size() == 1) {
            EXPECT_EQ(text::find(c.haystack, c.needle[0]), c.expected) << c.haystack.constData() << " / char";
        }
    }
    EXPECT_EQ(text::find(QByteArray("ab\x04", 3), '\x04'), 2) << "a marker at the very end";
    EXPECT_EQ(text::find("", '\x04'), -1);
}

TEST(TextCut, SlicesHaveForgivingBounds)
{
    struct Case
    {
        const char* text;
        qsizetype from, to;
        const char* expected;
    };
    const Case cases[] = {
        {"abcdef", 1, 4, "bcd"}, {"abcdef", 0, 6, "abcdef"},
        {"abcdef", -5, 2, "ab"}, // before the start
        {"abcdef", 4, 99, "ef"}, // past the end
        {"abcdef", 6, 7, ""},    {"abcdef", 99, 100, ""},
        {"abcdef", 3, 3, ""},    {"abcdef", 4, 2, ""}, // `to` not past `from`
        {"abcdef", -3, -1, ""},  {"", 0, 1, ""},
        {"", -1, 1, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(bytes(text::slice(c.text, c.from, c.to)), QByteArray(c.expected))
            << c.text << " from " << c.from << " to " << c.to;

    const struct
    {
        const char* text;
        qsizetype length;
        const char* expected;
    } firsts[] = {{"abcdef", 2, "ab"}, {"abcdef", 6, "abcdef"}, {"abcdef", 99, "abcdef"},
                  {"abcdef", 0, ""},   {"abcdef", -1, ""},      {"", 3, ""}};
    for (const auto& c : firsts)
        EXPECT_EQ(bytes(text::firstBytes(c.text, c.length)), QByteArray(c.expected)) << c.text << " " << c.length;
}

TEST(TextCut, BeforeAndAfterCutAroundTheFirstMarker)
{
    const struct
    {
        const char* text;
        const char* expected;
    } befores[] = {{"12: map", "12"}, {"3:4:5", "3"}, {": x", ""}, {"no colon", ""}, {"", ""}, {"end:", "end"}};
    for (const auto& c : befores)
        EXPECT_EQ(bytes(text::before(c.text, ':')), QByteArray(c.expected)) << c.text;

    struct Case
    {
        const char* text;
        const char* marker;
        qsizetype length;
        std::optional<QByteArray> expected;
    };
    const Case cases[] = {
        {"seed: abcdef", "seed: ", 3, "abc"},
        {"seed: ab", "seed: ", 16, "ab"},         // stops at the end
        {"seed: ab seed: cd", "seed: ", 2, "ab"}, // the first marker counts
        {"x seed: ", "seed: ", 16, ""},           // the marker at the very end: found, nothing after it
        {"seed: ab", "seed: ", 0, ""},
        {"seed: ab", "seed: ", -4, ""},
        {"Seed: ab", "seed: ", 16, std::nullopt}, // case-sensitive
        {"seed", "seed: ", 16, std::nullopt},
        {"", "seed: ", 16, std::nullopt},
        {"abc", "", 16, std::nullopt}, // an empty marker is never found
    };
    for (const Case& c : cases) {
        const std::optional<QByteArrayView> got = text::after(c.text, c.marker, c.length);
        EXPECT_EQ(got ? std::optional(bytes(*got)) : std::nullopt, c.expected)
            << c.text << " after " << c.marker << " length " << c.length;
    }
}

TEST(TextCut, SkipLineEndsAndSameText)
{
    const struct
    {
        const char* text;
        const char* expected;
    } skips[] = {{"\r\n\nAuth\n", "Auth\n"}, {"\n\r", ""}, {"", ""}, {" \nx", " \nx"}, {"x\r\n", "x\r\n"}};
    for (const auto& c : skips)
        EXPECT_EQ(bytes(text::skipLineEnds(c.text)), QByteArray(c.expected)) << c.text;

    const struct
    {
        QByteArray a, b;
        bool same;
    } pairs[] = {
        {"Settings", "sETTINGS", true},
        {"", "", true},
        {"port", "port ", false},
        {"port", "por", false},
        {"", "a", false},
        {"a", "", false},
        {"[x]", "[X]", true},
        {"a_b", "a-b", false},
        {"\xe9", "\xc9", false}, // only ASCII letters fold
        {"@", "`", false},       // neighbours of the letters do not
        {QByteArray("a\0b", 3), QByteArray("A\0B", 3), true},
        {QByteArray("a\0b", 3), QByteArray("A\0c", 3), false}, // the comparison goes past a zero byte
    };
    for (const auto& c : pairs)
        EXPECT_EQ(text::sameText(c.a, c.b), c.same) << c.a.constData() << " / " << c.b.constData();
}

TEST(IntegerText, ConvertsTheAcceptedForms)
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
        EXPECT_EQ(parseInteger(c.text), c.expected) << '"' << c.text << '"';
}

TEST(IntegerText, ToIntegerNamesTheTextThatFailed)
{
    try {
        toInteger("12a");
        FAIL() << "no error raised";
    } catch (const ConvertError& e) {
        EXPECT_EQ(e.message(), QByteArray("'12a' is not a valid integer value"));
    }
    EXPECT_EQ(toIntegerOr("junk", 10), 10);
    EXPECT_EQ(toIntegerOr("$14", 10), 20);
}

TEST(Errors, ErrorBoxAppendsAFullStopAfterCharactersThatSortAfterIt)
{
    EXPECT_EQ(errorBoxText("File not found"), QByteArray("File not found."));
    EXPECT_EQ(errorBoxText("I/O error 9"), QByteArray("I/O error 9."));
    EXPECT_EQ(errorBoxText("'12a' is not a valid integer value"), QByteArray("'12a' is not a valid integer value."));
    EXPECT_EQ(errorBoxText("Disconnected..."), QByteArray("Disconnected..."));
    EXPECT_EQ(errorBoxText("say \"hi\""), QByteArray("say \"hi\"")) << "a quotation mark sorts before the full stop";
    EXPECT_EQ(errorBoxText("caf\xe9"), QByteArray("caf\xe9.")) << "bytes above 0x7F sort after it";
    EXPECT_EQ(errorBoxText(""), QByteArray(""));
}

TEST(Errors, FileErrorsCarryTheirNumberAndMessage)
{
    EXPECT_EQ(FileError(2).message(), QByteArray("File not found"));
    EXPECT_EQ(FileError(106).message(), QByteArray("Invalid numeric input"));
    EXPECT_EQ(FileError(32).message(), QByteArray("I/O error 32"));
    EXPECT_EQ(file_error::fromErrno(ENOENT), 2);
    EXPECT_EQ(file_error::fromErrno(EACCES), 5);
    EXPECT_EQ(file_error::fromErrno(ENOSPC), 101);
    // An error without a number of its own is the general failure, never one
    // that means something else: EIO is 5, which would read "File access denied".
    for (const int other : {EIO, ENXIO, EBADF, ENETDOWN, EISCONN})
        EXPECT_EQ(FileError(file_error::fromErrno(other)).message(), QByteArray("I/O error 31")) << other;
}

TEST(Errors, ApplicationTitleIsTheFileNameCutAtTheFirstDot)
{
    EXPECT_EQ(applicationTitle("/opt/ravelin/bin/ravelin"), QString("ravelin"));
    EXPECT_EQ(applicationTitle("/x/ravelin.v2.exe"), QString("ravelin"));
    EXPECT_EQ(applicationTitle("/x.d/tool"), QString("tool"));
}

// Every change a list makes, at random but the same each run, against a plain
// list of byte arrays: entries of every length (the short ones are copied
// another way than the long), blocks that grow past the size at which they
// take pages of their own, entries taken from the block itself.
TEST(EntryBlock, HoldsEveryEntryExactlyThroughEveryChange)
{
    std::mt19937 random(20240611);
    const auto entry = [&] {
        static const qsizetype lengths[] = {0, 1, 15, 16, 17, 31, 32, 33, 44, 63, 64, 65, 300};
        QByteArray bytes(random() % 120 == 0 ? 100000 : lengths[random() % std::size(lengths)], Qt::Uninitialized);
        for (char& c : bytes)
            c = char(random());
        return bytes;
    };
    EntryBlock block;
    QList<QByteArray> expected;
    for (int step = 0; step < 1500; ++step) {
        const qsizetype at = expected.isEmpty() ? 0 : qsizetype(random() % expected.size());
        switch (random() % 8) {
        case 0:
        case 1: {
            const QByteArray first = entry(), second = entry();
            block.append(first, second);
            expected.append(first + second);
            break;
        }
        case 2: {
            EntryBlock other;
            QList<QByteArray> others;
            for (int i = int(random() % 40); i > 0; --i) {
                others.append(entry());
                other.append(others.last());
            }
            block.append(other);
            expected.append(others);
            break;
        }
        case 3:
            if (!expected.isEmpty()) {
                block.append(block.at(at)); // may move the very bytes it copies
                const QByteArray copied = expected[at];
                expected.append(copied);
            }
            break;
        case 4: {
            const QByteArray inserted = entry();
            block.insert(at, inserted);
            expected.insert(at, inserted);
            break;
        }
        case 5:
            if (!expected.isEmpty()) {
                block.remove(at);
                expected.removeAt(at);
            }
            break;
        case 6: block.squeeze(); break;
        case 7: {
            if (step % 20 != 0)
                break;
            EntryBlock copy = block;
            block.clear();
            EXPECT_TRUE(block.isEmpty());
            block = std::move(copy);
            break;
        }
        }
        ASSERT_EQ(block.size(), expected.size()) << "step " << step;
    }
    EXPECT_GT(block.byteCount(), 2 << 20) << "the block should have grown past its heap size";
    EXPECT_EQ(block.toList(), expected);
    const EntryBlock copy = block;
    block.append("changed");
    EXPECT_EQ(copy.toList(), expected) << "a copy is a block of its own";
}

// A listed line costs its bytes and four bytes more, once the list is complete.
TEST(EntryBlock, ACompleteListHoldsLittleBeyondItsBytes)
{
    EntryBlock list;
    for (int read = 0; read < 100; ++read) {
        EntryBlock batch;
        for (int line = 0; line < 1000; ++line)
            batch.append("Key: 0123456789abcdef0123456789abcdef", line % 2 ? " Round" : " Perm");
        list.append(batch);
    }
    list.squeeze();
    EXPECT_EQ(list.size(), 100000);
    EXPECT_LE(double(list.memoryUsed()), (list.byteCount() + 4 * list.size()) * 1.01);
}

// The password goes where it stands as the password, and nowhere else: a
// short one must not riddle the log, a login must never be kept.
TEST(Secrets, BlotsTheLoginArgumentDigestsAndThePasswordAsAWord)
{
    const QByteArray digest = "0123456789abcdef0123456789ABCDEF";
    struct Case
    {
        QByteArray line, password, blotted;
        bool loginCommand;
    };
    const Case cases[] = {
        {"login secret", "secret", "login ********", true},
        {"  LoGiN\t wrong guess ", "secret", "  LoGiN\t ********", true},
        {"Login " + digest, "", "Login ********", true},
        {"login", "secret", "login", true},
        {"\tlogin  ", "secret", "\tlogin  ", true},
        {"loginsecret", "", "loginsecret", false},
        {"exec login secret", "", "exec login secret", false},
        {"typed pa\xe9ss, then login " + digest + " and login short", "pa\xe9ss",
         "typed ********, then login ******** and login short", false},
        {"sent LOGIN\t" + digest + "!", "", "sent LOGIN\t********!", false},
        {"sent login " + digest + "0", "", "sent login " + digest + "0", false},
        {"sent relogin " + digest, "", "sent relogin " + digest, false},
        {"a map called a", "a", "******** map called ********", false},
        {"secrets, mysecret, secret_x, caf\xe9secret", "secret", "secrets, mysecret, secret_x, caf\xe9secret", false},
        {"Player \"secret\" said secret.", "secret", "Player \"********\" said ********.", false},
        {"my pass word here", "pass word", "my ******** here", false},
        {"nothing to hide", "", "nothing to hide", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(secrets::blotSecrets(c.line, c.password), c.blotted) << c.line.constData();
        EXPECT_EQ(secrets::isLoginCommand(c.line), c.loginCommand) << c.line.constData();
        EXPECT_EQ(secrets::holdsSecret(c.line, c.password), c.loginCommand || c.blotted != c.line)
            << c.line.constData();
    }
}
