#pragma once

#include "BenchmarkCompat.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

namespace corvalle::bench {

// Runs the benchmarks named on the command line, printing what the console
// reporter prints, and keeps the time per iteration of each run in seconds, as
// wall time and as CPU time, so that main() can report ratios measured in the
// same run.
class RecordedRuns : public benchmark::ConsoleReporter {
public:
    // False when the command line holds an argument the library does not know.
    bool run(int& argc, char** argv) {
        benchmark::Initialize(&argc, argv);
        if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
            return false;
        }
        benchmark::RunSpecifiedBenchmarks(this);
        benchmark::Shutdown();
        return true;
    }

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (!runFailed(r)) {
                const double unit = benchmark::GetTimeUnitMultiplier(r.time_unit);
                wallSeconds[r.benchmark_name()] = r.GetAdjustedRealTime() / unit;
                cpuSeconds[r.benchmark_name()] = r.GetAdjustedCPUTime() / unit;
            }
        }
    }

    std::map<std::string, double> wallSeconds;
    std::map<std::string, double> cpuSeconds;
};

// For each benchmark run with `many` and `few` entries: "ratio NAME many/few"
// and both times in milliseconds. `suffix` follows the argument in the run's
// name ("/real_time" for benchmarks that use real time).
inline void printScaling(const std::map<std::string, double>& seconds,
                         std::initializer_list<const char*> names, int many, int few,
                         const std::string& suffix = "") {
    for (const std::string name : names) {
        const auto m = seconds.find(name + "/" + std::to_string(many) + suffix);
        const auto f = seconds.find(name + "/" + std::to_string(few) + suffix);
        if (m == seconds.end() || f == seconds.end()) {
            continue;
        }
        const std::string shortName = name.substr(name.rfind("BM_", 0) == 0 ? 3 : 0);
        std::printf("ratio %s %.2f\n", shortName.c_str(), m->second / f->second);
        std::printf("ms %s-%d %.3f\n", shortName.c_str(), many, m->second * 1000.0);
        std::printf("ms %s-%d %.3f\n", shortName.c_str(), few, f->second * 1000.0);
    }
}

} // namespace corvalle::bench
