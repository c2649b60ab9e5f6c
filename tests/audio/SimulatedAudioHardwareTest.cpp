#include "SimulatedAudioHardware.h"

#include "CA.h"

#include <deque>
#include <functional>
#include <gtest/gtest.h>

namespace corvalle {
namespace {

TEST(SimulatedAudioHardware, EachChangeFiresItsOwnPropertyThroughThePoster) {
    std::deque<std::function<void()>> queue;
    SimulatedAudioHardware hardware([&](std::function<void()> task) { queue.push_back(task); });
    const auto device = hardware.addDevice(SimDevice{"d", "D", 1, 0});
    const auto process = hardware.addProcess(SimProcess{5, std::nullopt, false});
    queue.clear();
    const AudioObjectPropertySelector selectors[] = {
        kAudioHardwarePropertyDevices, kAudioHardwarePropertyDefaultOutputDevice,
        kAudioHardwarePropertyProcessObjectList, kAudioProcessPropertyIsRunningOutput,
        kAudioObjectPropertyName};
    std::vector<int> fired(std::size(selectors), 0);
    for (std::size_t i = 0; i < fired.size(); ++i) {
        const AudioObjectID object = i == 3 ? process : (i == 4 ? device : CA::system);
        hardware.addPropertyListener(
            object, CA::address(selectors[i]),
            [&fired, &selectors, i](std::uint32_t n, const AudioObjectPropertyAddress* a) {
                EXPECT_EQ(n, 1U);
                EXPECT_EQ(a[0].selector, selectors[i]);
                ++fired[i];
            });
    }
    const struct {
        const char* change;
        std::function<void()> make;
        std::vector<int> fired; // in the order of `selectors`
    } steps[] = {
        {"add device", [&] { hardware.addDevice(SimDevice{}); }, {1, 0, 0, 0, 0}},
        {"set default", [&] { hardware.setDefaultOutput(device); }, {1, 1, 0, 0, 0}},
        {"add process", [&] { hardware.addProcess(SimProcess{}); }, {1, 1, 1, 0, 0}},
        {"running", [&] { hardware.setRunningOutput(process, true); }, {1, 1, 1, 1, 0}},
        {"move process", [&] { hardware.moveProcess(process, 1); }, {1, 1, 2, 1, 0}},
        {"rename", [&] { hardware.renameDevice(device, "New"); }, {1, 1, 2, 1, 1}},
        {"bundle ID", [&] { hardware.setBundleID(process, "b"); }, {1, 1, 2, 1, 1}},
        {"remove process", [&] { hardware.removeProcess(process); }, {1, 1, 3, 1, 1}},
        {"write default", [&] { CA::setDefaultOutputDevice(hardware, device); }, {1, 2, 3, 1, 1}},
        {"remove default", [&] { hardware.removeDevice(device); }, {2, 3, 3, 1, 1}},
    };
    for (const auto& step : steps) {
        const std::vector<int> before = fired;
        step.make();
        EXPECT_EQ(fired, before) << step.change << ": never inside the change itself";
        while (!queue.empty()) {
            queue.front()();
            queue.pop_front();
        }
        EXPECT_EQ(fired, step.fired) << step.change;
    }
}

} // namespace
} // namespace corvalle
