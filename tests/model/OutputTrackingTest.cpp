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

namespace corvalle {
namespace {

using namespace Qt::StringLiterals;

// A player opted in to a level for each output, beside one that is not, with
// speakers (the default) and headphones.
class LevelPerOutput : public ::testing::Test {
protected:
    LevelPerOutput() {
        headphones = world.hardware.addDevice({.uid = "headphones", .name = "Headphones"});
        world.addApp(10, kPlayer, u"Player"_s, true);
        world.addApp(11, kOther, u"Other"_s, true);
        world.start();
        world.model->setLevelPerOutput(true, kPlayer);
        world.model->setVolume(0.5, kPlayer);
        world.model->setVolume(2.0, kOther);
    }
    void hear(AudioObjectID device) {
        world.hardware.setDefaultOutput(device);
        world.refresh();
    }
    // The player's level as its tap plays it, mute included, and the other's.
    std::pair<std::optional<float>, std::optional<float>> gains() const {
        return {world.model->tapGain(kPlayer), world.model->tapGain(kOther)};
    }

    static inline const QString kPlayer = u"org.player"_s;
    static inline const QString kOther = u"org.other"_s;
    test::ModelHarness world;
    AudioObjectID headphones = kAudioObjectUnknown;
};

TEST_F(LevelPerOutput, EachDeviceKeepsItsOwnLevelAndOthersKeepTheirOne) {
    EXPECT_EQ(world.model->setting(kPlayer).levelOutput, u"speakers"_s);
    // A device never heard on starts at the level it had.
    hear(headphones);
    EXPECT_EQ(gains(), std::pair(std::optional(0.5F), std::optional(2.0F)));
    world.model->setVolume(1.5, kPlayer);
    world.model->toggleMute(kPlayer);
    hear(world.speakers);
    EXPECT_EQ(gains(), std::pair(std::optional(0.5F), std::optional(2.0F)));
    EXPECT_FALSE(world.model->setting(kPlayer).muted);
    hear(headphones);
    EXPECT_EQ(gains(), std::pair(std::optional(0.0F), std::optional(2.0F)));
    world.model->toggleMute(kPlayer);
    EXPECT_EQ(world.model->tapGain(kPlayer), 1.5F);

    // An output chosen for it is where it is heard, at once and while present;
    // once it is gone, the default again.
    world.model->setOutput(u"speakers"_s, kPlayer);
    EXPECT_EQ(world.model->tapGain(kPlayer), 0.5F);
    world.hardware.removeDevice(world.speakers);
    world.refresh();
    EXPECT_EQ(world.model->tapGain(kPlayer), 1.5F);

    // Opting out forgets the other devices: the present level holds everywhere.
    world.model->setLevelPerOutput(false, kPlayer);
    const AudioObjectID speakers =
        world.hardware.addDevice({.uid = "speakers", .name = "Speakers"});
    hear(speakers);
    EXPECT_EQ(world.model->tapGain(kPlayer), 1.5F);
    EXPECT_TRUE(world.model->setting(kPlayer).outputLevels.empty());
}

// A full level is tapped while another device has a level of its own, so that
// a new default never hears the old level first; not once every level is full.
TEST_F(LevelPerOutput, AFullLevelKeepsItsTapWhileAnotherDeviceHasItsOwn) {
    hear(headphones);
    world.model->setVolume(1.0, kPlayer);
    EXPECT_EQ(world.model->tapGain(kPlayer), 1.0F);
    hear(world.speakers);
    EXPECT_EQ(world.model->tapGain(kPlayer), 0.5F);
    world.model->setVolume(1.0, kPlayer);
    EXPECT_FALSE(world.model->tapGain(kPlayer).has_value());
    world.model->toggleMute(kPlayer);
    hear(headphones);
    EXPECT_EQ(world.model->tapGain(kPlayer), 1.0F);
}

TEST_F(LevelPerOutput, TheLevelsOutliveARestartOnAnotherDevice) {
    hear(headphones);
    world.model->setVolume(3.0, kPlayer);
    hear(world.speakers);
    world.model.reset();
    world.hardware.setDefaultOutput(headphones);
    world.start();
    EXPECT_EQ(gains(), std::pair(std::optional(3.0F), std::optional(2.0F)));
    hear(world.speakers);
    EXPECT_EQ(world.model->tapGain(kPlayer), 0.5F);
    EXPECT_EQ(world.model->setting(kPlayer).outputLevels.at(u"headphones"_s),
              (OutputLevel{3.0, false}));
}

} // namespace
} // namespace corvalle
