// The login digest against Qt's MD5 on the same bytes.

#include "session/md5.h"

#include <QCryptographicHash>

#include <benchmark/benchmark.h>
#include <random>

namespace {

QByteArray RandomBytes(qsizetype size)
{
    std::mt19937 random(1321);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& byte : bytes)
        byte = char(random());
    return bytes;
}

void BM_Md5HexDigest(benchmark::State& state)
{
    const QByteArray input = RandomBytes(state.range(0));
    const QByteArray expected = QCryptographicHash::hash(input, QCryptographicHash::Md5).toHex();
    if (Md5HexDigest(input) != expected)
        state.SkipWithError("Md5HexDigest differs from QCryptographicHash");
    for (auto _ : state)
        benchmark::DoNotOptimize(Md5HexDigest(input));
    state.SetBytesProcessed(int64_t(state.iterations()) * input.size());
}
BENCHMARK(BM_Md5HexDigest)->Arg(64)->Arg(1 << 20);

void BM_QtMd5Hex(benchmark::State& state)
{
    const QByteArray input = RandomBytes(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(QCryptographicHash::hash(input, QCryptographicHash::Md5).toHex());
    state.SetBytesProcessed(int64_t(state.iterations()) * input.size());
}
BENCHMARK(BM_QtMd5Hex)->Arg(64)->Arg(1 << 20);

} // namespace
