#include "LevelMonitor.h"
#include "MainWindow.h"
#include "ModelHarness.h"
#include "UiFakes.h"
#include "XvfbServer.h"

#include <QApplication>
#include <QGuiApplication>
#include <QTest>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <xcb/xcb.h>

// The program's window on a real X server without a window manager or a
// compositor, where the server itself says what covers what: the levels are
// measured while the window can be seen, not while another window covers it
// wholly, nor while it is unmapped, as a window manager does with a window on
// another workspace.
namespace corvalle {
namespace {

xcb_connection_t* connection() {
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr ? x11->connection() : nullptr;
}

TEST(WindowOnX11, LevelsAreMeasuredOnlyWhileTheWindowCanBeSeen) {
    ASSERT_NE(connection(), nullptr);
    test::ModelHarness world;
    world.addApp(100, QStringLiteral("org.player"), QStringLiteral("Player"), true);
    world.start();
    test::FakeLoginItem loginItem;
    MainWindow window(
        *world.model, loginItem, [] {}, true);
    const LevelMonitor& levels = world.model->levels();
    window.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return levels.isRunning(); }, 5000)) << "shown";

    QWidget cover;
    cover.setGeometry(window.screen()->geometry());
    cover.show();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !levels.isRunning(); }, 5000)) << "covered";
    cover.hide();
    EXPECT_TRUE(QTest::qWaitFor([&] { return levels.isRunning(); }, 5000)) << "uncovered";

    const auto id = static_cast<xcb_window_t>(window.winId());
    xcb_unmap_window(connection(), id);
    xcb_flush(connection());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !levels.isRunning(); }, 5000)) << "unmapped";
    xcb_map_window(connection(), id);
    xcb_flush(connection());
    EXPECT_TRUE(QTest::qWaitFor([&] { return levels.isRunning(); }, 5000)) << "mapped again";
    EXPECT_TRUE(window.isVisible()) << "the window itself was never hidden";
}

} // namespace
} // namespace corvalle

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const corvalle::test::XvfbServer server;
    const std::string& display = server.display();
    if (display.empty()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    setenv("DISPLAY", (":" + display).c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    unsetenv("WAYLAND_DISPLAY");
    int result = 0;
    {
        QApplication application(argc, argv);
        result = RUN_ALL_TESTS();
    }
    return result;
}
