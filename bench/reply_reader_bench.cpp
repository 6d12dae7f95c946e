// The reply reader alone: the large ban list through ReadReply in reads of
// several sizes, into a sink that keeps the entries as the window does, and
// the plainest line split of the same bytes as the yardstick.

#include "ban_reply.h"
#include "core/text_cut.h"
#include "session/reply_reader.h"

#include <QList>

#include <array>
#include <benchmark/benchmark.h>
#include <cstring>
#include <string_view>

namespace {

const QByteArray& Reply()
{
    static const QByteArray reply = BanListReply();
    return reply;
}

// The reply's lines without their line feeds: what the list must hold after.
const QList<QByteArray>& ExpectedEntries()
{
    static const QList<QByteArray> entries = [] {
        QList<QByteArray> lines = Reply().split('\n');
        lines.removeLast(); // the closing 0x04
        return lines;
    }();
    return entries;
}

// Keeps entries in lists, as the window's list boxes do.
class StoringSink : public ReplySink
{
public:
    std::array<QList<QByteArray>, 3> lists;
    QList<QByteArray> log;

    void Log(const QByteArray& line) override { log.append(line); }
    void AnswerGreeting() override { }
    void LoginSucceeded() override { }
    void CloseConnection() override { }
    void ClearList(ListKind list) override { lists[int(list)].clear(); }
    void AddEntry(ListKind list, QByteArray entry) override { lists[int(list)].append(std::move(entry)); }
};

void BM_ReplyReader(benchmark::State& state)
{
    const QList<QByteArray> reads = CutIntoReads(Reply(), state.range(0));
    StoringSink sink;
    {
        ConsoleState console;
        for (const QByteArray& read : reads)
            ReadReply(console, read, sink);
        if (sink.lists[int(ListKind::Bans)] != ExpectedEntries()) {
            state.SkipWithError("the reader did not give the reply's lines");
            return;
        }
        sink.lists = {};
    }
    for (auto _ : state) {
        ConsoleState console;
        for (const QByteArray& read : reads)
            ReadReply(console, read, sink);
        state.PauseTiming();
        if (sink.lists[int(ListKind::Bans)].size() != kBanLines || console.banListContinuation) {
            state.SkipWithError("the reader did not give one entry per line");
            break;
        }
        // The window frees the old list when the next refresh begins; that is
        // not the reader's work.
        sink.lists = {};
        sink.log.clear();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * Reply().size());
    state.counters["reads"] = double(reads.size());
}
BENCHMARK(BM_ReplyReader)->Arg(1 << 10)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

// memchr over the whole reply, one QByteArray per line kept in a list: what
// any reader of these lines must do at least.
void BM_PlainLineSplit(benchmark::State& state)
{
    const QByteArray& reply = Reply();
    const auto split = [&](QList<QByteArray>& lines) {
        const char* cursor = reply.constData();
        const char* const end = cursor + reply.size();
        while (const auto* lineFeed = static_cast<const char*>(std::memchr(cursor, '\n', end - cursor))) {
            lines.append(QByteArray(cursor, lineFeed - cursor));
            cursor = lineFeed + 1;
        }
    };
    QList<QByteArray> lines;
    split(lines);
    if (lines != ExpectedEntries()) {
        state.SkipWithError("the split did not give the reply's lines");
        return;
    }
    lines = {};
    for (auto _ : state) {
        split(lines);
        state.PauseTiming();
        if (lines.size() != kBanLines) {
            state.SkipWithError("the split did not give one entry per line");
            break;
        }
        lines = {};
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * reply.size());
}
BENCHMARK(BM_PlainLineSplit)->Unit(benchmark::kMillisecond);

// One part of the reader's work on its own: looking for the greeting's seed
// marker, which it does in every read, list replies included.
void BM_SeedMarkerSearch(benchmark::State& state)
{
    const QByteArray& reply = Reply();
    for (auto _ : state)
        benchmark::DoNotOptimize(text::Pos("Digest seed: ", reply));
    state.SetBytesProcessed(int64_t(state.iterations()) * reply.size());
}
BENCHMARK(BM_SeedMarkerSearch)->Unit(benchmark::kMillisecond);

// The same search by std::string_view, which looks for the first byte with
// memchr: how much of that part a different search would save.
void BM_SeedMarkerSearchStringView(benchmark::State& state)
{
    const QByteArray& reply = Reply();
    const std::string_view haystack(reply.constData(), size_t(reply.size()));
    for (auto _ : state)
        benchmark::DoNotOptimize(haystack.find("Digest seed: "));
    state.SetBytesProcessed(int64_t(state.iterations()) * reply.size());
}
BENCHMARK(BM_SeedMarkerSearchStringView)->Unit(benchmark::kMillisecond);

} // namespace
