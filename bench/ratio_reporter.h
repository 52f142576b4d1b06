// Prints the benchmarks' usual table, then the targets as ratios of medians
// taken in the same run: a ratio is only as good as the two runs it divides,
// so both always come from one process on one machine state.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>

class CRatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override;
    void Finalize() override;

  private:
    // CPU time per iteration in ns (the median when there are repetitions),
    // and the counters, by benchmark name without its aggregate suffix.
    std::map<std::string, double> cpu_;
    std::map<std::string, std::map<std::string, double>> counters_;
    std::map<std::string, bool> haveMedian_;
};
