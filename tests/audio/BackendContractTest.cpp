// What every backend answers alike: the same cases run against the simulated
// system (unit) and against a private PipeWire session (pipewire), so that the
// model and the tests written on the simulator see the answers of the real one.
#include "CA.h"

#ifdef CORVALLE_CONTRACT_ON_PIPEWIRE
#include "PipeWireAudioHardware.h"
#include "PwTestKit.h"
#else
#include "SimulatedAudioHardware.h"
#endif

#include <algorithm>
#include <bit>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace corvalle {
namespace {

using namespace std::chrono_literals;

constexpr AudioObjectID kNoSuchObject = 0x7FFF0000;
constexpr const char* kTapUUID = "0C0FFEE0-1234-4321-ABCD-00000000C0DE";

// One backend as the cases see it: a system with two outputs, the first (UID
// "speakers") the default, and a playing process.
class Backend {
public:
    virtual ~Backend() = default;
    virtual AudioHardware& hardware() = 0;
    virtual AudioObjectID process() = 0;
    // The system names no output as the default, as while none is there.
    virtual void clearDefaultOutput() = 0;
    // Checks `condition` until it holds or the backend's settling time has
    // passed, with the listener calls posted so far run before each check.
    virtual bool eventually(const std::function<bool()>& condition) = 0;
};

#ifdef CORVALLE_CONTRACT_ON_PIPEWIRE
class PipeWireBackend final : public Backend {
public:
    PipeWireBackend() {
        EXPECT_TRUE(session_.isRunning());
        EXPECT_TRUE(hardware_->waitUntilConnected(5000));
        EXPECT_TRUE(eventually([&] {
            process_ = test::processObjectOf(*hardware_, player_.pid());
            return process_ != kAudioObjectUnknown;
        }));
    }
    ~PipeWireBackend() override {
        hardware_.reset();
        queue_.drain();
    }
    PipeWireBackend(const PipeWireBackend&) = delete;
    PipeWireBackend& operator=(const PipeWireBackend&) = delete;

    AudioHardware& hardware() override { return *hardware_; }
    AudioObjectID process() override { return process_; }
    // The session manager may make a stand-in sink when the last one goes, so
    // the default is pointed at no device instead.
    void clearDefaultOutput() override {
        ASSERT_EQ(session_.run("pw-metadata 0 default.audio.sink '{\"name\":\"nowhere\"}' "
                               "Spa:String:JSON >/dev/null"),
                  0);
    }
    bool eventually(const std::function<bool()>& condition) override {
        return test::eventually(
            [&] {
                queue_.drain();
                return condition();
            },
            5s);
    }

private:
    test::PipeWireSession session_;
    test::ChildProcess player_{{test::testPlayerPath()}};
    test::TaskQueue queue_;
    std::unique_ptr<PipeWireAudioHardware> hardware_ =
        std::make_unique<PipeWireAudioHardware>(queue_.poster());
    AudioObjectID process_ = kAudioObjectUnknown;
};
using BackendUnderTest = PipeWireBackend;
#else
class SimulatedBackend final : public Backend {
public:
    SimulatedBackend() {
        hardware_.setDefaultOutput(
            hardware_.addDevice(SimDevice{"speakers", "Test Speakers", 1, 0}));
        hardware_.addDevice(SimDevice{"headphones", "Test Headphones", 1, 0});
        process_ = hardware_.addProcess(SimProcess{4242, "org.example.Player", true});
    }

