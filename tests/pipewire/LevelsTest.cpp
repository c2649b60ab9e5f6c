// The rows' levels on a real PipeWire session: what the meter reads against a
// player's known amplitude, untapped and through a tap at 50 % and muted, and
// that nothing measures once no view watches.
#include "LevelMonitor.h"
#include "ModelOnPipeWire.h"

#include <cstdio>

namespace corvalle {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;

constexpr double kAmplitude = 0.5;
constexpr double kHalfDB = -6.0206;

class LevelsTest : public test::ModelOnPipeWire {
protected:
    // The loudest peak the row shows over `window`, in decibels (-200 for silence).
    double loudestDB(const QString& key, std::chrono::milliseconds window = 600ms) {
        float loudest = 0.0F;
        spinUntil(
            [&] {
                loudest = std::max(loudest, model->levels().peak(key));
                return false;
            },
            window);
        return loudest > 0.0F ? test::toDB(loudest) : -200.0;
    }

    // The loudest peak once a window reads within 0.5 dB of `expectedDB`, or the last.
    double settledDB(const QString& key, double expectedDB) {
        double level = -200.0;
        for (int window = 0; window < 8; ++window) {
            level = loudestDB(key);
            if (std::fabs(level - expectedDB) <= 0.5) {
                break;
            }
        }
        return level;
    }

    const int viewer = 0;
};

TEST_F(LevelsTest, TheMeterReadsWhatTheApplicationIsHeardAt) {
    ChildProcess player({test::testPlayerPath(), "--amplitude", std::to_string(kAmplitude)});
    const QString key = test::keyOf(player);
    ASSERT_TRUE(spinUntil(
        [&] {
            model->refresh();
            return playing(key);
        },
        5000ms));
    const int nodesBefore = test::corvalleNodeCount(session);

    model->levels().watch(&viewer, 16ms);
    const double alone = settledDB(key, test::toDB(kAmplitude));
    EXPECT_NEAR(alone, test::toDB(kAmplitude), 0.5) << "untapped, measured by the server";

    model->setVolume(0.5, key);
    const double half = settledDB(key, alone + kHalfDB);
    EXPECT_NEAR(half, alone + kHalfDB, 0.5) << "through the tap";

    model->toggleMute(key);
    const double muted = settledDB(key, -200.0);
    EXPECT_EQ(muted, -200.0) << "muted reads silent";

    model->reset(key);
    const double back = settledDB(key, alone);
    EXPECT_NEAR(back, alone, 0.5) << "measured by the server again";
    std::printf("peak dBFS: alone %.2f, at 50 %% %.2f, muted %.2f, back at 100 %% %.2f\n", alone,
                half, muted, back);

    model->levels().unwatch(&viewer);
    EXPECT_TRUE(spinUntil([&] { return test::corvalleNodeCount(session) == nodesBefore; }, 3000ms))
        << "no measuring stream is left once no view watches";
}

} // namespace
} // namespace corvalle
