#pragma once

#include <benchmark/benchmark.h>

namespace corvalle::bench {

// True when a run ended in an error or was skipped, so it has no time to report.
// Google Benchmark 1.8 replaced Run::error_occurred by the Run::skipped enum.
template <typename Run> bool runFailed(const Run& run) {
    if constexpr (requires { run.skipped; }) {
        return static_cast<bool>(run.skipped);
    } else {
        return run.error_occurred;
    }
}

} // namespace corvalle::bench
