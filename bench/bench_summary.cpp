#include "bench_summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {

std::string shortName(const benchmark::BenchmarkReporter::Run& run)
{
    return run.run_name.args.empty() ? run.run_name.function_name
                                     : run.run_name.function_name + '/' + run.run_name.args;
}

} // namespace

SummaryReporter::SummaryReporter()
    : ConsoleReporter(OO_Tabular)
{ }

void SummaryReporter::ReportRuns(const std::vector<Run>& runs)
{
    ConsoleReporter::ReportRuns(runs);
    runs_.insert(runs_.end(), runs.begin(), runs.end());
}

const SummaryReporter::Run* SummaryReporter::find(const std::string& name, const std::string& aggregate) const
{
    for (const Run& run : runs_) {
        const bool wanted = aggregate.empty() ? run.run_type == Run::RT_Iteration
                                              : run.run_type == Run::RT_Aggregate && run.aggregate_name == aggregate;
        if (wanted && !run.error_occurred && shortName(run) == name)
            return &run;
    }
    return nullptr;
}

double SummaryReporter::counter(const std::string& name, const std::string& counter, const std::string& aggregate) const
{
    const Run* run = find(name, aggregate);
    if (!run)
        return std::numeric_limits<double>::quiet_NaN();
    const auto found = run->counters.find(counter);
    return found == run->counters.end() ? std::numeric_limits<double>::quiet_NaN() : double(found->second);
}

bool runBenchmarks(int& argc, char** argv, SummaryReporter& reporter)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return false;
    const size_t ran = benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return ran > 0;
}

void printResult(const std::string& key, double value)
{
    std::printf("RESULT %s %.10g\n", key.c_str(), value);
    std::fflush(stdout);
}

double minimum(const std::vector<double>& values)
{
    return values.empty() ? std::numeric_limits<double>::quiet_NaN() : *std::min_element(values.begin(), values.end());
}

double median(std::vector<double> values)
{
    if (values.empty())
        return std::numeric_limits<double>::quiet_NaN();
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double quantile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return std::numeric_limits<double>::quiet_NaN();
    std::sort(values.begin(), values.end());
    const auto rank = size_t(std::ceil(fraction * double(values.size())));
    return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}
