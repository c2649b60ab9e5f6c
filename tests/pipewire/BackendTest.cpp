// The PipeWire backend against a private session: taps that come and go by the
// thousand, our own sinks kept out of the device choice, and a start before the
// audio server exists.
#include "AppTap.h"
#include "CA.h"
#include "PipeWireAudioHardware.h"
#include "PwTestKit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace corvalle {
namespace {

using namespace std::chrono_literals;
using test::eventually;

class BackendTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(session.isRunning());
        hardware = std::make_unique<PipeWireAudioHardware>(queue.poster());
        ASSERT_TRUE(hardware->waitUntilConnected(5000));
        ASSERT_TRUE(eventually(
            [&] {
                for (const AudioObjectID id : CA::objectList(
                         *hardware, CA::system, kAudioHardwarePropertyProcessObjectList)) {
                    if (CA::get<std::int32_t>(*hardware, id, kAudioProcessPropertyPID, -1) ==
                        player.pid()) {
                        process = id;
                    }
                }
                return running();
            },
            5s));
    }
    void TearDown() override {
        hardware.reset();
        queue.drain();
    }
    bool running() {
        return CA::get<std::uint32_t>(*hardware, process, kAudioProcessPropertyIsRunningOutput,
                                      0) != 0;
    }

    test::PipeWireSession session;
    test::ChildProcess player{{test::testPlayerPath()}};
    test::TaskQueue queue;
    std::unique_ptr<PipeWireAudioHardware> hardware;
    AudioObjectID process = kAudioObjectUnknown;
};

// Taps live from no time at all to a few tens of milliseconds, so that they end
// while the server and the session manager are still setting them up.
TEST_F(BackendTest, AThousandTapsComeAndGoWithoutLeaks) {
    constexpr std::array<int, 5> kLifetimesMs{0, 5, 10, 20, 40};
    auto cycle = [&](int i) {
        AppTap tap(*hardware, {process}, "speakers", "Player", 0.5F);
        std::this_thread::sleep_for(std::chrono::milliseconds(
            kLifetimesMs[static_cast<std::size_t>(i) % kLifetimesMs.size()]));
        tap.stop();
        queue.drain();
    };
    auto settle = [&] {
        return eventually([&] { return test::corvalleNodeCount(session) == 0; }, 2s);
    };
    for (int i = 0; i < 20; ++i) {
        cycle(i);
    }
    ASSERT_TRUE(settle());
    const int nodes = test::nodeCount(session);
    const int files = test::openFileCount();
    const long resident = test::residentKiB();
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < CORVALLE_TAP_CYCLES; ++i) {
        cycle(i);
    }
    std::printf(
        "%d cycles, %.2f ms each, RSS %+ld KiB\n", CORVALLE_TAP_CYCLES,
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
                .count() /
            CORVALLE_TAP_CYCLES,
        test::residentKiB() - resident);
    EXPECT_TRUE(settle());
    EXPECT_TRUE(eventually([&] { return test::nodeCount(session) == nodes; }, 2s));
    // Buffer memory is handed back by the server a moment after a stream goes; a
    // few handles and a megabyte or two may be in flight, a leak per tap would be
    // hundreds of handles and megabytes that stay.
    EXPECT_TRUE(eventually([&] { return test::openFileCount() <= files + 4; }, 3s))
        << test::openFileCount() << " open files, " << files << " before";
    long grown = 0;
    EXPECT_TRUE(eventually(
        [&] {
            grown = test::residentKiB() - resident;
            return grown < 2048;
        },
        3s))
        << grown << " KiB more resident memory";
    EXPECT_TRUE(running());
}

