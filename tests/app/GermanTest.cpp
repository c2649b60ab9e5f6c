// The interface in German: ctest starts this process with LANGUAGE=de, and the
// translations are installed the way main() installs them, for the system locale.
#include "AppDelegate.h"
#include "AudioApp.h"
#include "Backend.h"
#include "MainWindow.h"
#include "Translations.h"
#include "WidgetProbes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <gtest/gtest.h>

namespace corvalle {
namespace {

std::vector<AudioApp> appsPlaying(int playing, int silent) {
    std::vector<AudioApp> apps;
    for (int i = 0; i < playing + silent; ++i) {
        AudioApp app;
        app.id = QStringLiteral("app%1").arg(i);
        app.isPlaying = i < playing;
        apps.push_back(app);
    }
    return apps;
}

class German : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(installTranslations(*qApp, QLocale::system()))
            << "no translation for " << QLocale::system().uiLanguages().join(u',').toStdString();
    }
};

TEST_F(German, TheTrayToolTipCountsPlayingAppsWithGermanPluralForms) {
    const struct {
        int playing;
        int silent;
        const char* expected;
    } cases[] = {{0, 2, "Corvalle"},
                 {1, 3, "Corvalle\n1 App spielt"}, // silent apps are not counted
                 {2, 0, "Corvalle\n2 Apps spielen"},
                 {11, 1, "Corvalle\n11 Apps spielen"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.playing);
        EXPECT_EQ(AppDelegate::trayToolTip(appsPlaying(c.playing, c.silent)),
                  QString::fromUtf8(c.expected));
    }
}

TEST_F(German, TheWindowSpeaksGerman) {
    auto backend = makeSimulatedBackend(3);
    AppDelegate delegate(*backend, {.withTray = false, .windowDelayMs = 0});
    delegate.applicationDidFinishLaunching(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return delegate.window() != nullptr; }, 2000));
    MainWindow* window = delegate.window();

    EXPECT_EQ(test::child<QCheckBox>(*window, "launchAtLogin")->text(),
              QStringLiteral("Bei der Anmeldung starten"));
    EXPECT_EQ(test::child<QPushButton>(*window, "quit")->text(), QStringLiteral("Beenden"));
    EXPECT_EQ(test::child<QCheckBox>(*window, "hardLimit")->text(),
              QStringLiteral("Hart begrenzen, so laut wie möglich"));

    // Each row names its controls in German for screen readers, with the
    // application's own name untouched.
    const QString slider = test::child<QSlider>(*window, "slider")->accessibleName();
    EXPECT_TRUE(slider.startsWith(QStringLiteral("Lautstärke von "))) << slider.toStdString();
    const QString mute = test::child<QAbstractButton>(*window, "mute")->accessibleName();
    EXPECT_TRUE(mute.endsWith(QStringLiteral(" stummschalten"))) << mute.toStdString();
    EXPECT_EQ(test::child(*window, "reset")->toolTip(), QStringLiteral("Auf 100 % zurücksetzen"));

    // Levels take German's space before the percent sign.
    const auto levels = window->findChildren<QLabel*>(QStringLiteral("level"));
    ASSERT_FALSE(levels.isEmpty());
    for (const auto* level : levels) {
        EXPECT_TRUE(level->text().endsWith(QStringLiteral(" %")) ||
                    level->text() == QStringLiteral("Stummgeschaltet"))
            << level->text().toStdString();
    }

    // Without a tray the window says how to leave, in German too.
    bool explained = false;
    for (const auto* label : window->findChildren<QLabel*>()) {
        explained = explained || label->text().contains(QStringLiteral("wird Corvalle beendet"));
    }
    EXPECT_TRUE(explained);
}

} // namespace
} // namespace corvalle
