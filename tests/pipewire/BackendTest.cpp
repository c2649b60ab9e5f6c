// The PipeWire backend against a private session, with real audio: what the
// property layer reads, and what a tap does to what is heard at the device.
#include "AppTap.h"
#include "CA.h"
#include "PipeWireAudioHardware.h"
#include "PwTestKit.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace corvalle {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::eventually;

class BackendTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(session.isRunning());
        hardware = std::make_unique<PipeWireAudioHardware>(queue.poster());
        ASSERT_TRUE(hardware->waitUntilConnected(5000));
    }
    void TearDown() override {
        hardware.reset();
        queue.drain();
    }

    // The process object whose PID is `pid`, once it exists.
    AudioObjectID processOf(pid_t pid, std::chrono::milliseconds timeout = 5s) {
        AudioObjectID found = kAudioObjectUnknown;
        eventually(
            [&] {
                for (const AudioObjectID id : CA::objectList(
                         *hardware, CA::system, kAudioHardwarePropertyProcessObjectList)) {
                    if (CA::get<std::int32_t>(*hardware, id, kAudioProcessPropertyPID, -1) == pid) {
                        found = id;
                        return true;
                    }
                }
                return false;
            },
            timeout);
        return found;
    }

    bool running(AudioObjectID process) {
        return CA::get<std::uint32_t>(*hardware, process, kAudioProcessPropertyIsRunningOutput,
                                      0) != 0;
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
    test::TaskQueue queue;
    std::unique_ptr<PipeWireAudioHardware> hardware;
};

TEST_F(BackendTest, ListsTheTestDevicesAndTheDefault) {
    const AudioObjectID speakers = deviceNamed("speakers");
    const AudioObjectID headphones = deviceNamed("headphones");
    ASSERT_NE(speakers, kAudioObjectUnknown);
    ASSERT_NE(headphones, kAudioObjectUnknown);
    EXPECT_EQ(CA::deviceName(*hardware, speakers), "Test Speakers");
    EXPECT_EQ(CA::deviceName(*hardware, headphones), "Test Headphones");
    EXPECT_EQ(CA::defaultOutputDevice(*hardware), speakers);
    EXPECT_EQ(CA::outputDevices(*hardware).size(), 2U);
}

TEST_F(BackendTest, EveryKindOfPlayerIsAProcessWithItsOwnPID) {
    std::vector<AudioObjectPropertySelector> fired;
    hardware->addPropertyListener(
        CA::system, CA::address(kAudioHardwarePropertyProcessObjectList),
        [&](std::uint32_t, const AudioObjectPropertyAddress* a) { fired.push_back(a->selector); });
    ChildProcess native({"pw-play", test::sineFile(session, 0.5)});
    ChildProcess pulse({"paplay", test::sineFile(session, 0.5)});
    ChildProcess ours({test::testPlayerPath(), "--name", "Tone Maker", "--icon", "audio-x-generic",
                       "--app-id", "org.example.Tone"});
    for (ChildProcess* player : {&native, &pulse, &ours}) {
        const AudioObjectID process = processOf(player->pid());
        ASSERT_NE(process, kAudioObjectUnknown) << "no process object for PID " << player->pid();
        EXPECT_TRUE(eventually([&] { return running(process); }, 3s));
    }
    const AudioObjectID tone = processOf(ours.pid());
    EXPECT_EQ(CA::string(*hardware, tone, kAudioProcessPropertyBundleID), "org.example.Tone");
    EXPECT_EQ(CA::string(*hardware, tone, kAudioProcessPropertyNameHint), "Tone Maker");
    EXPECT_EQ(CA::string(*hardware, tone, kAudioProcessPropertyIconHint), "audio-x-generic");
    EXPECT_EQ(CA::string(*hardware, processOf(native.pid()), kAudioProcessPropertyBundleID),
              std::nullopt);
    queue.pump(50);
    EXPECT_FALSE(fired.empty());
}

