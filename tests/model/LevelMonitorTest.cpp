#include "LevelMonitor.h"

#include "ModelHarness.h"

#include <gtest/gtest.h>
#include <limits>

namespace corvalle {
namespace {

using namespace std::chrono_literals;

const QString kPlayer = QStringLiteral("org.player");
const QString kRadio = QStringLiteral("org.radio");
const QString kPaused = QStringLiteral("org.paused");

class LevelMonitorTest : public ::testing::Test {
protected:
    LevelMonitorTest() {
        player = world.addApp(101, kPlayer, QStringLiteral("Player"), true);
        radio = world.addApp(102, kRadio, QStringLiteral("Radio"), true);
        paused = world.addApp(103, kPaused, QStringLiteral("Paused"), true);
        world.start();
        world.hardware.setRunningOutput(paused, false);
        world.refresh();
        levels().setClock([this] { return now; });
    }

    LevelMonitor& levels() { return world.model->levels(); }

    test::ModelHarness world;
    AudioObjectID player = kAudioObjectUnknown;
    AudioObjectID radio = kAudioObjectUnknown;
    AudioObjectID paused = kAudioObjectUnknown;
    std::chrono::steady_clock::time_point now{};
    const int viewer = 0;
};

// Whether anything is measured while no view shows it, and which rows are, is
// MixerViewTest's and LongListTest's; the level shown, AppRowTest's and
// LevelMeterTest's.
TEST_F(LevelMonitorTest, EachRowReadsItsOwnLevelOncePerFrame) {
    levels().watch(&viewer, 16ms);
    world.hardware.playPeak(player, 0.5F);
    world.hardware.playPeak(player, 0.25F);
    world.hardware.playPeak(radio, 0.125F);
    world.hardware.playPeak(paused, 1.0F);
    now += 16ms;
    levels().takeFrame();
    EXPECT_EQ(levels().peak(kPlayer), 0.5F) << "the loudest since the last frame";
    EXPECT_EQ(levels().peak(kRadio), 0.125F);
    EXPECT_EQ(levels().peak(kPaused), 0.0F);
    levels().takeFrame();
    EXPECT_EQ(levels().peak(kPlayer), 0.0F) << "a frame without sound is silent";

    // Whatever the audio system says, a row sees a level in [0, 1].
    world.hardware.playPeak(player, 7.0F);
    world.hardware.playPeak(radio, std::numeric_limits<float>::quiet_NaN());
    levels().takeFrame();
    EXPECT_EQ(levels().peak(kPlayer), 1.0F);
    EXPECT_EQ(levels().peak(kRadio), 0.0F);
}

} // namespace
} // namespace corvalle
