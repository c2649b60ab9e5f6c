#include "MixerView.h"

#include "AppRow.h"
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
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>

namespace corvalle::ui {
namespace {

using test::activate;
using test::child;
using test::wheel;

class MixerViewTest : public ::testing::Test {
protected:
    std::unique_ptr<MixerView> makeView() {
        if (!world.model) {
            world.start();
        }
        auto view = std::make_unique<MixerView>(*world.model, loginItem, [this] { ++quits; });
        view->show();
        QApplication::processEvents();
        return view;
    }

    test::ModelHarness world;
    test::FakeLoginItem loginItem;
    int quits = 0;
};

TEST_F(MixerViewTest, ListHeightGrowsWithTheRowsUpTo420ThenScrolls) {
    for (const auto& [count, height] :
         std::vector<std::pair<int, int>>{{0, 0}, {1, 44}, {9, 396}, {10, 420}, {14, 420}}) {
        test::ModelHarness local;
        local.addApps(count);
        local.start();
        MixerView view(*local.model, loginItem, [] {});
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

TEST_F(MixerViewTest, ErrorLineOnlyWhenThereIsOneAndAtMostThreeLines) {
    world.addApp(100, QStringLiteral("org.player"), QStringLiteral("Player"), true);
    const auto view = makeView();
    auto* error = child<QLabel>(*view, "errorLine");
    EXPECT_FALSE(error->isVisible());

    world.hardware.setCallFailure(SimCall::createProcessTap, -50);
    world.model->setVolume(0.5, QStringLiteral("org.player"));
    EXPECT_TRUE(error->isVisible());
    EXPECT_EQ(error->text(), QStringLiteral("Player: Create process tap failed (OSStatus -50)"));
    EXPECT_EQ(textColor(*error), redColor(view->palette()));

    world.directory.running[100].name = QString(400, QLatin1Char('x'));
    world.refresh();
    world.model->setVolume(0.4, QStringLiteral("org.player"));
    QApplication::processEvents();
    EXPECT_TRUE(error->text().endsWith(QStringLiteral("…")));
    EXPECT_LT(error->heightForWidth(352), 4 * error->fontMetrics().lineSpacing());
}

TEST_F(MixerViewTest, LaunchAtLoginFallsBackToTheStatusAfterAFailureAndQuitQuits) {
    const auto view = makeView();
    auto* box = child<QCheckBox>(*view, "launchAtLogin");
    EXPECT_FALSE(box->isChecked());
    box->click();
    EXPECT_EQ(loginItem.registerCalls, 1);
    EXPECT_TRUE(box->isChecked());
    box->click();
    EXPECT_EQ(loginItem.unregisterCalls, 1);
    loginItem.registerSucceeds = false;
    box->click();
    EXPECT_EQ(loginItem.registerCalls, 2);
    EXPECT_FALSE(box->isChecked()) << "a failed registration shows the real status";

    child<QPushButton>(*view, "quit")->click();
    EXPECT_EQ(quits, 1);
}

// Entry texts in order, "✓" marking the one with the checkmark.
std::vector<QString> entries(const OutputPicker& picker) {
    std::vector<QString> result;
    for (const QAction* action : picker.deviceActions()) {
        const bool checked =
            action->property(kSymbolProperty).toString() == QStringLiteral("checkmark");
        EXPECT_EQ(checked, !action->icon().isNull());
        result.push_back(action->text() + (checked ? QStringLiteral(" ✓") : QString()));
    }
    return result;
}

// The picker names the output, shows its kind and checks it in the list.
TEST_F(MixerViewTest, OutputPickerListsDevicesInOrderWithOneCheckmarkAndACappedLabel) {
    const AudioObjectID phones = world.hardware.addDevice({.uid = "p", .name = "USB Headphones"});
    world.hardware.addDevice({.uid = "twin", .name = "Speakers"});
    const AudioObjectID hdmi = world.hardware.addDevice({.uid = "h", .name = "HDMI 1"});
    world.start();
    OutputPicker picker(*world.model);
    picker.show();
    for (const auto& [device, symbol, name, index] :
         std::vector<std::tuple<AudioObjectID, const char*, QString, std::size_t>>{
             {world.speakers, "hifispeaker", "Speakers", 0},
             {phones, "headphones", "USB Headphones", 1},
             {hdmi, "display", "HDMI 1", 3}}) {
        if (device != world.speakers) {
            picker.deviceActions().at(static_cast<qsizetype>(index))->trigger();
        }
        EXPECT_EQ(world.model->outputID(), device);
        EXPECT_EQ(picker.text(), name);
        EXPECT_EQ(picker.property(kSymbolProperty).toString(), QString::fromLatin1(symbol));
        EXPECT_EQ(QAccessible::queryAccessibleInterface(&picker)->text(QAccessible::Name),
                  QStringLiteral("Output device: ") + name);
        std::vector<QString> expected{"Speakers", "USB Headphones", "Speakers", "HDMI 1"};
        expected[index] += QStringLiteral(" ✓");
        EXPECT_EQ(entries(picker), expected) << name.toStdString();
    }
    world.hardware.renameDevice(hdmi, std::string(300, 'W'));
    world.refresh();
    QApplication::processEvents();
    EXPECT_TRUE(picker.text().endsWith(QStringLiteral("…")));
    EXPECT_LE(picker.width(), 200);

    world.hardware.setPropertyFailure(kAudioObjectSystemObject,
                                      kAudioHardwarePropertyDefaultOutputDevice, -1);
    world.refresh();
    EXPECT_EQ(picker.text(), QStringLiteral("Unknown"));
    for (const QString& entry : entries(picker)) {
        EXPECT_FALSE(entry.endsWith(QStringLiteral("✓"))) << entry.toStdString();
    }
}

TEST_F(MixerViewTest, TheWheelScrollsALongListAndSetsAVolumeOnlyOverASlider) {
    world.addApps(14);
    const auto view = makeView();
    auto* bar = child<QScrollArea>(*view, "appList")->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    AppRow* first = view->rows().front();
    const QString firstID = first->appID();

    for (const char* over : {"name", "icon", "level", "mute", "reset"}) {
        bar->setValue(0);
        wheel(*child(*first, over), -120);
        EXPECT_GT(bar->value(), 0) << over;
    }
    wheel(*first, -120);
    EXPECT_TRUE(world.model->settings().empty()) << "no volume changed while scrolling";

    bar->setValue(0);
    wheel(*child(*first, "slider"), 120);
    EXPECT_EQ(bar->value(), 0) << "aimed at the slider: the list stays";
    EXPECT_NEAR(world.model->setting(firstID).volume, 1.05, 1e-9);

    // A bar that can be seen: wide enough and in a colour that stands out.
    EXPECT_GE(bar->sizeHint().width(), 10);
    EXPECT_GE(contrastRatio(bar->property("handleColour").value<QColor>(),
                            backgroundColor(view->palette())),
              kGraphicContrast);
}

TEST_F(MixerViewTest, OnlyRowsInsideTheListAreMeasuredAndARowScrolledInShowsItsLevel) {
    world.addApps(14);
    const auto view = makeView();
    auto* bar = child<QScrollArea>(*view, "appList")->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    const AppRow* first = view->rows().front();
    const AppRow* last = view->rows().back();
    const AudioObjectID firstProcess = first->app().processObjects.front();
    const AudioObjectID lastProcess = last->app().processObjects.front();
    LevelMonitor& levels = world.model->levels();
    ASSERT_TRUE(levels.isRunning());
    levels.takeFrame();
    EXPECT_TRUE(world.hardware.isMetered(firstProcess));
    EXPECT_FALSE(world.hardware.isMetered(lastProcess)) << "scrolled out: not measured";
    EXPECT_LT(world.hardware.meteredCount(), 14U);

    bar->setValue(bar->maximum());
    levels.takeFrame();
    EXPECT_FALSE(world.hardware.isMetered(firstProcess)) << "scrolled out: no longer measured";
    EXPECT_TRUE(world.hardware.isMetered(lastProcess));
    world.hardware.playPeak(lastProcess, 0.5F);
    levels.takeFrame();
    EXPECT_GT(last->meter()->fill(), 0.0) << "scrolled in: its level shows";

    // Hidden, nothing is measured; shown again, only what the list shows.
    view->hide();
    EXPECT_EQ(world.hardware.meteredCount(), 0U);
    view->show();
    QApplication::processEvents();
    levels.takeFrame();
    EXPECT_TRUE(world.hardware.isMetered(lastProcess));
    EXPECT_FALSE(world.hardware.isMetered(firstProcess));
}

// While the levels cannot be seen nothing measures them and no timer runs; they
// are measured again as soon as the window shows. The view sits in a window of
// its own, as in the program's window, which opens minimised at login where
// there is no tray: then its widgets are told they show, but nothing can be seen.
TEST_F(MixerViewTest, LevelsAreMeasuredOnlyWhileTheirWindowCanBeSeen) {
    const AudioObjectID process =
        world.addApp(100, QStringLiteral("org.player"), QStringLiteral("Player"), true);
    world.start();
    QWidget window;
    new MixerView(
        *world.model, loginItem, [] {}, &window);
    LevelMonitor& levels = world.model->levels();
    window.showMinimized();
    QApplication::processEvents();
    EXPECT_FALSE(levels.isRunning()) << "opened minimised";
    EXPECT_EQ(world.hardware.meteredCount(), 0U) << "opened minimised";
    window.showNormal();
    QApplication::processEvents();
    struct Way {
        const char* name = "";
        std::function<void()> away;
        std::function<void()> back;
    };
    const std::vector<Way> ways{
        {"hidden", [&] { window.hide(); }, [&] { window.show(); }},
        {"minimised", [&] { window.showMinimized(); }, [&] { window.showNormal(); }},
    };
    for (const Way& way : ways) {
        ASSERT_TRUE(levels.isRunning()) << way.name;
        levels.takeFrame();
        ASSERT_TRUE(world.hardware.isMetered(process)) << way.name;
        way.away();
        QApplication::processEvents();
        EXPECT_FALSE(levels.isRunning()) << way.name;
        EXPECT_EQ(world.hardware.meteredCount(), 0U) << way.name;
        way.back();
        QApplication::processEvents();
        EXPECT_TRUE(levels.isRunning()) << way.name;
    }
}

TEST_F(MixerViewTest, ARowThatComesWhileAllIsSilentIsMeasured) {
    world.addApps(1);
    const auto view = makeView();
    LevelMonitor& levels = world.model->levels();
    std::chrono::steady_clock::time_point now{};
    levels.setClock([&] { return now; });
    now += LevelMonitor::kQuietAfter * 2;
    levels.takeFrame(); // silent for long: no frame reaches the view

    const AudioObjectID later =
        world.addApp(301, QStringLiteral("org.app1"), QStringLiteral("Later"), true);
    world.refresh();
    QApplication::processEvents();
    ASSERT_NE(view->row(QStringLiteral("org.app1")), nullptr);
    levels.takeFrame();
    EXPECT_TRUE(world.hardware.isMetered(later));
    world.hardware.playPeak(later, 0.5F);
    levels.takeFrame();
    EXPECT_GT(view->row(QStringLiteral("org.app1"))->meter()->fill(), 0.0);
}

TEST_F(MixerViewTest, TabReachesEveryControlAndTheListFollowsTheFocus) {
    world.addApps(14);
    world.start().setVolume(0.5, QStringLiteral("org.app13")); // its reset is enabled
    const auto view = makeView();
    ASSERT_TRUE(activate(*view));
    auto* list = child<QScrollArea>(*view, "appList");
    EXPECT_EQ(list->focusPolicy(), Qt::NoFocus);
    child(*view->rows().front(), "slider")->setFocus(Qt::TabFocusReason);
    QWidget* lastSlider = child(*view->rows().back(), "slider");
    for (int press = 0; press < 60 && QApplication::focusWidget() != lastSlider; ++press) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    ASSERT_EQ(QApplication::focusWidget(), lastSlider);
    const QRect shown = list->viewport()->rect();
    const QRect focused(lastSlider->mapTo(list->viewport(), QPoint(0, 0)), lastSlider->size());
    EXPECT_TRUE(shown.contains(focused)) << "the focused slider is scrolled into view";
}

TEST_F(MixerViewTest, NumbersInNamesSortInTheirNaturalOrderAlsoInTheCLocale) {
    const QLocale before;
    for (const QLocale& locale : {QLocale(QLocale::German, QLocale::Germany), QLocale::c()}) {
        QLocale::setDefault(locale);
        test::ModelHarness local;
        local.addApp(301, QStringLiteral("org.ten"), QStringLiteral("Demo App 10"), true);
        local.addApp(302, QStringLiteral("org.seven"), QStringLiteral("demo app 7"), true);
        local.addApp(303, QStringLiteral("org.two"), QStringLiteral("Demo App 2"), true);
        local.addApp(304, QStringLiteral("org.eleven"), QStringLiteral("Demo App 11"), true);
        local.addApp(305, QStringLiteral("org.apple"), QStringLiteral("\u00c4pfel"), true);
        MixerView view(local.start(), loginItem, [] {});
        std::vector<QString> order;
        for (const AppRow* appRow : view.rows()) {
            order.push_back(appRow->app().name);
        }
        EXPECT_EQ(order,
                  (std::vector<QString>{QStringLiteral("\u00c4pfel"), QStringLiteral("Demo App 2"),
                                        QStringLiteral("demo app 7"), QStringLiteral("Demo App 10"),
                                        QStringLiteral("Demo App 11")}))
            << locale.name().toStdString();
    }
    QLocale::setDefault(before);
}

// A call shows a sign on its own row and another, saying how low, on each row it
// lowers; both go once the others are back. Sliders keep their own levels.
TEST_F(MixerViewTest, RowsShowWhileACallLowersThemAndWhoseCallItIs) {
    world.addApp(101, QStringLiteral("org.music"), QStringLiteral("Music"), true);
    const AudioObjectID call =
        world.addApp(103, QStringLiteral("org.call"), QStringLiteral("Call"), true);
    world.start().setVolume(0.5, QStringLiteral("org.gone")); // remembered, not running
    const auto view = makeView();
    // Each row's sign, as its symbol and tooltip; nothing while it is hidden.
    using Signs = std::vector<std::pair<QString, QString>>;
    const auto signs = [&] {
        Signs shown;
        for (const char* key : {"org.music", "org.gone", "org.call"}) {
            const AppRow* appRow = view->row(QString::fromLatin1(key));
            EXPECT_NE(appRow, nullptr) << key;
            const auto* sign = appRow ? child<QLabel>(*appRow, "callSign") : nullptr;
            shown.emplace_back(
                sign && sign->isVisible()
                    ? std::pair(sign->property(kSymbolProperty).toString(), sign->toolTip())
                    : std::pair<QString, QString>());
        }
        return shown;
    };
    const Signs none(3);
    EXPECT_EQ(signs(), none);

    world.hardware.setRunningCall(call, true);
    world.refresh();
    EXPECT_EQ(signs(), (Signs{{QStringLiteral("arrow.down.right"),
                               QStringLiteral("Lowered to 30% while a call plays")},
                              {},
                              {QStringLiteral("phone.fill"),
                               QStringLiteral("Its call lowers the others")}}));
    EXPECT_EQ(child<VolumeSlider>(*view->row(QStringLiteral("org.music")), "slider")->value(), 100);
    world.model->setLoweredLevel(0.5);
    EXPECT_EQ(signs()[0].second, QStringLiteral("Lowered to 50% while a call plays"));
    world.model->toggleMute(QStringLiteral("org.music"));
    EXPECT_EQ(signs()[0].second, QStringLiteral("Lowered while a call plays"));

    // It plays on, but no longer as a call: the others are held, then come back.
    world.hardware.setRunningCall(call, false);
    world.hardware.setRunningOutput(call, true);
    world.refresh();
    EXPECT_NE(signs(), none) << "held while the call may go on";
    world.steady += Lowering::kHoldAfter + Lowering::kFadeUp;
    world.refresh();
    EXPECT_EQ(signs(), none);
}

} // namespace
} // namespace corvalle::ui
