#include "Volume.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <utility>

namespace corvalle {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// playableGain() is checked where the tap, its only user, stores a gain (AppTapTest).
TEST(Volume, ClampedIsTheLevelActuallyApplied) {
    const std::pair<double, double> cases[] = {
        {0.5, 0.5}, {0.0, 0.0},   {-0.0, 0.0}, {-0.3, 0.0},  {4.0, 4.0},  {4.0001, 4.0},
        {5.0, 4.0}, {1e308, 4.0}, {kInf, 4.0}, {-kInf, 0.0}, {kNaN, 0.0}, {-kNaN, 0.0}};
    for (const auto& [requested, applied] : cases) {
        const double result = Volume::clamped(requested);
        EXPECT_EQ(result, applied) << requested;
        EXPECT_FALSE(std::signbit(result)) << requested;
    }
}

} // namespace
} // namespace corvalle
