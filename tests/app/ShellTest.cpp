#include "AppDelegate.h"
#include "Backend.h"
#include "LaunchOptions.h"
#include "MainWindow.h"
#include "MixerView.h"
#include "TrayPanel.h"
#include "UnixSignals.h"

#include <QApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <gtest/gtest.h>

namespace corvalle {
namespace {

// The shell on the simulated demo: three playing apps, one of them boosted, so a
// tap runs from the start.
class Shell : public ::testing::Test {
protected:
    explicit Shell(bool withTray = true) : backend(makeSimulatedBackend(3)) {
        AppDelegate::Options options;
        options.withTray = withTray;
        delegate = std::make_unique<AppDelegate>(*backend, options);
    }

    std::unique_ptr<Backend> backend;
    std::unique_ptr<AppDelegate> delegate;
};

class ShellWithoutTray : public Shell {
protected:
    ShellWithoutTray() : Shell(false) {}
};

TEST_F(Shell, OrdinaryLaunchOpensTheWindowAfterAboutAThirdOfASecond) {
    QElapsedTimer clock;
    clock.start();
    delegate->applicationDidFinishLaunching(false);
    EXPECT_GT(delegate->model().tapCount(), 0U) << "the model runs from launch on";
    QTest::qWait(200);
    EXPECT_EQ(delegate->window(), nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return delegate->window() != nullptr; }, 2000));
    EXPECT_GE(clock.elapsed(), 290);
    MainWindow* window = delegate->window();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Corvalle"));
    EXPECT_EQ(window->hintText(),
              QStringLiteral("Corvalle also lives in your menu bar — click the slider icon at "
                             "the top of the screen."));
    // Fixed size from the content, 380 wide; no maximise button.
    EXPECT_EQ(window->width(), 380);
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(window->windowFlags() & Qt::WindowCloseButtonHint);
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((window->geometry().center() - available.center()).manhattanLength(), 4);
}

TEST_F(Shell, WindowGrowsWithTheList) {
    delegate->applicationDidFinishLaunching(false);
    delegate->showWindow();
    MainWindow* window = delegate->window();
    const int before = window->height();
    delegate->model().reset(QStringLiteral("org.corvalle.demo.Browser"));
    delegate->model().toggleMute(QStringLiteral("org.corvalle.demo.Radio"));
    delegate->model().refresh();
    QApplication::processEvents();
    // Radio has no process in a three-app demo: it joins as a remembered row.
    EXPECT_EQ(window->mixerView()->rows().size(), 5U);
    EXPECT_EQ(window->height(), before + 44);
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
}

TEST_F(Shell, LoginItemLaunchOpensNoWindowButRuns) {
    delegate->applicationDidFinishLaunching(true);
    QTest::qWait(600);
    EXPECT_EQ(delegate->window(), nullptr);
    EXPECT_GT(delegate->model().tapCount(), 0U);

    // A reopen later creates the window, centred.
    delegate->showWindow();
    ASSERT_NE(delegate->window(), nullptr);
    EXPECT_TRUE(delegate->window()->isVisible());
}

TEST_F(Shell, ReopenShowsTheSameWindowWhereTheUserLeftIt) {
    delegate->applicationDidFinishLaunching(true);
    delegate->showWindow();
    MainWindow* window = delegate->window();
    QSignalSpy shown(delegate.get(), &AppDelegate::windowShown);
    window->move(window->pos() + QPoint(37, 21));
    const QPoint moved = window->pos();

    delegate->showWindow();
    EXPECT_EQ(delegate->window(), window) << "never a second window";
    window->close();
    EXPECT_FALSE(window->isVisible());
    delegate->showWindow();
    EXPECT_EQ(delegate->window(), window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->pos(), moved);
    EXPECT_EQ(shown.count(), 2);
    EXPECT_EQ(QApplication::topLevelWidgets().count(window), 1);
}

TEST_F(Shell, TrayClickDropsThePanelAndClickingAgainClosesIt) {
    delegate->applicationDidFinishLaunching(true);
    QSystemTrayIcon* tray = delegate->trayIcon();
    ASSERT_NE(tray, nullptr);
    EXPECT_FALSE(tray->icon().isNull());
    EXPECT_EQ(delegate->trayPanel(), nullptr) << "made on the first click";

    emit tray->activated(QSystemTrayIcon::Context);
    EXPECT_EQ(delegate->trayPanel(), nullptr) << "only a click opens the panel";

    emit tray->activated(QSystemTrayIcon::Trigger);
    TrayPanel* panel = delegate->trayPanel();
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(panel->windowFlags().testFlag(Qt::Popup));
    EXPECT_EQ(panel->width(), 380);
    EXPECT_EQ(panel->mixerView()->rows().size(), 4U);
    EXPECT_EQ(delegate->window(), nullptr) << "the panel is not the window";

    emit tray->activated(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(panel->isVisible());
    emit tray->activated(QSystemTrayIcon::Trigger);
    EXPECT_EQ(delegate->trayPanel(), panel) << "the same panel comes back";
    EXPECT_TRUE(panel->isVisible());
    QTest::keyClick(panel, Qt::Key_Escape);
    EXPECT_FALSE(panel->isVisible());
}

TEST_F(Shell, TerminationStopsEveryTapOnce) {
    delegate->applicationDidFinishLaunching(true);
    ASSERT_GT(delegate->model().tapCount(), 0U);
    delegate->applicationWillTerminate();
    EXPECT_EQ(delegate->model().tapCount(), 0U);
    delegate->applicationWillTerminate();
    EXPECT_EQ(delegate->model().tapCount(), 0U);
}

// Runs the application's event loop as main() does, with Quit's teardown; the
// exit code, or 7 when nothing ended the loop within three seconds.
int runEventLoop(AppDelegate& delegate) {
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &delegate,
                     &AppDelegate::applicationWillTerminate);
    QTimer::singleShot(3000, qApp, [] { QCoreApplication::exit(7); });
    return QApplication::exec();
}

