#pragma once

// What every benchmark program shares: Google Benchmark's console table, the
// runs kept for the figures computed after them, and the "RESULT <key> <value>"
// lines that scripts/bench collects.

#include <benchmark/benchmark.h>
#include <string>
#include <vector>

class SummaryReporter : public benchmark::ConsoleReporter
{
public:
    SummaryReporter();

    void ReportRuns(const std::vector<Run>& runs) override;

    // The run of `name` (function name and arguments, "BM_ReplyReader/1024"):
    // the aggregate `aggregate` ("median", "cv", ...) or, when that is empty,
    // the plain run. Null when there is none.
    const Run* find(const std::string& name, const std::string& aggregate = {}) const;

    // A counter of that run, or NaN.
    double counter(const std::string& name, const std::string& counter, const std::string& aggregate = {}) const;

private:
    std::vector<Run> runs_;
};

// Initialises Google Benchmark with the command line and runs the benchmarks
// into `reporter`. False when the command line was wrong or nothing ran.
bool runBenchmarks(int& argc, char** argv, SummaryReporter& reporter);

void printResult(const std::string& key, double value);

double median(std::vector<double> values);
double minimum(const std::vector<double>& values);
// The value below which `fraction` of the values lie (nearest rank).
double quantile(std::vector<double> values, double fraction);
