#include "AppDelegate.h"
#include "Backend.h"
#include "MainWindow.h"
#include "TrayPanel.h"

#include <QApplication>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace corvalle {
namespace {

// The shell on the simulated demo: three playing apps, one of them boosted, so a
// tap runs from the start.
class Shell : public ::testing::Test {
protected:
    explicit Shell(bool withTray = true)
        : backend(makeSimulatedBackend(3)),
          delegate(std::make_unique<AppDelegate>(*backend,
                                                 AppDelegate::Options{.withTray = withTray})) {}

    // Launched as a login item, then shown.
    MainWindow* shownWindow() {
        delegate->applicationDidFinishLaunching(true);
        delegate->showWindow();
        return delegate->window();
    }

    std::unique_ptr<Backend> backend;
    std::unique_ptr<AppDelegate> delegate;
};

class ShellWithoutTray : public Shell {
protected:
    ShellWithoutTray() : Shell(false) {}
};

// Runs the event loop as main() does, with Quit's teardown; the exit code, or 7
// when nothing ended the loop within three seconds.
int runEventLoop(AppDelegate& delegate) {
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &delegate,
                     &AppDelegate::applicationWillTerminate);
    QTimer::singleShot(3000, qApp, [] { QCoreApplication::exit(7); });
    return QApplication::exec();
}

TEST_F(Shell, OrdinaryLaunchOpensAFixedCentredWindowAfterAboutAThirdOfASecond) {
    QElapsedTimer clock;
    clock.start();
    delegate->applicationDidFinishLaunching(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return delegate->window() != nullptr; }, 2000));
    EXPECT_GE(clock.elapsed(), 290);
    MainWindow* window = delegate->window();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((window->geometry().center() - available.center()).manhattanLength(), 4);
}

TEST_F(Shell, LoginItemLaunchRunsWithoutAWindowAndTeardownMayRepeat) {
    delegate->applicationDidFinishLaunching(true);
    QTest::qWait(AppDelegate::Options{}.windowDelayMs + 50); // past an ordinary launch's window
    EXPECT_EQ(delegate->window(), nullptr);
    EXPECT_GT(delegate->model().tapCount(), 0U) << "the model runs from launch on";

    delegate->applicationWillTerminate();
    delegate->applicationWillTerminate();
    EXPECT_EQ(delegate->model().tapCount(), 0U);
}

TEST_F(Shell, QuitFromThePanelEndsTheEventLoopAfterStoppingTaps) {
    ASSERT_NE(shownWindow(), nullptr);
    ASSERT_GT(delegate->model().tapCount(), 0U);
    QTimer::singleShot(0, delegate.get(), [this] {
        delegate->window()->findChild<QPushButton*>(QStringLiteral("quit"))->click();
    });
    EXPECT_EQ(runEventLoop(*delegate), 0);
    EXPECT_EQ(delegate->model().tapCount(), 0U);
}

TEST_F(ShellWithoutTray, ClosingTheWindowQuits) {
    delegate->applicationDidFinishLaunching(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return delegate->window() != nullptr; }, 2000));
    QTimer::singleShot(0, delegate.get(), [this] { delegate->window()->close(); });
    EXPECT_EQ(runEventLoop(*delegate), 0);
    EXPECT_EQ(delegate->model().tapCount(), 0U);
}

TEST_F(Shell, ShowingBringsTheSameWindowBackActivatedWhereItWas) {
    MainWindow* window = shownWindow();
    ASSERT_NE(window, nullptr);
    window->move(window->pos() + QPoint(37, 21));
    const QPoint moved = window->pos();
    for (const auto& [what, putAway] : std::vector<std::pair<const char*, std::function<void()>>>{
             {"hidden", [window] { window->hide(); }},
             {"minimised", [window] { window->showMinimized(); }},
             {"closed", [window] { window->close(); }}}) {
        SCOPED_TRACE(what);
        putAway();
        delegate->showWindow();
        EXPECT_EQ(delegate->window(), window) << "never a second window";
        EXPECT_TRUE(window->isVisible());
        EXPECT_FALSE(window->isMinimized());
        EXPECT_EQ(window->pos(), moved);
        EXPECT_TRUE(QTest::qWaitFor([window] { return window->isActiveWindow(); }, 2000));
    }
}