    AudioHardware& hardware() override { return hardware_; }
    AudioObjectID process() override { return process_; }
    void clearDefaultOutput() override { hardware_.setDefaultOutput(kAudioObjectUnknown); }
    // Without a poster the simulator calls its listeners at once.
    bool eventually(const std::function<bool()>& condition) override { return condition(); }
    SimulatedAudioHardware& simulator() { return hardware_; }

private:
    SimulatedAudioHardware hardware_{nullptr};
    AudioObjectID process_ = kAudioObjectUnknown;
};
using BackendUnderTest = SimulatedBackend;
#endif

OSStatus querySize(AudioHardware& hardware, AudioObjectID objectID,
                   const AudioObjectPropertyAddress& address, std::uint32_t& size) {
    size = 0;
    return hardware.getPropertyDataSize(objectID, address, &size);
}

// The value of a 4-byte property, with the status of its read.
struct Read {
    OSStatus status = noErr;
    std::uint32_t value = 0xDEADBEEF;
};

Read read4Bytes(AudioHardware& hardware, AudioObjectID objectID,
                const AudioObjectPropertyAddress& address) {
    Read r;
    std::uint32_t size = sizeof(r.value);
    r.status = hardware.getPropertyData(objectID, address, &size, &r.value);
    return r;
}

TapDescription describeTap(AudioObjectID process) {
    return {.processes = {process}, .uuid = kTapUUID, .name = "Player", .isPrivate = true};
}

// The tap's aggregate on the speakers.
AggregateDeviceDescription describeAggregate() {
    return {.name = "Player via Corvalle",
            .uid = std::string(CA::kPrivateDeviceUIDPrefix) + kTapUUID,
            .mainSubDevice = "speakers",
            .isPrivate = true,
            .subDevices = {{"speakers"}},
            .taps = {{true, kTapUUID}}};
}

OSStatus turnMeteringOn(AudioHardware& hardware, AudioObjectID process) {
    const std::uint32_t on = 1;
    return hardware.setPropertyData(process, CA::address(kAudioProcessPropertyPeakMetering),
                                    sizeof(on), &on);
}

bool contains(const std::vector<AudioObjectID>& ids, AudioObjectID id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// A missing place for a result or a missing block is the caller's mistake, told
// apart from what the system refuses (IllegalOperation).
void nullArgumentsAreParameterErrors(Backend& backend) {
    AudioHardware& hardware = backend.hardware();
    const auto devices = CA::address(kAudioHardwarePropertyDevices);
    std::uint32_t size = 64;
    std::uint32_t data[16] = {};
    const TapDescription tap = describeTap(backend.process());
    const AggregateDeviceDescription aggregate = describeAggregate();
    const AudioDeviceIOBlock block = [](const AudioTimeStamp*, const AudioBufferList*,
                                        const AudioTimeStamp*, AudioBufferList*,
                                        const AudioTimeStamp*) {};
    const struct {
        const char* call;
        std::function<OSStatus()> make;
    } cases[] = {
        {"size query without a size",
         [&] { return hardware.getPropertyDataSize(CA::system, devices, nullptr); }},
        {"read without a size",
         [&] { return hardware.getPropertyData(CA::system, devices, nullptr, data); }},
        {"read without a destination",
         [&] { return hardware.getPropertyData(CA::system, devices, &size, nullptr); }},
        {"listener without a block",
         [&] { return hardware.addPropertyListener(CA::system, devices, {}); }},
        {"tap without a place for its ID", [&] { return hardware.createProcessTap(tap, nullptr); }},
        {"aggregate without a place for its ID",
         [&] { return hardware.createAggregateDevice(aggregate, nullptr); }},
        {"IO proc without a place for its ID",
         [&] { return hardware.createIOProcIDWithBlock(kNoSuchObject, block, nullptr); }},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.make(), kAudioParamError) << c.call;
    }
}

// An object that is not there is told apart from a property an object lacks.
void unknownObjectsAndPropertiesAreToldApart(Backend& backend) {
    AudioHardware& hardware = backend.hardware();
    const AudioObjectID device = CA::defaultOutputDevice(hardware);
    ASSERT_NE(device, kAudioObjectUnknown);
    const struct {
        const char* what;
        AudioObjectID object;
        AudioObjectPropertySelector selector;
        OSStatus status;
    } cases[] = {
        {"system, unknown selector", CA::system, fourCC("zzzz"),
         kAudioHardwareUnknownPropertyError},
        {"device, a process's PID", device, kAudioProcessPropertyPID,
         kAudioHardwareUnknownPropertyError},
        {"process, a device's streams", backend.process(), kAudioDevicePropertyStreams,
         kAudioHardwareUnknownPropertyError},
        {"no such object, UID", kNoSuchObject, kAudioDevicePropertyDeviceUID,
         kAudioHardwareBadObjectError},
        {"no such object, level", kNoSuchObject, kAudioProcessPropertyOutputPeak,
         kAudioHardwareBadObjectError},
    };
    for (const auto& c : cases) {
        std::uint32_t size = 0;
        EXPECT_EQ(querySize(hardware, c.object, CA::address(c.selector), size), c.status) << c.what;
        EXPECT_EQ(read4Bytes(hardware, c.object, CA::address(c.selector)).status, c.status)
            << c.what;
    }
}

void shortValuesAreBadSizes(Backend& backend) {
    AudioHardware& hardware = backend.hardware();
    const auto defaultOutput = CA::address(kAudioHardwarePropertyDefaultOutputDevice);
    const AudioObjectID device = CA::defaultOutputDevice(hardware);
    ASSERT_NE(device, kAudioObjectUnknown);
    std::uint64_t destination = 0;
    const struct {
        const char* what;
        std::function<OSStatus()> call;
    } cases[] = {
        {"default output into 2 bytes",
         [&] {
             std::uint32_t size = 2;
             return hardware.getPropertyData(CA::system, defaultOutput, &size, &destination);
         }},
        {"UID into 4 bytes",
         [&] {
             std::uint32_t size = 4;
             return hardware.getPropertyData(device, CA::address(kAudioDevicePropertyDeviceUID),
                                             &size, &destination);
         }},
        {"default output from 2 bytes",
         [&] { return hardware.setPropertyData(CA::system, defaultOutput, 2, &device); }},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.call(), kAudioHardwareBadPropertySizeError) << c.what;
    }
    EXPECT_EQ(CA::defaultOutputDevice(hardware), device);
}

