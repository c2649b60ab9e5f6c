#include "CA.h"

#include "CAError.h"
#include "SimulatedAudioHardware.h"

#include <climits>
#include <gtest/gtest.h>

namespace corvalle {
namespace {

struct ListCase {
    const char* name;
    OSStatus sizeStatus;
    std::uint32_t size;
    OSStatus dataStatus;
    std::vector<AudioObjectID> expected;
    std::vector<std::uint32_t> requested; // byte counts CA passes to the data call
};

// Answers every property with the size of a case and the IDs 100, 101, ... that fit
// the destination; CA makes no other call.
class ScriptedList final : public AudioHardware {
public:
    explicit ScriptedList(ListCase c) : case_(std::move(c)) {}
    std::vector<std::uint32_t> requestedDataSizes;

    OSStatus getPropertyDataSize(AudioObjectID, const AudioObjectPropertyAddress&,
                                 std::uint32_t* outDataSize) override {
        *outDataSize = case_.size;
        return case_.sizeStatus;
    }
    OSStatus getPropertyData(AudioObjectID, const AudioObjectPropertyAddress&,
                             std::uint32_t* ioDataSize, void* outData) override {
        requestedDataSizes.push_back(*ioDataSize);
        for (std::uint32_t i = 0; (i + 1) * 4 <= *ioDataSize; ++i) {
            static_cast<AudioObjectID*>(outData)[i] = 100 + i;
        }
        return case_.dataStatus;
    }
    OSStatus setPropertyData(AudioObjectID, const AudioObjectPropertyAddress&, std::uint32_t,
                             const void*) override {
        return -1;
    }
    OSStatus addPropertyListener(AudioObjectID, const AudioObjectPropertyAddress&,
                                 AudioObjectPropertyListenerBlock) override {
        return -1;
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

private:
    ListCase case_;
};

class CATest : public ::testing::Test {
protected:
    CATest() : hardware_(nullptr) {}

