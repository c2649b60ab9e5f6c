#include "LevelMonitor.h"

#include "ModelHarness.h"

#include <QTimer>
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
    const int otherViewer = 0;
};

TEST_F(LevelMonitorTest, NothingIsMeasuredAndNoTimerRunsUntilAViewWatches) {
    EXPECT_FALSE(levels().isRunning());
    EXPECT_EQ(world.hardware.meteredCount(), 0U);
    world.hardware.playPeak(player, 0.5F);
    levels().takeFrame();
    EXPECT_EQ(levels().peak(kPlayer), 0.0F);

    levels().watch(&viewer, 16ms);
    EXPECT_TRUE(levels().isRunning());
    EXPECT_EQ(levels().frameTime(), 16ms);
    EXPECT_TRUE(world.hardware.isMetered(player));
    EXPECT_TRUE(world.hardware.isMetered(radio));
    EXPECT_FALSE(world.hardware.isMetered(paused)) << "a paused application costs nothing";

    // Two views: the faster display sets the pace; one view going keeps the other's.
    levels().watch(&otherViewer, 7ms);
    EXPECT_EQ(levels().frameTime(), 7ms);
    levels().unwatch(&otherViewer);
    EXPECT_EQ(levels().frameTime(), 16ms);
    EXPECT_TRUE(levels().isRunning());

    levels().unwatch(&viewer);
    EXPECT_FALSE(levels().isRunning());
    EXPECT_EQ(world.hardware.meteredCount(), 0U);
    EXPECT_TRUE(levels().findChildren<QTimer*>().empty()) << "no timer is kept while hidden";
}

TEST_F(LevelMonitorTest, EachRowReadsItsOwnLevelOncePerFrame) {
    levels().watch(&viewer, 16ms);
    world.hardware.playPeak(player, 0.5F);
    world.hardware.playPeak(player, 0.25F);
    world.hardware.playPeak(radio, 0.125F);
    world.hardware.playPeak(paused, 1.0F);
    now += 16ms;
    levels().takeFrame();
    EXPECT_EQ(levels().sinceLastFrame(), 16ms);
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

TEST_F(LevelMonitorTest, OnlyRowsSomeViewShowsAreMeasuredAndRead) {
    levels().watch(&viewer, 16ms, std::set<QString>{kPlayer});
    EXPECT_TRUE(world.hardware.isMetered(player));
    EXPECT_FALSE(world.hardware.isMetered(radio)) << "shown by no view";
    world.hardware.playPeak(radio, 0.5F);
    levels().takeFrame();
    EXPECT_EQ(levels().peak(kRadio), 0.0F);

    // Shown by another view (or scrolled in): measured and read again.
    levels().watch(&otherViewer, 16ms, std::set<QString>{kRadio});
    levels().takeFrame();
    EXPECT_TRUE(world.hardware.isMetered(radio));
    world.hardware.playPeak(radio, 0.25F);
    levels().takeFrame();
    EXPECT_EQ(levels().peak(kRadio), 0.25F);

    levels().setShownRows(&otherViewer, {});
    levels().takeFrame();
    EXPECT_FALSE(world.hardware.isMetered(radio));
    EXPECT_EQ(levels().peak(kRadio), 0.0F) << "a row scrolled out keeps no level";
    // A view that never said which rows it shows shows every row.
    levels().unwatch(&otherViewer);
    levels().watch(&otherViewer, 16ms);
    EXPECT_TRUE(world.hardware.isMetered(radio));
}

TEST_F(LevelMonitorTest, SilentFramesAreHandedOnOnlyUntilEveryMeterHasFallen) {
    int frames = 0;
    QObject::connect(&levels(), &LevelMonitor::levelsChanged, [&] { ++frames; });
    levels().watch(&viewer, 16ms);
    world.hardware.playPeak(player, 0.5F);
    now += 16ms;
    levels().takeFrame();
    now += LevelMonitor::kQuietAfter;
    levels().takeFrame();
    EXPECT_EQ(frames, 2) << "falling meters get every frame";
    now += 16ms;
    levels().takeFrame();
    EXPECT_EQ(frames, 2) << "all silent for long: nothing to redraw";
    world.hardware.playPeak(radio, 0.25F);
    now += 16ms;
    levels().takeFrame();
    EXPECT_EQ(frames, 3);
    EXPECT_EQ(levels().peak(kRadio), 0.25F);
}

TEST_F(LevelMonitorTest, FramesComeNoFasterThanTheAudioCyclesThatMeasure) {
    levels().watch(&viewer, 16ms);
    EXPECT_EQ(levels().frameTime(), 16ms) << "no cycle known yet: the display's pace";
    for (const auto& [period, frame] :
         std::vector<std::pair<std::chrono::microseconds, std::chrono::milliseconds>>{
             {21333us, 22ms}, // 1024 frames at 48 kHz, rounded up
             {5333us, 16ms},  // faster cycles: the display's pace
             {170667us, LevelMonitor::kSlowestFrame},
             {0us, 16ms}}) {
        world.hardware.setPeakPeriod(period);
        now += LevelMonitor::kPeriodCheck;
        levels().takeFrame();
        EXPECT_EQ(levels().frameTime(), frame) << period.count();
    }
}

} // namespace
} // namespace corvalle
