#include "CA.h"

#include "SimulatedAudioHardware.h"

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
    SimulatedAudioHardware hardware_{nullptr};
};

// CAError's texts are checked where taps fail (AppTapTest) and report (ReconciliationTest).
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

TEST(CAObjectList, HoldsWholeIDsOrNothing) {
    const ListCase cases[] = {
        {"three", noErr, 12, noErr, {100, 101, 102}, {12}},
        {"size zero makes no data call", noErr, 0, noErr, {}, {}},
        {"size below one ID makes no data call", noErr, 3, noErr, {}, {}},
        {"a ragged size asks for whole IDs only", noErr, 10, noErr, {100, 101}, {8}},
        {"size fails", -1, 12, noErr, {}, {}},
        {"data fails", noErr, 12, -1, {}, {12}},
    };
    for (const ListCase& c : cases) {
        ScriptedList scripted(c);
        EXPECT_EQ(CA::objectList(scripted, CA::system, kAudioHardwarePropertyDevices), c.expected)
            << c.name;
        EXPECT_EQ(scripted.requestedDataSizes, c.requested) << c.name;
    }
}

// Listed: outputs that are not ours, in order; ours carry the exact "Corvalle-" prefix.
TEST(CAOutputDevices, AreTheOutputsThatAreNotOursInOrder) {
    const struct {
        SimDevice device;
        bool uidUnreadable = false;
        bool listed = false;
    } cases[] = {
        {SimDevice{"duplex", "D", 1, 1}, false, true},
        {SimDevice{"mic", "M", 0, 2}, false, false},
        {SimDevice{"Corvalle-1234", "O", 1, 0}, false, false},
        {SimDevice{"corvalle-1", "L", 1, 0}, false, true},
        {SimDevice{"Corvalle1234", "N", 1, 0}, false, true},
        {SimDevice{"x-Corvalle-1", "I", 1, 0}, false, true},
        {SimDevice{std::nullopt, "N", 1, 0}, false, true},
        {SimDevice{"Corvalle-1", "U", 1, 0}, true, true},
    };
    for (const auto& c : cases) {
        SimulatedAudioHardware hardware(nullptr);
        const auto before = hardware.addDevice(SimDevice{"before", "Before", 1, 0});
        const auto device = hardware.addDevice(c.device);
        const auto after = hardware.addDevice(SimDevice{"after", "After", 1, 0});
        if (c.uidUnreadable) {
            hardware.setPropertyFailure(device, kAudioDevicePropertyDeviceUID, -1);
        }
        const auto expected =
            c.listed ? std::vector{before, device, after} : std::vector{before, after};
        EXPECT_EQ(CA::outputDevices(hardware), expected)
            << c.device.uid.value_or("(null)") << (c.uidUnreadable ? " unreadable" : "");
    }
}

} // namespace
} // namespace corvalle
