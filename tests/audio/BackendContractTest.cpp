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
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace corvalle {
namespace {

using namespace std::chrono_literals;

constexpr AudioObjectID kNoSuchObject = 0x7FFF0000;
constexpr const char* kTapUUID = "0C0FFEE0-1234-4321-ABCD-00000000C0DE";

// One backend as the cases see it: a system with two outputs, the first (UID
// "speakers") the default, and a playing process. clearDefaultOutput() makes the
// system name no output as the default, as while none is there; eventually()
// checks a condition until it holds or the backend's settling time has passed,
// with the listener calls posted so far run before each check.
#ifdef CORVALLE_CONTRACT_ON_PIPEWIRE
class BackendUnderTest {
public:
    BackendUnderTest() {
        EXPECT_TRUE(session_.isRunning());
        EXPECT_TRUE(hardware_->waitUntilConnected(5000));
        EXPECT_TRUE(eventually([&] {
            process_ = test::processObjectOf(*hardware_, player_.pid());
            return process_ != kAudioObjectUnknown;
        }));
    }
    ~BackendUnderTest() {
        hardware_.reset();
        queue_.drain();
    }
    BackendUnderTest(const BackendUnderTest&) = delete;
    BackendUnderTest& operator=(const BackendUnderTest&) = delete;

    AudioHardware& hardware() { return *hardware_; }
    AudioObjectID process() { return process_; }
    // The session manager may make a stand-in sink when the last one goes, so
    // the default is pointed at no device instead.
    void clearDefaultOutput() {
        ASSERT_EQ(session_.run("pw-metadata 0 default.audio.sink '{\"name\":\"nowhere\"}' "
                               "Spa:String:JSON >/dev/null"),
                  0);
    }
    bool eventually(const std::function<bool()>& condition) {
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
#else
class BackendUnderTest {
public:
    BackendUnderTest() {
        hardware_.setDefaultOutput(
            hardware_.addDevice(SimDevice{"speakers", "Test Speakers", 1, 0}));
        hardware_.addDevice(SimDevice{"headphones", "Test Headphones", 1, 0});
        process_ = hardware_.addProcess(SimProcess{4242, "org.example.Player", true});
    }

    AudioHardware& hardware() { return hardware_; }
    AudioObjectID process() { return process_; }
    void clearDefaultOutput() { hardware_.setDefaultOutput(kAudioObjectUnknown); }
    // Without a poster the simulator calls its listeners at once.
    bool eventually(const std::function<bool()>& condition) { return condition(); }

private:
    SimulatedAudioHardware hardware_{nullptr};
    AudioObjectID process_ = kAudioObjectUnknown;
};
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

bool contains(const std::vector<AudioObjectID>& ids, AudioObjectID id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

class BackendContract : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(backend.process(), kAudioObjectUnknown); }

    BackendUnderTest backend;
    AudioHardware& hardware = backend.hardware();
};

// A missing place for a result or a missing block is the caller's mistake, told
// apart from what the system refuses (IllegalOperation).
TEST_F(BackendContract, NullArgumentsAreParameterErrors) {
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
TEST_F(BackendContract, UnknownObjectsAndPropertiesAreToldApart) {
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

TEST_F(BackendContract, ShortValuesAreBadSizes) {
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
TEST_F(BackendContract, TheDefaultOutputIsAnOfferedDeviceOrUnknown) {
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
TEST_F(BackendContract, ATapIsKnownByItsUUIDAlone) {
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
TEST_F(BackendContract, AnAggregateIsListedWhileItLivesButNeverOffered) {
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

} // namespace
} // namespace corvalle
