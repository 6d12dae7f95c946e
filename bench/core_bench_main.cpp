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
    if (!RunBenchmarks(argc, argv, reporter))
        return 1;

    // With repetitions the median of them, else the single run.
    const bool repeated = reporter.Find("BM_PlainLineSplit", "median") != nullptr;
    const std::string typical = repeated ? "median" : "";
    const auto rate = [&](const std::string& name) { return reporter.Counter(name, "bytes_per_second", typical); };
    // How much the rate varied over the repetitions, in percent.
    const auto spread = [&](const std::string& name) {
        return repeated ? reporter.Counter(name, "bytes_per_second", "cv") * 100 : 0.0;
    };

    const double mega = 1e6;
    PrintResult("reply_bytes", double(BanListReply().size()));
    const double split = rate("BM_PlainLineSplit");
    PrintResult("split_mbps", split / mega);
    PrintResult("split_cv_pct", spread("BM_PlainLineSplit"));
    for (const auto& [size, key] : {std::pair{1 << 10, "1k"}, {64 << 10, "64k"}, {1 << 20, "1m"}}) {
        const std::string name = "BM_ReplyReader/" + std::to_string(size);
        PrintResult(std::string("reader_") + key + "_mbps", rate(name) / mega);
        PrintResult(std::string("reader_") + key + "_ratio", rate(name) / split);
        PrintResult(std::string("reader_") + key + "_cv_pct", spread(name));
    }
    PrintResult("seed_search_mbps", rate("BM_SeedMarkerSearch") / mega);
    PrintResult("seed_search_sv_mbps", rate("BM_SeedMarkerSearchStringView") / mega);
    for (const auto& [size, key] : {std::pair{64, "64"}, {1 << 20, "1m"}}) {
        const double ours = rate("BM_Md5HexDigest/" + std::to_string(size));
        const double qt = rate("BM_QtMd5Hex/" + std::to_string(size));
        PrintResult(std::string("md5_") + key + "_mbps", ours / mega);
        PrintResult(std::string("qtmd5_") + key + "_mbps", qt / mega);
        PrintResult(std::string("md5_") + key + "_ratio", ours / qt);
        PrintResult(std::string("md5_") + key + "_cv_pct", spread("BM_Md5HexDigest/" + std::to_string(size)));
    }
    return 0;
}
