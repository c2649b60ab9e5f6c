#include "AppRow.h"

#include "ElidedLabel.h"
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

namespace corvalle::ui {
namespace {

using test::drainEvents;
using test::ModelHarness;

const QString kPlayer = QStringLiteral("org.player");

class AppRowTest : public ::testing::Test {
protected:
    AppRowTest() {
        process = world.addApp(100, kPlayer, QStringLiteral("Player"), true);
        world.start();
    }

    MixerModel& model() { return *world.model; }

    // A row for the model's current row of `key`, kept up to date like the panel does.
    std::unique_ptr<AppRow> makeRow(const QString& key = kPlayer) {
        const AudioApp* app = world.row(key);
        EXPECT_NE(app, nullptr) << key.toStdString();
        auto row = std::make_unique<AppRow>(model(), app ? *app : AudioApp{});
        row->resize(352, AppRow::kHeight);
        QObject::connect(&model(), &MixerModel::settingsChanged, row.get(), &AppRow::redraw);
        return row;
    }

    template <typename T> static T* child(const AppRow& row, const char* name) {
        auto* found = row.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    static QString symbolOf(const QObject& object) {
        return object.property(kSymbolProperty).toString();
    }

    static void wheel(QWidget& target, int deltaY) {
        const QPointF at(target.width() / 2.0, target.height() / 2.0);
        QWheelEvent event(at, target.mapToGlobal(at), QPoint(), QPoint(0, deltaY), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&target, &event);
    }

    ModelHarness world;
    AudioObjectID process = kAudioObjectUnknown;
};

TEST_F(AppRowTest, StatesFollowTheStoredSetting) {
    struct Case {
        double volume;
        bool muted;
        const char* level;
        bool orange;
        bool resetEnabled;
        const char* muteSymbol;
        const char* muteTip;
        int slider;
    };
    const auto row = makeRow();
    for (const Case c : {
             Case{1.0, false, "100%", false, false, "speaker.wave.2.fill", "Mute", 1000},
             // Inside the default band: the model keeps no entry, so the row shows 1.0.
             Case{1.004, false, "100%", false, false, "speaker.wave.2.fill", "Mute", 1000},
             Case{1.006, false, "101%", true, true, "speaker.wave.2.fill", "Mute", 1006},
             Case{0.125, false, "13%", false, true, "speaker.wave.2.fill", "Mute", 125},
             Case{4.0, false, "400%", true, true, "speaker.wave.2.fill", "Mute", 4000},
             Case{2.0, true, "Muted", false, true, "speaker.slash.fill", "Unmute", 2000},
             Case{1.0, true, "Muted", false, true, "speaker.slash.fill", "Unmute", 1000},
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
        EXPECT_EQ(child<QToolButton>(*row, "reset")->isEnabled(), c.resetEnabled) << label;
        EXPECT_EQ(child<QToolButton>(*row, "reset")->toolTip(), QStringLiteral("Reset to 100%"));
        EXPECT_EQ(symbolOf(*child<QToolButton>(*row, "mute")), QString::fromLatin1(c.muteSymbol))
            << label;
        EXPECT_EQ(child<QToolButton>(*row, "mute")->toolTip(), QString::fromLatin1(c.muteTip))
            << label;
        EXPECT_EQ(child<QSlider>(*row, "slider")->isEnabled(), !c.muted) << label;
        EXPECT_EQ(child<QSlider>(*row, "slider")->value(), c.slider) << label;
    }
}

TEST_F(AppRowTest, AVolumeJustAboveFullIsOrangeWhileResetStaysDisabled) {
    // Stored entries are taken as loaded, so 1.004 can be a stored setting.
    world.store.setData(QStringLiteral("appSettings"),
                        R"({"org.player":{"volume":1.004,"muted":false}})");
    world.model.reset();
    world.start();
    const auto row = makeRow();
    EXPECT_EQ(child<QLabel>(*row, "level")->text(), QStringLiteral("100%"));
    EXPECT_EQ(textColor(*child<QLabel>(*row, "level")), orangeColor());
    EXPECT_FALSE(child<QToolButton>(*row, "reset")->isEnabled());
}

TEST_F(AppRowTest, FixedSizesOfIconAndMuteButton) {
    const auto row = makeRow();
    row->show();
    EXPECT_EQ(child<QLabel>(*row, "icon")->size(), QSize(26, 26));
    EXPECT_EQ(child<QToolButton>(*row, "mute")->width(), 18);
    EXPECT_EQ(row->height(), AppRow::kHeight);
}

TEST_F(AppRowTest, IconFromTheAppElseTheDashedSymbol) {
    // ModelHarness names an icon that no theme has.
    const auto fallback = makeRow();
    const auto* icon = child<QLabel>(*fallback, "icon");
    EXPECT_EQ(symbolOf(*icon), QStringLiteral("app.dashed"));
    EXPECT_FALSE(icon->pixmap().isNull());

    test::TempDir dir;
    const QString file = QString::fromStdString((dir.path() / "player.png").string());
    QImage red(64, 48, QImage::Format_ARGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(file));
    world.directory.running[100].icon = file;
    world.refresh();
    fallback->setApp(*world.row(kPlayer));
    EXPECT_EQ(symbolOf(*icon), QString());
    const QImage shown = icon->pixmap().toImage();
    ASSERT_FALSE(shown.isNull());
    EXPECT_EQ(QColor(shown.pixel(shown.width() / 2, shown.height() / 2)), QColor(Qt::red));
    EXPECT_EQ(icon->size(), QSize(26, 26));
}

TEST_F(AppRowTest, PlayingSilentAndSettingOnlyRows) {
    const auto row = makeRow();
    row->show();
    const auto* waveform = child<QLabel>(*row, "waveform");
    EXPECT_TRUE(waveform->isVisible());
    EXPECT_EQ(symbolOf(*waveform), QStringLiteral("waveform"));
    EXPECT_EQ(textColor(*waveform), greenColor());
    EXPECT_EQ(row->graphicsEffect(), nullptr);
    EXPECT_TRUE(row->toolTip().isEmpty());
    EXPECT_EQ(child<ElidedLabel>(*row, "name")->text(), QStringLiteral("Player"));

    // Silent but present: full opacity, no waveform, no tooltip.
    world.hardware.setRunningOutput(process, false);
    world.refresh();
    row->setApp(*world.row(kPlayer));
    EXPECT_FALSE(waveform->isVisible());
    EXPECT_EQ(row->graphicsEffect(), nullptr);
    EXPECT_TRUE(row->toolTip().isEmpty());

    // Gone with a setting: faded, explained, still working.
    model().setVolume(0.5, kPlayer);
    world.hardware.removeProcess(process);
    world.refresh();
    const AudioApp* remembered = world.row(kPlayer);
    ASSERT_NE(remembered, nullptr);
    ASSERT_TRUE(remembered->processObjects.empty());
    row->setApp(*remembered);
    EXPECT_FALSE(waveform->isVisible());
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(row->graphicsEffect());
    ASSERT_NE(effect, nullptr);
    EXPECT_DOUBLE_EQ(effect->opacity(), 0.6);
    EXPECT_EQ(
        row->toolTip(),
        QStringLiteral("Player is not playing right now. Your setting is kept for when it does."));
    child<QToolButton>(*row, "mute")->click();
    EXPECT_TRUE(model().setting(kPlayer).muted);

    // Back again: full opacity.
    world.addApp(101, kPlayer, QStringLiteral("Player"), true);
    world.refresh();
    row->setApp(*world.row(kPlayer));
    EXPECT_EQ(row->graphicsEffect(), nullptr);
    EXPECT_TRUE(row->toolTip().isEmpty());
}

TEST_F(AppRowTest, NamesAreShownVerbatimOnOneLine) {
    world.directory.running[100].name = QStringLiteral("<b>Bold</b> & Co");
    world.refresh();
    const auto row = makeRow();
    auto* name = row->findChild<ElidedLabel*>(QStringLiteral("name"));
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->text(), QStringLiteral("<b>Bold</b> & Co"));

    model().setVolume(0.5, kPlayer);
    world.hardware.removeProcess(process);
    world.refresh();
    row->setApp(*world.row(kPlayer));
    // The tooltip is escaped so that it reads as written.
    EXPECT_TRUE(row->toolTip().contains(QStringLiteral("&lt;b&gt;Bold&lt;/b&gt; &amp; Co")));
}

TEST_F(AppRowTest, ControlsCallTheModel) {
    const auto row = makeRow();
    auto* slider = child<QSlider>(*row, "slider");

    slider->setValue(500);
    EXPECT_EQ(model().setting(kPlayer).volume, 0.5);
    slider->setValue(1006);
    EXPECT_EQ(model().setting(kPlayer).volume, 1.006);
    // Inside the default band the entry goes and the slider shows 100 %.
    slider->setValue(1004);
    EXPECT_TRUE(model().settings().empty());
    EXPECT_EQ(slider->value(), 1000);

    child<QToolButton>(*row, "mute")->click();
    EXPECT_TRUE(model().setting(kPlayer).muted);
    child<QToolButton>(*row, "mute")->click();
    EXPECT_FALSE(model().setting(kPlayer).muted);

    slider->setValue(2500);
    child<QToolButton>(*row, "reset")->click();
    EXPECT_TRUE(model().settings().empty());
    EXPECT_EQ(slider->value(), 1000);
    EXPECT_FALSE(child<QToolButton>(*row, "reset")->isEnabled());
}

TEST_F(AppRowTest, ModelChangesAreNotFedBackAsUserChanges) {
    const auto row = makeRow();
    const int writes = world.store.writeCount();
    model().setVolume(0.3, kPlayer);
    EXPECT_EQ(child<QSlider>(*row, "slider")->value(), 300);
    EXPECT_EQ(world.store.writeCount(), writes + 1);
    EXPECT_EQ(model().setting(kPlayer).volume, 0.3);
}

TEST_F(AppRowTest, WheelStepsOfFivePercentOverTheWholeRow) {
    const auto row = makeRow();
    row->show();
    struct Step {
        QWidget* target;
        int delta;
        double volume;
    };
    auto* slider = child<QSlider>(*row, "slider");
    auto* name = child<QWidget>(*row, "name");
    for (const Step s :
         {Step{row.get(), 120, 1.05}, Step{slider, 120, 1.10}, Step{name, -240, 1.00},
          Step{row.get(), -120, 0.95}, Step{row.get(), 60, 0.95}, Step{row.get(), 60, 1.00}}) {
        wheel(*s.target, s.delta);
        EXPECT_NEAR(model().setting(kPlayer).volume, s.volume, 1e-9) << s.delta;
    }
    // Off the grid, a step lands on the next multiple of 5 %.
    model().setVolume(0.73, kPlayer);
    wheel(*row, 120);
    EXPECT_NEAR(model().setting(kPlayer).volume, 0.75, 1e-9);
    model().setVolume(0.73, kPlayer);
    wheel(*row, -120);
    EXPECT_NEAR(model().setting(kPlayer).volume, 0.70, 1e-9);
    // Clamped at both ends.
    model().setVolume(3.98, kPlayer);
    wheel(*row, 360);
    EXPECT_EQ(model().setting(kPlayer).volume, 4.0);
    model().setVolume(0.02, kPlayer);
    wheel(*row, -360);
    EXPECT_EQ(model().setting(kPlayer).volume, 0.0);
    // Muted: the wheel leaves the volume alone, like the disabled slider.
    model().setVolume(0.5, kPlayer);
    model().toggleMute(kPlayer);
    wheel(*row, 120);
    EXPECT_EQ(model().setting(kPlayer).volume, 0.5);
}

TEST_F(AppRowTest, KeyboardReachesSliderAndMute) {
    const auto row = makeRow();
    row->show();
    QApplication::setActiveWindow(row.get());
    auto* slider = child<QSlider>(*row, "slider");
    auto* mute = child<QToolButton>(*row, "mute");
    EXPECT_TRUE(slider->focusPolicy() & Qt::TabFocus);
    EXPECT_TRUE(mute->focusPolicy() & Qt::TabFocus);

    slider->setFocus(Qt::TabFocusReason);
    QTest::keyClick(slider, Qt::Key_Right);
    EXPECT_NEAR(model().setting(kPlayer).volume, 1.01, 1e-9);
    QTest::keyClick(slider, Qt::Key_Left);
    QTest::keyClick(slider, Qt::Key_Left);
    EXPECT_NEAR(model().setting(kPlayer).volume, 0.99, 1e-9);
    QTest::keyClick(slider, Qt::Key_PageUp);
    EXPECT_NEAR(model().setting(kPlayer).volume, 1.09, 1e-9);

    // Tab moves on from the slider to the mute button; space toggles it.
    QTest::keyClick(slider, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), mute);
    QTest::keyClick(mute, Qt::Key_Space);
    EXPECT_TRUE(model().setting(kPlayer).muted);
}

} // namespace
} // namespace corvalle::ui
