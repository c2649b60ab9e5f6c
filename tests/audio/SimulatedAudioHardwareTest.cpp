#include "SimulatedAudioHardware.h"

#include "BufferLists.h"
#include "CA.h"

#include <deque>
#include <functional>
#include <gtest/gtest.h>

namespace corvalle {
namespace {

using test::BufferList;

// A main thread's event loop, drained by the test.
class QueuedPoster {
public:
    MainThreadPoster poster() {
        return [this](std::function<void()> task) { tasks_.push_back(std::move(task)); };
    }
    std::size_t pending() const { return tasks_.size(); }
    void drain() {
        while (!tasks_.empty()) {
            auto task = std::move(tasks_.front());
            tasks_.pop_front();
            task();
        }
    }

private:
    std::deque<std::function<void()>> tasks_;
};

class SimTest : public ::testing::Test {
protected:
    SimTest() : hardware_(queue_.poster()) {}

    // Counts calls of a listener on one property.
    int& listen(AudioObjectID objectID, AudioObjectPropertySelector selector) {
        auto& count = counts_.emplace_back(0);
        EXPECT_EQ(hardware_.addPropertyListener(
                      objectID, CA::address(selector),
                      [&count, selector](std::uint32_t n, const AudioObjectPropertyAddress* a) {
                          EXPECT_EQ(n, 1U);
                          EXPECT_EQ(a[0].selector, selector);
                          ++count;
                      }),
                  noErr);
        return count;
    }