// Each cycle of the player's sound reaches the device once, times the gain: no
// block left out or replaced by silence, whatever the graph's quantum.
TEST_F(BackendTest, ATappedPlayerIsHeardWithoutDropoutsAtEveryQuantum) {
    AppTap tap(*hardware, {process}, "speakers", "Player", 0.5F);
    test::MonitorMeter speakers("speakers");
    const double expectedDB = test::toDB(0.5 * 0.5 / std::sqrt(2.0));
    for (const int quantum : {256, 1024, 2048}) {
        test::forceQuantum(session, quantum);
        const test::Level level = test::settledLevel(speakers, [&](const test::Level& l) {
            queue.drain();
            return std::fabs(l.rmsDB - expectedDB) < 0.05;
        });
        EXPECT_NEAR(level.rmsDB, expectedDB, 0.05) << quantum;
        const std::vector<float> samples = speakers.record(1500);
        EXPECT_EQ(test::silentRuns(samples), 0) << quantum;
        EXPECT_NEAR(test::toneAmplitude(samples, 440.0), 0.25, 0.005) << quantum;
    }
    test::forceQuantum(session, 0);
}

TEST_F(BackendTest, OurSinksAreNeverOfferedOrMadeTheDefault) {
    AppTap tap(*hardware, {process}, "speakers", "Player", 0.5F);
    AudioObjectID ours = kAudioObjectUnknown;
    for (const AudioObjectID id :
         CA::objectList(*hardware, CA::system, kAudioHardwarePropertyDevices)) {
        if (CA::deviceUID(*hardware, id).value_or("").rfind("Corvalle-", 0) == 0) {
            ours = id;
        }
    }
    ASSERT_NE(ours, kAudioObjectUnknown);
    const auto offered = CA::outputDevices(*hardware);
    EXPECT_EQ(std::find(offered.begin(), offered.end(), ours), offered.end());
    const AudioObjectID speakers = CA::defaultOutputDevice(*hardware);
    const auto address = CA::address(kAudioHardwarePropertyDefaultOutputDevice);
    EXPECT_EQ(hardware->setPropertyData(CA::system, address, sizeof(ours), &ours),
              kAudioHardwareIllegalOperationError);
    const std::uint32_t tooShort = 0;
    EXPECT_EQ(hardware->setPropertyData(CA::system, address, 2, &tooShort),
              kAudioHardwareBadPropertySizeError);
    EXPECT_EQ(CA::defaultOutputDevice(*hardware), speakers);
}

// Started before the audio server (as at login): no devices, no taps, and it
// connects by itself once the server is there.
TEST(ColdStartTest, ConnectsOnceTheServerComes) {
    char pattern[] = "/tmp/corvalle-pw-cold.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    const std::string script = "'" + test::PipeWireSession::script().string() + "'";
    std::filesystem::create_directories(dir + "/run");
    setenv("PIPEWIRE_RUNTIME_DIR", (dir + "/run").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (dir + "/run").c_str(), 1);
    unsetenv("PIPEWIRE_REMOTE");
    test::TaskQueue queue;
    auto hardware = std::make_unique<PipeWireAudioHardware>(queue.poster());
    EXPECT_TRUE(CA::outputDevices(*hardware).empty());
    TapDescription description;
    description.uuid = "00000000-0000-0000-0000-000000000001";
    AudioObjectID tapID = kAudioObjectUnknown;
    EXPECT_NE(hardware->createProcessTap(description, &tapID), noErr);
    int deviceChanges = 0;
    hardware->addPropertyListener(
        CA::system, CA::address(kAudioHardwarePropertyDevices),
        [&](std::uint32_t, const AudioObjectPropertyAddress*) { ++deviceChanges; });

    // Long enough for the retries to back off beyond a second.
    std::this_thread::sleep_for(2s);
    ASSERT_EQ(std::system((script + " start '" + dir + "' >/dev/null").c_str()), 0);
    EXPECT_TRUE(hardware->waitUntilConnected(5000));
    EXPECT_EQ(CA::outputDevices(*hardware).size(), 2U);
    EXPECT_TRUE(eventually(
        [&] {
            queue.drain();
            return deviceChanges > 0;
        },
        1s));
    hardware.reset();
    static_cast<void>(std::system((script + " stop '" + dir + "'").c_str()));
}

} // namespace
} // namespace corvalle
