// The core benchmarks: Google Benchmark's table, then the figures scripts/bench
// reports, each ratio taken between runs of the same process. The heap keeps
// glibc's default settings, so that what memory costs the program is counted.

#include "ban_reply.h"
#include "bench_summary.h"

#include <QCoreApplication>

#include <string>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv); // the session's socket needs an event loop
    SummaryReporter reporter;
    if (!runBenchmarks(argc, argv, reporter))
        return 1;

    // With repetitions the median of them, else the single run.
    const bool repeated = reporter.find("BM_ZeroCopySplit/100000", "median") != nullptr;
    const std::string typical = repeated ? "median" : "";
    const auto rate = [&](const std::string& name) { return reporter.counter(name, "bytes_per_second", typical); };
    const double mega = 1e6;
    for (const auto& [lines, key] : {std::pair{100000, "100k"}, {1000000, "1m"}}) {
        const std::string size = std::to_string(lines);
        const std::string k = key;
        printResult("reply_bytes_" + k, double(banListReplyOf(lines).size()));
        const double split = rate("BM_ZeroCopySplit/" + size);
        printResult("split_" + k + "_mbps", split / mega);
        for (const auto& [read, readKey] : {std::pair{64, "64k"}, {1024, "1m"}}) {
            const double reader = rate("BM_ReplyReader/" + size + '/' + std::to_string(read) + "/0");
            printResult("reader_" + k + '_' + readKey + "_mbps", reader / mega);
            printResult("reader_" + k + '_' + readKey + "_ratio", reader / split);
        }
        const double listed = rate("BM_ReplyReader/" + size + "/64/1");
        printResult("reader_" + k + "_listed_mbps", listed / mega);
        printResult("reader_" + k + "_listed_ratio", listed / split);
        const double recvLoop = rate("BM_RecvLoopOverLoopback/" + size);
        const double session = rate("BM_SessionOverLoopback/" + size);
        printResult("recv_" + k + "_mbps", recvLoop / mega);
        printResult("session_" + k + "_mbps", session / mega);
        printResult("session_" + k + "_ratio", session / recvLoop);
    }
    return 0;
}
