// The corvalle binary in a private PipeWire session, driven through its command
// line and through D-Bus, with real audio measured at the output devices.
#include "CommandLine.h"
#include "ControlFixture.h"
#include "DBusNames.h"
#include "MixerClient.h"
#include "PwTestKit.h"

#include <QDBusConnectionInterface>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <cstdlib>
#include <signal.h>
#include <thread>

namespace corvalle::test {
namespace {

using namespace std::chrono_literals;

constexpr double kHalfDB = -6.0206;
constexpr double kToleranceDB = 1.5;

struct Result {
    int exitCode = -1;
    QString out;
    QString err;
};

// The binary as a user would run it, in this process's (the session's) environment.
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

class ControlPipeWireTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(session_.isRunning());
        ::setenv("XDG_CONFIG_HOME", config_.path().c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        instance_ = std::make_unique<ChildProcess>(std::vector<std::string>{CORVALLE_BINARY});
        Result last;
        ASSERT_TRUE(eventually(
            [&] {
                last = corvalle({"list"});
                return last.exitCode == kExitDone;
            },
            30s))
            << "the instance never answered: " << last.exitCode << " " << last.err.toStdString()
            << (instance_->isRunning() ? " (running)" : " (ended)");
        bus_ = QDBusConnection::connectToBus(
            QString::fromLocal8Bit(std::getenv("DBUS_SESSION_BUS_ADDRESS")),
            QStringLiteral("control-pipewire-test"));
        ASSERT_TRUE(bus_.isConnected());
    }

    void TearDown() override {
        player_.reset();
        instance_.reset();
        bus_ = QDBusConnection(QString());
        QDBusConnection::disconnectFromBus(QStringLiteral("control-pipewire-test"));
    }

    // Starts a player and waits until the instance lists it as playing; its key.
    QString startPlayer() {
        player_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{"pw-play", sineFile(session_, 0.1)});
        const auto key = QStringLiteral("pid:%1").arg(player_->pid());
        EXPECT_TRUE(eventually(
            [&] {
                const auto list = corvalle({"list", "--json"});
                const auto applications = QJsonDocument::fromJson(list.out.toUtf8())
                                              .object()
                                              .value("applications")
                                              .toArray();
                for (const auto& application : applications) {
                    if (application.toObject().value("key").toString() == key) {
                        return application.toObject().value("playing").toBool();
                    }
                }
                return false;
            },
            10s));
        return key;
    }

    // Measures `device` until its level is within the tolerance of `expectedDB`
    // or five seconds pass; the last level measured.
    static double settledLevel(const std::string& device, double expectedDB) {
        MonitorMeter meter(device);
        double level = -200.0;
        eventually(
            [&] {
                level = meter.measure(300).rmsDB;
                return std::abs(level - expectedDB) < kToleranceDB;
            },
            5s);
        return level;
    }

    static double silentLevel(const std::string& device) {
        MonitorMeter meter(device);
        double level = 0.0;
        eventually(
            [&] {
                level = meter.measure(300).rmsDB;
                return level < -60.0;
            },
            5s);
        return level;
    }

    QJsonObject storedSettings() const {
        QSettings settings(
            QString::fromStdString((config_.path() / "Corvalle/Corvalle.conf").string()),
            QSettings::IniFormat);
        return QJsonDocument::fromJson(settings.value(QStringLiteral("appSettings")).toByteArray())
            .object();
    }

    PipeWireSession session_;
    TempDir config_;
    std::unique_ptr<ChildProcess> instance_;
    std::unique_ptr<ChildProcess> player_;
    QDBusConnection bus_{QString()};
};

TEST_F(ControlPipeWireTest, CommandLineChangesWhatTheDeviceHearsAndWhatIsStored) {
    const auto key = startPlayer();
    MonitorMeter speakers("speakers");
    const double baseline = speakers.measure(500).rmsDB;
    ASSERT_GT(baseline, -40.0) << "the player is not heard";

    auto result = corvalle({"set", key, "50%"});
    ASSERT_EQ(result.exitCode, kExitDone) << result.err.toStdString();
    EXPECT_EQ(result.out, QStringLiteral("pw-play (%1): 50%\n").arg(key));
    EXPECT_NEAR(settledLevel("speakers", baseline + kHalfDB), baseline + kHalfDB, kToleranceDB);
    EXPECT_EQ(storedSettings().value(key).toObject().value("volume").toDouble(), 0.5);

    result = corvalle({"mute", "PW-PLAY"});
    ASSERT_EQ(result.exitCode, kExitDone) << result.err.toStdString();
    EXPECT_LT(silentLevel("speakers"), -60.0);
    EXPECT_TRUE(storedSettings().value(key).toObject().value("muted").toBool());

    result = corvalle({"toggle-mute", "pw"});
    ASSERT_EQ(result.exitCode, kExitDone) << result.err.toStdString();
    result = corvalle({"up", "pw-play", "150%"});
    ASSERT_EQ(result.exitCode, kExitDone) << result.err.toStdString();
    EXPECT_EQ(result.out, QStringLiteral("pw-play (%1): 200%\n").arg(key));
    EXPECT_NEAR(settledLevel("speakers", baseline - kHalfDB), baseline - kHalfDB, kToleranceDB);
    EXPECT_EQ(storedSettings().value(key).toObject().value("volume").toDouble(), 2.0);

    result = corvalle({"reset", key});
    ASSERT_EQ(result.exitCode, kExitDone) << result.err.toStdString();
    EXPECT_NEAR(settledLevel("speakers", baseline), baseline, kToleranceDB);
    EXPECT_FALSE(storedSettings().contains(key));
}

