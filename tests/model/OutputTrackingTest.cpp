#include "ModelHarness.h"

#include <gtest/gtest.h>

namespace corvalle {
namespace {

using test::drainEvents;
using test::ModelHarness;

std::vector<AudioObjectID> deviceIDs(const MixerModel& model) {
    std::vector<AudioObjectID> ids;
    for (const OutputDevice& device : model.outputDevices()) {
        ids.push_back(device.id);
    }
    return ids;
}

class OutputTracking : public ::testing::Test {
protected:
    ModelHarness world;
};

// The fields are assigned, and signal, at every refresh; the device list only when
// its IDs change and the rows only when they do, so neither the picker nor the
// rows are rebuilt for nothing. A refused change and an
// unreadable default are CommandLineTest's and MixerViewTest's, where they are shown.
TEST_F(OutputTracking, TheOutputFieldsAreFilledAtOnceAndFollowEveryRefresh) {
    world.addProcess(10, "org.player", true);
    const AudioObjectID nameless = world.hardware.addDevice({.uid = "x", .name = std::nullopt});
    world.hardware.addDevice({.uid = "mic", .name = "Microphone", .outputStreams = 0});
    world.model = std::make_unique<MixerModel>(world.environment());
    MixerModel& model = *world.model;
    // Before any event has run.
    EXPECT_EQ(model.outputID(), world.speakers);
    EXPECT_EQ(model.outputName(), QStringLiteral("Speakers"));
    EXPECT_EQ(deviceIDs(model), (std::vector<AudioObjectID>{world.speakers, nameless}));
    EXPECT_EQ(model.outputDevices()[1].name, QStringLiteral("Device %1").arg(nameless));
    EXPECT_EQ(model.apps().size(), 1U);
    drainEvents();

    std::map<std::size_t, int> emitted;
    const auto signalList = {&MixerModel::appsChanged, &MixerModel::outputIDChanged,
                             &MixerModel::outputNameChanged, &MixerModel::outputDevicesChanged};
    for (std::size_t i = 0; const auto signal : signalList) {
        QObject::connect(&model, signal, [&emitted, i] { ++emitted[i]; });
        ++i;
    }
    world.hardware.renameDevice(world.speakers, "Loudspeakers");
    world.refresh();
    EXPECT_EQ(model.outputName(), QStringLiteral("Loudspeakers"));
    EXPECT_EQ(model.outputDevices()[0].name, QStringLiteral("Speakers")) << "names alone are kept";

    const AudioObjectID usb = world.hardware.addDevice({.uid = "usb", .name = "USB"});
    EXPECT_EQ(model.selectOutput(usb), noErr);
    EXPECT_EQ(deviceIDs(model), (std::vector<AudioObjectID>{world.speakers, nameless, usb}));
    EXPECT_EQ(model.outputDevices()[0].name, QStringLiteral("Loudspeakers"));
    EXPECT_EQ(model.outputID(), usb);
    EXPECT_EQ(model.outputName(), QStringLiteral("USB"));
    EXPECT_EQ(emitted, (std::map<std::size_t, int>{{1, 2}, {2, 2}, {3, 1}}));

    world.addProcess(11, "org.other", true);
    world.refresh();
    world.refresh();
    EXPECT_EQ(emitted[0], 1) << "one new row, one signal";
}

} // namespace
} // namespace corvalle
