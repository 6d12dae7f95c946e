// The reply reader: which server texts it recognises, how it cuts list replies
// into entries, and that it does so however the replies are cut into reads.

#include "session/reply_reader.h"
#include "support/printers.h"

#include <gtest/gtest.h>
#include <map>

namespace {

// Applies what the reader reports to plain lists, and records the rest.
class RecordingSink : public ReplySink
{
public:
    // The reader whose busy flag is noted when the greeting is answered.
    const ReplyReader* reader = nullptr;

    QList<QByteArray> logLines;
    std::map<ListKind, QList<QByteArray>> lists;
    QList<QByteArray> seedsAnswered;
    QList<bool> busyWhenAnswered;
    int logins = 0;
    int closes = 0;
    int repliesEnded = 0;
    QByteArray recognisedText, otherText;
    QList<ListKind> listsEnded;

    void log(const QByteArray& line) override { logLines.append(line); }
    void answerGreeting(const QByteArray& seed) override
    {
        seedsAnswered.append(seed);
        busyWhenAnswered.append(reader->isBusy());
    }
    void loginSucceeded() override { ++logins; }
    void closeConnection() override { ++closes; }
    void clearList(ListKind list) override { lists[list].clear(); }
    void addEntry(ListKind list, QByteArrayView first, QByteArrayView second) override
    {
        lists[list].append(first.toByteArray() + second.toByteArray());
    }
    void replyText(QByteArrayView bytes, bool recognised) override
    {
        (recognised ? recognisedText : otherText).append(bytes);
    }
    void listEnded(ListKind list) override { listsEnded.append(list); }
    void replyEnded() override { ++repliesEnded; }

    // Starts the records over, as a fresh sink would.
    void forget()
    {
        logLines.clear();
        lists.clear();
        seedsAnswered.clear();
        busyWhenAnswered.clear();
        logins = closes = repliesEnded = 0;
        recognisedText.clear();
        otherText.clear();
        listsEnded.clear();
    }
};

// A reader and the sink it reports to, kept together as the session keeps them.
struct Console
{
    Console() { sink.reader = &reader; }
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    void read(const QByteArray& chunk) { reader.read(chunk); }

    RecordingSink sink;
    ReplyReader reader{sink};
};

QByteArray Bytes(const char* text)
{
    return QByteArray(text);
}

struct ReadResult
{
    QList<QByteArray> log;
    QList<QByteArray> maps, players, bans;
};

// What `chunks` give, read by `console` with whatever state it has kept.
ReadResult ReadAll(const QList<QByteArray>& chunks, Console& console)
{
    RecordingSink& sink = console.sink;
    sink.forget();
    for (const QByteArray& chunk : chunks)
        console.read(chunk);
    return {sink.logLines, sink.lists[ListKind::Maps], sink.lists[ListKind::Players], sink.lists[ListKind::Bans]};
}

ReadResult ReadAll(const QList<QByteArray>& chunks)
{
    Console console;
    return ReadAll(chunks, console);
}

const QByteArray kHashA = "0123456789abcdef0123456789abcdef";
const QByteArray kMapReply =
    "0: \"gulf_of_oman\" gpm_cq 32\n1: \"strike_at_karkand\" gpm_cq 64\n12: \"x\" gpm_cq 16\n\x04";
const QByteArray kBanReply = "Key: " + kHashA + " Perm\nKey: fedcba " + "Round\nKey: aaaa Time Left: 120\n\x04";
const QByteArray kPlayerReply = "Id:  0 - Alpha is remote ip: 10.0.0.1:1 ->\n         CD-key hash: " + kHashA
    + "\nId:  1 - Bravo is remote ip: 10.0.0.2:2 ->\n         CD-key hash: " + kHashA + "\n\x04";

// A greeting line of `length` bytes that ends in a 16-character seed.
QByteArray greetingLine(qsizetype length)
{
    const QByteArray seedText = "### Digest seed: ABCDEFGHIJKLMNOP";
    return QByteArray(length - seedText.size(), '#') + seedText + '\n';
}

} // namespace

