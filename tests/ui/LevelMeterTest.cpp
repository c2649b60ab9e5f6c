#include "LevelMeter.h"

#include "AppRow.h"
#include "BufferLists.h"
#include "LevelMonitor.h"
#include "MixerView.h"
#include "ModelHarness.h"
#include "UiFakes.h"
#include "WidgetProbes.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <gtest/gtest.h>
#include <limits>

namespace corvalle::ui {
namespace {

using namespace std::chrono_literals;

// Peaks shown one after another, each after `since`, and the decibels shown then.
TEST(LevelMeter, ShowsAPeakAtOnceAndLetsItFallAtTheDecayRate) {
    struct Step {
        float peak;
        std::chrono::milliseconds since;
        double decibels;
    };
    struct Case {
        const char* what;
        std::vector<Step> steps;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<Case> cases = {
        {"full scale", {{1.0F, 16ms, 0.0}}},
        {"half is -6 dB", {{0.5F, 16ms, -6.0206}}},
        {"quieter than the floor", {{1e-5F, 16ms, -60.0}}},
        {"over full scale reads full", {{4.0F, 16ms, 0.0}}},
        {"NaN reads silent", {{nan, 16ms, -60.0}}},
        {"holds 50 ms, then falls 3 dB in 100 ms", {{1.0F, 16ms, 0.0}, {0.0F, 150ms, -3.0}}},
        {"holds through frames without a cycle",
         {{0.5F, 16ms, -6.0206},
          {0.0F, 16ms, -6.0206},
          {0.0F, 16ms, -6.0206},
          {0.5F, 16ms, -6.0206}}},
        {"falls frame by frame after the hold",
         {{1.0F, 16ms, 0.0}, {0.0F, 40ms, 0.0}, {0.0F, 20ms, -0.3}, {0.0F, 100ms, -3.3}}},
        {"a quieter peak does not pull it down", {{1.0F, 16ms, 0.0}, {0.5F, 150ms, -3.0}}},
        {"a louder peak wins", {{0.5F, 16ms, -6.0206}, {1.0F, 16ms, 0.0}}},
        {"falls to the floor, no further", {{1.0F, 16ms, 0.0}, {0.0F, 5000ms, -60.0}}}};
    for (const Case& c : cases) {
        LevelMeter meter;
        meter.resize(LevelMeter::kWidth, 10);
        for (const Step& step : c.steps) {
            meter.showPeak(step.peak, step.since);
        }
        EXPECT_NEAR(meter.decibels(), c.steps.back().decibels, 1e-3) << c.what;
        EXPECT_NEAR(meter.fill(), (c.steps.back().decibels + 60.0) / 60.0, 1e-3) << c.what;
    }
}

class LevelMeterViewTest : public ::testing::Test {
protected:
    LevelMeterViewTest() {
        player = world.addApp(100, kPlayer, QStringLiteral("Player"), true);
        world.start();
        world.model->levels().setClock([this] { return now; });
        view = std::make_unique<MixerView>(*world.model, loginItem, [] {});
    }

    LevelMeter& meter() { return *view->row(kPlayer)->meter(); }
    LevelMonitor& levels() { return world.model->levels(); }
    void frame(float peak, std::chrono::milliseconds since) {
        world.hardware.playPeak(player, peak);
        now += since;
        levels().takeFrame();
    }

    const QString kPlayer = QStringLiteral("org.player");
    test::ModelHarness world;
    test::FakeLoginItem loginItem;
    AudioObjectID player = kAudioObjectUnknown;
    std::chrono::steady_clock::time_point now{};
    std::unique_ptr<MixerView> view;
};

// Whether the levels run while the view cannot be seen is MixerViewTest's.
TEST_F(LevelMeterViewTest, TheRowShowsTheLevelWhileVisibleAndNothingRunsWhileHidden) {
    view->show();
    QApplication::processEvents();
    ASSERT_TRUE(levels().isRunning());
    EXPECT_GT(levels().frameTime(), 0ms);
    EXPECT_LE(levels().frameTime(), 50ms) << "at the display's pace";
    EXPECT_TRUE(world.hardware.isMetered(player));

    frame(0.5F, 16ms);
    EXPECT_NEAR(meter().decibels(), -6.02, 0.01);
    frame(0.0F, 250ms);
    EXPECT_NEAR(meter().decibels(), -12.02, 0.01) << "decays by the time between frames";

    view->hide();
    QApplication::processEvents();
    world.hardware.playPeak(player, 1.0F);
    levels().takeFrame();
    EXPECT_NEAR(meter().decibels(), -12.02, 0.01) << "a hidden view takes no frames";

    // Muted: the tap plays silence, and the meter says so.
    view->show();
    QApplication::processEvents();
    world.model->toggleMute(kPlayer);
    frame(1.0F, 16ms);
    frame(0.0F, 2000ms);
    EXPECT_EQ(meter().decibels(), LevelMeter::kFloorDecibels);
    EXPECT_FALSE(world.hardware.isMetered(player)) << "a tapped application is its tap's";

    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&meter());
    EXPECT_EQ(accessible->role(), QAccessible::Indicator);
    EXPECT_EQ(accessible->text(QAccessible::Value), QStringLiteral("Silent"));

    // The meter never makes the row taller.
    EXPECT_EQ(view->row(kPlayer)->height(), AppRow::kHeight);
    view.reset();
    EXPECT_FALSE(levels().isRunning()) << "a view that goes stops watching";
}

// Boosted past full scale, the limiter lowers the sound and the meter says so;
// with "Hard limit" checked the sound is clipped instead, and nothing is said.
TEST_F(LevelMeterViewTest, TheMeterSaysWhenTheLimiterLowersTheSound) {
    view->show();
    QApplication::processEvents();
    world.model->setVolume(4.0, kPlayer);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&meter());
    const auto loudFrame = [&] {
        test::BufferList in;
        in.add(2, 64, 0.5F);
        test::BufferList out;
        out.add(2, 64);
        for (const auto& [id, aggregate] : world.hardware.aggregates()) {
            world.hardware.runIOCycle(id, in.list(), out.list());
        }
        now += 16ms;
        levels().takeFrame();
        return accessible->text(QAccessible::Value);
    };
    EXPECT_EQ(loudFrame(), QStringLiteral("0 dB, limited"));

    auto* hardLimit = test::child<QCheckBox>(*view, "hardLimit");
    EXPECT_FALSE(hardLimit->isChecked());
    hardLimit->click();
    EXPECT_FALSE(world.model->limiterOn());
    EXPECT_EQ(loudFrame(), QStringLiteral("0 dB"));
    world.model->setLimiterOn(true);
    EXPECT_FALSE(hardLimit->isChecked()) << "the box follows the model";
    EXPECT_EQ(loudFrame(), QStringLiteral("0 dB, limited"));
}

} // namespace
} // namespace corvalle::ui