    SimulatedAudioHardware hardware_;
};

TEST(CAError, DescribesWhatFailedWithTheSignedStatus) {
    EXPECT_STREQ(CAError("Create IO proc", -50).what(), "Create IO proc failed (OSStatus -50)");
    const CAError error("Create process tap", INT32_MIN);
    EXPECT_EQ(error.description(), "Create process tap failed (OSStatus -2147483648)");
    EXPECT_EQ(error.status(), INT32_MIN);
}

TEST_F(CATest, GetFallsBackOnFailureAndKeepsItsRestForAShortValue) {
    const auto process = hardware_.addProcess(SimProcess{0x01020304, std::nullopt, false});
    EXPECT_EQ(CA::get<std::int32_t>(hardware_, process, kAudioProcessPropertyPID, -1), 0x01020304);
    EXPECT_EQ(CA::get<std::int32_t>(hardware_, 999, kAudioProcessPropertyPID, -1), -1);
    EXPECT_EQ(CA::get<std::uint64_t>(hardware_, process, kAudioProcessPropertyPID,
                                     0xAAAAAAAA'BBBBBBBBULL),
              0xAAAAAAAA'01020304ULL);
    hardware_.setPropertyFailure(process, kAudioProcessPropertyPID, kAudioHardwareBadObjectError);
    EXPECT_EQ(CA::get<std::int32_t>(hardware_, process, kAudioProcessPropertyPID, -1), -1);
    ScriptedList writesThenFails(ListCase{"", noErr, 4, -1, {}, {}});
    EXPECT_EQ(CA::get<std::uint32_t>(writesThenFails, 5, kAudioProcessPropertyPID, 7U), 7U);
}

TEST_F(CATest, StringIsAnOwnedCopyOrAbsent) {
    const auto device = hardware_.addDevice(SimDevice{"", "Desk \xE2\x80\x93 Speakers", 1, 0});
    EXPECT_EQ(CA::deviceName(hardware_, device), "Desk \xE2\x80\x93 Speakers");
    EXPECT_EQ(CA::deviceUID(hardware_, device), "") << "an empty string is a string";
    EXPECT_EQ(CA::string(hardware_, 4711, kAudioObjectPropertyName), std::nullopt);
    hardware_.setNullString(device, kAudioObjectPropertyName, true);
    EXPECT_EQ(CA::deviceName(hardware_, device), std::nullopt);
    hardware_.setPropertyFailure(device, kAudioDevicePropertyDeviceUID, -1);
    EXPECT_EQ(CA::deviceUID(hardware_, device), std::nullopt);
}

class CAObjectList : public ::testing::TestWithParam<ListCase> {};

TEST_P(CAObjectList, HoldsWholeIDsOrNothing) {
    ScriptedList scripted(GetParam());
    EXPECT_EQ(CA::objectList(scripted, CA::system, kAudioHardwarePropertyDevices),
              GetParam().expected);
    EXPECT_EQ(scripted.requestedDataSizes, GetParam().requested);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CAObjectList,
    ::testing::Values(ListCase{"Three", noErr, 12, noErr, {100, 101, 102}, {12}},
                      ListCase{"SizeZeroMakesNoDataCall", noErr, 0, noErr, {}, {}},
                      ListCase{"SizeBelowOneIDMakesNoDataCall", noErr, 3, noErr, {}, {}},
                      ListCase{"RaggedSizeAsksForWholeIDsOnly", noErr, 10, noErr, {100, 101}, {8}},
                      ListCase{"SizeFails", -1, 12, noErr, {}, {}},
                      ListCase{"DataFails", noErr, 12, -1, {}, {12}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(CATest, DefaultOutputFallsBackToNone) {
    const auto speakers = hardware_.addDevice(SimDevice{"spk", "Speakers", 2, 0});
    EXPECT_EQ(CA::defaultOutputDevice(hardware_), 0U);
    CA::setDefaultOutputDevice(hardware_, speakers);
    EXPECT_EQ(CA::defaultOutputDevice(hardware_), speakers);
    hardware_.setPropertyFailure(CA::system, kAudioHardwarePropertyDefaultOutputDevice, -1);
    EXPECT_EQ(CA::defaultOutputDevice(hardware_), 0U);
}

struct DeviceCase {
    const char* name;
    SimDevice device;
    bool uidUnreadable;
    bool listed;
};

class CAOutputDevices : public CATest, public ::testing::WithParamInterface<DeviceCase> {};

TEST_P(CAOutputDevices, ListsOutputsThatAreNotOursInOrder) {
    const DeviceCase& c = GetParam();
    const auto before = hardware_.addDevice(SimDevice{"before", "Before", 1, 0});
    const auto device = hardware_.addDevice(c.device);
    const auto after = hardware_.addDevice(SimDevice{"after", "After", 1, 0});
    if (c.uidUnreadable) {
        hardware_.setPropertyFailure(device, kAudioDevicePropertyDeviceUID, -1);
    }
    const auto expected =
        c.listed ? std::vector{before, device, after} : std::vector{before, after};
    EXPECT_EQ(CA::outputDevices(hardware_), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CAOutputDevices,
    ::testing::Values(
        DeviceCase{"Duplex", SimDevice{"duplex", "D", 1, 1}, false, true},
        DeviceCase{"InputOnly", SimDevice{"mic", "M", 0, 2}, false, false},
        DeviceCase{"NoStreams", SimDevice{"none", "N", 0, 0}, false, false},
        DeviceCase{"OurPrefix", SimDevice{"Corvalle-1234", "O", 1, 0}, false, false},
        DeviceCase{"LowerCasePrefix", SimDevice{"corvalle-1", "L", 1, 0}, false, true},
        DeviceCase{"UpperCasePrefix", SimDevice{"CORVALLE-1", "U", 1, 0}, false, true},
        DeviceCase{"NoDash", SimDevice{"Corvalle1234", "N", 1, 0}, false, true},
        DeviceCase{"PrefixInside", SimDevice{"x-Corvalle-1", "I", 1, 0}, false, true},
        DeviceCase{"NullUID", SimDevice{std::nullopt, "N", 1, 0}, false, true},
        DeviceCase{"UnreadableUID", SimDevice{"Corvalle-1", "U", 1, 0}, true, true}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

} // namespace
} // namespace corvalle
