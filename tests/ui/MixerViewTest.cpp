#include "MixerView.h"

#include "AppRow.h"
#include "BufferLists.h"
#include "LevelMeter.h"
#include "LevelMonitor.h"
#include "ModelHarness.h"
#include "OutputPicker.h"
#include "Symbols.h"
#include "UiFakes.h"
#include "UiStyle.h"
#include "VolumeSlider.h"
#include "WidgetProbes.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <gtest/gtest.h>

namespace corvalle::ui {
namespace {

using test::child;
using test::wheel;

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

class MixerViewTest : public ::testing::Test {
protected:
    // The panel on the model (started if need be), shown, its levels on the test's clock.
    std::unique_ptr<MixerView> makeView() {
        if (!world.model) {
            world.start();
        }
        world.model->levels().setClock([this] { return now; });
        auto view = std::make_unique<MixerView>(*world.model, loginItem, [] {});
        view->show();
        QApplication::processEvents();
        return view;
    }
    // A frame of the levels, `since` after the one before.
    void frame(std::chrono::milliseconds since = 16ms) {
        now += since;
        world.model->levels().takeFrame();
    }

    test::ModelHarness world;
    test::FakeLoginItem loginItem;
    std::chrono::steady_clock::time_point now{};
};

TEST_F(MixerViewTest, ListHeightGrowsWithTheRowsUpTo420ThenScrolls) {
    for (const auto& [count, height] :
         std::vector<std::pair<int, int>>{{0, 0}, {1, 44}, {9, 396}, {10, 420}, {14, 420}}) {
        test::ModelHarness local;
        local.addApps(count);
        MixerView view(local.start(), loginItem, [] {});
        view.show();
        QApplication::processEvents();
        auto* list = child<QScrollArea>(view, "appList");
        EXPECT_EQ(list->isVisible(), count > 0) << count;
        EXPECT_EQ(child(view, "emptyState")->isVisible(), count == 0) << count;
        if (count > 0) {
            EXPECT_EQ(list->height(), height) << count;
            EXPECT_EQ(list->verticalScrollBar()->maximum() > 0, count >= 10) << count;
        }
    }
}

TEST_F(MixerViewTest, TheErrorLineShowsOnlyWhenThereIsOne) {
    world.addApp(100, u"org.player"_s, u"Player"_s, true);
    const auto view = makeView();
    auto* error = child<QLabel>(*view, "errorLine");
    EXPECT_FALSE(error->isVisible());

    world.hardware.setCallFailure(SimCall::createProcessTap, -50);
    world.model->setVolume(0.5, u"org.player"_s);
    EXPECT_TRUE(error->isVisible());
    EXPECT_EQ(error->text(), u"Player: Create process tap failed (OSStatus -50)"_s);
    EXPECT_EQ(textColor(*error), redColor(view->palette()));
}

TEST_F(MixerViewTest, LaunchAtLoginFallsBackToTheStatusAfterAFailure) {
    const auto view = makeView();
    auto* box = child<QCheckBox>(*view, "launchAtLogin");
    box->click();
    EXPECT_EQ(loginItem.registerCalls, 1);
    EXPECT_TRUE(box->isChecked());
    box->click();
    EXPECT_EQ(loginItem.unregisterCalls, 1);
    loginItem.registerSucceeds = false;
    box->click();
    EXPECT_FALSE(box->isChecked()) << "a failed registration shows the real status";
}

// Entry texts in order, "✓" marking the one with the checkmark.
std::vector<QString> entries(const OutputPicker& picker) {
    std::vector<QString> result;
    for (const QAction* action : picker.deviceActions()) {
        result.push_back(action->text() + (action->icon().isNull() ? QString() : u" ✓"_s));
    }
    return result;
}

// The picker names the output, shows its kind and checks it in the list, the
// default at first; two devices of one name are both listed.
TEST_F(MixerViewTest, OutputPickerListsDevicesInOrderWithOneCheckmark) {
    world.hardware.addDevice({.uid = "twin", .name = "Speakers"});
    const AudioObjectID hdmi = world.hardware.addDevice({.uid = "h", .name = "HDMI 1"});
    world.start();
    OutputPicker picker(*world.model);
    picker.show();
    EXPECT_EQ(entries(picker), (std::vector<QString>{u"Speakers ✓"_s, u"Speakers"_s, u"HDMI 1"_s}));
    picker.deviceActions().at(2)->trigger();
    EXPECT_EQ(world.model->outputID(), hdmi);
    EXPECT_EQ(picker.text(), u"HDMI 1"_s);
    EXPECT_EQ(picker.property(kSymbolProperty).toString(), u"display"_s);
    EXPECT_EQ(entries(picker), (std::vector<QString>{u"Speakers"_s, u"Speakers"_s, u"HDMI 1 ✓"_s}));

    world.hardware.setPropertyFailure(kAudioObjectSystemObject,
                                      kAudioHardwarePropertyDefaultOutputDevice, -1);
    world.refresh();
    EXPECT_EQ(picker.text(), u"Unknown"_s);
    for (const QString& entry : entries(picker)) {
        EXPECT_FALSE(entry.endsWith(u"✓"_s)) << entry.toStdString();
    }
}

// Over the slider the wheel sets the volume (AppRowTest).
TEST_F(MixerViewTest, TheWheelScrollsALongListAndOnlyTheRowsInsideAreMeasured) {
    world.addApps(14);
    const auto view = makeView();
    auto* bar = child<QScrollArea>(*view, "appList")->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    const AppRow* first = view->rows().front();
    const AppRow* last = view->rows().back();
    for (const char* over : {"name", "icon", "level", "mute", "reset"}) {
        bar->setValue(0);
        wheel(*child(*first, over), -120);
        EXPECT_GT(bar->value(), 0) << over;
    }
    EXPECT_TRUE(world.model->settings().empty()) << "no volume changed while scrolling";
    // A bar that can be seen: wide enough, in the line colour (UiStyleTest).
    EXPECT_GE(bar->sizeHint().width(), 10);
    EXPECT_EQ(bar->property("handleColour").value<QColor>(), lineColor(view->palette()));

    bar->setValue(0);
    const AudioObjectID firstProcess = first->app().processObjects.front();
    const AudioObjectID lastProcess = last->app().processObjects.front();
    frame();
    EXPECT_TRUE(world.hardware.isMetered(firstProcess));
    EXPECT_FALSE(world.hardware.isMetered(lastProcess)) << "scrolled out: not measured";
    bar->setValue(bar->maximum());
    frame();
    EXPECT_FALSE(world.hardware.isMetered(firstProcess)) << "scrolled out: no longer measured";
    world.hardware.playPeak(lastProcess, 0.5F);
    frame();
    EXPECT_GT(last->meter()->fill(), 0.0) << "scrolled in: its level shows";
}

// While the levels cannot be seen nothing measures them and no timer runs. The
// view sits in a window of its own, as in the program's window, which opens
// minimised at login where there is no tray: then its widgets are told they
// show, but nothing can be seen.
TEST_F(MixerViewTest, LevelsAreMeasuredOnlyWhileTheirWindowCanBeSeen) {
    const AudioObjectID process = world.addApp(100, u"org.player"_s, u"Player"_s, true);
    QWidget window;
    new MixerView(
        world.start(), loginItem, [] {}, &window);
    const LevelMonitor& levels = world.model->levels();
    // True when, after `change`, the levels are measured.
    const auto measuredAfter = [&](void (QWidget::*change)()) {
        (window.*change)();
        QApplication::processEvents();
        world.model->levels().takeFrame();
        EXPECT_EQ(world.hardware.isMetered(process), levels.isRunning());
        return levels.isRunning();
    };
    EXPECT_FALSE(measuredAfter(&QWidget::showMinimized)) << "opened minimised";
    EXPECT_TRUE(measuredAfter(&QWidget::showNormal));
    EXPECT_FALSE(measuredAfter(&QWidget::hide));
    EXPECT_TRUE(measuredAfter(&QWidget::show));
    EXPECT_FALSE(measuredAfter(&QWidget::showMinimized));
    EXPECT_TRUE(measuredAfter(&QWidget::showNormal));
}

TEST_F(MixerViewTest, ARowThatComesWhileAllIsSilentIsMeasured) {
    world.addApps(1);
    const auto view = makeView();
    frame(LevelMonitor::kQuietAfter * 2); // silent for long: no frame reaches the view
    const AudioObjectID later = world.addApp(301, u"org.later"_s, u"Later"_s, true);
    world.refresh();
    QApplication::processEvents();
    ASSERT_NE(view->row(u"org.later"_s), nullptr);
    frame();
    EXPECT_TRUE(world.hardware.isMetered(later));
    world.hardware.playPeak(later, 0.5F);
    frame();
    EXPECT_GT(view->row(u"org.later"_s)->meter()->fill(), 0.0);
}

// The row's meter falls by the time between frames; muted, the tap plays silence.
// Boosted past full scale, the limiter lowers the sound and the meter says so;
// with "Hard limit" checked the sound is clipped instead, and nothing is said.
TEST_F(MixerViewTest, TheMeterShowsTheLevelAndWhenTheLimiterLowersIt) {
    const AudioObjectID player = world.addApp(100, u"org.player"_s, u"Player"_s, true);
    auto view = makeView();
    LevelMeter& meter = *view->row(u"org.player"_s)->meter();
    const auto spoken = [&] {
        return QAccessible::queryAccessibleInterface(&meter)->text(QAccessible::Value);
    };
    const LevelMonitor& levels = world.model->levels();
    ASSERT_TRUE(levels.isRunning());
    EXPECT_GT(levels.frameTime(), 0ms);
    EXPECT_LE(levels.frameTime(), 50ms) << "at the display's pace";
    world.hardware.playPeak(player, 0.5F);
    frame(250ms);
    frame(250ms);
    EXPECT_NEAR(meter.decibels(), -12.02, 0.01);

    world.model->toggleMute(u"org.player"_s);
    world.hardware.playPeak(player, 1.0F);
    frame();
    frame(2000ms);
    EXPECT_EQ(meter.decibels(), LevelMeter::kFloorDecibels);
    EXPECT_FALSE(world.hardware.isMetered(player)) << "a tapped application is its tap's";
    EXPECT_EQ(spoken(), u"Silent"_s);

    world.model->toggleMute(u"org.player"_s);
    world.model->setVolume(4.0, u"org.player"_s);
    const auto loudFrame = [&] {
        test::BufferList in;
        in.add(2, 64, 0.5F);
        test::BufferList out;
        out.add(2, 64);
        for (const auto& [id, aggregate] : world.hardware.aggregates()) {
            world.hardware.runIOCycle(id, in.list(), out.list());
        }
        frame();
        return spoken();
    };
    EXPECT_EQ(loudFrame(), u"0 dB, limited"_s);
    auto* hardLimit = child<QCheckBox>(*view, "hardLimit");
    EXPECT_FALSE(hardLimit->isChecked());
    hardLimit->click();
    EXPECT_FALSE(world.model->limiterOn());
    EXPECT_EQ(loudFrame(), u"0 dB"_s);
    world.model->setLimiterOn(true);
    EXPECT_FALSE(hardLimit->isChecked()) << "the box follows the model";
    EXPECT_EQ(loudFrame(), u"0 dB, limited"_s);
    view.reset();
    EXPECT_FALSE(levels.isRunning()) << "a view that goes stops watching";
}

// A call shows a sign on its own row and another, saying how low, on each row it
// lowers; both go once the others are back. Sliders keep their own levels.
TEST_F(MixerViewTest, RowsShowWhileACallLowersThemAndWhoseCallItIs) {
    world.addApp(101, u"org.music"_s, u"Music"_s, true);
    const AudioObjectID call = world.addApp(103, u"org.call"_s, u"Call"_s, true);
    world.start().setVolume(0.5, u"org.gone"_s); // remembered, not running
    const auto view = makeView();
    // Each row's sign as "symbol: tooltip", nothing while it is hidden.
    const auto signs = [&] {
        QStringList shown;
        for (const QString& key : {u"org.music"_s, u"org.gone"_s, u"org.call"_s}) {
            const AppRow* appRow = view->row(key);
            const auto* sign = appRow ? child<QLabel>(*appRow, "callSign") : nullptr;
            shown << (sign && sign->isVisible()
                          ? sign->property(kSymbolProperty).toString() + u": "_s + sign->toolTip()
                          : QString());
        }
        return shown;
    };
    const QStringList none{{}, {}, {}};
    EXPECT_EQ(signs(), none);

    world.hardware.setRunningCall(call, true);
    world.refresh();
    EXPECT_EQ(signs(), (QStringList{u"arrow.down.right: Lowered to 30% while a call plays"_s,
                                    {},
                                    u"phone.fill: Its call lowers the others"_s}));
    EXPECT_EQ(child<VolumeSlider>(*view->row(u"org.music"_s), "slider")->value(), 100);
    world.model->setLoweredLevel(0.5);
    EXPECT_EQ(signs()[0], u"arrow.down.right: Lowered to 50% while a call plays"_s);
    world.model->toggleMute(u"org.music"_s);
    EXPECT_EQ(signs()[0], u"arrow.down.right: Lowered while a call plays"_s);

    // It plays on, but no longer as a call: the others come back after the hold.
    world.hardware.setRunningCall(call, false);
    world.hardware.setRunningOutput(call, true);
    world.refresh();
    world.steady += Lowering::kHoldAfter + Lowering::kFadeUp;
    world.refresh();
    EXPECT_EQ(signs(), none);
}

} // namespace
} // namespace corvalle::ui