    QueuedPoster queue_;
    SimulatedAudioHardware hardware_;
    std::deque<int> counts_;
};

// --- listeners ---------------------------------------------------------------------

TEST_F(SimTest, ListenersRunOnlyThroughThePoster) {
    int& processes = listen(CA::system, kAudioHardwarePropertyProcessObjectList);
    hardware_.addProcess(SimProcess{1, std::nullopt, false});
    EXPECT_EQ(processes, 0) << "never inside the change itself";
    EXPECT_EQ(queue_.pending(), 1U);
    queue_.drain();
    EXPECT_EQ(processes, 1);
}

TEST(SimNoPoster, RunsListenersAtOnce) {
    SimulatedAudioHardware hardware(nullptr);
    int calls = 0;
    hardware.addPropertyListener(
        CA::system, CA::address(kAudioHardwarePropertyDevices),
        [&](std::uint32_t, const AudioObjectPropertyAddress*) { ++calls; });
    hardware.addDevice(SimDevice{});
    EXPECT_EQ(calls, 1);
}

TEST_F(SimTest, EachChangeFiresItsOwnProperty) {
    const auto device = hardware_.addDevice(SimDevice{"d", "D", 1, 0});
    const auto process = hardware_.addProcess(SimProcess{5, std::nullopt, false});
    queue_.drain();
    int& devices = listen(CA::system, kAudioHardwarePropertyDevices);
    int& defaultOutput = listen(CA::system, kAudioHardwarePropertyDefaultOutputDevice);
    int& processes = listen(CA::system, kAudioHardwarePropertyProcessObjectList);
    int& running = listen(process, kAudioProcessPropertyIsRunningOutput);
    int& name = listen(device, kAudioObjectPropertyName);

    const struct {
        const char* change;
        std::function<void()> make;
        int devices, defaultOutput, processes, running, name;
    } steps[] = {
        {"add device", [&] { hardware_.addDevice(SimDevice{}); }, 1, 0, 0, 0, 0},
        {"set default", [&] { hardware_.setDefaultOutput(device); }, 1, 1, 0, 0, 0},
        {"add process", [&] { hardware_.addProcess(SimProcess{}); }, 1, 1, 1, 0, 0},
        {"running", [&] { hardware_.setRunningOutput(process, true); }, 1, 1, 1, 1, 0},
        {"move process", [&] { hardware_.moveProcess(process, 1); }, 1, 1, 2, 1, 0},
        {"rename", [&] { hardware_.renameDevice(device, "New"); }, 1, 1, 2, 1, 1},
        {"bundle ID", [&] { hardware_.setBundleID(process, "b"); }, 1, 1, 2, 1, 1},
        {"remove process", [&] { hardware_.removeProcess(process); }, 1, 1, 3, 1, 1},
        {"unknown process", [&] { hardware_.setRunningOutput(process, false); }, 1, 1, 3, 1, 1},
        {"write default", [&] { CA::setDefaultOutputDevice(hardware_, device); }, 1, 2, 3, 1, 1},
        // Removing the default device also moves the default.
        {"remove default", [&] { hardware_.removeDevice(device); }, 2, 3, 3, 1, 1},
    };
    for (const auto& step : steps) {
        step.make();
        queue_.drain();
        EXPECT_EQ(devices, step.devices) << step.change;
        EXPECT_EQ(defaultOutput, step.defaultOutput) << step.change;
        EXPECT_EQ(processes, step.processes) << step.change;
        EXPECT_EQ(running, step.running) << step.change;
        EXPECT_EQ(name, step.name) << step.change;
    }
}

// --- the world as properties -------------------------------------------------------

TEST_F(SimTest, RemovedDefaultFallsBackToTheFirstOutput) {
    const auto mic = hardware_.addDevice(SimDevice{"mic", "Mic", 0, 1});
    const auto speakers = hardware_.addDevice(SimDevice{"spk", "Speakers", 1, 0});
    const auto headphones = hardware_.addDevice(SimDevice{"hp", "Headphones", 1, 0});
    hardware_.setDefaultOutput(headphones);
    hardware_.removeDevice(headphones);
    EXPECT_EQ(hardware_.defaultOutput(), speakers);
    hardware_.removeDevice(speakers);
    EXPECT_EQ(hardware_.defaultOutput(), 0U);
    EXPECT_EQ(CA::objectList(hardware_, CA::system, kAudioHardwarePropertyDevices),
              std::vector{mic});
}

struct StatusCase {
    const char* name;
    AudioObjectID object; // 0: the device made by the test
    AudioObjectPropertyAddress address;
    std::uint32_t size;
    OSStatus expected;
};

class SimStatus : public SimTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(SimStatus, BadReadsFailWithTheirStatus) {
    const auto device = hardware_.addDevice(SimDevice{"uid", "Name", 2, 1});
    const StatusCase& c = GetParam();
    const AudioObjectID object = c.object == 0 ? device : c.object;
    std::uint64_t buffer = 0;
    std::uint32_t size = c.size;
    EXPECT_EQ(hardware_.getPropertyData(object, c.address, &size, &buffer), c.expected);
    EXPECT_EQ(buffer, 0U) << "a failed read writes nothing";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimStatus,
    ::testing::Values(StatusCase{"UnknownObject", 4711, CA::address(kAudioObjectPropertyName), 8,
                                 kAudioHardwareBadObjectError},
                      StatusCase{"UnknownSelector", 0, CA::address(fourCC("zzzz")), 8,
                                 kAudioHardwareUnknownPropertyError},
                      StatusCase{"StringTooSmall", 0, CA::address(kAudioDevicePropertyDeviceUID), 4,
                                 kAudioHardwareBadPropertySizeError},
                      StatusCase{"ScalarTooSmall", CA::system,
                                 CA::address(kAudioHardwarePropertyDefaultOutputDevice), 2,
                                 kAudioHardwareBadPropertySizeError}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(SimTest, DefaultOutputWritesAreChecked) {
    const auto mic = hardware_.addDevice(SimDevice{"mic", "Mic", 0, 1});
    const auto speakers = hardware_.addDevice(SimDevice{"spk", "Speakers", 1, 0});
    const auto address = CA::address(kAudioHardwarePropertyDefaultOutputDevice);
    const std::uint16_t shortValue = 1;
    EXPECT_EQ(hardware_.setPropertyData(CA::system, address, 2, &shortValue),
              kAudioHardwareBadPropertySizeError);
    EXPECT_EQ(hardware_.setPropertyData(CA::system, address, 4, &mic),
              kAudioHardwareIllegalOperationError);
    EXPECT_EQ(hardware_.setPropertyData(speakers, address, 4, &speakers),
              kAudioHardwareUnknownPropertyError);
    EXPECT_EQ(hardware_.defaultOutput(), 0U);
    EXPECT_EQ(hardware_.setPropertyData(CA::system, address, 4, &speakers), noErr);
    EXPECT_EQ(hardware_.defaultOutput(), speakers);
}

// --- failures and the call log ---------------------------------------------------------

TEST_F(SimTest, InjectedCallFailuresChangeNothing) {
    hardware_.setCallFailure(SimCall::createAggregateDevice, -50);
    AudioObjectID id = 77;
    EXPECT_EQ(hardware_.createAggregateDevice(AggregateDeviceDescription{}, &id), -50);
    EXPECT_EQ(id, 77U);
    EXPECT_TRUE(hardware_.aggregates().empty());
    hardware_.setCallFailure(SimCall::createAggregateDevice, noErr);
    EXPECT_EQ(hardware_.createAggregateDevice(AggregateDeviceDescription{}, &id), noErr);
    EXPECT_EQ(hardware_.aggregates().size(), 1U);
    EXPECT_EQ(hardware_.callCount(SimCall::createAggregateDevice), 2U);
}

// --- taps, aggregates and IO -------------------------------------------------------------

TEST_F(SimTest, ObjectsExistWhileCreated) {
    AudioObjectID tap = 0;
    AudioObjectID aggregate = 0;
    AudioDeviceIOProcID proc = nullptr;
    ASSERT_EQ(hardware_.createProcessTap(TapDescription{}, &tap), noErr);
    ASSERT_EQ(hardware_.createAggregateDevice(AggregateDeviceDescription{}, &aggregate), noErr);
    EXPECT_EQ(hardware_.createIOProcIDWithBlock(
                  tap, [](auto...) {}, &proc),
              kAudioHardwareBadObjectError)
        << "IO procs live on devices";
    ASSERT_EQ(hardware_.createIOProcIDWithBlock(
                  aggregate, [](auto...) {}, &proc),
              noErr);
    EXPECT_EQ(hardware_.ioProcCount(), 1U);
    EXPECT_EQ(hardware_.destroyAggregateDevice(aggregate), noErr);
    EXPECT_EQ(hardware_.ioProcCount(), 0U) << "a destroyed device takes its IO procs";
    EXPECT_EQ(hardware_.destroyAggregateDevice(aggregate), kAudioHardwareBadObjectError);
    EXPECT_EQ(hardware_.destroyProcessTap(tap), noErr);
    EXPECT_EQ(hardware_.destroyProcessTap(tap), kAudioHardwareBadObjectError);
    EXPECT_TRUE(hardware_.taps().empty());
}

TEST_F(SimTest, IOCyclesRunStartedProcsInOrder) {
    AudioObjectID aggregate = 0;
    ASSERT_EQ(hardware_.createAggregateDevice(AggregateDeviceDescription{}, &aggregate), noErr);
    std::vector<int> order;
    const auto proc = [&](int tag) {
        return [&order, tag](const AudioTimeStamp*, const AudioBufferList* in,
                             const AudioTimeStamp*, AudioBufferList* out, const AudioTimeStamp*) {
            order.push_back(tag);
            static_cast<float*>(out->buffers[0].data)[0] =
                static_cast<const float*>(in->buffers[0].data)[0] + static_cast<float>(tag);
        };
    };
    AudioDeviceIOProcID first = nullptr;
    AudioDeviceIOProcID second = nullptr;
    ASSERT_EQ(hardware_.createIOProcIDWithBlock(aggregate, proc(1), &first), noErr);
    ASSERT_EQ(hardware_.createIOProcIDWithBlock(aggregate, proc(2), &second), noErr);
    EXPECT_NE(first, second);
    BufferList in;
    in.add(1, 1, 0.5F);
    BufferList out;
    out.add(1, 1);

    hardware_.runIOCycle(aggregate, in.list(), out.list());
    EXPECT_TRUE(order.empty()) << "nothing started yet";
    ASSERT_EQ(hardware_.deviceStart(aggregate, second), noErr);
    ASSERT_EQ(hardware_.deviceStart(aggregate, first), noErr);
    ASSERT_EQ(hardware_.deviceStart(aggregate, first), noErr);
    hardware_.runIOCycle(aggregate, in.list(), out.list());
    EXPECT_EQ(order, (std::vector{1, 2})) << "creation order, each once";
    EXPECT_EQ(out.samples(0)[0], 2.5F);
    EXPECT_TRUE(hardware_.isStarted(aggregate, first));

    ASSERT_EQ(hardware_.deviceStop(aggregate, first), noErr);
    EXPECT_FALSE(hardware_.isStarted(aggregate, first));
    order.clear();
    hardware_.runIOCycle(aggregate, in.list(), out.list());
    EXPECT_EQ(order, std::vector{2});
    ASSERT_EQ(hardware_.destroyIOProcID(aggregate, second), noErr);
    EXPECT_EQ(hardware_.deviceStart(aggregate, second), kAudioHardwareBadObjectError);
    order.clear();
    hardware_.runIOCycle(aggregate, in.list(), out.list());
    EXPECT_TRUE(order.empty());
}

} // namespace
} // namespace corvalle
