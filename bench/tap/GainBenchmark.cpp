// The gain procedure on stereo buffers, interleaved and one per channel, beside a
// copy of the same bytes.
// After the table it prints one line per figure: "ratio <name> <gain time / copy time>".

#include "BenchmarkCompat.h"
#include "GainRender.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using corvalle::AudioBuffer;
using corvalle::AudioBufferList;
using corvalle::GainState;

// One stereo interleaved input and output of the given frame count.
struct StereoCycle {
    explicit StereoCycle(std::size_t frames)
        : inSamples(frames * 2),
          outSamples(frames * 2), inBuffer{2,
                                           static_cast<std::uint32_t>(frames * 2 * sizeof(float)),
                                           inSamples.data()},
          outBuffer{2, static_cast<std::uint32_t>(frames * 2 * sizeof(float)), outSamples.data()},
          input{1, &inBuffer}, output{1, &outBuffer} {
        for (std::size_t i = 0; i < inSamples.size(); ++i) {
            inSamples[i] = static_cast<float>(static_cast<int>(i % 200) - 100) / 120.0F;
        }
    }

    std::vector<float> inSamples;
    std::vector<float> outSamples;
    AudioBuffer inBuffer;
    AudioBuffer outBuffer;
    AudioBufferList input;
    AudioBufferList output;
};

// The same stereo sound as one mono buffer per channel, on either side: the way
// the ports of a graph node hold it.
struct SplitStereoCycle {
    explicit SplitStereoCycle(std::size_t frames)
        : left(frames), right(frames), outLeft(frames), outRight(frames) {
        for (std::size_t i = 0; i < frames; ++i) {
            left[i] = static_cast<float>(static_cast<int>(2 * i % 200) - 100) / 120.0F;
            right[i] = static_cast<float>(static_cast<int>((2 * i + 1) % 200) - 100) / 120.0F;
        }
        const auto bytes = static_cast<std::uint32_t>(frames * sizeof(float));
        inBuffers[0] = AudioBuffer{1, bytes, left.data()};
        inBuffers[1] = AudioBuffer{1, bytes, right.data()};
        outBuffers[0] = AudioBuffer{1, bytes, outLeft.data()};
        outBuffers[1] = AudioBuffer{1, bytes, outRight.data()};
    }

    std::vector<float> left;
    std::vector<float> right;
    std::vector<float> outLeft;
    std::vector<float> outRight;
    AudioBuffer inBuffers[2];
    AudioBuffer outBuffers[2];
    AudioBufferList input{2, inBuffers};
    AudioBufferList output{2, outBuffers};
};

std::size_t framesOf(const benchmark::State& state) {
    return static_cast<std::size_t>(state.range(0));
}

void copyBaseline(benchmark::State& state) {
    StereoCycle cycle(framesOf(state));
    const std::size_t bytes = cycle.inSamples.size() * sizeof(float);
    for (auto _ : state) {
        std::memcpy(cycle.outSamples.data(), cycle.inSamples.data(), bytes);
        benchmark::DoNotOptimize(cycle.outSamples.data());
        benchmark::ClobberMemory();
    }
}

// Every cycle at one gain, with the limiter on or off.
void runAtGain(benchmark::State& state, float gain, bool limiterOn) {
    StereoCycle cycle(framesOf(state));
    GainState gainState;
    gainState.target.store(gain);
    gainState.applied.store(gain);
    gainState.limiterOn.store(limiterOn);
    for (auto _ : state) {
        corvalle::renderGain(&cycle.input, &cycle.output, &gainState);
        benchmark::DoNotOptimize(cycle.outSamples.data());
        benchmark::ClobberMemory();
    }
}

void constantGain(benchmark::State& state) {
    runAtGain(state, 0.7F, true);
}

void splitConstantGain(benchmark::State& state) {
    SplitStereoCycle cycle(framesOf(state));
    GainState gainState;
    gainState.target.store(0.7F);
    gainState.applied.store(0.7F);
    for (auto _ : state) {
        corvalle::renderGain(&cycle.input, &cycle.output, &gainState);
        benchmark::DoNotOptimize(cycle.outLeft.data());
        benchmark::DoNotOptimize(cycle.outRight.data());
        benchmark::ClobberMemory();
    }
}

void rampedGain(benchmark::State& state) {
    StereoCycle cycle(framesOf(state));
    GainState gain;
    gain.applied.store(0.3F);
    bool up = true;
    for (auto _ : state) {
        // A new target every cycle, so every cycle ramps, never to full scale:
        // the limiter waits.
        gain.target.store(up ? 1.15F : 0.3F, std::memory_order_relaxed);
        up = !up;
        corvalle::renderGain(&cycle.input, &cycle.output, &gain);
        benchmark::DoNotOptimize(cycle.outSamples.data());
        benchmark::ClobberMemory();
    }
}

// Four times the input, which reaches 0.83 of full scale: the limiter works on
// every cycle, or with it off every sample above full scale is clipped.
void limitedGain(benchmark::State& state) {
    runAtGain(state, 4.0F, true);
}

void clippedGain(benchmark::State& state) {
    runAtGain(state, 4.0F, false);
}

BENCHMARK(copyBaseline)->Arg(256)->Arg(1024);
BENCHMARK(constantGain)->Arg(256)->Arg(1024);
BENCHMARK(splitConstantGain)->Arg(256)->Arg(1024);
BENCHMARK(rampedGain)->Arg(256)->Arg(1024);
BENCHMARK(limitedGain)->Arg(256)->Arg(1024);
BENCHMARK(clippedGain)->Arg(256)->Arg(1024);

// Prints the table as usual and keeps the time per iteration of every run.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    // No colours: the ratio lines must start clean for whoever reads them.
    RecordingReporter() : ConsoleReporter(OO_None) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !corvalle::bench::runFailed(run)) {
                cpuTimes[run.benchmark_name()] = run.GetAdjustedCPUTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    std::map<std::string, double> cpuTimes;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const struct {
        const char* figure;
        const char* measured;
        const char* baseline;
    } ratios[] = {
        {"constant-256", "constantGain/256", "copyBaseline/256"},
        {"constant-1024", "constantGain/1024", "copyBaseline/1024"},
        {"split-constant-256", "splitConstantGain/256", "copyBaseline/256"},
        {"split-constant-1024", "splitConstantGain/1024", "copyBaseline/1024"},
        {"ramp-256", "rampedGain/256", "copyBaseline/256"},
        {"ramp-1024", "rampedGain/1024", "copyBaseline/1024"},
        {"limiting-256", "limitedGain/256", "copyBaseline/256"},
        {"limiting-1024", "limitedGain/1024", "copyBaseline/1024"},
        {"clipping-256", "clippedGain/256", "copyBaseline/256"},
        {"clipping-1024", "clippedGain/1024", "copyBaseline/1024"},
    };
    for (const auto& ratio : ratios) {
        const auto measured = reporter.cpuTimes.find(ratio.measured);
        const auto baseline = reporter.cpuTimes.find(ratio.baseline);
        if (measured == reporter.cpuTimes.end() || baseline == reporter.cpuTimes.end() ||
            baseline->second <= 0.0) {
            continue;
        }
        std::printf("ratio %s %.2f\n", ratio.figure, measured->second / baseline->second);
    }
    return 0;
}
