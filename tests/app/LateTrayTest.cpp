#include "AppDelegate.h"
#include "Backend.h"
#include "MainWindow.h"
#include "TestTrayHost.h"
#include "TrayWatcher.h"

#include <QDBusConnectionInterface>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

// A panel that starts after Corvalle (at login the autostart entries often run
// first), or restarts, or goes away for good.
namespace corvalle {
namespace {

using test::PrivateBus;
using test::TestStatusNotifierWatcher;

const QString kNoTrayHint = QStringLiteral("Your desktop shows no tray icons");

// A watcher that comes with its host is the real program's case below; here the
// host comes after its watcher, and the watcher goes.
TEST(TrayWatcher, FollowsAStatusNotifierWatcherThatComesLateAndGoes) {
    PrivateBus bus;
    ASSERT_FALSE(bus.address.isEmpty()) << "dbus-daemon did not start";
    TrayWatcher watcher(bus.connect(QStringLiteral("program")));
    EXPECT_FALSE(watcher.isAvailable());
    QSignalSpy changes(&watcher, &TrayWatcher::availabilityChanged);

    TestStatusNotifierWatcher panel(bus.connect(QStringLiteral("panel")), false);
    ASSERT_TRUE(panel.appear());
    // A watcher whose host is not there yet is no tray.
    ASSERT_TRUE(QTest::qWaitFor([&] { return panel.hostQuestions > 0; }, 5000));
    QCoreApplication::processEvents();
    EXPECT_FALSE(watcher.isAvailable());
    EXPECT_TRUE(changes.isEmpty());
    panel.registerHost();
    ASSERT_TRUE(changes.wait(5000));
    EXPECT_TRUE(watcher.isAvailable());
    EXPECT_EQ(changes.takeFirst().constFirst().toBool(), true);

    panel.disappear();
    ASSERT_TRUE(changes.wait(5000));
    EXPECT_FALSE(watcher.isAvailable());
    EXPECT_EQ(changes.takeFirst().constFirst().toBool(), false);
    EXPECT_TRUE(changes.isEmpty());
}

TEST(TrayWatcher, AWatcherThereAtStartIsKnownAtOnce) {
    for (const bool hostRegistered : {true, false}) {
        PrivateBus bus;
        // The panel answers from a thread of its own, as from a process of its own.
        QThread panelThread;
        TestStatusNotifierWatcher panel(bus.connect(QStringLiteral("panel")), hostRegistered);
        panel.moveToThread(&panelThread);
        panelThread.start();
        ASSERT_TRUE(panel.appear());
        TrayWatcher watcher(bus.connect(QStringLiteral("program")));
        EXPECT_EQ(watcher.isAvailable(), hostRegistered);
        EXPECT_EQ(panel.hostQuestions, 1);
        panel.disappear();
        panelThread.quit();
        panelThread.wait();
        panel.moveToThread(QThread::currentThread());
    }
}

// The shell started at login without a tray, then a tray comes, goes, stays
// away, and comes again after the user restored the window.
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

// The real program on X11 (Xvfb) and a private session bus: Qt chooses its kind
// of tray icon once per process, so a panel that comes later is only used if the
// program waited for it before making its icon.
TEST(LateTray, TheProgramRegistersItsItemWithAWatcherThatStartsLaterAndAgainAfterARestart) {
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty()) {
        GTEST_SKIP() << "Xvfb is not installed";
    }
    PrivateBus bus;
    ASSERT_FALSE(bus.address.isEmpty()) << "dbus-daemon did not start";
    QProcess server;
    server.start(xvfb,
                 {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                  QStringLiteral("0"), QStringLiteral("1024x768x24")});
    ASSERT_TRUE(server.waitForReadyRead(10000));
    const QString display = QStringLiteral(":") + QString::fromLatin1(server.readLine()).trimmed();

    QTemporaryDir home;
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address);
    environment.insert(QStringLiteral("DISPLAY"), display);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(CORVALLE_BINARY),
                  {QStringLiteral("--simulate"), QStringLiteral("--login-item")});

    QDBusConnection observer = bus.connect(QStringLiteral("observer"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return observer.interface()
                ->isServiceRegistered(QStringLiteral("org.corvalle.Corvalle"))
                .value();
        },
        15000))
        << "the program did not start";

    TestStatusNotifierWatcher panel(bus.connect(QStringLiteral("panel")), true);
    ASSERT_TRUE(panel.appear());
    EXPECT_TRUE(QTest::qWaitFor([&] { return panel.items().size() == 1; }, 10000))
        << "no item registered with the watcher that came later";

    panel.disappear();
    TestStatusNotifierWatcher restarted(bus.connect(QStringLiteral("panel again")), true);
    ASSERT_TRUE(restarted.appear());
    EXPECT_TRUE(QTest::qWaitFor([&] { return restarted.items().size() == 1; }, 10000))
        << "no item registered with the restarted watcher";

    program.terminate();
    EXPECT_TRUE(program.waitForFinished(10000));
    server.terminate();
    server.waitForFinished(5000);
}

} // namespace
} // namespace corvalle