TEST(ReplyReader, CutsEachListReplyIntoItsListBox)
{
    const ReadResult maps = ReadAll({kMapReply});
    EXPECT_EQ(maps.log, QList<QByteArray>({"Refreshing map list..."}));
    EXPECT_EQ(maps.maps,
              QList<QByteArray>(
                  {"0: \"gulf_of_oman\" gpm_cq 32", "1: \"strike_at_karkand\" gpm_cq 64", "12: \"x\" gpm_cq 16"}));

    const ReadResult bans = ReadAll({kBanReply});
    EXPECT_EQ(bans.log, QList<QByteArray>({"Refreshing ban list..."}));
    EXPECT_EQ(bans.bans,
              QList<QByteArray>({"Key: " + kHashA + " Perm", "Key: fedcba Round", "Key: aaaa Time Left: 120"}));

    const ReadResult players = ReadAll({kPlayerReply});
    EXPECT_EQ(players.log, QList<QByteArray>({"Refreshing player list..."}));
    EXPECT_EQ(players.players,
              QList<QByteArray>({"Id:  0 - Alpha is remote ip: 10.0.0.1:1 ->         CD-key hash: " + kHashA,
                                 "Id:  1 - Bravo is remote ip: 10.0.0.2:2 ->         CD-key hash: " + kHashA}));
}

TEST(ReplyReader, KeepsEveryByteButTheLineFeed)
{
    struct Case
    {
        const char* name;
        QByteArray chunk;
        QList<QByteArray> maps, players, bans;
    };
    const QList<Case> cases = {
        {"carriage returns stay", Bytes("0: a\r\n1: b\r\n\x04"), {"0: a\r", "1: b\r"}, {}, {}},
        {"empty lines are entries", Bytes("0: a\n\n1: b\n\x04"), {"0: a", "", "1: b"}, {}, {}},
        {"a player's carriage return stays between the joined lines",
         Bytes("Id: 1\r\nhash\r\n\x04"),
         {},
         {"Id: 1\rhash\r"},
         {}},
        {"control and high bytes pass",
         QByteArray("Key: \x00\x7f\xff Perm\n\x04", 14),
         {},
         {},
         {QByteArray("Key: \x00\x7f\xff Perm", 13)}},
        {"text before the marker starts nothing", Bytes("x0: a\n\x04"), {}, {}, {}},
        {"bytes after the last line feed are not an entry", Bytes("0: a\n1: b\x04"), {"0: a"}, {}, {}},
    };
    for (const Case& c : cases) {
        const ReadResult r = ReadAll({c.chunk});
        EXPECT_EQ(r.maps, c.maps) << c.name;
        EXPECT_EQ(r.players, c.players) << c.name;
        EXPECT_EQ(r.bans, c.bans) << c.name;
    }
}

TEST(ReplyReader, RecognisesLoginOutcomesAndUnknownCommandsAtTheStartOnly)
{
    struct Case
    {
        QByteArray chunk;
        QList<QByteArray> log;
        int logins, closes;
    };
    const QList<Case> cases = {
        {"Authentication successful, rcon ready.\n\x04", {"Authentication successful"}, 1, 0},
        {"Authentication failed.\n\x04", {"Authentication Failed"}, 0, 1},
        {"unknown command: 'foo'\n\x04", {"Unknown Command"}, 0, 0},
        {"error: Authentication successful\n\x04", {}, 0, 0},
        {"Unknown object or method!\n\x04", {}, 0, 0},
        {"\x04", {}, 0, 0},
    };
    for (const Case& c : cases) {
        Console console;
        console.read(c.chunk);
        EXPECT_EQ(console.sink.logLines, c.log) << c.chunk.constData();
        EXPECT_EQ(console.sink.logins, c.logins) << c.chunk.constData();
        EXPECT_EQ(console.sink.closes, c.closes) << c.chunk.constData();
    }
}

TEST(ReplyReader, TakesUpToSixteenCharactersOfTheSeedAndRaisesBusyOnlyForAChunkEndingInItsOnly04)
{
    struct Case
    {
        QByteArray chunk;
        QByteArray seed;
        bool busy;
    };
    const QList<Case> cases = {
        {"### Battlefield 2 default RCON/admin ready.\n### Digest seed: abcdefghijklmnopqrst\n\n", "abcdefghijklmnop",
         false},
        {"### Digest seed: abcde\n", "abcde", false},
        {"### Digest seed: \n", "", false},
        {"### Digest seed: ABCDEFGHIJKLMNOP\n\x04", "ABCDEFGHIJKLMNOP", true},
        {"\x04### Digest seed: ABCDEFGHIJKLMNOP\n\x04", "ABCDEFGHIJKLMNOP", false},
        // A greeting line is kept to its first 64 KiB: a seed at the end of a longer one is cut.
        {greetingLine(64 * 1024), "ABCDEFGHIJKLMNOP", false},
        {greetingLine(64 * 1024 + 1), "ABCDEFGHIJKLMNO", false},
    };
    for (const Case& c : cases) {
        Console console;
        console.reader.startConnection();
        console.read(c.chunk);
        RecordingSink& sink = console.sink;
        ASSERT_EQ(sink.seedsAnswered.size(), 1) << c.chunk.constData();
        EXPECT_EQ(sink.seedsAnswered[0], c.seed);
        EXPECT_EQ(sink.busyWhenAnswered[0], c.busy) << c.chunk.constData();
        EXPECT_EQ(console.reader.digestSeed(), c.seed);
        EXPECT_FALSE(console.reader.isBusy()) << "the flag never outlives the read";
    }
}

