#include "AppTap.h"

#include "BufferLists.h"
#include "CAError.h"
#include "SimulatedAudioHardware.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace corvalle {
namespace {

constexpr const char* kOutputUID = "alsa_output.pci-0000_00_1f.3.analog-stereo";

class AppTapTest : public ::testing::Test {
protected:
    AppTapTest() : hardware_(nullptr) {
        hardware_.addDevice(SimDevice{kOutputUID, "Speakers", 1, 0});
        processes_ = {hardware_.addProcess(SimProcess{4242, "org.example.Player", true}),
                      hardware_.addProcess(SimProcess{4243, "org.example.Player", true})};
        hardware_.clearCalls();
    }

    std::unique_ptr<AppTap> makeTap(float gain = 0.5F, const std::string& label = "Player") {
        return std::make_unique<AppTap>(hardware_, processes_, kOutputUID, label, gain);
    }

    std::vector<SimCall> callKinds() const {
        std::vector<SimCall> kinds;
        for (const auto& record : hardware_.calls()) {
            kinds.push_back(record.call);
        }
        return kinds;
    }

    bool nothingLeft() const {
        return hardware_.taps().empty() && hardware_.aggregates().empty() &&
               hardware_.ioProcCount() == 0;
    }

    // The last frame's left sample of one IO cycle of `tap` over a constant input.
    float playCycle(const AppTap& tap, float sample) {
        test::BufferList in;
        in.add(2, 4, sample);
        test::BufferList out;
        out.add(2, 4, 9.0F);
        hardware_.runIOCycle(tap.aggregateID(), in.list(), out.list());
        return out.at(0, 3, 0);
    }

    SimulatedAudioHardware hardware_;
    std::vector<AudioObjectID> processes_;
};

// Flags the audio system's backend never reads (private, muted when tapped, stacked,
// mixdown, sub-devices) are not restated here.
TEST_F(AppTapTest, DescribesATapOfTheProcessesPlayedOnTheOutput) {
    auto tap = makeTap(1.5F, "Music – Ünïcode");
    auto sameLabel = makeTap(1.5F, "Music – Ünïcode");
    const TapDescription& t = hardware_.taps().at(tap->tapID()).description;
    EXPECT_EQ(t.processes, processes_);
    EXPECT_EQ(t.name, "Corvalle \xE2\x80\x93 Music – Ünïcode");
    EXPECT_NE(t.uuid, hardware_.taps().at(sameLabel->tapID()).description.uuid);

    const AggregateDeviceDescription& d = hardware_.aggregates().at(tap->aggregateID()).description;
    EXPECT_EQ(d.name, t.name);
    EXPECT_TRUE(d.uid.starts_with("Corvalle-")) << d.uid;
    EXPECT_NE(d.uid, hardware_.aggregates().at(sameLabel->aggregateID()).description.uid);
    EXPECT_EQ(d.mainSubDevice, kOutputUID);
    ASSERT_EQ(d.taps.size(), 1U);
    EXPECT_EQ(d.taps[0].uid, t.uuid);
    tap.reset();
    sameLabel.reset();
    EXPECT_TRUE(nothingLeft()) << "destruction tears everything down";
}

struct FailureCase {
    const char* name;
    SimCall failing;
    OSStatus status;
    const char* text;
    std::vector<SimCall> expectedCalls; // the failing call, then the teardown
};

class AppTapFailure : public AppTapTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(AppTapFailure, ThrowsTheStepAndTearsDownWhatExists) {
    const FailureCase& c = GetParam();
    hardware_.setCallFailure(c.failing, c.status);
    try {
        makeTap();
        ADD_FAILURE() << "no error";
    } catch (const CAError& error) {
        EXPECT_STREQ(error.what(), c.text);
        EXPECT_EQ(error.status(), c.status);
    }
    EXPECT_EQ(callKinds(), c.expectedCalls);
    EXPECT_TRUE(nothingLeft());
}

using enum SimCall;

// clang-format off
INSTANTIATE_TEST_SUITE_P(Steps, AppTapFailure, ::testing::Values(
    FailureCase{"CreateProcessTap", createProcessTap, -50,
                "Create process tap failed (OSStatus -50)", {createProcessTap}},
    FailureCase{"CreateAggregateDevice", createAggregateDevice, kAudioHardwareUnspecifiedError,
                "Create aggregate device failed (OSStatus 2003329396)",
                {createProcessTap, createAggregateDevice, destroyProcessTap}},
    FailureCase{"CreateIOProc", createIOProcIDWithBlock, -1, "Create IO proc failed (OSStatus -1)",
                {createProcessTap, createAggregateDevice, createIOProcIDWithBlock,
                 destroyAggregateDevice, destroyProcessTap}},
    FailureCase{"StartDevice", deviceStart, kAudioHardwareNotRunningError,
                "Start device failed (OSStatus 1937010544)",
                {createProcessTap, createAggregateDevice, createIOProcIDWithBlock, deviceStart,
                 deviceStop, destroyIOProcID, destroyAggregateDevice, destroyProcessTap}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });
// clang-format on

TEST_F(AppTapTest, StopTearsDownOnceEvenWhenTheSystemRefuses) {
    auto tap = makeTap();
    hardware_.setCallFailure(SimCall::deviceStop, -1);
    hardware_.clearCalls();
    EXPECT_NO_THROW(tap->stop());
    EXPECT_EQ(callKinds(), (std::vector{deviceStop, destroyIOProcID, destroyAggregateDevice,
                                        destroyProcessTap}));
    EXPECT_TRUE(nothingLeft());
    hardware_.clearCalls();
    tap->stop();
    tap.reset();
    EXPECT_TRUE(callKinds().empty()) << "a second stop and the destructor make no calls";
}

// Stored as it is played: NaN and infinities are silence, never the loudest level.
TEST_F(AppTapTest, TheGainIsStoredSafelyAndReachesTheIOCycle) {
    constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
    constexpr float kInf = std::numeric_limits<float>::infinity();
    const std::pair<float, float> cases[] = {{0.5F, 0.5F},    {-0.0F, 0.0F}, {4.0F, 4.0F},
                                             {4.0001F, 4.0F}, {-0.5F, 0.0F}, {kNaN, 0.0F},
                                             {-kNaN, 0.0F},   {kInf, 0.0F},  {-kInf, 0.0F}};
    for (const auto& [requested, stored] : cases) {
        const float played = std::min(0.25F * stored, 1.0F);
        const auto constructed = makeTap(requested);
        EXPECT_EQ(constructed->gain(), stored) << requested;
        EXPECT_EQ(playCycle(*constructed, 0.25F), played) << requested << ": no ramp";

        const auto changed = makeTap(1.0F);
        changed->setGain(requested);
        EXPECT_EQ(changed->gain(), stored) << requested;
        playCycle(*changed, 0.25F);
        EXPECT_EQ(playCycle(*changed, 0.25F), played) << requested;
    }
}

} // namespace
} // namespace corvalle
