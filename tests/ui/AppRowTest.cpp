#include "AppRow.h"

#include "ElidedLabel.h"
#include "LevelText.h"
#include "ModelHarness.h"
#include "Symbols.h"
#include "UiStyle.h"
#include "VolumeSlider.h"
#include "WidgetProbes.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QContextMenuEvent>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>
#include <limits>

namespace corvalle::ui {
namespace {

using test::activate;
using test::child;
using test::wheel;

using namespace Qt::StringLiterals;

const QString kPlayer = u"org.player"_s;

// Presses the handle where it is and lets go at the x of `percent`.
void drag(VolumeSlider& slider, int toPercent) {
    for (const auto& [type, x] : {std::pair(QEvent::MouseButtonPress, slider.value()),
                                  std::pair(QEvent::MouseMove, toPercent),
                                  std::pair(QEvent::MouseButtonRelease, toPercent)}) {
        const QPointF at(slider.xForPercent(x), slider.height() / 2.0);
        const Qt::MouseButtons buttons =
            type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, at, slider.mapToGlobal(at), Qt::LeftButton, buttons,
                          Qt::NoModifier);
        QApplication::sendEvent(&slider, &event);
    }
}

// Values the row never gets from the model: corrupt or out-of-range settings.
TEST(LevelText, OddValues) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const auto& [volume, text] : std::vector<std::pair<double, const char*>>{
             {0.005, "1%"}, {0.0049, "0%"}, {7.5, "400%"}, {-2.0, "0%"}, {nan, "0%"}}) {
        EXPECT_EQ(levelText(AppSetting{volume, false, std::nullopt}), QString::fromLatin1(text))
            << volume;
    }
}

class AppRowTest : public ::testing::Test {
protected:
    AppRowTest() {
        process = world.addApp(100, kPlayer, u"Player"_s, true);
        world.start();
        row = std::make_unique<AppRow>(model(), *world.row(kPlayer));
        row->resize(352, AppRow::kHeight);
        QObject::connect(&model(), &MixerModel::settingsChanged, row.get(), &AppRow::redraw);
        row->show();
        QApplication::processEvents();
    }

    MixerModel& model() { return *world.model; }
    VolumeSlider& slider() { return *child<VolumeSlider>(*row, "slider"); }
    // Opens the row's context menu from the keyboard and triggers `choice` in it, or
    // in its submenu `submenu`; the entries there that are one choice, "✓" marking
    // the checked one and "(off)" one that cannot be picked.
    QStringList choose(const QString& choice, const char* submenu = nullptr) {
        QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(10, 10),
                                row->mapToGlobal(QPoint(10, 10)));
        QApplication::sendEvent(row.get(), &event);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QMenu* shown =
            menu && submenu ? menu->findChild<QMenu*>(QString::fromLatin1(submenu)) : menu;
        QStringList entries;
        QAction* chosen = nullptr;
        for (QAction* action : shown ? shown->actions() : QList<QAction*>()) {
            if (action->actionGroup() != nullptr) {
                entries << action->text() + (action->isChecked() ? u" ✓"_s : QString()) +
                               (action->isEnabled() ? QString() : u" (off)"_s);
            }
            chosen = action->text() == choice ? action : chosen;
        }
        if (chosen != nullptr) {
            chosen->trigger();
            menu->close();
        }
        return entries;
    }
    void refresh() {
        world.refresh();
        row->setApp(*world.row(kPlayer));
    }

    test::ModelHarness world;
    AudioObjectID process = kAudioObjectUnknown;
    std::unique_ptr<AppRow> row;
};

