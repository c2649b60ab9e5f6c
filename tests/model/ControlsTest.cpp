#include "AppTap.h"
#include "ModelHarness.h"

#include <gtest/gtest.h>

namespace corvalle {
namespace {

using test::drainEvents;
using test::ModelHarness;

const QString kPlayer = QStringLiteral("org.player");

// One playing application, Player, with a model running.
class Controls : public ::testing::Test {
protected:
    Controls() {
        process = world.addApp(100, kPlayer, QStringLiteral("Player"), true);
        world.start();
    }

    MixerModel& model() { return *world.model; }

    // The process objects of the one running process tap of the simulated system.
    std::vector<AudioObjectID> tappedProcesses() const {
        EXPECT_EQ(world.hardware.taps().size(), 1U);
        return world.hardware.taps().empty()
                   ? std::vector<AudioObjectID>{}
                   : world.hardware.taps().begin()->second.description.processes;
    }

    std::string aggregateOutput() const {
        EXPECT_EQ(world.hardware.aggregates().size(), 1U);
        return world.hardware.aggregates().empty()
                   ? std::string()
                   : world.hardware.aggregates().begin()->second.description.mainSubDevice;
    }

    ModelHarness world;
    AudioObjectID process = kAudioObjectUnknown;
};

// --- volume, mute, reset ------------------------------------------------------------

TEST_F(Controls, SetVolumeClampsAndKeepsTheMuteFlag) {
    struct Case {
        double requested;
        double stored;
    };
    for (const Case c : {Case{-0.3, 0.0}, Case{5.0, 4.0}, Case{0.0, 0.0}, Case{4.0, 4.0},
                         Case{0.37, 0.37}, Case{1.006, 1.006}}) {
        model().setVolume(c.requested, kPlayer);
        EXPECT_EQ(model().setting(kPlayer).volume, c.stored) << c.requested;
        EXPECT_FALSE(model().setting(kPlayer).muted);
        EXPECT_EQ(model().tapGain(kPlayer), static_cast<float>(c.stored)) << c.requested;
    }
    EXPECT_EQ(world.hardware.taps().size(), 1U) << "gain changes never rebuild the tap";

    model().toggleMute(kPlayer);
    model().setVolume(2.0, kPlayer);
    EXPECT_EQ(model().setting(kPlayer), AppSetting({2.0, true, QStringLiteral("Player")}));
    EXPECT_EQ(model().tapGain(kPlayer), 0.0F);
}

TEST_F(Controls, AVolumeWithinHalfAPercentOfFullRemovesTheEntryAndTheTap) {
    model().setVolume(0.5, kPlayer);
    ASSERT_TRUE(model().hasTap(kPlayer));
    model().setVolume(1.003, kPlayer);
    EXPECT_FALSE(model().settings().contains(kPlayer));
    EXPECT_FALSE(model().hasTap(kPlayer));
    EXPECT_TRUE(world.hardware.taps().empty());
    EXPECT_TRUE(world.hardware.aggregates().empty());

    model().setVolume(0.996, kPlayer);
    EXPECT_FALSE(model().settings().contains(kPlayer));
}

TEST_F(Controls, ToggleMuteTwiceReturnsToTheDefault) {
    model().toggleMute(kPlayer);
    EXPECT_EQ(model().setting(kPlayer), AppSetting({1.0, true, QStringLiteral("Player")}));
    EXPECT_EQ(model().tapGain(kPlayer), 0.0F);
    model().toggleMute(kPlayer);
    EXPECT_TRUE(model().settings().empty());
    EXPECT_FALSE(model().hasTap(kPlayer));
}

TEST_F(Controls, ResetRemovesTheEntryAndTheTap) {
    model().setVolume(3.0, kPlayer);
    model().toggleMute(kPlayer);
    model().reset(kPlayer);
    EXPECT_TRUE(model().settings().empty());
    EXPECT_EQ(model().tapCount(), 0U);
}

TEST_F(Controls, TheStoredNameComesFromTheRowElseFromTheEarlierEntry) {
    model().setVolume(0.5, kPlayer);
    EXPECT_EQ(model().setting(kPlayer).name, QStringLiteral("Player"));

    model().setVolume(0.5, QStringLiteral("org.unlisted"));
    EXPECT_EQ(model().setting(QStringLiteral("org.unlisted")).name, std::nullopt);

    world.hardware.removeProcess(process);
    world.refresh();
    // The setting-only row shows the remembered name, and keeps it.
    model().setVolume(0.25, kPlayer);
    EXPECT_EQ(model().setting(kPlayer).name, QStringLiteral("Player"));
}

TEST_F(Controls, ASettingAloneNeverMakesATap) {
    model().setVolume(0.5, QStringLiteral("org.absent"));
    EXPECT_EQ(model().tapCount(), 0U);
    EXPECT_TRUE(world.hardware.taps().empty());
}

// --- taps follow the process set and the output device ---------------------------

TEST_F(Controls, ANewHelperProcessRebuildsTheTapWithAllProcesses) {
    model().setVolume(0.5, kPlayer);
    world.responsible[101] = 100;
    const AudioObjectID helper = world.addProcess(101, std::nullopt, false);
    drainEvents(); // the process-list notification refreshes on its own
    EXPECT_EQ(tappedProcesses(), (std::vector<AudioObjectID>{process, helper}));
    EXPECT_EQ(world.hardware.callCount(SimCall::createProcessTap), 2U);
    EXPECT_EQ(world.hardware.callCount(SimCall::destroyProcessTap), 1U);

    world.hardware.removeProcess(helper);
    drainEvents();
    EXPECT_EQ(tappedProcesses(), (std::vector<AudioObjectID>{process}));
}

TEST_F(Controls, ReorderedProcessObjectsKeepTheTap) {
    world.responsible[101] = 100;
    world.addProcess(101, std::nullopt, false);
    world.refresh();
    model().setVolume(0.5, kPlayer);
    world.hardware.moveProcess(process, 1);
    world.refresh();
    EXPECT_EQ(world.hardware.callCount(SimCall::createProcessTap), 1U);
    EXPECT_EQ(world.hardware.callCount(SimCall::destroyProcessTap), 0U);
}

TEST_F(Controls, ANewDefaultOutputDeviceRebuildsEveryTapOldOneFirst) {
    world.addApp(200, QStringLiteral("org.other"), QStringLiteral("Other"), true);
    world.refresh();
    model().setVolume(0.5, kPlayer);
    model().setVolume(2.0, QStringLiteral("org.other"));
    const AudioObjectID headphones =
        world.hardware.addDevice({.uid = "headphones", .name = "Headphones"});
    world.hardware.clearCalls();
    world.hardware.setDefaultOutput(headphones);
    drainEvents();

    EXPECT_EQ(model().tapCount(), 2U);
    ASSERT_EQ(world.hardware.aggregates().size(), 2U);
    for (const auto& [id, aggregate] : world.hardware.aggregates()) {
        EXPECT_EQ(aggregate.description.mainSubDevice, "headphones");
    }
    // Both old taps are gone before the first new one is made.
    std::vector<SimCall> order;
    for (const SimCallRecord& record : world.hardware.calls()) {
        if (record.call == SimCall::createProcessTap || record.call == SimCall::destroyProcessTap) {
            order.push_back(record.call);
        }
    }
    EXPECT_EQ(order, (std::vector<SimCall>{SimCall::destroyProcessTap, SimCall::destroyProcessTap,
                                           SimCall::createProcessTap, SimCall::createProcessTap}));
    EXPECT_EQ(model().tapGain(QStringLiteral("org.other")), 2.0F);
}

TEST_F(Controls, WithoutAnOutputUIDChangesAreSavedButTapsAreLeftAlone) {
    model().setVolume(0.5, kPlayer);
    world.hardware.setPropertyFailure(world.speakers, kAudioDevicePropertyDeviceUID,
                                      kAudioHardwareBadObjectError);
    model().setVolume(2.0, kPlayer);
    model().reset(kPlayer);
    EXPECT_TRUE(model().settings().empty());
    EXPECT_EQ(world.store.data(QStringLiteral("appSettings")), QByteArray("{}"));
    EXPECT_TRUE(model().hasTap(kPlayer)) << "not stopped";
    EXPECT_EQ(model().tapGain(kPlayer), 0.5F) << "not changed";

    world.hardware.setPropertyFailure(world.speakers, kAudioDevicePropertyDeviceUID, std::nullopt);
    world.refresh();
    EXPECT_FALSE(model().hasTap(kPlayer));
}

TEST_F(Controls, APassThatChangesNothingOnlyReadsTheDefaultDeviceAndItsUID) {
    world.addApp(200, QStringLiteral("org.other"), QStringLiteral("Other"), true);
    world.refresh();
    model().setVolume(0.5, kPlayer);
    model().toggleMute(QStringLiteral("org.other"));
    world.hardware.clearCalls();

    model().setVolume(0.5, kPlayer);

    std::vector<std::pair<AudioObjectID, AudioObjectPropertySelector>> reads;
    for (const SimCallRecord& record : world.hardware.calls()) {
        EXPECT_EQ(record.call, SimCall::getPropertyData);
        reads.emplace_back(record.objectID, record.selector);
    }
    EXPECT_EQ(reads, (std::vector<std::pair<AudioObjectID, AudioObjectPropertySelector>>{
                         {kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice},
                         {world.speakers, kAudioDevicePropertyDeviceUID}}));
}

// --- failures and stopAll -------------------------------------------------------------

TEST_F(Controls, AFailedCreationIsReportedAndRetriedAtTheNextPass) {
    world.hardware.setCallFailure(SimCall::createProcessTap, kAudioParamError);
    int reported = 0;
    QObject::connect(&model(), &MixerModel::lastErrorChanged, [&] { ++reported; });
    model().setVolume(0.5, kPlayer);
    EXPECT_EQ(model().lastError(),
              QStringLiteral("Player: Create process tap failed (OSStatus -50)"));
    EXPECT_FALSE(model().hasTap(kPlayer));
    EXPECT_TRUE(world.hardware.aggregates().empty());

    world.refresh();
    EXPECT_EQ(reported, 2) << "written again at each attempt";

    world.hardware.setCallFailure(SimCall::createProcessTap, noErr);
    world.hardware.setCallFailure(SimCall::deviceStart, kAudioHardwareNotRunningError);
    world.refresh();
    EXPECT_EQ(model().lastError(), QStringLiteral("Player: Start device failed (OSStatus %1)")
                                       .arg(kAudioHardwareNotRunningError));
    EXPECT_TRUE(world.hardware.taps().empty()) << "nothing left after a failed start";
    EXPECT_TRUE(world.hardware.aggregates().empty());

    world.hardware.setCallFailure(SimCall::deviceStart, noErr);
    world.refresh();
    EXPECT_TRUE(model().hasTap(kPlayer));
    EXPECT_EQ(model().lastError(), std::nullopt);
}

TEST_F(Controls, TheLastFailureOfAPassRemainsAndAnySuccessClearsIt) {
    world.addApp(200, QStringLiteral("org.zzz"), QStringLiteral("Zed"), true);
    world.refresh();
    world.hardware.setCallFailure(SimCall::createAggregateDevice, kAudioParamError);
    model().setVolume(0.5, kPlayer);
    model().setVolume(0.5, QStringLiteral("org.zzz"));
    // Groups are visited in key order: org.zzz comes last.
    EXPECT_EQ(model().lastError(),
              QStringLiteral("Zed: Create aggregate device failed (OSStatus -50)"));

    world.hardware.setCallFailure(SimCall::createAggregateDevice, noErr);
    world.refresh();
    EXPECT_EQ(model().lastError(), std::nullopt);
    EXPECT_EQ(model().tapCount(), 2U);

    // Removing taps or settings does not clear an error.
    world.hardware.setCallFailure(SimCall::createProcessTap, kAudioParamError);
    model().toggleMute(QStringLiteral("org.third"));
    world.addApp(300, QStringLiteral("org.third"), QStringLiteral("Third"), true);
    world.refresh();
    ASSERT_TRUE(model().lastError());
    model().reset(QStringLiteral("org.third"));
    model().stopAll();
    EXPECT_TRUE(model().lastError());
}

TEST_F(Controls, StopAllEndsEveryTapAndTheNextRefreshMakesThemAgain) {
    world.addApp(200, QStringLiteral("org.other"), QStringLiteral("Other"), true);
    world.refresh();
    model().setVolume(0.5, kPlayer);
    model().setVolume(3.0, QStringLiteral("org.other"));
    model().stopAll();
    EXPECT_EQ(model().tapCount(), 0U);
    EXPECT_TRUE(world.hardware.taps().empty());
    EXPECT_TRUE(world.hardware.aggregates().empty());
    EXPECT_EQ(world.hardware.ioProcCount(), 0U);
    EXPECT_EQ(model().settings().size(), 2U);

    world.refresh();
    EXPECT_EQ(model().tapCount(), 2U);
    EXPECT_EQ(model().tapGain(QStringLiteral("org.other")), 3.0F);
}

TEST_F(Controls, TheModelGoingAwayStopsItsTaps) {
    model().setVolume(0.5, kPlayer);
    world.model.reset();
    EXPECT_TRUE(world.hardware.taps().empty());
    EXPECT_TRUE(world.hardware.aggregates().empty());
}

TEST_F(Controls, TheTapIsNamedAfterTheApplicationAndPlaysToTheDefaultDevice) {
    model().setVolume(0.5, kPlayer);
    ASSERT_EQ(world.hardware.taps().size(), 1U);
    EXPECT_EQ(world.hardware.taps().begin()->second.description.name,
              std::string(AppTap::kNamePrefix) + "Player");
    EXPECT_EQ(aggregateOutput(), "speakers");
}

} // namespace
} // namespace corvalle
