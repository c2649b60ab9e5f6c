#include "AppRow.h"

#include "ElidedLabel.h"
#include "LevelText.h"
#include "ModelHarness.h"
#include "Symbols.h"
#include "TempDir.h"
#include "UiStyle.h"
#include "VolumeSlider.h"
#include "WidgetProbes.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QContextMenuEvent>
#include <QFile>
#include <QFileInfo>
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

const QString kPlayer = QStringLiteral("org.player");

QString symbolOf(const QObject& object) {
    return object.property(kSymbolProperty).toString();
}

void mouse(QWidget& target, QEvent::Type type, int x) {
    const QPointF at(x, target.height() / 2.0);
    const Qt::MouseButtons buttons =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(Qt::LeftButton);
    QMouseEvent event(type, at, target.mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(&target, &event);
}

// Presses the handle where it is and lets go at the x of `percent`.
void drag(VolumeSlider& slider, int toPercent) {
    mouse(slider, QEvent::MouseButtonPress, slider.xForPercent(slider.value()));
    mouse(slider, QEvent::MouseMove, slider.xForPercent(toPercent));
    mouse(slider, QEvent::MouseButtonRelease, slider.xForPercent(toPercent));
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

TEST(Symbols, TheSpeakerFollowsTheLevelAndTheOutputItsKind) {
    const std::tuple<bool, int, const char*> levels[] = {
        {false, 0, "speaker.fill"},          {false, 1, "speaker.wave.1.fill"},
        {false, 50, "speaker.wave.1.fill"},  {false, 51, "speaker.wave.2.fill"},
        {false, 100, "speaker.wave.2.fill"}, {false, 101, "speaker.wave.3.fill"},
        {true, 0, "speaker.slash.fill"},     {true, 250, "speaker.slash.fill"}};
    for (const auto& [muted, percent, symbol] : levels) {
        EXPECT_EQ(symbolName(muteSymbol(muted, percent)), QString::fromLatin1(symbol)) << percent;
    }
    // "usb" inside a word is no USB.
    const std::pair<const char*, std::vector<const char*>> outputs[] = {
        {"hifispeaker", {"Built-in Audio Analog Stereo", "Speakers", "Busy Box", ""}},
        {"headphones", {"USB Headphones", "Headset Earpiece", "Jabra Evolve Headset (Bluetooth)"}},
        {"display", {"HDMI / DisplayPort 2 Output", "Monitor of Built-in Audio"}},
        {"bluetooth", {"WH-1000XM4 (bluez)", "Bluetooth Speaker"}},
        {"usb", {"USB Audio Device"}}};
    for (const auto& [symbol, names] : outputs) {
        for (const char* name : names) {
            EXPECT_EQ(symbolName(outputSymbol(QString::fromUtf8(name))),
                      QString::fromLatin1(symbol))
                << name;
        }
    }
}

TEST(Symbols, EveryShippedSymbolDrawsSomething) {
    for (int i = 0; i <= static_cast<int>(Symbol::phoneFill); ++i) {
        const auto symbol = static_cast<Symbol>(i);
        const QImage image = symbolIcon(symbol, Qt::black).pixmap(QSize(24, 24)).toImage();
        int opaque = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                opaque += qAlpha(image.pixel(x, y)) > 128 ? 1 : 0;
            }
        }
        EXPECT_GT(opaque, 8) << symbolName(symbol).toStdString();
    }
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
        QApplication::processEvents();
    }

    MixerModel& model() { return *world.model; }
    VolumeSlider& slider() { return *child<VolumeSlider>(*row, "slider"); }
    // Opens the row's context menu from the keyboard; the one shown, or null.
    QMenu* openMenu() {
        QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(10, 10),
                                row->mapToGlobal(QPoint(10, 10)));
        QApplication::sendEvent(row.get(), &event);
        QMenu* menu = nullptr;
        for (QMenu* candidate : row->findChildren<QMenu*>(QStringLiteral("outputMenu"))) {
            menu = candidate->isVisible() ? candidate : menu;
        }
        return menu;
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
    struct Case {
        double volume;
        bool muted;
        const char* level;
        bool orange;
        bool resetEnabled;
        int slider;
        const char* symbol;
    };
    for (const Case c : {
             Case{1.0, false, "100%", false, false, 100, "speaker.wave.2.fill"},
             // inside the default band: no entry
             Case{1.004, false, "100%", false, false, 100, "speaker.wave.2.fill"},
             Case{1.006, false, "101%", true, true, 101, "speaker.wave.3.fill"},
             Case{0.125, false, "13%", false, true, 13, "speaker.wave.1.fill"}, // half goes up
             Case{0.0, false, "0%", false, true, 0, "speaker.fill"},
             Case{4.0, false, "400%", true, true, 400, "speaker.wave.3.fill"},
             Case{2.0, true, "Muted", false, true, 200, "speaker.slash.fill"},
             Case{1.0, true, "Muted", false, true, 100, "speaker.slash.fill"},
         }) {
        model().reset(kPlayer);
        model().setVolume(c.volume, kPlayer);
        if (c.muted) {
            model().toggleMute(kPlayer);
        }
        SCOPED_TRACE(std::to_string(c.volume) + (c.muted ? " muted" : ""));
        const auto* level = child<QLabel>(*row, "level");
        EXPECT_EQ(level->text(), QString::fromLatin1(c.level));
        EXPECT_EQ(textColor(*level),
                  c.orange ? orangeColor(row->palette()) : secondaryColor(row->palette()));
        EXPECT_EQ(child(*row, "reset")->isEnabled(), c.resetEnabled);
        auto* mute = child<QToolButton>(*row, "mute");
        EXPECT_EQ(symbolOf(*mute), QString::fromLatin1(c.symbol));
        EXPECT_EQ(mute->isChecked(), c.muted);
        EXPECT_EQ(mute->toolTip(), c.muted ? QStringLiteral("Unmute") : QStringLiteral("Mute"));
        // Muted, the slider still shows the stored level, locked and saying why.
        EXPECT_EQ(slider().isEnabled(), !c.muted);
        EXPECT_EQ(slider().value(), c.slider);
        EXPECT_EQ(slider().toolTip().isEmpty(), !c.muted);
        if (c.resetEnabled) {
            // A level between whole percents stays as stored: the slider's move is
            // not written back.
            EXPECT_EQ(model().setting(kPlayer).volume, c.volume);
        }
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
    EXPECT_EQ(textColor(*child<QLabel>(stored, "level")), orangeColor(stored.palette()));
    EXPECT_FALSE(child(stored, "reset")->isEnabled());
}