// The controls reaching the model are the drag, key and wheel tests'.
TEST_F(AppRowTest, StatesFollowTheStoredSetting) {
    // Volume, muted; level text, orange, reset enabled, slider, mute symbol.
    const std::tuple<double, bool, const char*, bool, bool, int, const char*> cases[] = {
        {1.004, false, "100%", false, false, 100, "speaker.wave.2.fill"}, // the default band
        {1.006, false, "101%", true, true, 101, "speaker.wave.3.fill"},
        {0.125, false, "13%", false, true, 13, "speaker.wave.1.fill"}, // half goes up
        {0.0, false, "0%", false, true, 0, "speaker.fill"},
        {2.0, true, "Muted", false, true, 200, "speaker.slash.fill"}};
    for (const auto& [volume, muted, text, orange, resetEnabled, percent, symbol] : cases) {
        model().reset(kPlayer);
        model().setVolume(volume, kPlayer);
        if (muted) {
            model().toggleMute(kPlayer);
        }
        SCOPED_TRACE(std::to_string(volume) + (muted ? " muted" : ""));
        const auto* level = child<QLabel>(*row, "level");
        EXPECT_EQ(level->text(), QString::fromLatin1(text));
        EXPECT_EQ(textColor(*level),
                  orange ? orangeColor(row->palette()) : secondaryColor(row->palette()));
        EXPECT_EQ(child(*row, "reset")->isEnabled(), resetEnabled);
        auto* mute = child<QToolButton>(*row, "mute");
        EXPECT_EQ(mute->property(kSymbolProperty).toString(), QString::fromLatin1(symbol));
        EXPECT_EQ(mute->isChecked(), muted);
        // Muted, the slider still shows the stored level, locked and saying why.
        EXPECT_EQ(slider().isEnabled(), !muted);
        EXPECT_EQ(slider().value(), percent);
        EXPECT_EQ(slider().toolTip().isEmpty(), !muted);
        if (resetEnabled) {
            // A level between whole percents stays as stored: the slider's move is
            // not written back.
            EXPECT_EQ(model().setting(kPlayer).volume, volume);
        }
    }
}

TEST_F(AppRowTest, AStoredVolumeJustAboveFullIsOrangeWhileResetStaysDisabled) {
    world.store.setData(u"appSettings"_s, R"({"org.player":{"volume":1.004,"muted":false}})");
    row.reset();
    world.start();
    AppRow stored(model(), *world.row(kPlayer));
    EXPECT_EQ(child<QLabel>(stored, "level")->text(), u"100%"_s);
    EXPECT_EQ(textColor(*child<QLabel>(stored, "level")), orangeColor(stored.palette()));
    EXPECT_FALSE(child(stored, "reset")->isEnabled());
}

TEST_F(AppRowTest, MeterWhilePlayingAndARememberedRowDimmedButReadable) {
    auto* meter = child(*row, "meter");
    auto* name = child<ElidedLabel>(*row, "name");
    const auto nameColour = [&] { return name->palette().color(QPalette::WindowText); };
    EXPECT_TRUE(meter->isVisible());
    world.hardware.setRunningOutput(process, false);
    refresh();
    EXPECT_FALSE(meter->isVisible());

    // Gone with a setting: dimmed, explained, escaped, and still working.
    world.directory.running[100].name = u"<b>P</b>"_s;
    refresh();
    model().setVolume(0.5, kPlayer);
    world.hardware.removeProcess(process);
    refresh();
    ASSERT_TRUE(world.row(kPlayer)->processObjects.empty());
    EXPECT_FALSE(meter->isVisible());
    EXPECT_EQ(nameColour(), secondaryColor(row->palette()));
    EXPECT_EQ(name->text(), u"<b>P</b>"_s);
    EXPECT_TRUE(row->toolTip().contains(
        u"&lt;b&gt;P&lt;/b&gt; is not playing right now. Your setting is kept for when it does."_s))
        << row->toolTip().toStdString();
    child<QToolButton>(*row, "mute")->click();
    EXPECT_TRUE(model().setting(kPlayer).muted);
}

