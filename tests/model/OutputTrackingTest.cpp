#include "ModelHarness.h"

#include <QElapsedTimer>
#include <QPointer>
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

// Counts the change signals of one model.
struct SignalCounts {
    explicit SignalCounts(MixerModel& model) {
        QObject::connect(&model, &MixerModel::appsChanged, [this] { ++apps; });
        QObject::connect(&model, &MixerModel::outputNameChanged, [this] { ++outputName; });
        QObject::connect(&model, &MixerModel::outputIDChanged, [this] { ++outputID; });
        QObject::connect(&model, &MixerModel::outputDevicesChanged, [this] { ++outputDevices; });
        QObject::connect(&model, &MixerModel::settingsChanged, [this] { ++settings; });
    }
    int apps = 0;
    int outputName = 0;
    int outputID = 0;
    int outputDevices = 0;
    int settings = 0;
};

class OutputTracking : public ::testing::Test {
protected:
    ModelHarness world;
};

// --- construction and the output fields ----------------------------------------------

TEST_F(OutputTracking, TheFirstViewIsAlreadyFilled) {
    world.addProcess(10, "org.player", true);
    const AudioObjectID usb = world.hardware.addDevice({.uid = "usb", .name = "USB Audio"});
    world.hardware.addDevice({.uid = "mic", .name = "Microphone", .outputStreams = 0});
    auto model = std::make_unique<MixerModel>(world.environment());
    // No event has been processed yet.
    EXPECT_EQ(model->outputID(), world.speakers);
    EXPECT_EQ(model->outputName(), QStringLiteral("Speakers"));
    EXPECT_EQ(deviceIDs(*model), (std::vector<AudioObjectID>{world.speakers, usb}));
    EXPECT_EQ(model->outputDevices()[1].name, QStringLiteral("USB Audio"));
    EXPECT_EQ(model->apps().size(), 1U);
    EXPECT_EQ(world.hardware.listenerCount(kAudioObjectSystemObject,
                                           kAudioHardwarePropertyProcessObjectList),
              1U);
    EXPECT_EQ(world.hardware.listenerCount(kAudioObjectSystemObject,
                                           kAudioHardwarePropertyDefaultOutputDevice),
              1U);
}

TEST_F(OutputTracking, AnUnreadableDefaultDeviceIsUnknown) {
    world.hardware.setPropertyFailure(kAudioObjectSystemObject,
                                      kAudioHardwarePropertyDefaultOutputDevice, kAudioParamError);
    MixerModel& model = world.start();
    EXPECT_EQ(model.outputID(), kAudioObjectUnknown);
    EXPECT_EQ(model.outputName(), QStringLiteral("Unknown"));
}

TEST_F(OutputTracking, ADeviceWithoutANameIsListedByItsNumber) {
    const AudioObjectID nameless = world.hardware.addDevice({.uid = "x", .name = std::nullopt});
    world.hardware.setDefaultOutput(nameless);
    MixerModel& model = world.start();
    EXPECT_EQ(model.outputDevices().back().name, QStringLiteral("Device %1").arg(nameless));
    EXPECT_EQ(model.outputName(), QStringLiteral("Unknown"));
}

TEST_F(OutputTracking, TheDeviceListIsReplacedOnlyWhenItsIDsChange) {
    MixerModel& model = world.start();
    SignalCounts counts(model);
    world.hardware.renameDevice(world.speakers, "Loudspeakers");
    world.refresh();
    EXPECT_EQ(counts.outputDevices, 0);
    EXPECT_EQ(model.outputDevices()[0].name, QStringLiteral("Speakers")) << "names alone are kept";
    EXPECT_EQ(model.outputName(), QStringLiteral("Loudspeakers"));

    const AudioObjectID usb = world.hardware.addDevice({.uid = "usb", .name = "USB"});
    world.refresh();
    EXPECT_EQ(counts.outputDevices, 1);
    EXPECT_EQ(deviceIDs(model), (std::vector<AudioObjectID>{world.speakers, usb}));
    EXPECT_EQ(model.outputDevices()[0].name, QStringLiteral("Loudspeakers"));

    world.hardware.removeDevice(usb);
    world.refresh();
    EXPECT_EQ(counts.outputDevices, 2);
    EXPECT_EQ(deviceIDs(model), (std::vector<AudioObjectID>{world.speakers}));
}

