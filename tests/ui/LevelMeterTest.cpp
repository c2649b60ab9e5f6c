#include "LevelMeter.h"

#include <chrono>
#include <gtest/gtest.h>
#include <limits>

namespace corvalle::ui {
namespace {

using namespace std::chrono_literals;

// Peaks shown one after another, each after `since`, and the decibels shown then.
TEST(LevelMeter, ShowsAPeakAtOnceAndLetsItFallAtTheDecayRate) {
    using Steps = std::vector<std::pair<float, std::chrono::milliseconds>>;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<std::tuple<const char*, Steps, double>> cases = {
        {"half is -6 dB", {{0.5F, 16ms}}, -6.0206},
        {"quieter than the floor", {{1e-5F, 16ms}}, -60.0},
        {"over full scale reads full", {{4.0F, 16ms}}, 0.0},
        {"NaN reads silent", {{nan, 16ms}}, -60.0},
        // Held 50 ms, then 3 dB in 100 ms.
        {"falls frame by frame after the hold",
         {{1.0F, 16ms}, {0.0F, 40ms}, {0.0F, 20ms}, {0.0F, 100ms}},
         -3.3},
        {"a quieter peak does not pull it down", {{1.0F, 16ms}, {0.5F, 150ms}}, -3.0},
        {"a louder peak wins", {{0.5F, 16ms}, {1.0F, 16ms}}, 0.0},
        {"falls to the floor, no further", {{1.0F, 16ms}, {0.0F, 5000ms}}, -60.0}};
    for (const auto& [what, steps, decibels] : cases) {
        LevelMeter meter;
        meter.resize(LevelMeter::kWidth, 10);
        for (const auto& [peak, since] : steps) {
            meter.showPeak(peak, since);
        }
        EXPECT_NEAR(meter.decibels(), decibels, 1e-3) << what;
        EXPECT_NEAR(meter.fill(), (decibels + 60.0) / 60.0, 1e-3) << what;
    }
}

// The meters in the panel are MixerViewTest's.

} // namespace
} // namespace corvalle::ui
