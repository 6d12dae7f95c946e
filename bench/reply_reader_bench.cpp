// The reply reader alone: the large ban list through ReplyReader in reads of
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

const QByteArray& banReply()
{
    static const QByteArray bytes = banListReply();
    return bytes;
}

// The reply's lines without their line feeds: what the list must hold after.
const QList<QByteArray>& expectedEntries()
{
    static const QList<QByteArray> entries = [] {
        QList<QByteArray> lines = banReply().split('\n');
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
    QList<QByteArray> logged;

    void log(const QByteArray& line) override { logged.append(line); }
    void answerGreeting(const QByteArray&) override { }
    void loginSucceeded() override { }
    void closeConnection() override { }
    void clearList(ListKind list) override { lists[int(list)].clear(); }
    void addEntry(ListKind list, QByteArray entry) override { lists[int(list)].append(std::move(entry)); }
    void replyEnded() override { }
};

void BM_ReplyReader(benchmark::State& state)
{
    const QList<QByteArray> reads = cutIntoReads(banReply(), state.range(0));
    StoringSink sink;
    {
        ReplyReader reader(sink);
        for (const QByteArray& read : reads)
            reader.read(read);
        if (sink.lists[int(ListKind::Bans)] != expectedEntries()) {
            state.SkipWithError("the reader did not give the reply's lines");
            return;
        }
        sink.lists = {};
    }
    for (auto _ : state) {
        ReplyReader reader(sink);
        for (const QByteArray& read : reads)
            reader.read(read);
        state.PauseTiming();
        if (sink.lists[int(ListKind::Bans)].size() != kBanLines || reader.isListOpen(ListKind::Bans)) {
            state.SkipWithError("the reader did not give one entry per line");
            break;
        }
        // The window frees the old list when the next refresh begins; that is
        // not the reader's work.
        sink.lists = {};
        sink.logged.clear();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * banReply().size());
    state.counters["reads"] = double(reads.size());
}
BENCHMARK(BM_ReplyReader)->Arg(1 << 10)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

// memchr over the whole reply, one QByteArray per line kept in a list: what
// any reader of these lines must do at least.
void BM_PlainLineSplit(benchmark::State& state)
{
    const QByteArray& reply = banReply();
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
    if (lines != expectedEntries()) {
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
// marker, which it does in the reads of a connection until the seed came.
void BM_SeedMarkerSearch(benchmark::State& state)
{
    const QByteArray& reply = banReply();
    for (auto _ : state)
        benchmark::DoNotOptimize(text::find(reply, "Digest seed: "));
    state.SetBytesProcessed(int64_t(state.iterations()) * reply.size());
}
BENCHMARK(BM_SeedMarkerSearch)->Unit(benchmark::kMillisecond);

// The same search by std::string_view directly, which looks for the first
// byte with memchr: what text::find costs on top of it.
void BM_SeedMarkerSearchStringView(benchmark::State& state)
{
    const QByteArray& reply = banReply();
    const std::string_view haystack(reply.constData(), size_t(reply.size()));
    for (auto _ : state)
        benchmark::DoNotOptimize(haystack.find("Digest seed: "));
    state.SetBytesProcessed(int64_t(state.iterations()) * reply.size());
}
BENCHMARK(BM_SeedMarkerSearchStringView)->Unit(benchmark::kMillisecond);

} // namespace