TEST_F(AppRowTest, IconFromAFileTheThemeOrHicolorElseTheDashedSymbol) {
    auto* icon = child<QLabel>(*row, "icon");
    EXPECT_EQ(symbolOf(*icon), QStringLiteral("app.dashed")); // the harness names no real icon
    EXPECT_FALSE(icon->pixmap().isNull());

    // An icon theme that has nothing, and a hicolor folder that has the names.
    test::TempDir data;
    const QString base = QString::fromStdString(data.path().string());
    const QByteArray oldDirs = qgetenv("XDG_DATA_DIRS");
    qputenv("XDG_DATA_DIRS", base.toUtf8());
    const QString oldTheme = QIcon::themeName();
    QIcon::setThemeName(QStringLiteral("corvalle-test-none"));
    // A file of one colour; a .svg one is drawn by Qt's SVG icon engine, a plugin
    // that some releases ship in a package of its own (most icons are SVG).
    const auto put = [&](const QString& relative, QColor colour) {
        QString file = base + QLatin1Char('/') + relative;
        QDir().mkpath(QFileInfo(file).path());
        if (file.endsWith(QLatin1String(".svg"))) {
            QFile svg(file);
            EXPECT_TRUE(svg.open(QIODevice::WriteOnly)) << file.toStdString();
            svg.write(
                QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"48\" "
                               "height=\"48\"><rect width=\"48\" height=\"48\" fill=\"%1\"/></svg>")
                    .arg(colour.name())
                    .toUtf8());
        } else {
            QImage image(48, 48, QImage::Format_ARGB32);
            image.fill(colour);
            EXPECT_TRUE(image.save(file)) << file.toStdString();
        }
        return file;
    };
    const QString redFile = put(QStringLiteral("own/player.png"), Qt::red);
    put(QStringLiteral("icons/hicolor/48x48/apps/org.player.png"), Qt::blue);
    put(QStringLiteral("pixmaps/oldplayer.png"), Qt::green);
    const QString svgFile = put(QStringLiteral("own/player.svg"), Qt::magenta);
    put(QStringLiteral("icons/hicolor/scalable/apps/org.svgplayer.svg"), Qt::magenta);

    const auto centre = [&] {
        const QImage shown = icon->pixmap().toImage();
        return QColor(shown.pixel(shown.width() / 2, shown.height() / 2));
    };
    // No colour: nothing found, the dashed symbol.
    for (const auto& [name, colour] : std::vector<std::pair<QString, QColor>>{
             {redFile, Qt::red},                             // the application's own file
             {QStringLiteral("org.player"), Qt::blue},       // hicolor without a theme
             {QStringLiteral("org.player.png"), Qt::blue},   // a name with an extension
             {QStringLiteral("oldplayer"), Qt::green},       // the pixmaps folder
             {svgFile, Qt::magenta},                         // an SVG file
             {QStringLiteral("org.svgplayer"), Qt::magenta}, // an SVG in hicolor
             {QStringLiteral("no-such-icon"), {}},
             {QStringLiteral("../own/player"), {}},
             {base + QStringLiteral("/gone.png"), {}}}) {
        SCOPED_TRACE(name.toStdString());
        world.directory.running[100].icon = name;
        refresh();
        EXPECT_EQ(symbolOf(*icon), colour.isValid() ? QString() : QStringLiteral("app.dashed"));
        EXPECT_EQ(colour.isValid() ? centre() : QColor(), colour);
    }
    QIcon::setThemeName(oldTheme);
    qputenv("XDG_DATA_DIRS", oldDirs);
}

