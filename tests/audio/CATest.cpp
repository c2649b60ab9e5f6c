#include "CA.h"

#include "CAError.h"
#include "SimulatedAudioHardware.h"

#include <climits>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>

namespace corvalle {
namespace {

// Answers property calls from test-supplied functions; the other calls are never used by CA.
class ScriptedHardware final : public AudioHardware {
public:
    std::function<OSStatus(std::uint32_t*)> size;
    std::function<OSStatus(std::uint32_t*, void*)> data;
    std::vector<std::uint32_t> requestedDataSizes;

    OSStatus getPropertyDataSize(AudioObjectID, const AudioObjectPropertyAddress&,
                                 std::uint32_t* outDataSize) override {
        return size(outDataSize);
    }
    OSStatus getPropertyData(AudioObjectID, const AudioObjectPropertyAddress&,
                             std::uint32_t* ioDataSize, void* outData) override {
        requestedDataSizes.push_back(*ioDataSize);
        return data(ioDataSize, outData);
    }
    OSStatus setPropertyData(AudioObjectID, const AudioObjectPropertyAddress&, std::uint32_t,
                             const void*) override {
        return kAudioHardwareIllegalOperationError;
    }
    OSStatus addPropertyListener(AudioObjectID, const AudioObjectPropertyAddress&,
                                 AudioObjectPropertyListenerBlock) override {
        return kAudioHardwareIllegalOperationError;
    }
    OSStatus createProcessTap(const TapDescription&, AudioObjectID*) override { return -1; }
    OSStatus destroyProcessTap(AudioObjectID) override { return -1; }
    OSStatus createAggregateDevice(const AggregateDeviceDescription&, AudioObjectID*) override {
        return -1;
    }
    OSStatus destroyAggregateDevice(AudioObjectID) override { return -1; }
    OSStatus createIOProcIDWithBlock(AudioObjectID, AudioDeviceIOBlock,
                                     AudioDeviceIOProcID*) override {
        return -1;
    }
    OSStatus destroyIOProcID(AudioObjectID, AudioDeviceIOProcID) override { return -1; }
    OSStatus deviceStart(AudioObjectID, AudioDeviceIOProcID) override { return -1; }
    OSStatus deviceStop(AudioObjectID, AudioDeviceIOProcID) override { return -1; }
};

class CATest : public ::testing::Test {
protected:
    CATest() : hardware_(nullptr) {}