TEST_F(OutputTracking, EveryRefreshAssignsAppsAndTheOutputFieldsChangedOrNot) {
    MixerModel& model = world.start();
    SignalCounts counts(model);
    for (int i = 0; i < 3; ++i) {
        model.refresh();
    }
    EXPECT_EQ(counts.apps, 3);
    EXPECT_EQ(counts.outputName, 3);
    EXPECT_EQ(counts.outputID, 3);
    EXPECT_EQ(counts.settings, 0);
    model.reset(QStringLiteral("org.none"));
    EXPECT_EQ(counts.settings, 1) << "a removal that removes nothing still notifies";
}

TEST_F(OutputTracking, SelectOutputRefreshesAtOnce) {
    MixerModel& model = world.start();
    const AudioObjectID usb = world.hardware.addDevice({.uid = "usb", .name = "USB"});
    model.selectOutput(usb);
    EXPECT_EQ(model.outputID(), usb);
    EXPECT_EQ(model.outputName(), QStringLiteral("USB"));

    world.hardware.setAcceptsDefaultOutputChange(false);
    model.selectOutput(world.speakers);
    EXPECT_EQ(model.outputID(), usb) << "a refused change keeps showing the previous device";
}

// --- triggers -----------------------------------------------------------------------------

TEST_F(OutputTracking, EachNotificationGetsItsOwnRefresh) {
    MixerModel& model = world.start();
    SignalCounts counts(model);
    world.addProcess(10, "org.a", false);
    world.addProcess(11, "org.b", false);
    world.addProcess(12, "org.c", false);
    EXPECT_EQ(counts.apps, 0) << "refreshes run from the event loop, not inside the notification";
    drainEvents();
    EXPECT_EQ(counts.apps, 3);
}

TEST_F(OutputTracking, EveryProcessObjectGetsExactlyOneRunningOutputListener) {
    const AudioObjectID a = world.addProcess(10, "org.a", false);
    const AudioObjectID b = world.addProcess(11, "org.a", false);
    world.start();
    for (int i = 0; i < 4; ++i) {
        world.refresh();
    }
    EXPECT_EQ(world.hardware.listenerCount(a, kAudioProcessPropertyIsRunningOutput), 1U);
    EXPECT_EQ(world.hardware.listenerCount(b, kAudioProcessPropertyIsRunningOutput), 1U);

    // Skipped objects are not watched.
    const AudioObjectID own = world.addProcess(ModelHarness::kOwnPID, "org.own", true);
    world.refresh();
    EXPECT_EQ(world.hardware.listenerCount(own, kAudioProcessPropertyIsRunningOutput), 0U);
}

TEST_F(OutputTracking, StartingOutputMarksTheGroupAndRefreshes) {
    const AudioObjectID process = world.addProcess(10, "org.player", false);
    MixerModel& model = world.start();
    SignalCounts counts(model);
    EXPECT_TRUE(model.apps().empty());

    world.clock = world.clock.addSecs(30);
    world.hardware.setRunningOutput(process, true);
    drainEvents();
    EXPECT_EQ(counts.apps, 1);
    ASSERT_EQ(model.apps().size(), 1U);
    EXPECT_EQ(model.lastSeen().at(QStringLiteral("org.player")), world.clock);

    // Stopping output refreshes too; the group stays listed.
    world.hardware.setRunningOutput(process, false);
    drainEvents();
    EXPECT_EQ(counts.apps, 2);
    EXPECT_EQ(model.apps().size(), 1U);
    EXPECT_FALSE(model.apps()[0].isPlaying);
}

TEST_F(OutputTracking, ANotificationAfterTheModelIsGoneDoesNothing) {
    const AudioObjectID process = world.addProcess(10, "org.player", false);
    world.start();
    QPointer<MixerModel> watcher(world.model.get());

    // Queued refreshes pending when the model goes must not run.
    world.hardware.setRunningOutput(process, true);
    world.hardware.addProcess({11, "org.b", true});
    world.model.reset();
    drainEvents();

    world.hardware.setRunningOutput(process, false);
    world.hardware.setDefaultOutput(world.speakers);
    drainEvents();
    EXPECT_TRUE(watcher.isNull());
    EXPECT_TRUE(world.hardware.taps().empty());
}

TEST_F(OutputTracking, ThePollTimerRefreshesOnItsOwn) {
    MixerEnvironment environment = world.environment();
    environment.pollInterval = std::chrono::milliseconds(5);
    MixerModel model(environment);
    SignalCounts counts(model);
    QElapsedTimer elapsed;
    elapsed.start();
    while (counts.apps < 3 && elapsed.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    EXPECT_GE(counts.apps, 3);
}

} // namespace
} // namespace corvalle
