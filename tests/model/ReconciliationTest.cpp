#include "ModelHarness.h"

#include <gtest/gtest.h>

namespace corvalle {
namespace {

using test::drainEvents;

const QString kPlayer = QStringLiteral("org.player");
const QString kOther = QStringLiteral("org.other");

// Two playing applications, Player and Other, with a model running.
class Controls : public ::testing::Test {
protected:
    Controls() {
        process = world.addApp(100, kPlayer, QStringLiteral("Player"), true);
        world.addApp(200, kOther, QStringLiteral("Other"), true);
        world.start();
    }

    MixerModel& model() { return *world.model; }

    std::size_t calls(SimCall call) const { return world.hardware.callCount(call); }

    test::ModelHarness world;
    AudioObjectID process = kAudioObjectUnknown;
};

TEST_F(Controls, VolumeIsClampedAndMuteIsGainZeroOnTheSameTap) {
    for (const auto& [requested, stored] :
         {std::pair{-0.3, 0.0}, {5.0, 4.0}, {0.994, 0.994}, {1.006, 1.006}}) {
        model().setVolume(requested, kPlayer);
        EXPECT_EQ(model().setting(kPlayer), AppSetting({stored, false, QStringLiteral("Player")}));
        EXPECT_EQ(model().tapGain(kPlayer), static_cast<float>(stored)) << requested;
    }
    model().toggleMute(kPlayer);
    model().setVolume(2.0, kPlayer);
    EXPECT_EQ(model().setting(kPlayer), AppSetting({2.0, true, QStringLiteral("Player")}));
    EXPECT_EQ(model().tapGain(kPlayer), 0.0F);
    EXPECT_EQ(calls(SimCall::createProcessTap), 1U) << "gain changes never rebuild the tap";

    model().setVolume(1.0, kPlayer);
    model().toggleMute(kPlayer);
    EXPECT_TRUE(model().settings().empty()) << "muting twice returns to the default";
    EXPECT_FALSE(model().hasTap(kPlayer));
    for (const double nearlyFull : {1.003, 0.996}) {
        model().setVolume(0.5, kPlayer);
        model().setVolume(nearlyFull, kPlayer);
        EXPECT_TRUE(model().settings().empty()) << "within half a percent of full is the default";
        EXPECT_FALSE(model().hasTap(kPlayer)) << nearlyFull;
    }
    EXPECT_TRUE(world.hardware.taps().empty());
}

TEST_F(Controls, FailuresNameTheGroupAndALaterSuccessClearsThem) {
    world.hardware.setCallFailure(SimCall::createProcessTap, kAudioParamError);
    model().setVolume(0.5, kPlayer);
    EXPECT_EQ(model().lastError(),
              QStringLiteral("Player: Create process tap failed (OSStatus -50)"));
    EXPECT_FALSE(model().hasTap(kPlayer));

    world.hardware.setCallFailure(SimCall::createProcessTap, noErr);
    // A reset that removes nothing still saves and runs a pass, which retries.
    const int writes = world.store.writeCount();
    model().reset(QStringLiteral("org.none"));
    EXPECT_EQ(world.store.writeCount(), writes + 1);
    EXPECT_TRUE(model().hasTap(kPlayer));
    EXPECT_EQ(model().lastError(), std::nullopt);
}

TEST_F(Controls, TheProcessSetDecidesWhetherATapIsRebuilt) {
    model().setVolume(0.5, kPlayer);
    world.responsible[101] = 100;
    const AudioObjectID helper = world.addProcess(101, std::nullopt, false);
    drainEvents();
    ASSERT_EQ(world.hardware.taps().size(), 1U);
    EXPECT_EQ(world.hardware.taps().begin()->second.description.processes,
              (std::vector<AudioObjectID>{process, helper}));
    EXPECT_EQ(calls(SimCall::createProcessTap), 2U);

    world.hardware.moveProcess(helper, 0);
    world.refresh();
    EXPECT_EQ(calls(SimCall::createProcessTap), 2U) << "the same set in another order";
    EXPECT_EQ(model().tapGain(kPlayer), 0.5F);
}

TEST_F(Controls, ANewOutputDeviceRebuildsEveryTapAndAMissingUIDChangesNone) {
    model().setVolume(0.5, kPlayer);
    model().setVolume(2.0, kOther);
    const AudioObjectID headphones =
        world.hardware.addDevice({.uid = "headphones", .name = "Headphones"});
    world.hardware.setDefaultOutput(headphones);
    drainEvents();
    ASSERT_EQ(world.hardware.aggregates().size(), 2U);
    for (const auto& [id, aggregate] : world.hardware.aggregates()) {
        EXPECT_EQ(aggregate.description.mainSubDevice, "headphones");
    }
    EXPECT_EQ(model().tapGain(kOther), 2.0F);

    world.hardware.setPropertyFailure(headphones, kAudioDevicePropertyDeviceUID,
                                      kAudioHardwareBadObjectError);
    model().setVolume(3.0, kPlayer);
    model().reset(kOther);
    EXPECT_EQ(world.store.data(QStringLiteral("appSettings")),
              QByteArray(R"({"org.player":{"volume":3,"muted":false,"name":"Player"}})"));
    EXPECT_EQ(model().tapGain(kPlayer), 0.5F) << "not changed";
    EXPECT_TRUE(model().hasTap(kOther)) << "not stopped";
}

TEST_F(Controls, StopAllDoesNotBlockLaterPasses) {
    model().setVolume(0.5, kPlayer);
    model().toggleMute(kOther);
    model().stopAll();
    EXPECT_TRUE(world.hardware.taps().empty());
    EXPECT_EQ(world.hardware.ioProcCount(), 0U);
    world.refresh();
    EXPECT_EQ(model().tapCount(), 2U);
    EXPECT_EQ(model().tapGain(kOther), 0.0F);
}

// Where a chosen output's sound goes, tapped or not and while the device is away,
// is measured on a real session (OwnOutputTest); here, what is remembered.
TEST_F(Controls, AChosenOutputAloneIsRememberedAndAResetForgetsIt) {
    world.hardware.addDevice({.uid = "headphones", .name = "Headphones"});
    drainEvents();
    // An audio system that refuses the send (restarting, say) gets it again later.
    world.hardware.setCallFailure(SimCall::setPropertyData, kAudioHardwareNotRunningError);
    model().setOutput(QStringLiteral("headphones"), kPlayer);
    drainEvents();
    EXPECT_EQ(model().setting(kPlayer).output, QStringLiteral("headphones"));
    EXPECT_EQ(world.hardware.sentTo(process), "");
    world.hardware.setCallFailure(SimCall::setPropertyData, noErr);
    world.refresh();
    EXPECT_EQ(world.hardware.sentTo(process), "headphones");
    EXPECT_FALSE(model().hasTap(kPlayer)) << "at 100 % the streams are sent, not tapped";

    model().reset(kPlayer);
    drainEvents();
    EXPECT_FALSE(model().settings().contains(kPlayer)) << "nothing left to remember";
    EXPECT_EQ(world.hardware.sentTo(process), "");
}

// A tap counts as made once created; a server that later gives up on starting
// it says so through the aggregate, and the model reports it as a failed start.
TEST_F(Controls, ATapWhoseStartTheServerGivesUpOnIsDroppedAndTold) {
    model().setVolume(0.5, kPlayer);
    ASSERT_TRUE(model().hasTap(kPlayer));
    ASSERT_EQ(world.hardware.aggregates().size(), 1U);
    const AudioObjectID aggregate = world.hardware.aggregates().begin()->first;
    world.hardware.failDevice(aggregate);
    drainEvents();
    EXPECT_FALSE(model().hasTap(kPlayer));
    EXPECT_TRUE(world.hardware.aggregates().empty());
    EXPECT_TRUE(world.hardware.taps().empty());
    EXPECT_EQ(model().lastError(), QStringLiteral("Player: Start device failed (OSStatus %1)")
                                       .arg(kAudioHardwareNotRunningError));

    world.refresh();
    ASSERT_TRUE(model().hasTap(kPlayer)) << "the next refresh tries again";
    EXPECT_FALSE(model().lastError().has_value());
    // A late word about the aggregate that is gone leaves the new tap alone.
    world.hardware.failDevice(aggregate);
    drainEvents();
    EXPECT_TRUE(model().hasTap(kPlayer));
}

} // namespace
} // namespace corvalle
