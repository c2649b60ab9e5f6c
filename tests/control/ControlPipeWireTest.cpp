// The corvalle binary in a private PipeWire session, driven through its command
// line, with real audio measured at the output devices.
#include "CommandLine.h"
#include "PwTestKit.h"
#include "TempDir.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <gtest/gtest.h>
#include <memory>

namespace corvalle::test {
namespace {

using namespace std::chrono_literals;

struct Result {
    int exitCode = -1;
    QString out;
    QString err;
};

// The binary as a user runs it, in this process's (the session's) environment.
Result corvalle(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral(CORVALLE_BINARY), arguments);
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

// `device`'s level once within 1.5 dB of `expectedDB`, or after five seconds.
double heardDB(const std::string& device, double expectedDB) {
    MonitorMeter meter(device);
    return settledAt(meter, expectedDB, 1.5, {}, 5000).rmsDB;
}

TEST(ControlPipeWireTest, SetChangesWhatTheDeviceHearsAndWhatIsStored) {
    PipeWireSession session;
    ASSERT_TRUE(session.isRunning());
    TempDir config;
    ChildProcess instance({CORVALLE_BINARY}, {"XDG_CONFIG_HOME=" + config.path().string(),
                                              "QT_QPA_PLATFORM=offscreen"});
    auto player =
        std::make_unique<ChildProcess>(std::vector<std::string>{"pw-play", sineFile(session, 0.1)});
    // pw-play has no desktop entry: it is remembered by its executable (pw-play is
    // a link to pw-cat), so the setting outlives this one process.
    const auto key = QString::fromStdString(programKey(*player));
    ASSERT_FALSE(key.isEmpty()) << "the player never started";
    ASSERT_TRUE(eventually(
        [&] {
            return corvalle({"get", key}).exitCode == kExitDone;
        },
        30s))
        << "the instance never listed the player";
    const double baseline = MonitorMeter("speakers").measure(500).rmsDB;
    ASSERT_GT(baseline, -40.0) << "the player is not heard";

    const auto result = corvalle({"set", "pw", "50%"});
    ASSERT_EQ(result.exitCode, kExitDone) << result.err.toStdString();
    EXPECT_EQ(result.out, QStringLiteral("pw-play (%1): 50%\n").arg(key));
    const double halfDB = baseline - 6.0206;
    EXPECT_NEAR(heardDB("speakers", halfDB), halfDB, 1.5);
    QSettings stored(QString::fromStdString((config.path() / "Corvalle/Corvalle.conf").string()),
                     QSettings::IniFormat);
    const auto settings = QJsonDocument::fromJson(stored.value("appSettings").toByteArray());
    EXPECT_EQ(settings.object().value(key).toObject().value("volume").toDouble(), 0.5);

    // The setting follows the application to another device.
    ASSERT_EQ(corvalle({"output", "headphones"}).exitCode, kExitDone);
    EXPECT_NEAR(heardDB("headphones", halfDB), halfDB, 1.5);

    EXPECT_EQ(corvalle({"set", key, "loud"}).exitCode, kExitUsage);
    EXPECT_NEAR(heardDB("headphones", halfDB), halfDB, 1.5);

    // The next run of the player, another process, plays at 50 % too.
    player.reset();
    const auto running = [&] {
        const auto got = corvalle({"--json", "get", key});
        return QJsonDocument::fromJson(got.out.toUtf8()).object().value("running").toBool();
    };
    ASSERT_TRUE(eventually([&] { return !running(); }, 10s)) << "the player's end is seen";
    EXPECT_LT(MonitorMeter("headphones").measure(300).rmsDB, -60.0) << "the player has ended";
    player =
        std::make_unique<ChildProcess>(std::vector<std::string>{"pw-play", sineFile(session, 0.1)});
    EXPECT_NEAR(heardDB("headphones", halfDB), halfDB, 1.5);
    const auto listed = corvalle({"--json", "list"});
    ASSERT_EQ(listed.exitCode, kExitDone) << listed.err.toStdString();
    const auto applications =
        QJsonDocument::fromJson(listed.out.toUtf8()).object().value("applications").toArray();
    ASSERT_EQ(applications.size(), 1) << listed.out.toStdString();
    EXPECT_EQ(applications.at(0).toObject().value("key").toString(), key)
        << "one row, with no stale one beside it";
}

} // namespace
} // namespace corvalle::test
