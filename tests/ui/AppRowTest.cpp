#include "AppRow.h"

#include "ElidedLabel.h"
#include "LevelText.h"
#include "ModelHarness.h"
#include "Symbols.h"
#include "TempDir.h"
#include "UiStyle.h"

#include <QGraphicsOpacityEffect>
#include <QImage>
#include <QLabel>
#include <QSlider>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>
#include <gtest/gtest.h>
#include <limits>

namespace corvalle::ui {
namespace {

const QString kPlayer = QStringLiteral("org.player");

template <typename T = QWidget> T* child(const QWidget& parent, const char* name) {
    auto* found = parent.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

QString symbolOf(const QObject& object) {
    return object.property(kSymbolProperty).toString();
}

void wheel(QWidget& target, int deltaY) {
    const QPointF at(target.width() / 2.0, target.height() / 2.0);
    QWheelEvent event(at, target.mapToGlobal(at), QPoint(), QPoint(0, deltaY), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&target, &event);
}

// Values the row never gets from the model: corrupt or out-of-range settings.
TEST(LevelText, OddValuesAndTheSliderGrid) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const auto& [volume, text] : std::vector<std::pair<double, const char*>>{
             {0.005, "1%"}, {0.0049, "0%"}, {7.5, "400%"}, {-2.0, "0%"}, {nan, "0%"}}) {
        EXPECT_EQ(levelText(AppSetting{volume, false, std::nullopt}), QString::fromLatin1(text))
            << volume;
    }
    for (int percent = 0; percent <= 400; ++percent) {
        EXPECT_EQ(levelPercent(volumeAtSliderPosition(sliderPosition(percent / 100.0))), percent);
    }
    EXPECT_EQ(sliderPosition(99.0), 4000);
    EXPECT_EQ(sliderPosition(nan), 0);
}

class AppRowTest : public ::testing::Test {
protected:
    AppRowTest() {
        process = world.addApp(100, kPlayer, QStringLiteral("Player"), true);
        world.start();
        row = std::make_unique<AppRow>(model(), *world.row(kPlayer));
        row->resize(352, AppRow::kHeight);
        QObject::connect(&model(), &MixerModel::settingsChanged, row.get(), &AppRow::redraw);
        row->show();
    }

    MixerModel& model() { return *world.model; }
    void refresh() {
        world.refresh();
        row->setApp(*world.row(kPlayer));
    }

