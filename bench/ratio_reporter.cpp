#include "ratio_reporter.h"

#include <cstdio>

namespace {

// One row of the closing table: numerator / denominator when a denominator
// is named, else the numerator itself (in ns, or the named counter).
struct Target {
    const char* what;
    const char* numerator;
    const char* denominator;
    const char* counter;
    double limit;
};

const char kNarrow1[] = "BM_WrittenRecordNarrow/real_time/threads:1";
const char kNarrow2[] = "BM_WrittenRecordNarrow/real_time/threads:2";
const char kWide1[] = "BM_WrittenRecordWide/real_time/threads:1";
const char kWide2[] = "BM_WrittenRecordWide/real_time/threads:2";
const char kSpdlog1[] = "BM_PeerSpdlogRotatingFlushed/real_time/threads:1";
const char kSpdlog2[] = "BM_PeerSpdlogRotatingFlushed/real_time/threads:2";
const char kFloor1[] = "BM_PeerFloorOneWrite/real_time/threads:1";
const char kFloor2[] = "BM_PeerFloorOneWrite/real_time/threads:2";

const Target kTargets[] = {
    {"written narrow, 1 thread / spdlog", kNarrow1, kSpdlog1, nullptr, 1.00},
    {"written narrow, 2 threads / spdlog", kNarrow2, kSpdlog2, nullptr, 1.00},
    {"written wide, 1 thread / spdlog", kWide1, kSpdlog1, nullptr, 1.00},
    {"written wide, 2 threads / spdlog", kWide2, kSpdlog2, nullptr, 1.00},
    {"written narrow, 1 thread / one write(2)", kNarrow1, kFloor1, nullptr, 2.00},
    {"written narrow, 2 threads / one write(2)", kNarrow2, kFloor2, nullptr, 2.00},
    {"written wide, 1 thread / one write(2)", kWide1, kFloor1, nullptr, 2.00},
    {"written wide, 2 threads / one write(2)", kWide2, kFloor2, nullptr, 2.00},
    {"written narrow / raw log4cxx forcedLog", kNarrow1, "BM_PeerLog4cxxForcedLog/real_time/threads:1",
     nullptr, 1.00},
    {"written wide / raw log4cxx wide forcedLog", kWide1, "BM_PeerLog4cxxForcedLogWide/real_time/threads:1",
     nullptr, 1.00},
    {"1,000 modules / one module, 1 thread", "BM_WrittenRecordManyModules/real_time/threads:1", kNarrow1,
     nullptr, 1.02},
    {"1,000 modules / one module, 2 threads", "BM_WrittenRecordManyModules/real_time/threads:2", kNarrow2,
     nullptr, 1.02},
    {"bytes kept after a 49,151-character message, narrow", "BM_RetainedAfterLongMessage/iterations:1",
     nullptr, "narrow_bytes", 8192},
    {"bytes kept after a 49,151-character message, wide", "BM_RetainedAfterLongMessage/iterations:1", nullptr,
     "wide_bytes", 8192},
    {"due refresh (ns)", "BM_DueRefresh", nullptr, nullptr, 30000},
    {"logging off, 1 thread (ns)", "BM_LoggingOff/threads:1", nullptr, nullptr, 10},
    {"logging off, 2 threads (ns)", "BM_LoggingOff/threads:2", nullptr, nullptr, 10},
    {"rejected by the threshold, 1 thread (ns)", "BM_RejectedRecord/threads:1", nullptr, nullptr, 25},
    {"rejected by the threshold, 2 threads (ns)", "BM_RejectedRecord/threads:2", nullptr, nullptr, 25},
    {"kept by the recorder / written, 1 thread", "BM_KeptRecord/threads:1", kNarrow1, nullptr, 0.50},
    {"kept by the recorder / written, 2 threads", "BM_KeptRecord/threads:2", kNarrow2, nullptr, 0.50},
    {"written, recorder on / off, 1 thread", "BM_WrittenRecordRecorderOn/real_time/threads:1", kNarrow1,
     nullptr, 1.02},
    {"written, recorder on / off, 2 threads", "BM_WrittenRecordRecorderOn/real_time/threads:2", kNarrow2,
     nullptr, 1.02},
};

double ToNanoseconds(double value, benchmark::TimeUnit unit) {
    switch (unit) {
        case benchmark::kMillisecond:
            return value * 1e6;
        case benchmark::kMicrosecond:
            return value * 1e3;
        default:
            return value;
    }
}

}  // namespace

void CRatioReporter::ReportRuns(const std::vector<Run>& runs) {
    for (const Run& run : runs) {
        if (run.error_occurred) continue;
        bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
        if (run.run_type == Run::RT_Aggregate && !median) continue;
        std::string name = run.run_name.str();
        // A median, once there is one, stands for all repetitions.
        if (!median && haveMedian_[name]) continue;
        haveMedian_[name] = haveMedian_[name] || median;
        cpu_[name] = ToNanoseconds(run.GetAdjustedCPUTime(), run.time_unit);
        for (const auto& counter : run.counters) counters_[name][counter.first] = counter.second.value;
    }
    ConsoleReporter::ReportRuns(runs);
}

void CRatioReporter::Finalize() {
    ConsoleReporter::Finalize();
    std::printf("\n%-52s %12s %10s  %s\n", "target (CPU time, medians of one run)", "measured", "limit", "");
    for (const Target& target : kTargets) {
        double value = 0;
        if (target.counter) {
            auto found = counters_.find(target.numerator);
            if (found == counters_.end() || !found->second.count(target.counter)) continue;
            value = found->second.at(target.counter);
        } else {
            if (!cpu_.count(target.numerator)) continue;
            value = cpu_.at(target.numerator);
            if (target.denominator) {
                if (!cpu_.count(target.denominator) || cpu_.at(target.denominator) <= 0) continue;
                value /= cpu_.at(target.denominator);
            }
        }
        std::printf("%-52s %12.3f %10.2f  %s\n", target.what, value, target.limit,
                    value <= target.limit ? "met" : "MISSED");
    }
}