// The default is one of the outputs offered; without one, it reads as
// kAudioObjectUnknown, a value and not a failure.
void theDefaultOutputIsAnOfferedDeviceOrUnknown(Backend& backend) {
    AudioHardware& hardware = backend.hardware();
    const auto defaultOutput = CA::address(kAudioHardwarePropertyDefaultOutputDevice);
    const AudioObjectID device = CA::defaultOutputDevice(hardware);
    EXPECT_TRUE(contains(CA::outputDevices(hardware), device)) << device;
    backend.clearDefaultOutput();
    Read r;
    EXPECT_TRUE(backend.eventually([&] {
        r = read4Bytes(hardware, CA::system, defaultOutput);
        return r.status != noErr || r.value == kAudioObjectUnknown;
    }));
    EXPECT_EQ(r.status, noErr);
    EXPECT_EQ(r.value, kAudioObjectUnknown);
    std::uint32_t size = 0;
    EXPECT_EQ(querySize(hardware, CA::system, defaultOutput, size), noErr);
    EXPECT_EQ(size, sizeof(AudioObjectID));
}

// Aggregates name a tap by its description's UUID; it has no name of its own.
void aTapIsKnownByItsUUIDAlone(Backend& backend) {
    AudioHardware& hardware = backend.hardware();
    AudioObjectID tap = kAudioObjectUnknown;
    ASSERT_EQ(hardware.createProcessTap(describeTap(backend.process()), &tap), noErr);
    EXPECT_EQ(CA::string(hardware, tap, kAudioDevicePropertyDeviceUID), kTapUUID);
    std::uint32_t size = 0;
    EXPECT_EQ(querySize(hardware, tap, CA::address(kAudioDevicePropertyDeviceUID), size), noErr);
    EXPECT_EQ(size, sizeof(AudioStringRef));
    EXPECT_EQ(querySize(hardware, tap, CA::address(kAudioObjectPropertyName), size),
              kAudioHardwareUnknownPropertyError);
    EXPECT_EQ(read4Bytes(hardware, tap, CA::address(kAudioObjectPropertyName)).status,
              kAudioHardwareUnknownPropertyError);
    EXPECT_EQ(hardware.destroyProcessTap(tap), noErr);
    EXPECT_EQ(CA::string(hardware, tap, kAudioDevicePropertyDeviceUID), std::nullopt);
    EXPECT_EQ(hardware.destroyProcessTap(tap), kAudioHardwareBadObjectError);
}

// Our aggregate is a device of the system while it exists, with one output
// stream, but never one of the outputs offered.
void anAggregateIsListedWhileItLivesButNeverOffered(Backend& backend) {
    AudioHardware& hardware = backend.hardware();
    int deviceListChanges = 0;
    ASSERT_EQ(hardware.addPropertyListener(
                  CA::system, CA::address(kAudioHardwarePropertyDevices),
                  [&](std::uint32_t, const AudioObjectPropertyAddress*) { ++deviceListChanges; }),
              noErr);
    const std::vector<AudioObjectID> offered = CA::outputDevices(hardware);
    AudioObjectID tap = kAudioObjectUnknown;
    ASSERT_EQ(hardware.createProcessTap(describeTap(backend.process()), &tap), noErr);
    const AggregateDeviceDescription description = describeAggregate();
    AudioObjectID aggregate = kAudioObjectUnknown;
    ASSERT_EQ(hardware.createAggregateDevice(description, &aggregate), noErr);
    const auto devices = [&] {
        return CA::objectList(hardware, CA::system, kAudioHardwarePropertyDevices);
    };
    EXPECT_TRUE(contains(devices(), aggregate));
    EXPECT_TRUE(backend.eventually([&] { return deviceListChanges > 0; }));
    EXPECT_EQ(CA::deviceUID(hardware, aggregate), description.uid);
    EXPECT_EQ(CA::deviceName(hardware, aggregate), description.name);
    std::uint32_t size = 0;
    EXPECT_EQ(querySize(hardware, aggregate,
                        CA::address(kAudioDevicePropertyStreams, kAudioObjectPropertyScopeOutput),
                        size),
              noErr);
    EXPECT_EQ(size, sizeof(AudioObjectID));
    EXPECT_EQ(CA::outputDevices(hardware), offered);

    deviceListChanges = 0;
    EXPECT_EQ(hardware.destroyAggregateDevice(aggregate), noErr);
    EXPECT_FALSE(contains(devices(), aggregate));
    EXPECT_TRUE(backend.eventually([&] { return deviceListChanges > 0; }));
    EXPECT_EQ(read4Bytes(hardware, aggregate, CA::address(kAudioDevicePropertyDeviceUID)).status,
              kAudioHardwareBadObjectError);
    EXPECT_EQ(hardware.destroyAggregateDevice(aggregate), kAudioHardwareBadObjectError);
    EXPECT_EQ(hardware.destroyProcessTap(tap), noErr);
}