TEST_F(BackendTest, RunningOutputFollowsPauseAndStop) {
    const std::string pauseFile = session.dir().string() + "/pause";
    ChildProcess player({test::testPlayerPath(), "--pause-file", pauseFile});
    const AudioObjectID process = processOf(player.pid());
    ASSERT_NE(process, kAudioObjectUnknown);
    int changes = 0;
    hardware->addPropertyListener(
        process, CA::address(kAudioProcessPropertyIsRunningOutput),
        [&](std::uint32_t, const AudioObjectPropertyAddress*) { ++changes; });
    ASSERT_TRUE(eventually([&] { return running(process); }, 3s));
    ASSERT_EQ(session.run("touch '" + pauseFile + "'"), 0);
    EXPECT_TRUE(eventually([&] { return !running(process); }, 3s));
    ASSERT_EQ(session.run("rm '" + pauseFile + "'"), 0);
    EXPECT_TRUE(eventually([&] { return running(process); }, 3s));
    queue.pump(50);
    EXPECT_GE(changes, 2);
    player.signal(SIGTERM);
    player.wait(3s);
    EXPECT_TRUE(eventually(
        [&] {
            const auto list =
                CA::objectList(*hardware, CA::system, kAudioHardwarePropertyProcessObjectList);
            return std::find(list.begin(), list.end(), process) == list.end();
        },
        3s));
}

TEST_F(BackendTest, AThousandTapsComeAndGoWithoutLeaks) {
    ChildProcess player({test::testPlayerPath()});
    const AudioObjectID process = processOf(player.pid());
    ASSERT_NE(process, kAudioObjectUnknown);
    ASSERT_TRUE(eventually([&] { return running(process); }, 3s));
    auto cycle = [&] {
        AppTap tap(*hardware, {process}, "speakers", "Player", 0.5F);
        tap.stop();
        queue.drain();
    };
    for (int i = 0; i < 20; ++i) {
        cycle();
    }
    queue.pump(100);
    const int nodes = test::nodeCount(session);
    const int files = test::openFileCount();
    const long resident = test::residentKiB();
    const auto started = std::chrono::steady_clock::now();
    constexpr int kCycles = CORVALLE_TAP_CYCLES;
    for (int i = 0; i < kCycles; ++i) {
        cycle();
    }
    const auto elapsed = std::chrono::steady_clock::now() - started;
    queue.pump(100);
    std::printf("%d cycles, %.2f ms each, RSS %+ld KiB\n", kCycles,
                std::chrono::duration<double, std::milli>(elapsed).count() / kCycles,
                test::residentKiB() - resident);
    EXPECT_EQ(test::nodeCount(session), nodes);
    EXPECT_EQ(test::corvalleNodeCount(session), 0);
    // Buffer memory is handed back by the server a moment after a stream goes; a
    // few handles may be in flight, a leak per tap would be hundreds.
    EXPECT_TRUE(eventually([&] { return test::openFileCount() <= files + 4; }, 3s))
        << test::openFileCount() << " open files, " << files << " before";
    EXPECT_LT(test::residentKiB() - resident, 2048);
    EXPECT_TRUE(running(process));
}

TEST_F(BackendTest, OurSinksAreListedButNeverOfferedOrMadeTheDefault) {
    ChildProcess player({test::testPlayerPath()});
    const AudioObjectID process = processOf(player.pid());
    ASSERT_NE(process, kAudioObjectUnknown);
    AppTap tap(*hardware, {process}, "speakers", "Player", 0.5F);
    AudioObjectID ours = kAudioObjectUnknown;
    for (const AudioObjectID id :
         CA::objectList(*hardware, CA::system, kAudioHardwarePropertyDevices)) {
        if (CA::deviceUID(*hardware, id).value_or("").rfind("Corvalle-", 0) == 0) {
            ours = id;
        }
    }
    ASSERT_NE(ours, kAudioObjectUnknown);
    EXPECT_EQ(CA::deviceName(*hardware, ours), "Corvalle \u2013 Player");
    const auto offered = CA::outputDevices(*hardware);
    EXPECT_EQ(std::find(offered.begin(), offered.end(), ours), offered.end());
    const AudioObjectID speakers = CA::defaultOutputDevice(*hardware);
    EXPECT_EQ(hardware->setPropertyData(CA::system,
                                        CA::address(kAudioHardwarePropertyDefaultOutputDevice),
                                        sizeof(ours), &ours),
              kAudioHardwareIllegalOperationError);
    EXPECT_EQ(CA::defaultOutputDevice(*hardware), speakers);
    const std::uint32_t tooShort = 0;
    EXPECT_EQ(hardware->setPropertyData(
                  CA::system, CA::address(kAudioHardwarePropertyDefaultOutputDevice), 2, &tooShort),
              kAudioHardwareBadPropertySizeError);
}