TEST_F(ControlPipeWireTest, ASettingFollowsItsApplicationToTheNewOutput) {
    const auto key = startPlayer();
    const double baseline = MonitorMeter("speakers").measure(500).rmsDB;
    ASSERT_GT(baseline, -40.0) << "the player is not heard";
    ASSERT_EQ(corvalle({"set", key, "200%"}).exitCode, kExitDone);
    EXPECT_NEAR(settledLevel("speakers", baseline - kHalfDB), baseline - kHalfDB, kToleranceDB);

    ASSERT_EQ(corvalle({"output", "headphones"}).exitCode, kExitDone);
    EXPECT_NEAR(settledLevel("headphones", baseline - kHalfDB), baseline - kHalfDB, kToleranceDB);
    EXPECT_LT(silentLevel("speakers"), -60.0);
}

TEST_F(ControlPipeWireTest, BusClientsChangeLevelsAndFollowTheChanges) {
    const auto key = startPlayer();
    const double baseline = MonitorMeter("speakers").measure(500).rmsDB;
    ASSERT_GT(baseline, -40.0) << "the player is not heard";

    SignalLog log;
    ASSERT_TRUE(bus_.connect(QString::fromLatin1(dbus::kServiceName),
                             QString::fromLatin1(dbus::kMixerPath),
                             QString::fromLatin1(dbus::kMixerInterface),
                             QStringLiteral("SettingsChanged"), &log, SLOT(onSettingsChanged())));
    MixerClient client(bus_);
    const auto changed = client.setVolume(key, 0.25);
    ASSERT_TRUE(changed) << client.error().message().toStdString();
    EXPECT_EQ(changed->volume, 0.25);
    EXPECT_TRUE(waitFor([&] { return log.settings == 1; }));
    EXPECT_NEAR(settledLevel("speakers", baseline + 2 * kHalfDB), baseline + 2 * kHalfDB,
                kToleranceDB);

    EXPECT_FALSE(client.setVolume(QStringLiteral("pid:1"), 0.5));
    EXPECT_EQ(client.error().name(), dbus::kErrorUnknownApplication);
    EXPECT_FALSE(client.setVolume(key, std::nan("")));
    EXPECT_EQ(client.error().name(), dbus::kErrorInvalidVolume);
    EXPECT_EQ(storedSettings().value(key).toObject().value("volume").toDouble(), 0.25);
}

TEST_F(ControlPipeWireTest, MistakesAreReportedAndChangeNothing) {
    const auto first = startPlayer();
    auto firstPlayer = std::move(player_);
    const auto second = startPlayer();
    const double baseline = MonitorMeter("speakers").measure(500).rmsDB;

    auto result = corvalle({"mute", "pw-play"});
    EXPECT_EQ(result.exitCode, kExitAmbiguous);
    EXPECT_TRUE(result.err.contains(first) && result.err.contains(second))
        << result.err.toStdString();
    result = corvalle({"set", "vlc", "50%"});
    EXPECT_EQ(result.exitCode, kExitNoMatch);
    result = corvalle({"set", first, "loud"});
    EXPECT_EQ(result.exitCode, kExitUsage);
    EXPECT_TRUE(result.err.contains("is not a volume")) << result.err.toStdString();

    EXPECT_NEAR(MonitorMeter("speakers").measure(500).rmsDB, baseline, kToleranceDB);
    EXPECT_TRUE(storedSettings().isEmpty());
}

TEST_F(ControlPipeWireTest, AfterTheInstanceEndsTheCommandLineSaysSoAndStartsNone) {
    instance_->signal(SIGTERM);
    ASSERT_NE(instance_->wait(10s), -1);
    const auto result = corvalle({"set", "anything", "50%"});
    EXPECT_EQ(result.exitCode, kExitFailed);
    EXPECT_EQ(result.err, "Corvalle is not running.\n");
    EXPECT_FALSE(bus_.interface()->isServiceRegistered(QString::fromLatin1(dbus::kServiceName)));
}

} // namespace
} // namespace corvalle::test