TEST_F(AppRowTest, DraggingGivesWholePercentsAndStopsAtTheMark) {
    // Wide enough that every percent has a pixel of its own.
    row->resize(1200, AppRow::kHeight);
    QApplication::processEvents();
    const std::tuple<double, int, int> drags[] = {{0.5, 97, 100}, {0.5, 103, 100}, {2.0, 102, 100},
                                                  {0.5, 96, 96},  {0.5, 104, 104}, {1.0, 400, 400},
                                                  {1.0, 0, 0},    {1.0, 237, 237}};
    for (const auto& [from, to, expected] : drags) {
        model().setVolume(from, kPlayer);
        drag(slider(), to);
        const double volume = model().setting(kPlayer).volume;
        EXPECT_NEAR(volume, expected / 100.0, 1e-9) << from << " → " << to;
        EXPECT_EQ(volume * 100.0, std::round(volume * 100.0)) << "a whole percent";
    }
    // The mark sits where the handle stands at 100 %, and can be seen.
    const QImage image = slider().grab().toImage();
    const QColor mark = image.pixelColor(slider().xForPercent(100), 1);
    EXPECT_GE(contrastRatio(mark, backgroundColor(slider().palette())), kGraphicContrast);
}

TEST_F(AppRowTest, KeysStepWholePercentsAndHomeAndEndStopAtTheMark) {
    ASSERT_TRUE(activate(*row));
    slider().setFocus(Qt::TabFocusReason);
    model().setVolume(0.5, kPlayer);
    const std::pair<Qt::Key, int> presses[] = {
        {Qt::Key_Right, 51}, {Qt::Key_Left, 50},  {Qt::Key_PageUp, 60}, {Qt::Key_End, 100},
        {Qt::Key_End, 400},  {Qt::Key_Home, 100}, {Qt::Key_Left, 99},   {Qt::Key_Home, 0},
        {Qt::Key_Home, 0},   {Qt::Key_End, 100}};
    for (const auto& [key, percent] : presses) {
        QTest::keyClick(&slider(), key);
        EXPECT_NEAR(model().setting(kPlayer).volume, percent / 100.0, 1e-9) << key;
    }
}

// Elsewhere on the row the wheel is left for the list (MixerViewTest scrolls it).
TEST_F(AppRowTest, TheWheelChangesTheVolumeOnlyOverTheSliderAndNotWhileMuted) {
    const std::tuple<double, int, double> steps[] = {{1.0, 120, 1.05},  {1.0, -240, 0.9},
                                                     {0.73, 120, 0.75}, {0.73, -120, 0.70},
                                                     {3.98, 360, 4.0},  {0.02, -360, 0.0}};
    for (const auto& [from, delta, to] : steps) {
        model().setVolume(from, kPlayer);
        EXPECT_TRUE(wheel(slider(), delta));
        EXPECT_NEAR(model().setting(kPlayer).volume, to, 1e-9) << from << " " << delta;
    }
    model().setVolume(1.0, kPlayer);
    wheel(slider(), 60);
    wheel(slider(), 60);
    EXPECT_NEAR(model().setting(kPlayer).volume, 1.05, 1e-9) << "half notches add up";

    model().toggleMute(kPlayer);
    EXPECT_TRUE(wheel(slider(), 120)) << "a muted slider keeps the wheel: the list stays put";
    EXPECT_NEAR(model().setting(kPlayer).volume, 1.05, 1e-9) << "muted: the wheel does nothing";
    QTest::keyClick(&slider(), Qt::Key_Right);
    EXPECT_NEAR(model().setting(kPlayer).volume, 1.05, 1e-9) << "muted: keys do nothing";
}

TEST_F(AppRowTest, AssistiveTechnologyReadsAndSetsTheVolumeUnlessMuted) {
    world.directory.running[100].name = u"Firefox"_s;
    refresh();
    model().setVolume(1.25, kPlayer);
    // The name label's name is its whole text; the other controls' names are set
    // as plainly as the slider's.
    EXPECT_EQ(QAccessible::queryAccessibleInterface(child(*row, "name"))->text(QAccessible::Name),
              u"Firefox"_s);
    QAccessibleInterface* slider = QAccessible::queryAccessibleInterface(child(*row, "slider"));
    EXPECT_EQ(slider->text(QAccessible::Name), u"Volume of Firefox"_s);
    EXPECT_EQ(slider->text(QAccessible::Value), u"125 %"_s);
    QAccessibleValueInterface* value = slider->valueInterface();
    ASSERT_NE(value, nullptr);
    value->setCurrentValue(80);
    EXPECT_NEAR(model().setting(kPlayer).volume, 0.8, 1e-9);

    model().toggleMute(kPlayer);
    EXPECT_TRUE(slider->state().disabled);
    value->setCurrentValue(300);
    EXPECT_NEAR(model().setting(kPlayer).volume, 0.8, 1e-9) << "locked for every input";
}