// The row also tells assistive technology whether its app plays, is silent or is not running.
TEST_F(AppRowTest, MeterWhilePlayingAndARememberedRowDimmedButReadable) {
    auto* meter = child(*row, "meter");
    auto* name = child<ElidedLabel>(*row, "name");
    QAccessibleInterface* whole = QAccessible::queryAccessibleInterface(row.get());
    EXPECT_TRUE(meter->isVisible());
    EXPECT_EQ(whole->text(QAccessible::Description), QStringLiteral("Playing"));

    world.hardware.setRunningOutput(process, false);
    refresh();
    EXPECT_FALSE(meter->isVisible());
    EXPECT_EQ(whole->text(QAccessible::Description), QStringLiteral("Not playing"));
    EXPECT_EQ(name->palette().color(QPalette::WindowText),
              row->palette().color(QPalette::WindowText))
        << "silent but present: full colour";
    EXPECT_TRUE(row->toolTip().isEmpty());

    // Gone with a setting: dimmed, explained, escaped, and still working.
    world.directory.running[100].name = QStringLiteral("<b>P</b>");
    refresh();
    model().setVolume(0.5, kPlayer);
    world.hardware.removeProcess(process);
    refresh();
    ASSERT_TRUE(world.row(kPlayer)->processObjects.empty());
    EXPECT_FALSE(meter->isVisible());
    EXPECT_EQ(name->palette().color(QPalette::WindowText), secondaryColor(row->palette()));
    EXPECT_EQ(name->text(), QStringLiteral("<b>P</b>"));
    EXPECT_TRUE(row->toolTip().contains(QStringLiteral(
        "&lt;b&gt;P&lt;/b&gt; is not playing right now. Your setting is kept for when it does.")))
        << row->toolTip().toStdString();
    EXPECT_TRUE(whole->text(QAccessible::Description)
                    .startsWith(QStringLiteral("<b>P</b> is not playing right now.")));
    child<QToolButton>(*row, "mute")->click();
    EXPECT_TRUE(model().setting(kPlayer).muted);

    world.addApp(101, kPlayer, QStringLiteral("Player"), true);
    refresh();
    EXPECT_EQ(name->palette().color(QPalette::WindowText),
              row->palette().color(QPalette::WindowText));
    EXPECT_TRUE(meter->isVisible());
}

