#include "ModelHarness.h"

#include <gtest/gtest.h>

namespace corvalle {
namespace {

// Filled before any event has run: a nameless device is named by its ID, one
// without outputs is left out. Following the default and selecting it are
// MixerViewTest's, through the picker; a refused change is CommandLineTest's.
TEST(OutputTracking, TheOutputFieldsAreFilledAtOnce) {
    test::ModelHarness world;
    world.addProcess(10, "org.player", true);
    const AudioObjectID nameless = world.hardware.addDevice({.uid = "x", .name = std::nullopt});
    world.hardware.addDevice({.uid = "mic", .name = "Microphone", .outputStreams = 0});
    world.model = std::make_unique<MixerModel>(world.environment());
    const MixerModel& model = *world.model;
    EXPECT_EQ(model.outputID(), world.speakers);
    EXPECT_EQ(model.outputName(), QStringLiteral("Speakers"));
    ASSERT_EQ(model.outputDevices().size(), 2U);
    EXPECT_EQ(model.outputDevices()[0].id, world.speakers);
    EXPECT_EQ(model.outputDevices()[1].id, nameless);
    EXPECT_EQ(model.outputDevices()[1].name, QStringLiteral("Device %1").arg(nameless));
    EXPECT_EQ(model.apps().size(), 1U);
}

} // namespace
} // namespace corvalle
