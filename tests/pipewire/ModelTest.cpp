// The mixer model on the PipeWire backend in a private session, with real
// audio: rows for real players, levels heard at the device, the output device
// following the default, settings applied to players that start later, and a
// restart of the audio server.
#include "CA.h"
#include "DesktopAppDirectory.h"
#include "MainThread.h"
#include "MemorySettingsStore.h"
#include "MixerModel.h"
#include "PipeWireAudioHardware.h"
#include "PwTestKit.h"
#include "TempDir.h"

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace corvalle {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;

constexpr double kHalfDB = -6.0206;

QString pidKey(pid_t pid) {
    return QStringLiteral("pid:%1").arg(pid);
}

class ModelTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (QCoreApplication::instance() == nullptr) {
            static int argc = 1;
            static char name[] = "test_pipewire_model";
            static char* argv[] = {name, nullptr};
            static QCoreApplication application(argc, argv);
        }
    }

    void SetUp() override {
        ASSERT_TRUE(session.isRunning());
        hardware = std::make_unique<PipeWireAudioHardware>(qtMainThreadPoster());
        ASSERT_TRUE(hardware->waitUntilConnected(5000));
        DesktopDirectoryOptions options;
        options.dataDirs = {QString::fromStdString(dataDir.path().string())};
        directory = std::make_unique<DesktopAppDirectory>(options);
        MixerEnvironment env;
        env.hardware = hardware.get();
        env.store = &store;
        env.directory = directory.get();
        model = std::make_unique<MixerModel>(env);
    }

    void TearDown() override {
        model.reset();
        hardware.reset();
        QCoreApplication::processEvents();
    }

    template <typename Condition>
    bool spinUntil(Condition condition, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!condition()) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            std::this_thread::sleep_for(2ms);
        }
        return true;
    }

    void spin(std::chrono::milliseconds time) {
        spinUntil([] { return false; }, time);
    }

    // The level once it is within 0.1 dB of `expectedDB` (or below -90 dBFS when
    // that is expected), measured while the main loop keeps running.
    double settledDB(test::MonitorMeter& meter, double expectedDB, int timeoutMs = 3000) {
        test::Level level;
        std::atomic<bool> done{false};
        std::thread worker([&] {
            level = test::settledLevel(
                meter,
                [&](const test::Level& l) {
                    return expectedDB < -90.0 ? l.rmsDB < -90.0
                                              : std::fabs(l.rmsDB - expectedDB) <= 0.1;
                },
                300, timeoutMs);
            done = true;
        });
        spinUntil([&] { return done.load(); }, std::chrono::milliseconds(timeoutMs + 2000));
        worker.join();
        return level.rmsDB;
    }

    const AudioApp* row(const QString& key) const {
        for (const AudioApp& app : model->apps()) {
            if (app.id == key) {
                return &app;
            }
        }
        return nullptr;
    }

    AudioObjectID deviceNamed(const std::string& uid) {
        for (const AudioObjectID id : CA::outputDevices(*hardware)) {
            if (CA::deviceUID(*hardware, id) == uid) {
                return id;
            }
        }
        return kAudioObjectUnknown;
    }

    test::PipeWireSession session;
    test::TempDir dataDir;
    MemorySettingsStore store;
    std::unique_ptr<PipeWireAudioHardware> hardware;
    std::unique_ptr<DesktopAppDirectory> directory;
    std::unique_ptr<MixerModel> model;
};

