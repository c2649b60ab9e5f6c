#include "AppTap.h"

#include "AllocationCounter.h"
#include "BufferLists.h"
#include "CAError.h"
#include "SimulatedAudioHardware.h"

#include <atomic>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <regex>
#include <set>
#include <thread>

namespace corvalle {
namespace {

using test::BufferList;

constexpr const char* kOutputUID = "alsa_output.pci-0000_00_1f.3.analog-stereo";

class AppTapTest : public ::testing::Test {
protected:
    AppTapTest() : hardware_(nullptr) {
        hardware_.addDevice(SimDevice{kOutputUID, "Speakers", 1, 0});
        firstProcess_ = hardware_.addProcess(SimProcess{4242, "org.example.Player", true});
        secondProcess_ = hardware_.addProcess(SimProcess{4243, "org.example.Player", true});
        hardware_.clearCalls();
    }

    std::unique_ptr<AppTap> makeTap(float gain = 0.5F, const std::string& label = "Player") {
        return std::make_unique<AppTap>(hardware_, std::vector{firstProcess_, secondProcess_},
                                        kOutputUID, label, gain);
    }

    std::vector<SimCall> callKinds() const {
        std::vector<SimCall> kinds;
        for (const auto& record : hardware_.calls()) {
            kinds.push_back(record.call);
        }
        return kinds;
    }