// Started before the audio server (as at login): it reports no devices, refuses
// taps, and connects by itself once the server is there.
TEST(ColdStartTest, ConnectsOnceTheServerComes) {
    char pattern[] = "/tmp/corvalle-pw-cold.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    const std::string script = test::PipeWireSession::script().string();
    std::filesystem::create_directories(dir + "/run");
    setenv("PIPEWIRE_RUNTIME_DIR", (dir + "/run").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (dir + "/run").c_str(), 1);
    unsetenv("PIPEWIRE_REMOTE");
    test::TaskQueue queue;
    auto hardware = std::make_unique<PipeWireAudioHardware>(queue.poster());
    EXPECT_FALSE(hardware->isConnected());
    EXPECT_TRUE(CA::outputDevices(*hardware).empty());
    EXPECT_EQ(CA::defaultOutputDevice(*hardware), kAudioObjectUnknown);
    TapDescription description;
    description.uuid = "00000000-0000-0000-0000-000000000001";
    AudioObjectID tapID = kAudioObjectUnknown;
    EXPECT_NE(hardware->createProcessTap(description, &tapID), noErr);
    int deviceChanges = 0;
    hardware->addPropertyListener(
        CA::system, CA::address(kAudioHardwarePropertyDevices),
        [&](std::uint32_t, const AudioObjectPropertyAddress*) { ++deviceChanges; });

    ASSERT_EQ(std::system(("'" + script + "' start '" + dir + "' >/dev/null").c_str()), 0);
    EXPECT_TRUE(hardware->waitUntilConnected(5000));
    EXPECT_EQ(CA::outputDevices(*hardware).size(), 2U);
    queue.pump(50);
    EXPECT_GT(deviceChanges, 0);
    hardware.reset();
    static_cast<void>(std::system(("'" + script + "' stop '" + dir + "'").c_str()));
}

struct LevelCase {
    const char* name;
    double amplitude;
    float gain;
    double expectedChangeDB; // against the untapped level; NaN: check the peak
    double expectedPeak;
};

class TapLevelTest : public BackendTest, public ::testing::WithParamInterface<LevelCase> {};

TEST_P(TapLevelTest, TheDeviceHearsThePlayerAtTheGain) {
    const LevelCase c = GetParam();
    ChildProcess player({test::testPlayerPath(), "--amplitude", std::to_string(c.amplitude)});
    const AudioObjectID process = processOf(player.pid());
    ASSERT_NE(process, kAudioObjectUnknown);
    test::MonitorMeter meter("speakers");
    ASSERT_TRUE(eventually([&] { return running(process); }, 3s));
    const double unaltered = test::toDB(c.amplitude / std::sqrt(2.0));
    auto near = [](double value, double expected) { return std::fabs(value - expected) <= 0.1; };
    const test::Level before =
        test::settledLevel(meter, [&](const test::Level& l) { return near(l.rmsDB, unaltered); });
    ASSERT_NEAR(before.rmsDB, unaltered, 0.1);

    AppTap tap(*hardware, {process}, "speakers", "Player", c.gain);
    if (std::isnan(c.expectedChangeDB)) {
        const test::Level during = test::settledLevel(
            meter, [&](const test::Level& l) { return l.peak == c.expectedPeak; });
        EXPECT_FLOAT_EQ(static_cast<float>(during.peak), static_cast<float>(c.expectedPeak));
        EXPECT_LE(during.peak, 1.0);
    } else if (c.expectedChangeDB < -90.0) {
        EXPECT_LT(
            test::settledLevel(meter, [](const test::Level& l) { return l.rmsDB < -90.0; }).rmsDB,
            -90.0);
    } else {
        const double expected = before.rmsDB + c.expectedChangeDB;
        EXPECT_NEAR(
            test::settledLevel(meter, [&](const test::Level& l) { return near(l.rmsDB, expected); })
                .rmsDB,
            expected, 0.1);
    }
    EXPECT_EQ(test::corvalleNodeCount(session), 2);

    tap.stop();
    queue.drain();
    EXPECT_EQ(test::corvalleNodeCount(session), 0);
    const test::Level after = test::settledLevel(
        meter, [&](const test::Level& l) { return near(l.rmsDB, before.rmsDB); });
    EXPECT_NEAR(after.rmsDB, before.rmsDB, 0.1);
}

INSTANTIATE_TEST_SUITE_P(Levels, TapLevelTest,
                         ::testing::Values(LevelCase{"half", 0.5, 0.5F, -6.0206, 0.0},
                                           LevelCase{"double", 0.25, 2.0F, 6.0206, 0.0},
                                           LevelCase{"quadrupleClips", 0.5, 4.0F, NAN, 1.0},
                                           LevelCase{"silence", 0.5, 0.0F, -200.0, 0.0}),
                         [](const auto& param) { return std::string(param.param.name); });

} // namespace
} // namespace corvalle