// The row's context menu chooses the output: the choice is checked, reaches the
// model, and a chosen device that went away stays visible but cannot be picked.
TEST_F(AppRowTest, TheContextMenuChoosesTheOutputAndShowsAnAbsentChoice) {
    const AudioObjectID headphones =
        world.hardware.addDevice({.uid = "headphones", .name = "Headphones"});
    world.refresh();
    EXPECT_EQ(choose(u"Headphones"_s),
              (QStringList{u"Default Output ✓"_s, u"Speakers"_s, u"Headphones"_s}));
    EXPECT_EQ(model().setting(kPlayer).output, u"headphones"_s);

    world.hardware.removeDevice(headphones);
    world.refresh();
    EXPECT_EQ(choose(u"Default Output"_s), (QStringList{u"Default Output"_s, u"Speakers"_s,
                                                        u"headphones (not connected) ✓ (off)"_s}));
    EXPECT_EQ(model().setting(kPlayer).output, std::nullopt);

    // A level for each output is turned on and off there too, the output kept.
    model().setOutput(u"speakers"_s, kPlayer);
    for (const bool on : {true, false}) {
        choose(u"Remember a level for each output"_s);
        EXPECT_EQ(model().setting(kPlayer).levelPerOutput, on);
        EXPECT_EQ(model().setting(kPlayer).output, u"speakers"_s);
    }
}

// The mark follows the stored setting, also for a row whose application is not
// running (a mark shown unchecked would be set again); the amount lists the
// current level, one set elsewhere in its place.
TEST_F(AppRowTest, TheContextMenuMarksTheAppToLowerTheOthersAndSetsHowLow) {
    model().setVolume(0.5, kPlayer);
    world.hardware.removeProcess(process);
    refresh();
    ASSERT_TRUE(world.row(kPlayer)->processObjects.empty());
    for (const bool on : {true, false}) {
        choose(u"Lower Others While It Plays"_s);
        EXPECT_EQ(model().setting(kPlayer).lowersOthers, on);
        EXPECT_EQ(model().setting(kPlayer).volume, 0.5) << "the rest of the setting stays";
    }
    EXPECT_EQ(choose(u"0%"_s, "loweredLevelMenu"),
              (QStringList{u"0%"_s, u"10%"_s, u"20%"_s, u"30% ✓"_s, u"50%"_s, u"70%"_s}));
    EXPECT_EQ(model().loweredLevel(), 0.0);
    model().setLoweredLevel(0.25);
    EXPECT_EQ(choose(u"70%"_s, "loweredLevelMenu"),
              (QStringList{u"0%"_s, u"10%"_s, u"20%"_s, u"25% ✓"_s, u"30%"_s, u"50%"_s, u"70%"_s}));
    EXPECT_EQ(model().loweredLevel(), 0.7);
}

// The choice shown follows the model, also when made elsewhere (the command
// line), and changes only the choice, never the setting.
TEST_F(AppRowTest, TheContextMenuGivesTheAppShortcutsOfItsOwn) {
    model().setVolume(0.5, kPlayer);
    for (const bool on : {true, false}) {
        choose(u"Shortcuts for This App"_s);
        EXPECT_EQ(model().shortcutKeys().contains(kPlayer), on);
        EXPECT_EQ(model().setting(kPlayer).volume, 0.5);
    }
    model().setHasShortcuts(true, kPlayer);
    QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(10, 10),
                            row->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(row.get(), &event);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    const auto* choice = menu->findChild<QAction*>(u"hasShortcuts"_s);
    ASSERT_NE(choice, nullptr);
    EXPECT_TRUE(choice->isCheckable() && choice->isChecked());
    menu->close();
}

} // namespace
} // namespace corvalle::ui