// Fourteen apps on whatever screen the test runs on (also at twice the scale,
// see CMakeLists.txt): the panel a tray click drops down stays on it.
TEST(ShellOnTheScreen, OnlyAClickTogglesThePanelAndItFits) {
    auto backend = makeSimulatedBackend(14);
    AppDelegate delegate(*backend, AppDelegate::Options{});
    delegate.applicationDidFinishLaunching(true);
    QSystemTrayIcon* tray = delegate.trayIcon();
    ASSERT_NE(tray, nullptr);
    emit tray->activated(QSystemTrayIcon::Context);
    EXPECT_EQ(delegate.trayPanel(), nullptr) << "only a click opens the panel";
    emit tray->activated(QSystemTrayIcon::Trigger);
    TrayPanel* panel = delegate.trayPanel();
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(QGuiApplication::primaryScreen()->availableGeometry().contains(panel->geometry()));
    emit tray->activated(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(panel->isVisible());
}

// What a keyboard shortcut changed stays on the tooltip through the refreshes
// that count the playing applications, for a while.
TEST(TrayToolTip, TellsWhatAShortcutChangedForAWhile) {
    auto backend = makeSimulatedBackend(2);
    AppDelegate delegate(*backend, {.noticeShownMs = 200});
    delegate.applicationDidFinishLaunching(true);
    QSystemTrayIcon* tray = delegate.trayIcon();
    ASSERT_NE(tray, nullptr);
    const QString counted = AppDelegate::trayToolTip(delegate.model().apps());
    delegate.showNotice(QStringLiteral("Player: 55%"));
    delegate.model().refresh();
    EXPECT_EQ(tray->toolTip(), counted + QStringLiteral("\nPlayer: 55%"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return tray->toolTip() == counted; }, 2000));
}

const QString kNoTrayHint = QStringLiteral("Your desktop shows no tray icons");

// The shell started at login without a tray (at login the autostart entries often
// run before the panel), then a tray comes, goes, stays away, and comes again
// after the user restored the window.
TEST(LateTray, TheShellMovesIntoATrayThatComesAndBackToTheWindowWhenItGoes) {
    auto backend = makeSimulatedBackend(2);
    AppDelegate delegate(*backend, {.withTray = false, .windowDelayMs = 0, .trayGoneGraceMs = 100});
    delegate.applicationDidFinishLaunching(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return delegate.window() != nullptr; }, 2000));
    MainWindow* window = delegate.window();
    EXPECT_TRUE(window->isMinimized()) << "a login start without a tray waits minimised";
    EXPECT_TRUE(window->hintText().startsWith(kNoTrayHint));
    EXPECT_EQ(delegate.trayIcon(), nullptr);

    delegate.setTrayAvailable(true);
    ASSERT_NE(delegate.trayIcon(), nullptr);
    EXPECT_TRUE(delegate.hasTray());
    EXPECT_FALSE(window->isVisible()) << "the window only stood in for the tray";
    EXPECT_FALSE(window->hintText().startsWith(kNoTrayHint));

    // With the tray, closing the window only hides it.
    delegate.showWindow();
    window->close();
    EXPECT_FALSE(window->isVisible());

    delegate.setTrayAvailable(false);
    EXPECT_EQ(delegate.trayIcon(), nullptr);
    EXPECT_TRUE(delegate.hasTray()) << "a panel restarting gets a moment to come back";
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->isVisible(); }, 2000));
    EXPECT_FALSE(delegate.hasTray());
    EXPECT_TRUE(window->isMinimized());
    EXPECT_TRUE(window->hintText().startsWith(kNoTrayHint));

    // A window the user restored stays when the tray comes.
    window->showNormal();
    delegate.setTrayAvailable(true);
    EXPECT_NE(delegate.trayIcon(), nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->hintText().startsWith(kNoTrayHint));
}

} // namespace
} // namespace corvalle