    test::ModelHarness world;
    AudioObjectID process = kAudioObjectUnknown;
    std::unique_ptr<AppRow> row;
};

TEST_F(AppRowTest, StatesFollowTheStoredSetting) {
    struct Case {
        double volume;
        bool muted;
        const char* level;
        bool orange;
        bool resetEnabled;
        int slider;
    };
    for (const Case c : {
             Case{1.0, false, "100%", false, false, 1000},
             Case{1.004, false, "100%", false, false, 1000}, // inside the default band: no entry
             Case{1.006, false, "101%", true, true, 1006},
             Case{0.125, false, "13%", false, true, 125}, // a half goes away from zero
             Case{4.0, false, "400%", true, true, 4000},
             Case{2.0, true, "Muted", false, true, 2000},
             Case{1.0, true, "Muted", false, true, 1000},
         }) {
        model().reset(kPlayer);
        model().setVolume(c.volume, kPlayer);
        if (c.muted) {
            model().toggleMute(kPlayer);
        }
        const std::string label = std::to_string(c.volume) + (c.muted ? " muted" : "");
        const auto* level = child<QLabel>(*row, "level");
        EXPECT_EQ(level->text(), QString::fromLatin1(c.level)) << label;
        EXPECT_EQ(textColor(*level), c.orange ? orangeColor() : secondaryColor(level->palette()))
            << label;
        EXPECT_EQ(child(*row, "reset")->isEnabled(), c.resetEnabled) << label;
        EXPECT_EQ(symbolOf(*child(*row, "mute")), c.muted ? QStringLiteral("speaker.slash.fill")
                                                          : QStringLiteral("speaker.wave.2.fill"))
            << label;
        EXPECT_EQ(child(*row, "mute")->toolTip(),
                  c.muted ? QStringLiteral("Unmute") : QStringLiteral("Mute"))
            << label;
        EXPECT_EQ(child(*row, "slider")->isEnabled(), !c.muted) << label;
        EXPECT_EQ(child<QSlider>(*row, "slider")->value(), c.slider) << label;
    }
}

TEST_F(AppRowTest, AStoredVolumeJustAboveFullIsOrangeWhileResetStaysDisabled) {
    world.store.setData(QStringLiteral("appSettings"),
                        R"({"org.player":{"volume":1.004,"muted":false}})");
    row.reset();
    world.model.reset();
    world.start();
    AppRow stored(model(), *world.row(kPlayer));
    EXPECT_EQ(child<QLabel>(stored, "level")->text(), QStringLiteral("100%"));
    EXPECT_EQ(textColor(*child<QLabel>(stored, "level")), orangeColor());
    EXPECT_FALSE(child(stored, "reset")->isEnabled());
}

TEST_F(AppRowTest, IconFromTheAppElseTheDashedSymbolAt26Points) {
    auto* icon = child<QLabel>(*row, "icon");
    EXPECT_EQ(symbolOf(*icon), QStringLiteral("app.dashed")); // the harness names no real icon
    EXPECT_FALSE(icon->pixmap().isNull());
    EXPECT_EQ(icon->size(), QSize(26, 26));

    test::TempDir dir;
    const QString file = QString::fromStdString((dir.path() / "player.png").string());
    QImage red(64, 48, QImage::Format_ARGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(file));
    world.directory.running[100].icon = file;
    refresh();
    EXPECT_EQ(symbolOf(*icon), QString());
    const QImage shown = icon->pixmap().toImage();
    EXPECT_EQ(QColor(shown.pixel(shown.width() / 2, shown.height() / 2)), QColor(Qt::red));
}

TEST_F(AppRowTest, WaveformWhilePlayingAndARememberedRowFaded) {
    auto* waveform = child(*row, "waveform");
    EXPECT_TRUE(waveform->isVisible());

    world.hardware.setRunningOutput(process, false);
    refresh();
    EXPECT_FALSE(waveform->isVisible());
    EXPECT_EQ(row->graphicsEffect(), nullptr) << "silent but present: full opacity";
    EXPECT_TRUE(row->toolTip().isEmpty());

    // Gone with a setting: faded, explained, escaped, and still working.
    world.directory.running[100].name = QStringLiteral("<b>P</b>");
    refresh();
    model().setVolume(0.5, kPlayer);
    world.hardware.removeProcess(process);
    refresh();
    ASSERT_TRUE(world.row(kPlayer)->processObjects.empty());
    EXPECT_FALSE(waveform->isVisible());
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(row->graphicsEffect());
    ASSERT_NE(effect, nullptr);
    EXPECT_DOUBLE_EQ(effect->opacity(), 0.6);
    EXPECT_EQ(child<ElidedLabel>(*row, "name")->text(), QStringLiteral("<b>P</b>"));
    EXPECT_TRUE(row->toolTip().contains(QStringLiteral(
        "&lt;b&gt;P&lt;/b&gt; is not playing right now. Your setting is kept for when it does.")))
        << row->toolTip().toStdString();
    child<QToolButton>(*row, "mute")->click();
    EXPECT_TRUE(model().setting(kPlayer).muted);

    world.addApp(101, kPlayer, QStringLiteral("Player"), true);
    refresh();
    EXPECT_EQ(row->graphicsEffect(), nullptr);
    EXPECT_TRUE(waveform->isVisible());
}

TEST_F(AppRowTest, ControlsCallTheModelWhichIsNotFedBack) {
    auto* slider = child<QSlider>(*row, "slider");
    slider->setValue(1006);
    EXPECT_EQ(model().setting(kPlayer).volume, 1.006);
    slider->setValue(1004);
    EXPECT_TRUE(model().settings().empty()) << "inside the default band the entry goes";
    EXPECT_EQ(slider->value(), 1000);

    child<QToolButton>(*row, "mute")->click();
    EXPECT_TRUE(model().setting(kPlayer).muted);
    child<QToolButton>(*row, "mute")->click();
    slider->setValue(2500);
    child<QToolButton>(*row, "reset")->click();
    EXPECT_TRUE(model().settings().empty());
    EXPECT_EQ(slider->value(), 1000);

    // A change from the model moves the slider without coming back as a second write.
    const int writes = world.store.writeCount();
    model().setVolume(0.3, kPlayer);
    EXPECT_EQ(slider->value(), 300);
    EXPECT_EQ(world.store.writeCount(), writes + 1);
}

TEST_F(AppRowTest, WheelAndKeyboardStep) {
    struct Step {
        double from;
        int delta;
        double to;
    };
    for (const Step s : {Step{1.0, 120, 1.05}, Step{1.0, -240, 0.9}, Step{0.73, 120, 0.75},
                         Step{0.73, -120, 0.70}, Step{3.98, 360, 4.0}, Step{0.02, -360, 0.0}}) {
        model().setVolume(s.from, kPlayer);
        wheel(*child(*row, "name"), s.delta);
        EXPECT_NEAR(model().setting(kPlayer).volume, s.to, 1e-9) << s.from << " " << s.delta;
    }
    model().setVolume(1.0, kPlayer);
    wheel(*row, 60);
    wheel(*row, 60);
    wheel(*child(*row, "slider"), 120);
    EXPECT_NEAR(model().setting(kPlayer).volume, 1.10, 1e-9) << "half notches add up";
    model().toggleMute(kPlayer);
    wheel(*row, 120);
    EXPECT_NEAR(model().setting(kPlayer).volume, 1.10, 1e-9) << "muted: the wheel does nothing";
    model().toggleMute(kPlayer);

    QApplication::setActiveWindow(row.get());
    auto* slider = child(*row, "slider");
    slider->setFocus(Qt::TabFocusReason);
    QTest::keyClick(slider, Qt::Key_Left);
    EXPECT_NEAR(model().setting(kPlayer).volume, 1.09, 1e-9);
    QTest::keyClick(slider, Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), child(*row, "mute"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_TRUE(model().setting(kPlayer).muted);
}

} // namespace
} // namespace corvalle::ui