TEST_F(ModelTest, EveryPlayerIsARowAndAHelperFoldsIntoItsParent) {
    ChildProcess native({"pw-play", test::sineFile(session, 0.5)});
    ChildProcess pulse({"paplay", test::sineFile(session, 0.5)});
    ChildProcess withHelper({test::testPlayerPath(), "--child", "--name", "Helper Player"});
    ASSERT_TRUE(spinUntil(
        [&] {
            const AudioApp* helperRow = row(pidKey(withHelper.pid()));
            return row(pidKey(native.pid())) != nullptr && row(pidKey(pulse.pid())) != nullptr &&
                   helperRow != nullptr && helperRow->isPlaying;
        },
        5s));
    // Without desktop entries the names are what the players announce.
    EXPECT_EQ(row(pidKey(native.pid()))->name, QStringLiteral("pw-play"));
    EXPECT_EQ(row(pidKey(pulse.pid()))->name, QStringLiteral("paplay"));
    const AudioApp* helperRow = row(pidKey(withHelper.pid()));
    EXPECT_EQ(helperRow->name, QStringLiteral("Helper Player"));
    ASSERT_EQ(helperRow->processObjects.size(), 1U);
    // The process that plays is the child, not the row's own process.
    EXPECT_NE(CA::get<std::int32_t>(*hardware, helperRow->processObjects.front(),
                                    kAudioProcessPropertyPID, -1),
              withHelper.pid());
    for (const AudioApp& app : model->apps()) {
        EXPECT_NE(app.id, pidKey(getpid())) << "our own process is never a row";
    }
}

TEST_F(ModelTest, ThePlayingSignFollowsPauseAndStop) {
    const std::string pauseFile = session.dir().string() + "/pause";
    ChildProcess player({test::testPlayerPath(), "--pause-file", pauseFile});
    const QString key = pidKey(player.pid());
    auto playing = [&] { return row(key) != nullptr && row(key)->isPlaying; };
    ASSERT_TRUE(spinUntil(playing, 5s));
    ASSERT_EQ(session.run("touch '" + pauseFile + "'"), 0);
    EXPECT_TRUE(spinUntil([&] { return row(key) != nullptr && !playing(); }, 3s));
    ASSERT_EQ(session.run("rm '" + pauseFile + "'"), 0);
    EXPECT_TRUE(spinUntil(playing, 3s));
    player.signal(SIGTERM);
    EXPECT_TRUE(spinUntil([&] { return row(key) == nullptr; }, 3s));
}

TEST_F(ModelTest, VolumeMuteAndResetChangeWhatIsHeard) {
    ChildProcess player({test::testPlayerPath(), "--amplitude", "0.5"});
    const QString key = pidKey(player.pid());
    ASSERT_TRUE(spinUntil([&] { return row(key) != nullptr && row(key)->isPlaying; }, 5s));
    test::MonitorMeter meter("speakers");
    const double unaltered = test::toDB(0.5 / std::sqrt(2.0));
    ASSERT_NEAR(settledDB(meter, unaltered), unaltered, 0.1);

    model->setVolume(0.5, key);
    EXPECT_TRUE(model->hasTap(key));
    EXPECT_NEAR(settledDB(meter, unaltered + kHalfDB), unaltered + kHalfDB, 0.1);

    model->toggleMute(key);
    EXPECT_LT(settledDB(meter, -200.0), -90.0);

    model->reset(key);
    EXPECT_FALSE(model->hasTap(key));
    EXPECT_NEAR(settledDB(meter, unaltered), unaltered, 0.1);
    EXPECT_EQ(test::corvalleNodeCount(session), 0);
    EXPECT_FALSE(model->lastError().has_value());
}