TEST_F(AppRowTest, ACutOffNameHasTheWholeNameAsTooltip) {
    auto* name = child<ElidedLabel>(*row, "name");
    EXPECT_TRUE(name->toolTip().isEmpty());
    const QString longName =
        QStringLiteral("A & <i>very</i> long application name ") + QString(80, u'x');
    world.directory.running[100].name = longName;
    refresh();
    QApplication::processEvents();
    ASSERT_NE(name->shownText(), longName);
    EXPECT_TRUE(name->toolTip().contains(longName.toHtmlEscaped()))
        << name->toolTip().toStdString();
    row->resize(2000, AppRow::kHeight);
    QApplication::processEvents();
    EXPECT_EQ(name->shownText(), longName);
    EXPECT_TRUE(name->toolTip().isEmpty()) << "nothing cut off, nothing to add";
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
    const std::vector<std::pair<Qt::Key, int>> presses{
        {Qt::Key_Right, 51}, {Qt::Key_Left, 50},  {Qt::Key_PageUp, 60}, {Qt::Key_End, 100},
        {Qt::Key_End, 400},  {Qt::Key_Home, 100}, {Qt::Key_Left, 99},   {Qt::Key_Home, 0},
        {Qt::Key_Home, 0},   {Qt::Key_End, 100}};
    for (const auto& [key, percent] : presses) {
        QTest::keyClick(&slider(), key);
        EXPECT_NEAR(model().setting(kPlayer).volume, percent / 100.0, 1e-9) << key;
    }
    QTest::keyClick(&slider(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), child(*row, "mute"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_TRUE(model().setting(kPlayer).muted);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    model().setVolume(1.5, kPlayer);
    ASSERT_EQ(QApplication::focusWidget(), child(*row, "reset"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_TRUE(model().settings().empty());
}

TEST_F(AppRowTest, TheWheelChangesTheVolumeOnlyOverTheSliderAndNotWhileMuted) {
    struct Step {
        double from;
        int delta;
        double to;
    };
    for (const Step s : {Step{1.0, 120, 1.05}, Step{1.0, -240, 0.9}, Step{0.73, 120, 0.75},
                         Step{0.73, -120, 0.70}, Step{3.98, 360, 4.0}, Step{0.02, -360, 0.0}}) {
        model().setVolume(s.from, kPlayer);
        EXPECT_TRUE(wheel(slider(), s.delta));
        EXPECT_NEAR(model().setting(kPlayer).volume, s.to, 1e-9) << s.from << " " << s.delta;
    }
    model().setVolume(1.0, kPlayer);
    wheel(slider(), 60);
    wheel(slider(), 60);
    EXPECT_NEAR(model().setting(kPlayer).volume, 1.05, 1e-9) << "half notches add up";

    // Elsewhere on the row the wheel is left for the list (MixerViewTest scrolls it).
    model().toggleMute(kPlayer);
    EXPECT_TRUE(wheel(slider(), 120)) << "a muted slider keeps the wheel: the list stays put";
    EXPECT_NEAR(model().setting(kPlayer).volume, 1.05, 1e-9) << "muted: the wheel does nothing";
    QTest::keyClick(&slider(), Qt::Key_Right);
    EXPECT_NEAR(model().setting(kPlayer).volume, 1.05, 1e-9) << "muted: keys do nothing";
}

TEST_F(AppRowTest, AssistiveTechnologyReadsEachControlWithTheAppsName) {
    world.directory.running[100].name = QStringLiteral("Firefox");
    refresh();
    model().setVolume(1.25, kPlayer);
    const auto accessible = [&](const char* name) {
        return QAccessible::queryAccessibleInterface(name ? child(*row, name) : row.get());
    };
    for (const auto& [name, text] :
         std::vector<std::pair<const char*, const char*>>{{"slider", "Volume of Firefox"},
                                                          {"mute", "Mute Firefox"},
                                                          {"reset", "Reset Firefox to 100%"},
                                                          {"name", "Firefox"},
                                                          {"icon", "Icon of Firefox"},
                                                          {"meter", "Level of Firefox"},
                                                          {nullptr, "Firefox"}}) {
        EXPECT_EQ(accessible(name)->text(QAccessible::Name), QString::fromLatin1(text));
    }
    QAccessibleInterface* slider = accessible("slider");
    EXPECT_EQ(slider->role(), QAccessible::Slider);
    EXPECT_EQ(slider->text(QAccessible::Value), QStringLiteral("125 %"));
    QAccessibleValueInterface* value = slider->valueInterface();
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->currentValue().toInt(), 125);
    EXPECT_EQ(value->minimumValue().toInt(), 0);
    EXPECT_EQ(value->maximumValue().toInt(), 400);
    EXPECT_EQ(value->minimumStepSize().toInt(), 1);
    value->setCurrentValue(80);
    EXPECT_NEAR(model().setting(kPlayer).volume, 0.8, 1e-9);
    EXPECT_EQ(accessible("name")->role(), QAccessible::StaticText);

    QAccessibleInterface* mute = accessible("mute");
    EXPECT_TRUE(mute->state().checkable);
    EXPECT_FALSE(mute->state().checked);
    QAccessibleActionInterface* actions = mute->actionInterface();
    ASSERT_NE(actions, nullptr);
    ASSERT_FALSE(actions->actionNames().isEmpty());
    actions->doAction(actions->actionNames().constFirst());
    EXPECT_TRUE(QTest::qWaitFor([&] { return model().setting(kPlayer).muted; }));
    EXPECT_TRUE(mute->state().checked) << "muted reads as a pressed toggle";
    EXPECT_TRUE(slider->state().disabled);
    EXPECT_FALSE(slider->text(QAccessible::Description).isEmpty());
    value->setCurrentValue(300);
    EXPECT_NEAR(model().setting(kPlayer).volume, 0.8, 1e-9) << "locked for every input";
}

// The row's context menu chooses the output: the choice is checked, reaches the
// model, and a chosen device that went away stays visible but cannot be picked.
TEST_F(AppRowTest, TheContextMenuChoosesTheOutputAndShowsAnAbsentChoice) {
    const AudioObjectID headphones =
        world.hardware.addDevice({.uid = "headphones", .name = "Headphones"});
    world.refresh();
    // Opens the menu, checks its entries (text, checked, enabled) and picks `choice`.
    using Entries = std::vector<std::tuple<QString, bool, bool>>;
    const auto choose = [&](const Entries& expected, const QString& choice) {
        QMenu* menu = openMenu();
        ASSERT_NE(menu, nullptr);
        Entries entries;
        QAction* chosen = nullptr;
        for (QAction* action : menu->actions()) {
            if (action->isCheckable() && action->actionGroup() != nullptr) {
                entries.emplace_back(action->text(), action->isChecked(), action->isEnabled());
            }
            chosen = action->text() == choice ? action : chosen;
        }
        EXPECT_EQ(entries, expected);
        ASSERT_NE(chosen, nullptr);
        chosen->trigger();
        menu->close();
    };
    choose({{"Default Output", true, true}, {"Speakers", false, true}, {"Headphones", false, true}},
           QStringLiteral("Headphones"));
    EXPECT_EQ(model().setting(kPlayer).output, QStringLiteral("headphones"));

    world.hardware.removeDevice(headphones);
    world.refresh();
    choose({{"Default Output", false, true},
            {"Speakers", false, true},
            {"headphones (not connected)", true, false}},
           QStringLiteral("Default Output"));
    EXPECT_EQ(model().setting(kPlayer).output, std::nullopt);
}

// The mark follows the stored setting, also for a row whose application is not
// running; the amount lists the current level, one set elsewhere in its place.
TEST_F(AppRowTest, TheContextMenuMarksTheAppToLowerTheOthersAndSetsHowLow) {
    model().setVolume(0.5, kPlayer);
    world.hardware.removeProcess(process);
    refresh();
    ASSERT_TRUE(world.row(kPlayer)->processObjects.empty());
    for (const bool on : {true, false}) {
        QMenu* menu = openMenu();
        ASSERT_NE(menu, nullptr);
        auto* mark = menu->findChild<QAction*>(QStringLiteral("lowersOthers"));
        ASSERT_NE(mark, nullptr);
        EXPECT_EQ(mark->isChecked(), !on);
        mark->trigger();
        menu->close();
        EXPECT_EQ(model().setting(kPlayer).lowersOthers, on);
        EXPECT_EQ(model().setting(kPlayer).volume, 0.5) << "the rest of the setting stays";
    }

    // Each level's text and whether it is checked, then picks `choice`.
    const auto chooseLevel = [&](const QStringList& expected, const QString& checked,
                                 const QString& choice) {
        QMenu* menu = openMenu();
        ASSERT_NE(menu, nullptr);
        auto* levels = menu->findChild<QMenu*>(QStringLiteral("loweredLevelMenu"));
        ASSERT_NE(levels, nullptr);
        QStringList texts;
        QStringList checkedTexts;
        QAction* chosen = nullptr;
        for (QAction* action : levels->actions()) {
            texts << action->text();
            if (action->isChecked()) {
                checkedTexts << action->text();
            }
            chosen = action->text() == choice ? action : chosen;
        }
        EXPECT_EQ(texts, expected);
        EXPECT_EQ(checkedTexts, QStringList{checked});
        ASSERT_NE(chosen, nullptr);
        chosen->trigger();
        menu->close();
    };
    const QStringList listed{u"0%"_s, u"10%"_s, u"20%"_s, u"30%"_s, u"50%"_s, u"70%"_s};
    chooseLevel(listed, u"30%"_s, u"0%"_s);
    EXPECT_EQ(model().loweredLevel(), 0.0);
    EXPECT_EQ(world.store.data(u"loweredLevel"_s), QByteArray("0"));
    model().setLoweredLevel(0.25);
    chooseLevel({u"0%"_s, u"10%"_s, u"20%"_s, u"25%"_s, u"30%"_s, u"50%"_s, u"70%"_s}, u"25%"_s,
                u"70%"_s);
    EXPECT_EQ(model().loweredLevel(), 0.7);
    chooseLevel(listed, u"70%"_s, u"70%"_s);
}

} // namespace
} // namespace corvalle::ui