// A level and the period of its measurement are four bytes each, asked for
// like any other property; a level reads 0 to 1.
void aLevelIsAFourByteValue(Backend& backend) {
    AudioHardware& hardware = backend.hardware();
    const AudioObjectID process = backend.process();
    ASSERT_EQ(turnMeteringOn(hardware, process), noErr);
    const struct {
        AudioObjectID object;
        AudioObjectPropertySelector selector;
    } cases[] = {
        {process, kAudioProcessPropertyOutputPeak},
        {CA::system, kAudioHardwarePropertyPeakPeriod},
    };
    for (const auto& c : cases) {
        std::uint32_t size = 0;
        EXPECT_EQ(querySize(hardware, c.object, CA::address(c.selector), size), noErr)
            << c.selector;
        EXPECT_EQ(size, 4U) << c.selector;
        EXPECT_EQ(read4Bytes(hardware, c.object, CA::address(c.selector)).status, noErr)
            << c.selector;
    }
    const float peak = std::bit_cast<float>(
        read4Bytes(hardware, process, CA::address(kAudioProcessPropertyOutputPeak)).value);
    EXPECT_GE(peak, 0.0F);
    EXPECT_LE(peak, 1.0F);
}

struct ContractCase {
    const char* name;
    void (*check)(Backend&);
};

const ContractCase kCases[] = {
    {"NullArgumentsAreParameterErrors", nullArgumentsAreParameterErrors},
    {"UnknownObjectsAndPropertiesAreToldApart", unknownObjectsAndPropertiesAreToldApart},
    {"ShortValuesAreBadSizes", shortValuesAreBadSizes},
    {"TheDefaultOutputIsAnOfferedDeviceOrUnknown", theDefaultOutputIsAnOfferedDeviceOrUnknown},
    {"ATapIsKnownByItsUUIDAlone", aTapIsKnownByItsUUIDAlone},
    {"AnAggregateIsListedWhileItLivesButNeverOffered",
     anAggregateIsListedWhileItLivesButNeverOffered},
    {"ALevelIsAFourByteValue", aLevelIsAFourByteValue},
};

// Names the case in gtest's messages.
void PrintTo(const ContractCase& c, std::ostream* os) {
    *os << c.name;
}

class BackendContractTest : public ::testing::TestWithParam<ContractCase> {};

TEST_P(BackendContractTest, Holds) {
    BackendUnderTest backend;
    ASSERT_NE(backend.process(), kAudioObjectUnknown);
    GetParam().check(backend);
}

INSTANTIATE_TEST_SUITE_P(Cases, BackendContractTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ContractCase>& param) {
                             return std::string(param.param.name);
                         });

#ifndef CORVALLE_CONTRACT_ON_PIPEWIRE
// The simulator holds a played peak until it is read: asking for the size of
// the level is not reading it.
TEST(SimulatedLevelTest, OnlyAReadStartsTheLevelOver) {
    SimulatedBackend backend;
    SimulatedAudioHardware& hardware = backend.simulator();
    const AudioObjectID process = backend.process();
    ASSERT_EQ(turnMeteringOn(hardware, process), noErr);
    hardware.playPeak(process, 0.5F);
    const auto peak = CA::address(kAudioProcessPropertyOutputPeak);
    std::uint32_t size = 0;
    ASSERT_EQ(querySize(hardware, process, peak, size), noErr);
    const float expected[] = {0.5F, 0.0F};
    for (const float value : expected) {
        float read = -1.0F;
        size = sizeof(read);
        ASSERT_EQ(hardware.getPropertyData(process, peak, &size, &read), noErr);
        EXPECT_EQ(read, value);
    }
}
#endif

} // namespace
} // namespace corvalle
