#include "PwTestKit.h"
#include "QSettingsStore.h"
#include "TempDir.h"

#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>

// The real program on a private PipeWire session: a stored setting makes it tap a
// playing application; SIGTERM must take the same way out as Quit and leave no
// node of Corvalle behind.
namespace corvalle {
namespace {

using namespace std::chrono_literals;

TEST(Teardown, SigtermRemovesEveryNodeOfCorvalle) {
    test::PipeWireSession session;
    ASSERT_TRUE(session.isRunning());

    test::TempDir config;
    {
        QSettingsStore store(
            QString::fromStdString((config.path() / "Corvalle" / "Corvalle.conf").string()));
        store.setData(
            QStringLiteral("appSettings"),
            R"({"org.corvalle.test.Player":{"volume":0.5,"muted":false,"name":"Player"}})");
    }

    test::ChildProcess player({test::testPlayerPath(), "--name", "Player", "--app-id",
                               "org.corvalle.test.Player", "--amplitude", "0.1"});
    test::ChildProcess corvalle(
        {CORVALLE_BINARY, "--login-item"},
        {"XDG_CONFIG_HOME=" + config.path().string(), "QT_QPA_PLATFORM=offscreen"});
    ASSERT_TRUE(test::eventually([&] { return test::corvalleNodeCount(session) > 0; }, 20s))
        << session.output("pw-cli ls Node 2>&1");

    corvalle.signal(SIGTERM);
    EXPECT_EQ(corvalle.wait(10s), 0);
    EXPECT_TRUE(test::eventually([&] { return test::corvalleNodeCount(session) == 0; }, 5s))
        << session.output("pw-cli ls Node 2>&1");
    EXPECT_TRUE(player.isRunning());
}

} // namespace
} // namespace corvalle
