#include "ModelHarness.h"

#include <gtest/gtest.h>

namespace corvalle {
namespace {

using namespace Qt::StringLiterals;
using test::drainEvents;
using test::ModelHarness;

const QString kSettings = u"appSettings"_s;

class Discovery : public ::testing::Test {
protected:
    const AudioApp& group(const QString& key) const { return world.model->allGroups().at(key); }

    // The shown rows in order: "name", "*" when playing, "+" with processes.
    std::string rows(bool withKeys = false) const {
        QStringList shown;
        for (const AudioApp& app : world.model->apps()) {
            shown.append((withKeys ? app.id + u'=' : QString()) + app.name +
                         (app.isPlaying ? u"*"_s : QString()) +
                         (app.processObjects.empty() ? QString() : u"+"_s));
        }
        return shown.join(u'|').toStdString();
    }

    ModelHarness world;
};

// Processes without a usable PID, and our own and its helpers, are left out.
// Other helpers folding into their application is ModelTest's, on a real session.
TEST_F(Discovery, GroupsTakeTheirKeysAndNamesFromTheResponsibleApplication) {
    struct Case {
        pid_t pid = 0;
        const char* appBundleID = nullptr; // with appName: a running application, if either is set
        const char* appName = nullptr;
        std::optional<std::string> bundleProperty;
        const char* key = nullptr;
        const char* name = nullptr;
    };
    const Case cases[] = {
        {10, "org.x.Editor", "Editor", "org.y", "org.x.Editor", "Editor"},
        {11, nullptr, "Synth", "org.z.Synth", "org.z.Synth", "Synth"},
        {12, "org.x.Quiet", nullptr, std::nullopt, "org.x.Quiet", "Quiet"},
        {13, nullptr, nullptr, "com.vendor.Tool", "com.vendor.Tool", "Tool"},
        {15, nullptr, nullptr, "org.trailing.", "org.trailing.", "trailing"},
        {812, nullptr, nullptr, std::nullopt, "pid:812", "PID 812"},
        {16, nullptr, nullptr, "", "pid:16", "PID 16"},
        {17, nullptr, nullptr, "com.apple.systemsoundserverd", "com.apple.systemsoundserverd",
         "System Sounds"},
    };
    const auto text = [](const char* value) {
        return value ? std::optional(QString::fromUtf8(value)) : std::nullopt;
    };
    for (const Case& c : cases) {
        if (c.appBundleID || c.appName) {
            world.directory.running[c.pid] = {text(c.appBundleID), text(c.appName), std::nullopt};
        }
        world.addProcess(c.pid, c.bundleProperty, true);
    }
    const AudioObjectID unreadable = world.addProcess(30, "org.unreadable", true);
    world.hardware.setPropertyFailure(unreadable, kAudioProcessPropertyPID, kAudioParamError);
    world.addProcess(0, "org.zero", true);
    world.addProcess(-5, "org.negative", true);
    world.addProcess(ModelHarness::kOwnPID, "org.own", true);
    world.addProcess(31, "org.child", true);
    world.responsible = {{31, ModelHarness::kOwnPID}};
    world.start();

    EXPECT_EQ(world.model->allGroups().size(), std::size(cases));
    for (const Case& c : cases) {
        const QString key = QString::fromUtf8(c.key);
        ASSERT_TRUE(world.model->allGroups().contains(key)) << c.key;
        EXPECT_EQ(group(key).name, QString::fromUtf8(c.name)) << c.key;
    }
}

// Listed from the first sound of any of its processes, which their listeners report
// at once, until the last of them ends.
TEST_F(Discovery, AGroupIsListedFromItsFirstSoundUntilItsLastProcessEnds) {
    const QString key = u"org.player"_s;
    const AudioObjectID a = world.addProcess(50, "org.player", false);
    const AudioObjectID b = world.addProcess(51, "org.player", false);
    world.start();
    world.refresh();
    EXPECT_TRUE(world.model->allGroups().contains(key));
    EXPECT_EQ(rows(), "") << "never heard: not listed";

    world.clock = world.clock.addSecs(5);
    world.hardware.setRunningOutput(b, true);
    drainEvents();
    EXPECT_EQ(rows(), "player*+");
    EXPECT_EQ(world.model->lastSeen().at(key), world.clock);

    world.hardware.setRunningOutput(b, false);
    world.hardware.removeProcess(b);
    world.refresh();
    EXPECT_EQ(rows(), "player+") << "silent but still there";
    world.hardware.removeProcess(a);
    world.refresh();
    EXPECT_EQ(rows(), "");
    EXPECT_TRUE(world.model->lastSeen().empty());

    // Neither notifications nor refreshes queued before the model goes may reach it
    // afterwards: a crash, or a use-after-free report under the sanitizers.
    const AudioObjectID late = world.addProcess(52, "org.late", false);
    world.refresh();
    world.hardware.setRunningOutput(late, true);
    world.model.reset();
    world.hardware.setRunningOutput(late, false);
    world.hardware.setDefaultOutput(world.speakers);
    drainEvents();
}

// Setting-only rows, named by the stored name, else the installed name, else the
// program's file for a program key, else the key, sorted with the shown groups by
// name: case-insensitive, locale-aware and stable. pid: keys are never shown.
TEST_F(Discovery, SettingsWithoutAGroupBecomeRowsSortedWithTheOthers) {
    world.store.setData(kSettings,
                        R"({"org.named":{"volume":0.5,"muted":false,"name":"banana"},)"
                        R"("org.installed":{"volume":2,"muted":false},)"
                        R"("org.gone":{"volume":0,"muted":true},)"
                        R"("exe:/home/ana/game.py":{"volume":0.5,"muted":false},)"
                        R"("exe:/usr/bin/python3.11 -m pkg.tool":{"volume":2,"muted":false},)"
                        R"("pid:812":{"volume":0.5,"muted":false}})");
    world.directory.installed[u"org.installed"_s] = {u"Media.app Player.app"_s,
                                                     u"/icons/player.png"_s};
    const AudioObjectID ended = world.addApp(70, u"org.ended"_s, u"Ended"_s, true);
    const AudioObjectID pid812 = world.addProcess(812, std::nullopt, true);
    world.addApp(81, u"org.b"_s, u"Banana"_s, true);
    world.addApp(83, u"org.d"_s, u"\u00c4pfel"_s, true);
    world.start().setVolume(0.5, "org.ended");
    ASSERT_EQ(world.model->tapCount(), 2U);
    world.hardware.removeProcess(ended);
    world.hardware.removeProcess(pid812);
    world.refresh();

    EXPECT_EQ(rows(true), "org.d=\u00c4pfel*+|org.b=Banana*+|org.named=banana|org.ended=Ended|"
                          "exe:/home/ana/game.py=game.py|org.installed=Media Player|"
                          "org.gone=org.gone|"
                          "exe:/usr/bin/python3.11 -m pkg.tool=python3.11 -m pkg.tool");
    EXPECT_EQ(world.model->tapCount(), 0U) << "ended groups lose their taps";
    EXPECT_TRUE(world.model->settings().contains("pid:812"));
}

} // namespace
} // namespace corvalle
