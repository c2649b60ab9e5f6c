#include "AppDelegate.h"
#include "Backend.h"
#include "MainWindow.h"
#include "MixerView.h"
#include "TrayPanel.h"
#include "WindowActivation.h"
#include "WindowTitleRow.h"

#include <QApplication>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <QToolButton>
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
    EXPECT_EQ(delegate->window(), nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return delegate->window() != nullptr; }, 2000));
    EXPECT_GE(clock.elapsed(), 290);
    MainWindow* window = delegate->window();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->width(), 380);
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((window->geometry().center() - available.center()).manhattanLength(), 4);
}

TEST_F(Shell, LoginItemLaunchRunsWithoutAWindowAndTeardownMayRepeat) {
    delegate->applicationDidFinishLaunching(true);
    // A timer started now with the window's delay fires after an ordinary launch
    // would have opened it.
    bool pastWindowDelay = false;
    QTimer::singleShot(AppDelegate::Options{}.windowDelayMs, [&] { pastWindowDelay = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return pastWindowDelay; }, 2000));
    EXPECT_EQ(delegate->window(), nullptr);
    EXPECT_GT(delegate->model().tapCount(), 0U) << "the model runs from launch on";

    delegate->applicationWillTerminate();
    delegate->applicationWillTerminate();
    EXPECT_EQ(delegate->model().tapCount(), 0U);
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
    delegate->applicationDidFinishLaunching(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return delegate->window() != nullptr; }, 2000));
    QTimer::singleShot(0, delegate.get(), [this] { delegate->window()->close(); });
    EXPECT_EQ(runEventLoop(*delegate), 0);
    EXPECT_EQ(delegate->model().tapCount(), 0U);
}

TEST_F(Shell, ShowingBringsTheSameWindowBackActivatedWhereItWas) {
    delegate->applicationDidFinishLaunching(true);
    delegate->showWindow();
    MainWindow* window = delegate->window();
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

// Where the platform's frame would be Qt's Wayland stand-in (with a maximise
// button), the window draws its own title row.
TEST_F(Shell, OwnTitleRowOffersMinimiseAndCloseButNoMaximise) {
    delegate->applicationDidFinishLaunching(true);
    delegate->showWindow();
    MainWindow* window = delegate->window();
    ASSERT_FALSE(window->titleRow()->isVisible()) << "only where Qt would draw the frame";
    const int heightBefore = window->height();
    window->useOwnTitleRow();
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->titleRow()->isVisible());
    EXPECT_EQ(window->titleRow()->title(), QStringLiteral("Corvalle"));
    EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "still not resizable";
    EXPECT_GT(window->height(), heightBefore);
    EXPECT_EQ(window->titleRow()->findChild<QToolButton*>(QStringLiteral("maximise")), nullptr);

    window->titleRow()->findChild<QToolButton*>(QStringLiteral("minimise"))->click();
    EXPECT_TRUE(window->isMinimized());
    delegate->showWindow();
    window->titleRow()->findChild<QToolButton*>(QStringLiteral("close"))->click();
    EXPECT_FALSE(window->isVisible()) << "with a tray, closing hides";
}

TEST(WindowActivationTest, TheUserActionsTimeComesFromTheStartupID) {
    for (const auto& [startupID, time] : std::vector<std::pair<const char*, std::uint32_t>>{
             {"", 0},
             {"xfce4-panel-1234-host-corvalle-0_TIME27405", 27405},
             {"a_TIME1_TIME99", 99},
             {"no-time", 0},
             {"x_TIME", 0},
             {"x_TIME-5", 0},
             {"x_TIME4294967295", 4294967295U},
             {"x_TIME4294967296", 0},
             {"x_TIME12abc", 0}}) {
        EXPECT_EQ(startupTimestamp(QString::fromLatin1(startupID)), time) << startupID;
    }
}

// Fourteen apps on whatever screen the test runs on (also at twice the scale,
// see CMakeLists.txt): the window with its frame and the panel the tray click
// drops down stay on it, with the list scrolling.
TEST(ShellOnTheScreen, WindowAndPanelFitWithTheListScrolling) {
    auto backend = makeSimulatedBackend(14);
    AppDelegate delegate(*backend, AppDelegate::Options{});
    delegate.applicationDidFinishLaunching(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return delegate.window() != nullptr; }, 2000));
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    MainWindow* window = delegate.window();
    QApplication::processEvents();
    EXPECT_TRUE(available.contains(window->frameGeometry()))
        << window->frameGeometry().height() << " in " << available.height();
    auto* list = window->mixerView()->findChild<QScrollArea*>(QStringLiteral("appList"));
    ASSERT_NE(list, nullptr);
    EXPECT_GT(list->verticalScrollBar()->maximum(), 0) << "the rest of the rows scroll";

    QSystemTrayIcon* tray = delegate.trayIcon();
    ASSERT_NE(tray, nullptr);
    emit tray->activated(QSystemTrayIcon::Context);
    EXPECT_EQ(delegate.trayPanel(), nullptr) << "only a click opens the panel";
    emit tray->activated(QSystemTrayIcon::Trigger);
    TrayPanel* panel = delegate.trayPanel();
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(available.contains(panel->geometry()))
        << panel->geometry().height() << " in " << available.height();
    emit tray->activated(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(panel->isVisible());
}

TEST(TrayPanelPlacement, NextToTheIconAndOnTheScreen) {
    for (const auto& [icon, expected] : std::vector<std::pair<QRect, QPoint>>{
             {QRect(1000, 0, 24, 24), QPoint(821, 28)},     // top bar: below
             {QRect(1000, 1056, 24, 24), QPoint(821, 752)}, // bottom panel: above
             {QRect(1900, 0, 20, 24), QPoint(1540, 28)},    // right edge: kept on screen
             {QRect(0, 1056, 24, 24), QPoint(0, 752)}}) {
        EXPECT_EQ(TrayPanel::placement(QSize(380, 300), icon, QRect(0, 0, 1920, 1080)), expected)
            << icon.x() << "," << icon.y();
    }
}

} // namespace
} // namespace corvalle
