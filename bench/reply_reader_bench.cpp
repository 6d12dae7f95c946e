// The reply reader in memory: ban-list replies of 100,000 and 1,000,000 lines
// through ReplyReader in reads of 64 KiB and 1 MiB, into a sink that does what
// the session does with the entries (one block per read, handed on to the
// list's block when the read is done). The yardstick is a memchr split of the
// same bytes that copies nothing: every line a view into the reply.

#include "ban_reply.h"
#include "core/entry_block.h"
#include "session/reply_reader.h"

#include <QList>

#include <array>
#include <benchmark/benchmark.h>
#include <cstring>

namespace {

// What ConsoleSession does with the reader's entries: each read's entries
// gather in a block of their own, handed on whole once the read is done. With
// `keepLists`, also what the list box does with them: they are appended to the
// list's block, which gives back its spare room when the list ends.
class SessionSink : public ReplySink
{
public:
    explicit SessionSink(bool keepLists)
        : keepLists_(keepLists)
    { }

    std::array<EntryBlock, 3> lists;
    std::array<qsizetype, 3> counts{};
    bool ended = false;

    void flush()
    {
        for (size_t i = 0; i < pending_.size(); ++i) {
            if (pending_[i].isEmpty())
                continue;
            const EntryBlock entries = std::exchange(pending_[i], EntryBlock());
            counts[i] += entries.size();
            if (keepLists_)
                lists[i].append(entries);
        }
    }

    void log(const QByteArray&) override { }
    void answerGreeting(const QByteArray&) override { }
    void loginSucceeded() override { }
    void closeConnection() override { }
    void clearList(ListKind list) override
    {
        pending_[size_t(list)].clear();
        lists[size_t(list)].clear();
        counts[size_t(list)] = 0;
    }
    void addEntry(ListKind list, QByteArrayView first, QByteArrayView second) override
    {
        pending_[size_t(list)].append(first, second);
    }
    void replyText(QByteArrayView, bool) override { }
    void listEnded(ListKind list) override
    {
        flush();
        lists[size_t(list)].squeeze(); // the list box gives back the room growing left
        ended = true;
    }
    void replyEnded() override { }

private:
    bool keepLists_;
    std::array<EntryBlock, 3> pending_;
};

// The reply's lines, each a view into it, without their line feeds: the zero-copy split.
void splitLines(const QByteArray& reply, QList<QByteArrayView>& lines)
{
    const char* cursor = reply.constData();
    const char* const end = cursor + reply.size();
    while (const auto* lineFeed = static_cast<const char*>(std::memchr(cursor, '\n', size_t(end - cursor)))) {
        lines.append(QByteArrayView(cursor, lineFeed - cursor));
        cursor = lineFeed + 1;
    }
}

bool sameEntries(const EntryBlock& block, const QList<QByteArrayView>& lines)
{
    if (block.size() != lines.size())
        return false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (block.at(i) != lines[i])
            return false;
    }
    return true;
}

void BM_ZeroCopySplit(benchmark::State& state)
{
    const QByteArray& reply = banListReplyOf(int(state.range(0)));
    QList<QByteArrayView> lines;
    for (auto _ : state) {
        lines.clear(); // keeps its room: the split allocates nothing once warm
        splitLines(reply, lines);
        benchmark::DoNotOptimize(lines.data());
    }
    if (lines.size() != state.range(0))
        state.SkipWithError("the split did not give one view per line");
    state.SetBytesProcessed(int64_t(state.iterations()) * reply.size());
}
BENCHMARK(BM_ZeroCopySplit)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// Arguments: lines, the size of a read in KiB, and 1 to keep the entries in a
// list as the list box does. An iteration is one refresh: a fresh reader
// fills the list, which starts empty, as after the previous one was cleared.
void BM_ReplyReader(benchmark::State& state)
{
    const QByteArray& reply = banListReplyOf(int(state.range(0)));
    const QList<QByteArray> reads = cutIntoReads(reply, state.range(1) << 10);
    {
        SessionSink sink(true);
        ReplyReader reader(sink);
        for (const QByteArray& read : reads) {
            reader.read(read);
            sink.flush();
        }
        QList<QByteArrayView> lines;
        splitLines(reply, lines);
        if (!sink.ended || !sameEntries(sink.lists[size_t(ListKind::Bans)], lines)) {
            state.SkipWithError("the reader did not give the reply's lines");
            return;
        }
    }
    const bool keepLists = state.range(2);
    for (auto _ : state) {
        SessionSink sink(keepLists);
        ReplyReader reader(sink);
        for (const QByteArray& read : reads) {
            reader.read(read);
            sink.flush();
        }
        if (sink.counts[size_t(ListKind::Bans)] != state.range(0)) {
            state.SkipWithError("the reader did not give one entry per line");
            break;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * reply.size());
    state.counters["reads"] = double(reads.size());
}
BENCHMARK(BM_ReplyReader)
    ->Args({100000, 64, 0})
    ->Args({100000, 1024, 0})
    ->Args({1000000, 64, 0})
    ->Args({1000000, 1024, 0})
    ->Args({100000, 64, 1})
    ->Args({1000000, 64, 1})
    ->Unit(benchmark::kMillisecond);

} // namespace