TEST_F(Shell, QuitFromThePanelEndsTheEventLoopAfterStoppingTaps) {
    delegate->applicationDidFinishLaunching(true);
    delegate->showWindow();
    ASSERT_GT(delegate->model().tapCount(), 0U);
    QTimer::singleShot(0, delegate.get(), [this] {
        delegate->window()->findChild<QPushButton*>(QStringLiteral("quit"))->click();
    });
    EXPECT_EQ(runEventLoop(*delegate), 0);
    EXPECT_EQ(delegate->model().tapCount(), 0U);
}

TEST_F(ShellWithoutTray, ClosingTheWindowQuits) {
    delegate->applicationDidFinishLaunching(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return delegate->window() != nullptr; }, 2000));
    EXPECT_TRUE(delegate->window()->hintText().contains(QStringLiteral("Closing it quits")));
    EXPECT_EQ(delegate->trayIcon(), nullptr);
    QTimer::singleShot(0, delegate.get(), [this] { delegate->window()->close(); });
    EXPECT_EQ(runEventLoop(*delegate), 0);
    EXPECT_EQ(delegate->model().tapCount(), 0U);
}

TEST_F(ShellWithoutTray, LoginItemLaunchWaitsMinimised) {
    delegate->applicationDidFinishLaunching(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return delegate->window() != nullptr; }, 2000));
    EXPECT_TRUE(delegate->window()->isMinimized());
}

TEST(TrayPanelPlacement, NextToTheIconAndOnTheScreen) {
    const QRect screen(0, 0, 1920, 1080);
    const QSize panel(380, 300);
    struct Case {
        QRect icon;
        QPoint expected;
    };
    for (const Case c : {
             Case{QRect(1000, 0, 24, 24), QPoint(821, 28)},     // top bar: below
             Case{QRect(1000, 1056, 24, 24), QPoint(821, 752)}, // bottom panel: above
             Case{QRect(1900, 0, 20, 24), QPoint(1540, 28)},    // right edge: kept on screen
             Case{QRect(0, 1056, 24, 24), QPoint(0, 752)},      // left edge
         }) {
        EXPECT_EQ(TrayPanel::placement(panel, c.icon, screen), c.expected)
            << c.icon.x() << "," << c.icon.y();
    }
}

TEST(LaunchOptionsParse, OptionsAndMistakes) {
    const auto options = [](QStringList arguments) { return parseLaunchOptions(arguments); };
    EXPECT_FALSE(options({}).options->loginItem);
    EXPECT_FALSE(options({}).options->simulate);
    EXPECT_TRUE(options({QStringLiteral("--login-item")}).options->loginItem);
    const auto demo = options(
        {QStringLiteral("--simulate"), QStringLiteral("--demo-apps"), QStringLiteral("10")});
    ASSERT_TRUE(demo.options);
    EXPECT_TRUE(demo.options->simulate);
    EXPECT_EQ(demo.options->demoApps, 10);
    EXPECT_EQ(options({QStringLiteral("--screenshot"), QStringLiteral("/tmp/x.png")})
                  .options->screenshotPath,
              QStringLiteral("/tmp/x.png"));
    for (const QStringList& wrong :
         {QStringList{QStringLiteral("--bogus")}, QStringList{QStringLiteral("stray")},
          QStringList{QStringLiteral("--demo-apps"), QStringLiteral("many")},
          QStringList{QStringLiteral("--demo-apps"), QStringLiteral("-1")},
          QStringList{QStringLiteral("--demo-apps"), QStringLiteral("100000")}}) {
        const auto parsed = options(wrong);
        EXPECT_FALSE(parsed.options) << wrong.join(QLatin1Char(' ')).toStdString();
        EXPECT_EQ(parsed.exitCode, 2);
        EXPECT_FALSE(parsed.message.isEmpty());
    }
    const auto help = options({QStringLiteral("--help")});
    EXPECT_FALSE(help.options);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.message.contains(QStringLiteral("--simulate")));
}

TEST(UnixSignalsTest, TerminationSignalsBecomeAQuitRequest) {
    UnixSignals handler;
    ASSERT_TRUE(handler.isInstalled());
    QSignalSpy spy(&handler, &UnixSignals::quitRequested);
    for (const int number : {SIGTERM, SIGINT, SIGHUP}) {
        spy.clear();
        std::raise(number);
        ASSERT_TRUE(spy.wait(2000)) << number;
        EXPECT_EQ(spy.at(0).at(0).toInt(), number);
    }
}

} // namespace
} // namespace corvalle