TEST(ReplyReader, AReplySpreadOverReadsContinuesWithoutANewStart)
{
    Console console;
    const ReadResult r = ReadAll({"0: a\n1: b\n", "2: c\n", "\x04"}, console);
    EXPECT_EQ(r.log, QList<QByteArray>({"Refreshing map list..."}));
    EXPECT_EQ(r.maps, QList<QByteArray>({"0: a", "1: b", "2: c"}));
    EXPECT_FALSE(console.reader.isListOpen(ListKind::Maps));
}

TEST(ReplyReader, AReadThatContinuesAListIsNotTakenForTheStartOfAnotherReply)
{
    // A read may cut a reply anywhere, so the next read can begin with text
    // that looks like a marker or a login outcome and is the list's own.
    for (const QByteArray& start :
         {QByteArray("Key: k Perm"), QByteArray("0:50 ->"), QByteArray("Authentication failed")}) {
        const QByteArray continuation = start + "\n         CD-key hash: h\n\x04";
        Console console;
        RecordingSink& sink = console.sink;
        console.read(
            "Id:  1 - a is remote ip: 1.2.3.4:1234 ->\n         CD-key hash: h\nId:  2 - b is remote ip: 1.2.3.5:5");
        console.read(continuation);
        EXPECT_EQ(sink.lists[ListKind::Players].size(), 2) << continuation.constData();
        EXPECT_TRUE(sink.lists[ListKind::Maps].isEmpty()) << continuation.constData();
        EXPECT_TRUE(sink.lists[ListKind::Bans].isEmpty()) << continuation.constData();
        EXPECT_EQ(sink.logLines, QList<QByteArray>({"Refreshing player list..."})) << continuation.constData();
        EXPECT_EQ(sink.closes, 0);
    }
}

TEST(ReplyReader, AReplyWithoutItsMarkerLeavesTheOldEntries)
{
    Console console;
    console.read(kMapReply);
    console.read("\x04");
    EXPECT_EQ(console.sink.lists[ListKind::Maps].size(), 3);
}

// Whatever the reads look like, a stream of replies gives the same entries and
// the same log: lines split across reads are joined, replies joined in one read
// are handled one at a time.
TEST(ReplyReader, GivesTheSameResultHoweverTheStreamIsCut)
{
    const QList<QByteArray> streams = {
        kMapReply + kBanReply,
        kBanReply + kMapReply,
        kPlayerReply + kMapReply + kPlayerReply,
        kMapReply + kPlayerReply + kBanReply,
        // Line ends in front of a reply belong to none, in a read of their own or not.
        "\n" + kMapReply + "\r\n" + kPlayerReply,
    };
    for (const QByteArray& stream : streams) {
        const ReadResult whole = ReadAll({stream});
        // One reply per read is the case the reader was always right about.
        QList<QByteArray> perReply;
        for (const QByteArray& reply : stream.split('\x04'))
            if (!reply.isEmpty())
                perReply.append(reply + '\x04');
        const ReadResult expected = ReadAll(perReply);
        EXPECT_EQ(whole.log, expected.log);
        EXPECT_EQ(whole.maps, expected.maps);
        EXPECT_EQ(whole.players, expected.players);
        EXPECT_EQ(whole.bans, expected.bans);

        for (qsizetype cut = 1; cut < stream.size(); ++cut) {
            for (qsizetype second = cut; second <= stream.size(); second += 37) {
                const ReadResult split = ReadAll({stream.left(cut), stream.mid(cut, second - cut), stream.mid(second)});
                ASSERT_EQ(split.log, expected.log) << "cut at " << cut << " and " << second;
                ASSERT_EQ(split.maps, expected.maps) << "cut at " << cut << " and " << second;
                ASSERT_EQ(split.players, expected.players) << "cut at " << cut << " and " << second;
                ASSERT_EQ(split.bans, expected.bans) << "cut at " << cut << " and " << second;
            }
        }
    }
}