    SimulatedAudioHardware hardware_;
    AudioObjectID firstProcess_ = 0;
    AudioObjectID secondProcess_ = 0;
};

bool isUpperUUID(const std::string& text) {
    static const std::regex pattern(
        "^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$");
    return std::regex_match(text, pattern);
}

// --- what is created ------------------------------------------------------------

TEST_F(AppTapTest, CreatesTapAggregateAndIOProcInOrderAndStarts) {
    const auto tap = makeTap();
    EXPECT_EQ(callKinds(), (std::vector{SimCall::createProcessTap, SimCall::createAggregateDevice,
                                        SimCall::createIOProcIDWithBlock, SimCall::deviceStart}));
    ASSERT_EQ(hardware_.taps().size(), 1U);
    ASSERT_EQ(hardware_.aggregates().size(), 1U);
    EXPECT_EQ(tap->tapID(), hardware_.taps().begin()->first);
    EXPECT_EQ(tap->aggregateID(), hardware_.aggregates().begin()->first);
    ASSERT_TRUE(tap->ioProcID().has_value());
    EXPECT_TRUE(hardware_.isStarted(tap->aggregateID(), *tap->ioProcID()));
    EXPECT_EQ(tap->processObjects(), (std::vector{firstProcess_, secondProcess_}));
    EXPECT_EQ(tap->outputUID(), kOutputUID);
}

TEST_F(AppTapTest, TapDescriptionIsAPrivateMutedStereoMixdown) {
    const auto tap = makeTap(1.5F, "Music – Ünïcode");
    const TapDescription& d = hardware_.taps().begin()->second.description;
    EXPECT_EQ(d.processes, (std::vector{firstProcess_, secondProcess_}));
    EXPECT_TRUE(d.stereoMixdown);
    EXPECT_TRUE(isUpperUUID(d.uuid)) << d.uuid;
    EXPECT_EQ(d.name, "Corvalle \xE2\x80\x93 Music – Ünïcode");
    EXPECT_TRUE(d.isPrivate);
    EXPECT_EQ(d.muteBehavior, TapMuteBehavior::mutedWhenTapped);
}

TEST_F(AppTapTest, AggregateDescriptionPlaysTheTapOnTheOutput) {
    const auto tap = makeTap(1.5F, "Player");
    const TapDescription& t = hardware_.taps().begin()->second.description;
    const AggregateDeviceDescription& d = hardware_.aggregates().begin()->second.description;
    EXPECT_EQ(d.name, t.name);
    ASSERT_TRUE(d.uid.starts_with("Corvalle-")) << d.uid;
    EXPECT_TRUE(isUpperUUID(d.uid.substr(9))) << d.uid;
    EXPECT_NE(d.uid.substr(9), t.uuid);
    EXPECT_EQ(d.mainSubDevice, kOutputUID);
    EXPECT_TRUE(d.isPrivate);
    EXPECT_FALSE(d.isStacked);
    EXPECT_TRUE(d.tapAutoStart);
    ASSERT_EQ(d.subDevices.size(), 1U);
    EXPECT_EQ(d.subDevices[0].uid, kOutputUID);
    ASSERT_EQ(d.taps.size(), 1U);
    EXPECT_TRUE(d.taps[0].driftCompensation);
    EXPECT_EQ(d.taps[0].uid, t.uuid);
}

TEST_F(AppTapTest, TwoTapsWithTheSameLabelGetDifferentUIDs) {
    const auto first = makeTap(0.5F, "Same");
    const auto second = makeTap(0.5F, "Same");
    ASSERT_EQ(hardware_.aggregates().size(), 2U);
    std::set<std::string> deviceUIDs;
    std::set<std::string> tapUUIDs;
    for (const auto& [id, aggregate] : hardware_.aggregates()) {
        deviceUIDs.insert(aggregate.description.uid);
    }
    for (const auto& [id, tap] : hardware_.taps()) {
        tapUUIDs.insert(tap.description.uuid);
    }
    EXPECT_EQ(deviceUIDs.size(), 2U);
    EXPECT_EQ(tapUUIDs.size(), 2U);
}

// --- failures ------------------------------------------------------------------

struct FailureCase {
    std::string name;
    SimCall failing;
    OSStatus status;
    std::string text;
    std::vector<SimCall> expectedCalls;
};

class AppTapFailure : public AppTapTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(AppTapFailure, ThrowsTheStepAndLeavesNothingBehind) {
    const FailureCase& c = GetParam();
    hardware_.setCallFailure(c.failing, c.status);
    try {
        makeTap();
        FAIL() << "no error";
    } catch (const CAError& error) {
        EXPECT_EQ(error.description(), c.text);
        EXPECT_STREQ(error.what(), c.text.c_str());
        EXPECT_EQ(error.status(), c.status);
    }
    EXPECT_EQ(callKinds(), c.expectedCalls);
    EXPECT_TRUE(hardware_.taps().empty());
    EXPECT_TRUE(hardware_.aggregates().empty());
    EXPECT_EQ(hardware_.ioProcCount(), 0U);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, AppTapFailure,
    ::testing::Values(FailureCase{"CreateProcessTap",
                                  SimCall::createProcessTap,
                                  -50,
                                  "Create process tap failed (OSStatus -50)",
                                  {SimCall::createProcessTap}},
                      FailureCase{"CreateAggregateDevice",
                                  SimCall::createAggregateDevice,
                                  kAudioHardwareUnspecifiedError,
                                  "Create aggregate device failed (OSStatus 2003329396)",
                                  {SimCall::createProcessTap, SimCall::createAggregateDevice,
                                   SimCall::destroyProcessTap}},
                      FailureCase{"CreateIOProc",
                                  SimCall::createIOProcIDWithBlock,
                                  -1,
                                  "Create IO proc failed (OSStatus -1)",
                                  {SimCall::createProcessTap, SimCall::createAggregateDevice,
                                   SimCall::createIOProcIDWithBlock,
                                   SimCall::destroyAggregateDevice, SimCall::destroyProcessTap}},
                      FailureCase{"StartDevice",
                                  SimCall::deviceStart,
                                  kAudioHardwareNotRunningError,
                                  "Start device failed (OSStatus 1937010544)",
                                  {SimCall::createProcessTap, SimCall::createAggregateDevice,
                                   SimCall::createIOProcIDWithBlock, SimCall::deviceStart,
                                   SimCall::deviceStop, SimCall::destroyIOProcID,
                                   SimCall::destroyAggregateDevice, SimCall::destroyProcessTap}}),
    [](const auto& testInfo) { return testInfo.param.name; });

TEST_F(AppTapTest, FailedTeardownCallsAreIgnored) {
    auto tap = makeTap();
    hardware_.setCallFailure(SimCall::deviceStop, -1);
    hardware_.setCallFailure(SimCall::destroyIOProcID, -1);
    EXPECT_NO_THROW(tap->stop());
    EXPECT_EQ(tap->aggregateID(), 0U);
    EXPECT_EQ(tap->tapID(), 0U);
    EXPECT_EQ(hardware_.callCount(SimCall::destroyAggregateDevice), 1U);
    EXPECT_EQ(hardware_.callCount(SimCall::destroyProcessTap), 1U);
}

// --- teardown -------------------------------------------------------------------

TEST_F(AppTapTest, StopTearsDownInReverseOrderAndOnlyOnce) {
    auto tap = makeTap();
    const AudioObjectID aggregateID = tap->aggregateID();
    const AudioObjectID tapID = tap->tapID();
    hardware_.clearCalls();
    tap->stop();
    ASSERT_EQ(hardware_.calls().size(), 4U);
    const auto& calls = hardware_.calls();
    EXPECT_EQ(calls[0].call, SimCall::deviceStop);
    EXPECT_EQ(calls[0].objectID, aggregateID);
    EXPECT_EQ(calls[1].call, SimCall::destroyIOProcID);
    EXPECT_EQ(calls[1].objectID, aggregateID);
    EXPECT_EQ(calls[2].call, SimCall::destroyAggregateDevice);
    EXPECT_EQ(calls[2].objectID, aggregateID);
    EXPECT_EQ(calls[3].call, SimCall::destroyProcessTap);
    EXPECT_EQ(calls[3].objectID, tapID);
    EXPECT_EQ(tap->tapID(), 0U);
    EXPECT_EQ(tap->aggregateID(), 0U);
    EXPECT_FALSE(tap->ioProcID().has_value());
    EXPECT_TRUE(hardware_.taps().empty());
    EXPECT_TRUE(hardware_.aggregates().empty());

    hardware_.clearCalls();
    tap->stop();
    tap.reset();
    EXPECT_EQ(hardware_.callCount(), 0U) << "a second stop and the destructor make no calls";
}

TEST_F(AppTapTest, DestructionTearsDown) {
    makeTap().reset();
    EXPECT_TRUE(hardware_.taps().empty());
    EXPECT_TRUE(hardware_.aggregates().empty());
    EXPECT_EQ(hardware_.ioProcCount(), 0U);
    EXPECT_EQ(hardware_.callCount(SimCall::destroyProcessTap), 1U);
}

// --- gain ---------------------------------------------------------------------------

struct GainCase {
    float requested;
    float stored;
};

class AppTapGain : public AppTapTest, public ::testing::WithParamInterface<GainCase> {};

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

TEST_P(AppTapGain, IsStoredSafelyBySetterAndConstructor) {
    const auto [requested, stored] = GetParam();
    auto tap = makeTap(1.0F);
    tap->setGain(requested);
    EXPECT_EQ(tap->gain(), stored);
    EXPECT_FALSE(std::signbit(tap->gain()));

    auto fresh = makeTap(requested);
    EXPECT_EQ(fresh->gain(), stored);
    // The first cycle already plays at the constructed gain: no ramp from 1.
    BufferList in;
    in.add(2, 4, 0.25F);
    BufferList out;
    out.add(2, 4, 9.0F);
    hardware_.runIOCycle(fresh->aggregateID(), in.list(), out.list());
    for (const float s : out.samples(0)) {
        EXPECT_EQ(s, std::min(0.25F * stored, 1.0F));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, AppTapGain,
                         ::testing::Values(GainCase{0.5F, 0.5F}, GainCase{0.0F, 0.0F},
                                           GainCase{-0.0F, 0.0F}, GainCase{4.0F, 4.0F},
                                           GainCase{4.0001F, 4.0F}, GainCase{1e9F, 4.0F},
                                           GainCase{-0.5F, 0.0F}, GainCase{kNaN, 0.0F},
                                           GainCase{-kNaN, 0.0F}, GainCase{kInf, 0.0F},
                                           GainCase{-kInf, 0.0F}, GainCase{1e-40F, 1e-40F}));

TEST_F(AppTapTest, IOCyclePlaysAtTheGainAndRampsToChanges) {
    auto tap = makeTap(0.5F);
    BufferList in;
    in.add(2, 4, 0.8F);
    BufferList out;
    out.add(2, 4, 9.0F);
    hardware_.runIOCycle(tap->aggregateID(), in.list(), out.list());
    for (const float s : out.samples(0)) {
        EXPECT_EQ(s, 0.4F);
    }
    tap->setGain(0.0F);
    hardware_.runIOCycle(tap->aggregateID(), in.list(), out.list());
    EXPECT_EQ(out.at(0, 0, 0), 0.4F);
    EXPECT_EQ(out.at(0, 3, 1), 0.8F * 0.125F);
    hardware_.runIOCycle(tap->aggregateID(), in.list(), out.list());
    for (const float s : out.samples(0)) {
        EXPECT_EQ(s, 0.0F) << "gain 0 is silence";
    }
    EXPECT_EQ(hardware_.taps().size(), 1U) << "the tap stays, keeping the application muted";
}

TEST_F(AppTapTest, IOCycleAllocatesNothing) {
    auto tap = makeTap(0.5F);
    BufferList in;
    in.add(2, 512, 0.8F);
    BufferList out;
    out.add(2, 512);
    auto& inList = in.list();
    auto& outList = out.list();
    test::AllocationCounter counter;
    for (int i = 0; i < 8; ++i) {
        tap->setGain(i % 2 == 0 ? 2.0F : 0.1F);
        hardware_.runIOCycle(tap->aggregateID(), inList, outList);
    }
    EXPECT_EQ(counter.count(), 0U);
}

TEST_F(AppTapTest, GainChangesWhileTheIOThreadRunsStayInRange) {
    auto tap = makeTap(1.0F);
    const AudioObjectID aggregateID = tap->aggregateID();
    std::atomic<bool> running{true};
    std::atomic<bool> outOfRange{false};
    std::atomic<int> cycles{0};
    std::thread io([&] {
        BufferList in;
        in.add(2, 128);
        in.fill(0, [](std::size_t f, std::size_t) { return f % 2 == 0 ? 0.3F : -0.3F; });
        BufferList out;
        out.add(2, 128);
        while (running.load()) {
            hardware_.runIOCycle(aggregateID, in.list(), out.list());
            for (const float s : out.samples(0)) {
                if (!(s >= -1.0F && s <= 1.0F)) {
                    outOfRange.store(true);
                }
            }
            cycles.fetch_add(1);
        }
    });
    const float gains[] = {0.0F, 4.0F, kNaN, 2.0F, -kInf, 1e9F, 0.7F};
    for (int i = 0; i < 2000 || cycles.load() < 50; ++i) {
        tap->setGain(gains[static_cast<std::size_t>(i) % std::size(gains)]);
    }
    // Destroying the tap while cycles run: the IO proc is gone before the gain state.
    tap.reset();
    const int afterStop = cycles.load();
    while (cycles.load() < afterStop + 5) {
        std::this_thread::yield();
    }
    running.store(false);
    io.join();
    EXPECT_FALSE(outOfRange.load());
    EXPECT_EQ(hardware_.ioProcCount(), 0U);
}

} // namespace
} // namespace corvalle
