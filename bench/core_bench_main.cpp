// The core benchmarks: Google Benchmark's table, then the figures scripts/bench
// reports, the ratios taken from runs of the same process. Rates are bytes per
// second of the benchmark thread's processor time (Google Benchmark's way), so
// other processes on the machine disturb them less than they do wall time.

#include "ban_reply.h"
#include "bench_summary.h"

#include <malloc.h>
#include <string>

int main(int argc, char** argv)
{
    // Keep freed memory in the heap. Otherwise whether the 100,000 entries an
    // iteration frees go back to the system, to be faulted in again by the
    // next, depends on where they happened to lie, and the figures jump by a
    // factor of two from run to run with it.
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    mallopt(M_MMAP_THRESHOLD, 1 << 30);

    SummaryReporter reporter;
    if (!runBenchmarks(argc, argv, reporter))
        return 1;

    // With repetitions the median of them, else the single run.
    const bool repeated = reporter.find("BM_PlainLineSplit", "median") != nullptr;
    const std::string typical = repeated ? "median" : "";
    const auto rate = [&](const std::string& name) { return reporter.counter(name, "bytes_per_second", typical); };
    // How much the rate varied over the repetitions, in percent.
    const auto spread = [&](const std::string& name) {
        return repeated ? reporter.counter(name, "bytes_per_second", "cv") * 100 : 0.0;
    };

    const double mega = 1e6;
    printResult("reply_bytes", double(banListReply().size()));
    const double split = rate("BM_PlainLineSplit");
    printResult("split_mbps", split / mega);
    printResult("split_cv_pct", spread("BM_PlainLineSplit"));
    for (const auto& [size, key] : {std::pair{1 << 10, "1k"}, {64 << 10, "64k"}, {1 << 20, "1m"}}) {
        const std::string name = "BM_ReplyReader/" + std::to_string(size);
        printResult(std::string("reader_") + key + "_mbps", rate(name) / mega);
        printResult(std::string("reader_") + key + "_ratio", rate(name) / split);
        printResult(std::string("reader_") + key + "_cv_pct", spread(name));
    }
    printResult("seed_search_mbps", rate("BM_SeedMarkerSearch") / mega);
    printResult("seed_search_sv_mbps", rate("BM_SeedMarkerSearchStringView") / mega);
    return 0;
}