TEST(ReplyReader, RepliesJoinedInOneReadAreReadOneAtATime)
{
    const QByteArray stream = kBanReply + "unknown command: 'x'\n\x04" + kMapReply
        + "Authentication successful, rcon ready.\n\x04" + kPlayerReply;
    const ReadResult r = ReadAll({stream});
    EXPECT_EQ(r.log,
              QList<QByteArray>({"Refreshing ban list...", "Unknown Command", "Refreshing map list...",
                                 "Authentication successful", "Refreshing player list..."}));
    EXPECT_EQ(r.bans.size(), 3);
    EXPECT_EQ(r.maps.size(), 3) << "the map list stops at its own 0x04";
    EXPECT_EQ(r.players.size(), 2);
}

TEST(ReplyReader, EachPlayerListPairsItsOwnLines)
{
    Console console;
    const ReadResult r = ReadAll({"Id: a\nb\nc\n\x04"}, console);
    EXPECT_EQ(r.players, QList<QByteArray>({"Id: ab"}));
    EXPECT_TRUE(console.reader.isPlayerEntryHalfDone());

    const ReadResult next = ReadAll({"Id: d\ne\nf\ng\n\x04"}, console);
    EXPECT_EQ(next.players, QList<QByteArray>({"Id: de", "fg"}));
}

TEST(ReplyReader, ANewConnectionStartsClean)
{
    // Whether or not the end of the old connection was seen first.
    for (const bool endSeen : {true, false}) {
        Console console;
        RecordingSink& sink = console.sink;
        ReadAll({"0: a\n1: b"}, console);
        ASSERT_TRUE(console.reader.isListOpen(ListKind::Maps));

        if (endSeen) {
            console.reader.endConnection();
            EXPECT_FALSE(console.reader.isListOpen(ListKind::Maps));
        }
        console.reader.startConnection();
        console.sink.forget();
        console.read("### Digest seed: abcdefghijklmnop\n");
        EXPECT_TRUE(sink.lists[ListKind::Maps].isEmpty()) << "the greeting is not a map entry";
        EXPECT_EQ(sink.seedsAnswered, QList<QByteArray>({"abcdefghijklmnop"}));

        console.read("0: x\n\x04");
        EXPECT_EQ(sink.lists[ListKind::Maps], QList<QByteArray>({"0: x"})) << "no half line from before is joined";
    }
}

// A stock server greets in three writes and the client answers the seed at
// once, so the greeting's closing line feed and the login's outcome often share
// a read, and a slow link may cut any of it anywhere. The outcome can only
// come after the seed line, so no read holds both.
TEST(ReplyReader, TheGreetingAndTheLoginOutcomeGiveOneResultHoweverTheyAreCut)
{
    const QByteArray seedLine = "### Battlefield 2 default RCON/admin ready.\n### Digest seed: QwErTyUiOpAsDfGh\n";
    struct Case
    {
        QByteArray outcome;
        QList<QByteArray> log;
        int logins, closes;
    };
    const QList<Case> cases = {
        {"Authentication successful, rcon ready.\n\x04", {"Authentication successful"}, 1, 0},
        {"Authentication failed.\n\x04", {"Authentication Failed"}, 0, 1},
        {"\r\nunknown command: 'x'\n\x04", {"Unknown Command"}, 0, 0},
    };
    for (const Case& c : cases) {
        const QByteArray stream = seedLine + '\n' + c.outcome;
        const auto readsGiveTheOutcome = [&](const QList<qsizetype>& cuts) {
            Console console;
            console.reader.startConnection();
            RecordingSink& sink = console.sink;
            qsizetype from = 0;
            for (const qsizetype to : cuts) {
                console.read(stream.mid(from, to - from));
                from = to;
            }
            return sink.seedsAnswered == QList<QByteArray>({"QwErTyUiOpAsDfGh"}) && sink.logLines == c.log
                && sink.logins == c.logins && sink.closes == c.closes && sink.repliesEnded == 1;
        };
        QList<qsizetype> bytewise;
        for (qsizetype i = 1; i <= stream.size(); ++i)
            bytewise.append(i);
        EXPECT_TRUE(readsGiveTheOutcome(bytewise)) << "one byte per read";
        // The read that completes the seed line may or may not take the empty line after it.
        for (const qsizetype seedRead : {seedLine.size(), seedLine.size() + 1}) {
            for (qsizetype first = 1; first <= seedRead; ++first) {
                for (qsizetype second = seedRead; second <= stream.size(); ++second) {
                    ASSERT_TRUE(readsGiveTheOutcome({first, seedRead, second, stream.size()}))
                        << c.log.value(0).constData() << ": reads end at " << first << ", " << seedRead << ", "
                        << second;
                }
            }
        }
    }
}

