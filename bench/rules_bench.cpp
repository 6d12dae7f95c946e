// Join rules on a burst: 64 players join at once (a map loaded, a server
// restarted) and every one is checked against 1,000 rules, each with a hash,
// an address range and a name pattern, none of which match, so that every
// condition of every rule is tried. The yardstick is the least any matcher
// must do: a lookup of each player's hash in a set of the 1,000 hashes.

#include "automation/automation_file.h"

#include <QSet>

#include <benchmark/benchmark.h>

namespace {

constexpr int kRules = 1000;
constexpr int kPlayers = 64;

QByteArray hashOf(int n, char salt)
{
    return QByteArray::number(n, 16).rightJustified(31, '0') + salt;
}

QList<WatchEvent> joinBurst()
{
    QList<WatchEvent> burst;
    for (int p = 0; p < kPlayers; ++p) {
        WatchEvent join;
        join.kind = WatchEvent::Kind::Join;
        join.name = QStringLiteral("Player %1").arg(p);
        join.address = QStringLiteral("192.0.2.%1").arg(p + 1);
        join.hash = QString::fromLatin1(hashOf(p, 'b'));
        burst.append(join);
    }
    return burst;
}

void BM_JoinRules(benchmark::State& state)
{
    QByteArray text;
    for (int r = 0; r < kRules; ++r) {
        text += "[[rule]]\nname = \"r" + QByteArray::number(r) + "\"\nwhen = { hash = [\"" + hashOf(r, 'a')
            + "\"], address = [\"10." + QByteArray::number(r % 256) + ".0.0/16\"], name = \"^\\\\[C"
            + QByteArray::number(r) + "\\\\]\" }\naction = \"kick\"\n";
    }
    const AutomationRead read = readAutomation(text);
    if (!read.ok()) {
        state.SkipWithError("the rules did not read");
        return;
    }
    const QList<WatchEvent> burst = joinBurst();
    const RuleScene scene{QStringLiteral("EU 1"), kPlayers, QTime(12, 0)};
    for (auto _ : state) {
        int fired = 0;
        for (const WatchEvent& join : burst) {
            for (const JoinRule& rule : read.file.rules)
                fired += rule.matches(join, scene);
        }
        benchmark::DoNotOptimize(fired);
    }
    state.SetItemsProcessed(state.iterations() * kPlayers * kRules);
}
BENCHMARK(BM_JoinRules)->Unit(benchmark::kMillisecond);

void BM_HashSetLookup(benchmark::State& state)
{
    QSet<QString> hashes;
    for (int r = 0; r < kRules; ++r)
        hashes.insert(QString::fromLatin1(hashOf(r, 'a')));
    const QList<WatchEvent> burst = joinBurst();
    for (auto _ : state) {
        int found = 0;
        for (const WatchEvent& join : burst)
            found += hashes.contains(join.hash.toLower());
        benchmark::DoNotOptimize(found);
    }
}
BENCHMARK(BM_HashSetLookup)->Unit(benchmark::kMicrosecond);

} // namespace