    SimulatedAudioHardware hardware_;
};

// --- CAError --------------------------------------------------------------------

struct ErrorCase {
    const char* what;
    OSStatus status;
    const char* text;
};

class CAErrorText : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(CAErrorText, IsWhatFailedAndTheSignedStatus) {
    const auto [what, status, text] = GetParam();
    const CAError error(what, status);
    EXPECT_EQ(error.description(), text);
    EXPECT_STREQ(error.what(), text);
    EXPECT_EQ(error.operation(), what);
    EXPECT_EQ(error.status(), status);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CAErrorText,
    ::testing::Values(ErrorCase{"Create IO proc", -50, "Create IO proc failed (OSStatus -50)"},
                      ErrorCase{"Start device", 0, "Start device failed (OSStatus 0)"},
                      ErrorCase{"Create process tap", INT32_MIN,
                                "Create process tap failed (OSStatus -2147483648)"},
                      ErrorCase{"Create aggregate device", kAudioHardwareIllegalOperationError,
                                "Create aggregate device failed (OSStatus 1852797029)"}));

TEST(CAErrorThrow, IsCaughtAsAStandardError) {
    try {
        throw CAError("Start device", -1);
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "Start device failed (OSStatus -1)");
    }
}

// --- addresses and typed reads ------------------------------------------------------

TEST(CAAddress, IsGlobalElementZeroUnlessScoped) {
    EXPECT_EQ(CA::address(kAudioHardwarePropertyDevices),
              (AudioObjectPropertyAddress{fourCC("dev#"), fourCC("glob"), 0}));
    EXPECT_EQ(CA::address(kAudioDevicePropertyStreams, kAudioObjectPropertyScopeOutput),
              (AudioObjectPropertyAddress{fourCC("stm#"), fourCC("outp"), 0}));
    EXPECT_EQ(fourCC("dOut"), 0x644F7574U);
}

TEST_F(CATest, GetReadsAProcessProperty) {
    const auto process = hardware_.addProcess(SimProcess{-7, std::nullopt, true});
    EXPECT_EQ(CA::get<std::int32_t>(hardware_, process, kAudioProcessPropertyPID, 99), -7);
    EXPECT_EQ(CA::get<std::uint32_t>(hardware_, process, kAudioProcessPropertyIsRunningOutput, 0U),
              1U);
}

TEST_F(CATest, FailedGetReturnsExactlyTheFallback) {
    const auto process = hardware_.addProcess(SimProcess{321, std::nullopt, false});
    hardware_.setPropertyFailure(process, kAudioProcessPropertyPID, kAudioHardwareBadObjectError);
    EXPECT_EQ(CA::get<std::int32_t>(hardware_, process, kAudioProcessPropertyPID, -1), -1);
    EXPECT_EQ(CA::get<std::int32_t>(hardware_, 999, kAudioProcessPropertyPID, -1), -1);
    EXPECT_EQ(CA::get<std::int32_t>(hardware_, CA::system, fourCC("none"), 17), 17);
}

TEST_F(CATest, ShorterValueKeepsTheRestOfTheFallback) {
    const auto process = hardware_.addProcess(SimProcess{0x01020304, std::nullopt, false});
    const auto value = CA::get<std::uint64_t>(hardware_, process, kAudioProcessPropertyPID,
                                              0xAAAAAAAA'BBBBBBBBULL);
    EXPECT_EQ(value, 0xAAAAAAAA'01020304ULL);
}

TEST_F(CATest, StringsAreOwnedCopiesOrAbsent) {
    const auto named = hardware_.addDevice(SimDevice{"uid-1", "Desk Speakers", 1, 0});
    const auto unnamed = hardware_.addDevice(SimDevice{"", std::nullopt, 1, 0});
    EXPECT_EQ(CA::deviceName(hardware_, named), "Desk Speakers");
    EXPECT_EQ(CA::deviceUID(hardware_, named), "uid-1");
    EXPECT_EQ(CA::deviceUID(hardware_, unnamed), "") << "an empty string is a string";
    EXPECT_EQ(CA::deviceName(hardware_, unnamed), std::nullopt) << "a null string is absent";

    hardware_.setNullString(named, kAudioObjectPropertyName, true);
    EXPECT_EQ(CA::deviceName(hardware_, named), std::nullopt);
    hardware_.setNullString(named, kAudioObjectPropertyName, false);
    hardware_.setPropertyFailure(named, kAudioDevicePropertyDeviceUID, -1);
    EXPECT_EQ(CA::deviceUID(hardware_, named), std::nullopt);
    EXPECT_EQ(CA::string(hardware_, 4711, kAudioObjectPropertyName), std::nullopt);
    EXPECT_EQ(CA::string(hardware_, named, kAudioObjectPropertyName), "Desk Speakers");
}

TEST_F(CATest, StringReadAsksForOneReference) {
    ScriptedHardware scripted;
    scripted.data = [](std::uint32_t* size, void* out) {
        AudioStringRef ref = new std::string("näme \xE2\x80\x93 with dash");
        std::memcpy(out, &ref, sizeof ref);
        *size = sizeof ref;
        return noErr;
    };
    EXPECT_EQ(CA::string(scripted, 5, kAudioObjectPropertyName), "näme – with dash");
    EXPECT_EQ(scripted.requestedDataSizes, std::vector<std::uint32_t>{8});
}

// --- object lists -------------------------------------------------------------------

TEST_F(CATest, ObjectListFollowsTheSystemOrder) {
    const auto a = hardware_.addProcess(SimProcess{10, std::nullopt, false});
    const auto b = hardware_.addProcess(SimProcess{11, std::nullopt, false});
    const auto c = hardware_.addProcess(SimProcess{12, std::nullopt, false});
    hardware_.moveProcess(c, 0);
    EXPECT_EQ(CA::objectList(hardware_, CA::system, kAudioHardwarePropertyProcessObjectList),
              (std::vector{c, a, b}));
}

struct ListCase {
    const char* name;
    OSStatus sizeStatus;
    std::uint32_t size;
    OSStatus dataStatus;
    std::uint32_t written; // IDs the backend writes
    std::vector<AudioObjectID> expected;
    std::vector<std::uint32_t> requested; // byte counts CA passes to the data call
};

class CAObjectList : public ::testing::TestWithParam<ListCase> {};

TEST_P(CAObjectList, FallsBackToEmpty) {
    const ListCase& c = GetParam();
    ScriptedHardware scripted;
    scripted.size = [&](std::uint32_t* size) {
        *size = c.size;
        return c.sizeStatus;
    };
    scripted.data = [&](std::uint32_t* size, void* out) {
        auto* ids = static_cast<AudioObjectID*>(out);
        for (std::uint32_t i = 0; i < c.written && (i + 1) * 4 <= *size; ++i) {
            ids[i] = 100 + i;
        }
        *size = c.written * 4;
        return c.dataStatus;
    };
    EXPECT_EQ(CA::objectList(scripted, CA::system, kAudioHardwarePropertyDevices), c.expected);
    EXPECT_EQ(scripted.requestedDataSizes, c.requested);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CAObjectList,
    ::testing::Values(ListCase{"Three", noErr, 12, noErr, 3, {100, 101, 102}, {12}},
                      ListCase{"SizeZeroMakesNoDataCall", noErr, 0, noErr, 0, {}, {}},
                      ListCase{"SizeFails", -1, 12, noErr, 3, {}, {}},
                      ListCase{"DataFails", noErr, 12, -1, 3, {}, {12}},
                      ListCase{"SizeBelowOneID", noErr, 3, noErr, 0, {}, {}},
                      ListCase{
                          "RaggedSizeAsksForWholeIDsOnly", noErr, 10, noErr, 2, {100, 101}, {8}},
                      ListCase{"ShortAnswerKeepsZeros", noErr, 12, noErr, 1, {100, 0, 0}, {12}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// --- default output --------------------------------------------------------------------

TEST_F(CATest, DefaultOutputIsReadAndWritten) {
    const auto speakers = hardware_.addDevice(SimDevice{"spk", "Speakers", 2, 0});
    const auto headphones = hardware_.addDevice(SimDevice{"hp", "Headphones", 1, 0});
    EXPECT_EQ(CA::defaultOutputDevice(hardware_), 0U);
    hardware_.setDefaultOutput(speakers);
    EXPECT_EQ(CA::defaultOutputDevice(hardware_), speakers);
    CA::setDefaultOutputDevice(hardware_, headphones);
    const SimCallRecord last = hardware_.calls().back();
    EXPECT_EQ(last.call, SimCall::setPropertyData);
    EXPECT_EQ(last.objectID, CA::system);
    EXPECT_EQ(last.selector, kAudioHardwarePropertyDefaultOutputDevice);
    EXPECT_EQ(CA::defaultOutputDevice(hardware_), headphones);
}

TEST_F(CATest, RefusedOrFailedDefaultOutputIsSilent) {
    const auto speakers = hardware_.addDevice(SimDevice{"spk", "Speakers", 2, 0});
    const auto headphones = hardware_.addDevice(SimDevice{"hp", "Headphones", 1, 0});
    hardware_.setDefaultOutput(speakers);
    hardware_.setAcceptsDefaultOutputChange(false);
    EXPECT_NO_THROW(CA::setDefaultOutputDevice(hardware_, headphones));
    EXPECT_EQ(CA::defaultOutputDevice(hardware_), speakers);
    hardware_.setPropertyFailure(CA::system, kAudioHardwarePropertyDefaultOutputDevice, -1);
    EXPECT_EQ(CA::defaultOutputDevice(hardware_), 0U);
}

// --- output devices ---------------------------------------------------------------------

struct DeviceCase {
    const char* name;
    SimDevice device;
    bool listed;
};

class CAOutputDevices : public CATest, public ::testing::WithParamInterface<DeviceCase> {};

TEST_P(CAOutputDevices, ListsOnlyOutputsThatAreNotOurs) {
    const auto before = hardware_.addDevice(SimDevice{"before", "Before", 1, 0});
    const auto device = hardware_.addDevice(GetParam().device);
    const auto after = hardware_.addDevice(SimDevice{"after", "After", 1, 0});
    const auto expected =
        GetParam().listed ? std::vector{before, device, after} : std::vector{before, after};
    EXPECT_EQ(CA::outputDevices(hardware_), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CAOutputDevices,
    ::testing::Values(DeviceCase{"Output", SimDevice{"out", "Out", 1, 0}, true},
                      DeviceCase{"Duplex", SimDevice{"duplex", "Duplex", 1, 1}, true},
                      DeviceCase{"InputOnly", SimDevice{"mic", "Mic", 0, 2}, false},
                      DeviceCase{"NoStreams", SimDevice{"none", "None", 0, 0}, false},
                      DeviceCase{"OurPrefix", SimDevice{"Corvalle-1234", "Ours", 1, 0}, false},
                      DeviceCase{"OurPrefixAlone", SimDevice{"Corvalle-", "Ours", 1, 0}, false},
                      DeviceCase{"LowerCasePrefix", SimDevice{"corvalle-1234", "L", 1, 0}, true},
                      DeviceCase{"UpperCasePrefix", SimDevice{"CORVALLE-1234", "U", 1, 0}, true},
                      DeviceCase{"NoDash", SimDevice{"Corvalle1234", "N", 1, 0}, true},
                      DeviceCase{"PrefixInside", SimDevice{"x-Corvalle-1", "I", 1, 0}, true},
                      DeviceCase{"NullUID", SimDevice{std::nullopt, "Null", 1, 0}, true},
                      DeviceCase{"EmptyUID", SimDevice{"", "Empty", 1, 0}, true}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(CATest, UnreadableUIDIsListedAndFailingStreamsSkipped) {
    const auto unreadable = hardware_.addDevice(SimDevice{"Corvalle-x", "U", 1, 0});
    const auto broken = hardware_.addDevice(SimDevice{"b", "B", 1, 0});
    hardware_.setPropertyFailure(unreadable, kAudioDevicePropertyDeviceUID, -1);
    hardware_.setPropertyFailure(broken, kAudioDevicePropertyStreams, -1);
    EXPECT_EQ(CA::outputDevices(hardware_), std::vector{unreadable});
}

TEST_F(CATest, EmptyDeviceListMakesNoFurtherCalls) {
    hardware_.clearCalls();
    EXPECT_TRUE(CA::outputDevices(hardware_).empty());
    ASSERT_EQ(hardware_.callCount(), 1U);
    EXPECT_EQ(hardware_.calls()[0].call, SimCall::getPropertyDataSize);
    EXPECT_EQ(hardware_.calls()[0].selector, kAudioHardwarePropertyDevices);
}

TEST_F(CATest, FailingDeviceListIsEmpty) {
    hardware_.addDevice(SimDevice{"a", "A", 1, 0});
    hardware_.setPropertyFailure(CA::system, kAudioHardwarePropertyDevices,
                                 kAudioHardwareUnspecifiedError);
    EXPECT_TRUE(CA::outputDevices(hardware_).empty());
}

TEST_F(CATest, OurAggregateDevicesAreLeftOut) {
    const auto speakers = hardware_.addDevice(SimDevice{"spk", "Speakers", 1, 0});
    AggregateDeviceDescription ours;
    ours.uid = "Corvalle-0000";
    ours.name = "Corvalle \xE2\x80\x93 Player";
    AggregateDeviceDescription foreign;
    foreign.uid = "other-aggregate";
    AudioObjectID oursID = 0;
    AudioObjectID foreignID = 0;
    ASSERT_EQ(hardware_.createAggregateDevice(ours, &oursID), noErr);
    ASSERT_EQ(hardware_.createAggregateDevice(foreign, &foreignID), noErr);
    EXPECT_EQ(CA::outputDevices(hardware_), (std::vector{speakers, foreignID}));
    EXPECT_EQ(CA::deviceName(hardware_, oursID), "Corvalle \xE2\x80\x93 Player");
}

} // namespace
} // namespace corvalle