TEST(ReplyReader, TheSeedIsAnsweredOnlyWhileTheGreetingIsAwaited)
{
    Console console;
    console.reader.startConnection();
    RecordingSink& sink = console.sink;
    console.read("### Digest seed: abcdefghijklmnop\n\n");
    console.read("Id: 1 - Digest seed: 0123456789abcdef is remote ip: 1.2.3.4:5 ->\nhash\n\x04");
    console.read("error: no player with id 'Digest seed: x'\n\x04");
    EXPECT_EQ(sink.seedsAnswered, QList<QByteArray>({"abcdefghijklmnop"}));
    EXPECT_EQ(sink.lists[ListKind::Players].size(), 1);
    EXPECT_EQ(sink.repliesEnded, 2);
}

// With one command on the wire, every byte up to a 0x04 belongs to one reply:
// its later reads are its own, whatever they begin with, and its text is
// reported, marked when the reader knows the reply.
TEST(ReplyReader, AReplyRunsToItsEndAndItsTextIsReportedAsItArrives)
{
    struct Case
    {
        QList<QByteArray> reads;
        QByteArray recognised, other;
        QList<QByteArray> maps, log;
    };
    const QList<Case> cases = {
        {{"name: Server\n", "0: not a map line\n\x04"}, "", "name: Server\n0: not a map line\n", {}, {}},
        {{"Unknown object", " or method!\n\x04"}, "", "Unknown object or method!\n", {}, {}},
        {{"unkn", "own command: 'x'\n\x04"}, "unknown command: 'x'\n", "", {}, {"Unknown Command"}},
        {{"0: a\nKey: b\n", "Id: c\n\x04"},
         "0: a\nKey: b\nId: c\n",
         "",
         {"0: a", "Key: b", "Id: c"},
         {"Refreshing map list..."}},
        {{"\x04", "\x04"}, "", "", {}, {}},
    };
    for (const Case& c : cases) {
        Console console;
        const ReadResult r = ReadAll(c.reads, console);
        EXPECT_EQ(console.sink.recognisedText, c.recognised) << c.reads.join().constData();
        EXPECT_EQ(console.sink.otherText, c.other) << c.reads.join().constData();
        EXPECT_EQ(r.maps, c.maps) << c.reads.join().constData();
        EXPECT_EQ(r.log, c.log) << c.reads.join().constData();
        EXPECT_EQ(console.sink.repliesEnded, c.reads.join().count('\x04'));
    }
}

// A server can send one line without end: the entry keeps its first 16 MiB,
// the log says so once, and the lines after it are whole. A line of exactly
// 16 MiB is kept whole, whether it comes in one read or in many.
TEST(ReplyReader, AListLineLongerThan16MiBIsCutToItsFirst16MiB)
{
    const qsizetype limit = 16 * 1024 * 1024; // the stated bound, not the constant
    const QList<QByteArray> kept = {"Refreshing ban list..."};
    const QList<QByteArray> cut = kept + QList<QByteArray>({"A list line longer than 16 MiB was cut short..."});
    const std::pair<qsizetype, QList<QByteArray>> cases[] = {
        {limit, kept}, {limit + 1, cut}, {limit + 3 * 1024 * 1024, cut}};
    for (const auto& [length, log] : cases) {
        const QByteArray longLine = "Key: " + QByteArray(length - 5, 'k');
        const QByteArray stream = "Key: first Perm\n" + longLine + "\nKey: last Perm\n\x04";
        for (const qsizetype readSize : {stream.size(), qsizetype(1024 * 1024)}) {
            SCOPED_TRACE(testing::Message() << "a line of " << length << " bytes, reads of " << readSize);
            QList<QByteArray> reads;
            for (qsizetype at = 0; at < stream.size(); at += readSize)
                reads.append(stream.mid(at, readSize));
            Console console;
            const ReadResult r = ReadAll(reads, console);
            ASSERT_EQ(r.bans.size(), 3);
            EXPECT_EQ(r.bans[0], "Key: first Perm");
            EXPECT_EQ(r.bans[1].size(), std::min(length, limit));
            EXPECT_TRUE(longLine.startsWith(r.bans[1]));
            EXPECT_EQ(r.bans[2], "Key: last Perm");
            EXPECT_EQ(r.log, log);
        }
    }
}
