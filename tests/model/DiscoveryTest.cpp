#include "ModelHarness.h"

#include <gtest/gtest.h>

namespace corvalle {
namespace {

using test::drainEvents;
using test::ModelHarness;

const QString kSettings = QStringLiteral("appSettings");

class Discovery : public ::testing::Test {
protected:
    const AudioApp& group(const QString& key) const { return world.model->allGroups().at(key); }

    ModelHarness world;
};

// Helpers fold into the application responsible for them, in list order, playing if
// any member plays; processes without a usable PID, and our own, are left out.
TEST_F(Discovery, GroupsTakeTheirKeysAndNamesFromTheResponsibleApplication) {
    struct Case {
        pid_t pid;
        const char* appBundleID; // with appName: a running application, if either is set
        const char* appName;
        std::optional<std::string> bundleProperty;
        const char* key;
        const char* name;
    };
    const Case cases[] = {
        {10, "org.x.Editor", "Editor", "org.y", "org.x.Editor", "Editor"},
        {11, nullptr, "Synth", "org.z.Synth", "org.z.Synth", "Synth"},
        {12, "org.x.Quiet", nullptr, std::nullopt, "org.x.Quiet", "Quiet"},
        {13, nullptr, nullptr, "com.vendor.Tool", "com.vendor.Tool", "Tool"},
        {14, nullptr, nullptr, "mpv", "mpv", "mpv"},
        {15, nullptr, nullptr, "org.trailing.", "org.trailing.", "trailing"},
        {812, nullptr, nullptr, std::nullopt, "pid:812", "PID 812"},
        {16, nullptr, nullptr, "", "pid:16", "PID 16"},
        {17, nullptr, nullptr, "com.apple.systemsoundserverd", "com.apple.systemsoundserverd",
         "System Sounds"},
    };
    for (const Case& c : cases) {
        if (c.appBundleID || c.appName) {
            world.directory.running[c.pid] = {
                c.appBundleID ? std::optional(c.appBundleID) : std::nullopt,
                c.appName ? std::optional(c.appName) : std::nullopt, std::nullopt};
        }
        world.addProcess(c.pid, c.bundleProperty, true);
    }
    const AudioObjectID unreadable = world.addProcess(30, "org.unreadable", true);
    world.hardware.setPropertyFailure(unreadable, kAudioProcessPropertyPID, kAudioParamError);
    world.addProcess(0, "org.zero", true);
    world.addProcess(-5, "org.negative", true);
    world.addProcess(ModelHarness::kOwnPID, "org.own", true);
    world.addProcess(31, "org.child", true);
    world.directory.running[500] = {QStringLiteral("org.example.Browser"),
                                    QStringLiteral("Browser"), QStringLiteral("browser")};
    const AudioObjectID main = world.addProcess(500, std::nullopt, false);
    const AudioObjectID renderer = world.addProcess(501, "org.example.Renderer", true);
    const AudioObjectID plugin = world.addProcess(502, std::nullopt, false);
    world.responsible = {{31, ModelHarness::kOwnPID}, {501, 500}, {502, 500}};
    world.start();

    EXPECT_EQ(world.model->allGroups().size(), std::size(cases) + 1);
    const AudioApp& browser = group(QStringLiteral("org.example.Browser"));
    EXPECT_EQ(browser.name, QStringLiteral("Browser"));
    EXPECT_EQ(browser.icon, QStringLiteral("browser"));
    EXPECT_EQ(browser.processObjects, (std::vector<AudioObjectID>{main, renderer, plugin}));
    EXPECT_TRUE(browser.isPlaying);
    for (const Case& c : cases) {
        const QString key = QString::fromUtf8(c.key);
        ASSERT_TRUE(world.model->allGroups().contains(key)) << c.key;
        EXPECT_EQ(group(key).name, QString::fromUtf8(c.name)) << c.key;
        EXPECT_EQ(group(key).icon, std::nullopt) << c.key;
    }
}

// What an application told the audio server names it only where the desktop
// knows no entry for it; a desktop entry always wins.
TEST_F(Discovery, ServerHintsNameApplicationsWithoutADesktopEntry) {
    world.directory.running[40] = {std::nullopt, QStringLiteral("corvalle-test-p"), std::nullopt};
    world.hardware.addProcess({40, std::nullopt, true, "Demo Music", "audio-x-generic"});
    world.directory.running[41] = {QStringLiteral("org.x.Player"), QStringLiteral("Player"),
                                   QStringLiteral("player")};
    world.hardware.addProcess({41, std::nullopt, true, "Other", "other-icon"});
    world.hardware.addProcess({42, std::nullopt, true, std::nullopt, std::nullopt});
    world.directory.running[42] = {std::nullopt, QStringLiteral("mpg123"), std::nullopt};
    world.start();

    EXPECT_EQ(group(QStringLiteral("pid:40")).name, QStringLiteral("Demo Music"));
    EXPECT_EQ(group(QStringLiteral("pid:40")).icon, QStringLiteral("audio-x-generic"));
    EXPECT_EQ(group(QStringLiteral("org.x.Player")).name, QStringLiteral("Player"));
    EXPECT_EQ(group(QStringLiteral("org.x.Player")).icon, QStringLiteral("player"));
    EXPECT_EQ(group(QStringLiteral("pid:42")).name, QStringLiteral("mpg123"));
}

// Listed from the first sound of any of its processes, which their listeners report
// at once, until the last of them ends.
TEST_F(Discovery, AGroupIsListedFromItsFirstSoundUntilItsLastProcessEnds) {
    const QString key = QStringLiteral("org.player");
    const AudioObjectID a = world.addProcess(50, "org.player", false);
    const AudioObjectID b = world.addProcess(51, "org.player", false);
    const AudioObjectID own = world.addProcess(ModelHarness::kOwnPID, "org.own", true);
    world.start();
    for (int i = 0; i < 3; ++i) {
        world.refresh();
    }
    for (const auto& [object, listeners] : {std::pair{a, 1U}, {b, 1U}, {own, 0U}}) {
        EXPECT_EQ(world.hardware.listenerCount(object, kAudioProcessPropertyIsRunningOutput),
                  listeners);
    }
    EXPECT_TRUE(world.model->allGroups().contains(key));
    EXPECT_TRUE(world.model->apps().empty()) << "never heard: not listed";

    world.clock = world.clock.addSecs(5);
    world.hardware.setRunningOutput(b, true);
    drainEvents();
    ASSERT_NE(world.row(key), nullptr);
    EXPECT_TRUE(world.row(key)->isPlaying);
    EXPECT_EQ(world.model->lastSeen().at(key), world.clock);

    world.hardware.setRunningOutput(b, false);
    world.hardware.removeProcess(b);
    for (int i = 0; i < 5; ++i) {
        world.refresh();
    }
    ASSERT_NE(world.row(key), nullptr) << "silent but still there";
    EXPECT_FALSE(world.row(key)->isPlaying);

    world.hardware.removeProcess(a);
    world.refresh();
    EXPECT_TRUE(world.model->apps().empty());
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
// name: case-insensitive, locale-aware and stable.
TEST_F(Discovery, SettingsWithoutAGroupBecomeRowsSortedWithTheOthers) {
    world.store.setData(kSettings,
                        R"({"org.named":{"volume":0.5,"muted":false,"name":"banana"},)"
                        R"("org.installed":{"volume":2,"muted":false},)"
                        R"("org.gone":{"volume":0,"muted":true},)"
                        R"("exe:/home/ana/game.py":{"volume":0.5,"muted":false},)"
                        R"("exe:/usr/bin/python3.11 -m pkg.tool":{"volume":2,"muted":false},)"
                        R"("pid:812":{"volume":0.5,"muted":false}})");
    world.directory.installed[QStringLiteral("org.installed")] = {
        QStringLiteral("Media.app Player.app"), QStringLiteral("/icons/player.png")};
    const AudioObjectID ended =
        world.addApp(70, QStringLiteral("org.ended"), QStringLiteral("Ended"), true);
    const AudioObjectID pid812 = world.addProcess(812, std::nullopt, true);
    world.addApp(81, QStringLiteral("org.b"), QStringLiteral("Banana"), true);
    world.addApp(83, QStringLiteral("org.d"), QStringLiteral("\u00c4pfel"), true);
    world.start().setVolume(0.5, QStringLiteral("org.ended"));
    ASSERT_EQ(world.model->tapCount(), 2U);
    world.hardware.removeProcess(ended);
    world.hardware.removeProcess(pid812);
    world.refresh();

    const std::tuple<QString, QString, bool> expected[] = {
        {QStringLiteral("org.d"), QStringLiteral("\u00c4pfel"), true},
        {QStringLiteral("org.b"), QStringLiteral("Banana"), true},
        {QStringLiteral("org.named"), QStringLiteral("banana"), false},
        {QStringLiteral("org.ended"), QStringLiteral("Ended"), false},
        {QStringLiteral("exe:/home/ana/game.py"), QStringLiteral("game.py"), false},
        {QStringLiteral("org.installed"), QStringLiteral("Media Player"), false},
        {QStringLiteral("org.gone"), QStringLiteral("org.gone"), false},
        {QStringLiteral("exe:/usr/bin/python3.11 -m pkg.tool"),
         QStringLiteral("python3.11 -m pkg.tool"), false},
    };
    ASSERT_EQ(world.model->apps().size(), std::size(expected)) << "pid: keys are never shown";
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const auto& [key, name, running] = expected[i];
        EXPECT_EQ(world.model->apps()[i].id, key);
        EXPECT_EQ(world.model->apps()[i].name, name);
        EXPECT_EQ(world.model->apps()[i].isPlaying, running);
        EXPECT_EQ(world.model->apps()[i].processObjects.empty(), !running);
    }
    EXPECT_EQ(world.model->tapCount(), 0U) << "ended groups lose their taps";
    EXPECT_TRUE(world.model->settings().contains(QStringLiteral("pid:812")));
}

// A refresh that finds the same groups and settings reuses the rows of settings
// alone; each kind of change still shows, and an installed application's new
// name within a minute.
TEST_F(Discovery, RowsAreReusedOnlyWhileNothingTheyShowCanHaveChanged) {
    world.store.setData(kSettings, R"({"org.named":{"volume":0.5,"muted":false,"name":"Cherry"},)"
                                   R"("org.installed":{"volume":2,"muted":false}})");
    world.directory.installed[QStringLiteral("org.installed")] = {QStringLiteral("Apple"), {}};
    world.directory.installed[QStringLiteral("org.new")] = {QStringLiteral("Elder"), {}};
    const AudioObjectID banana =
        world.addApp(81, QStringLiteral("org.b"), QStringLiteral("Banana"), true);
    MixerModel& model = world.start();
    model.setVolume(0.5, QStringLiteral("org.b"));
    const auto rows = [&] {
        QStringList shown;
        for (const AudioApp& app : model.apps()) {
            shown.append(app.name + (app.isPlaying ? QStringLiteral("*") : QString()));
        }
        return shown.join(u' ').toStdString();
    };
    EXPECT_EQ(rows(), "Apple Banana* Cherry");

    const std::uint64_t before = model.appsRevision();
    world.refresh();
    EXPECT_EQ(model.appsRevision(), before) << "an idle refresh tells no one";

    world.hardware.setRunningOutput(banana, false);
    world.refresh();
    EXPECT_EQ(rows(), "Apple Banana Cherry");
    EXPECT_EQ(model.appsRevision(), before + 1);

    world.directory.installed[QStringLiteral("org.installed")] = {QStringLiteral("Dates"), {}};
    world.clock = world.clock.addSecs(61);
    world.refresh();
    EXPECT_EQ(rows(), "Banana Cherry Dates");

    model.setVolume(0.5, QStringLiteral("org.new"));
    drainEvents();
    EXPECT_EQ(rows(), "Banana Cherry Dates Elder");

    world.hardware.removeProcess(banana);
    world.refresh();
    EXPECT_EQ(rows(), "Banana Cherry Dates Elder");
    EXPECT_TRUE(world.row(QStringLiteral("org.b"))->processObjects.empty());
    model.reset(QStringLiteral("org.b"));
    drainEvents();
    world.refresh();
    EXPECT_EQ(rows(), "Cherry Dates Elder");
}

} // namespace
} // namespace corvalle