TEST_F(ModelTest, TheTapFollowsTheDefaultOutput) {
    ChildProcess player({test::testPlayerPath(), "--amplitude", "0.5"});
    const QString key = pidKey(player.pid());
    ASSERT_TRUE(spinUntil([&] { return row(key) != nullptr && row(key)->isPlaying; }, 5s));
    test::MonitorMeter speakers("speakers");
    test::MonitorMeter headphones("headphones");
    const double unaltered = test::toDB(0.5 / std::sqrt(2.0));
    model->setVolume(0.5, key);

    const AudioObjectID headphonesID = deviceNamed("headphones");
    model->selectOutput(headphonesID);
    EXPECT_EQ(model->outputID(), headphonesID);
    EXPECT_EQ(model->outputName(), QStringLiteral("Test Headphones"));
    EXPECT_NEAR(settledDB(headphones, unaltered + kHalfDB), unaltered + kHalfDB, 0.1);
    EXPECT_LT(settledDB(speakers, -200.0), -90.0);

    // Another program makes the speakers the default again.
    ASSERT_EQ(session.run("pw-metadata -n default 0 default.configured.audio.sink "
                          "'{\"name\":\"speakers\"}' Spa:String:JSON >/dev/null"),
              0);
    const AudioObjectID speakersID = deviceNamed("speakers");
    ASSERT_TRUE(spinUntil([&] { return model->outputID() == speakersID; }, 1500ms));
    EXPECT_NEAR(settledDB(speakers, unaltered + kHalfDB), unaltered + kHalfDB, 0.1);
    EXPECT_LT(settledDB(headphones, -200.0), -90.0);
    EXPECT_EQ(model->tapCount(), 1U);
}

TEST_F(ModelTest, AStoredSettingIsAppliedSoonAfterThePlayerStarts) {
    const QString key = QStringLiteral("org.example.Later");
    model->setVolume(0.5, key);
    test::MonitorMeter meter("speakers");
    const auto started = std::chrono::steady_clock::now();
    ChildProcess player({test::testPlayerPath(), "--app-id", key.toStdString()});
    ASSERT_TRUE(spinUntil([&] { return model->hasTap(key); }, 1500ms));
    const auto tapped = std::chrono::steady_clock::now() - started;
    std::printf("setting applied %lld ms after the player started\n",
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(tapped).count()));
    spin(1500ms - std::chrono::duration_cast<std::chrono::milliseconds>(tapped));
    const double half = test::toDB(0.5 / std::sqrt(2.0)) + kHalfDB;
    EXPECT_NEAR(settledDB(meter, half, 0), half, 0.1);
}

TEST_F(ModelTest, AnAudioServerRestartIsSurvived) {
    const QString key = QStringLiteral("org.example.Survivor");
    // The player ends with its server; the loop starts it again, as a session would.
    ChildProcess player({"sh", "-c",
                         "while true; do '" + test::testPlayerPath() + "' --app-id " +
                             key.toStdString() + " >/dev/null; sleep 0.1; done"});
    ASSERT_TRUE(spinUntil([&] { return row(key) != nullptr && row(key)->isPlaying; }, 5s));
    model->setVolume(0.5, key);
    ASSERT_TRUE(model->hasTap(key));

    ASSERT_TRUE(session.restartAudio());
    const auto restarted = std::chrono::steady_clock::now();
    // Back means: a row whose processes are the new server's, tapped again.
    const bool back = spinUntil(
        [&] {
            const AudioApp* app = row(key);
            if (!hardware->isConnected() || app == nullptr || app->processObjects.empty() ||
                !model->hasTap(key)) {
                return false;
            }
            const auto current =
                CA::objectList(*hardware, CA::system, kAudioHardwarePropertyProcessObjectList);
            return std::find(current.begin(), current.end(), app->processObjects.front()) !=
                       current.end() &&
                   test::corvalleNodeCount(session) == 2;
        },
        5s);
    ASSERT_TRUE(back) << "connected " << hardware->isConnected() << ", row "
                      << (row(key) != nullptr) << ", tapped " << model->hasTap(key) << ", error "
                      << model->lastError().value_or(QString()).toStdString() << "\n"
                      << session.output(
                             "pw-link -l; pw-cli ls Node | grep node.name; ps -ef | grep -v grep | "
                             "grep corvalle-test-player; ls -la $XDG_RUNTIME_DIR");
    std::printf("rows and taps back %lld ms after the restart\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - restarted)
                                           .count()));
    test::MonitorMeter meter("speakers");
    const double half = test::toDB(0.5 / std::sqrt(2.0)) + kHalfDB;
    EXPECT_NEAR(settledDB(meter, half), half, 0.1);
    EXPECT_EQ(test::corvalleNodeCount(session), 2);
}

} // namespace
} // namespace corvalle
