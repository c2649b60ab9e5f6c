#include "ModelHarness.h"

#include <gtest/gtest.h>

namespace corvalle {
namespace {

using test::ModelHarness;

class Discovery : public ::testing::Test {
protected:
    std::vector<QString> rowNames() const {
        std::vector<QString> names;
        for (const AudioApp& app : world.model->apps()) {
            names.push_back(app.name);
        }
        return names;
    }

    const AudioApp& group(const QString& key) const { return world.model->allGroups().at(key); }

    ModelHarness world;
};

// --- grouping ---------------------------------------------------------------------

TEST_F(Discovery, HelperProcessesFoldIntoTheirResponsibleApplication) {
    world.directory.running[500] = {QStringLiteral("org.example.Browser"),
                                    QStringLiteral("Browser"), QStringLiteral("browser")};
    const AudioObjectID main = world.addProcess(500, std::nullopt, false);
    const AudioObjectID renderer = world.addProcess(501, "org.example.Renderer", true);
    const AudioObjectID plugin = world.addProcess(502, std::nullopt, false);
    world.responsible = {{501, 500}, {502, 500}};
    world.start();

    ASSERT_EQ(world.model->allGroups().size(), 1U);
    const AudioApp& browser = group(QStringLiteral("org.example.Browser"));
    EXPECT_EQ(browser.name, QStringLiteral("Browser"));
    EXPECT_EQ(browser.icon, QStringLiteral("browser"));
    EXPECT_EQ(browser.processObjects, (std::vector<AudioObjectID>{main, renderer, plugin}));
    EXPECT_TRUE(browser.isPlaying);
}

TEST_F(Discovery, TheDirectoryIsAskedOncePerPIDAndRefresh) {
    world.directory.running[500] = {QStringLiteral("org.app"), QStringLiteral("App"), {}};
    world.responsible = {{501, 500}, {502, 500}};
    world.addProcess(500, std::nullopt, true);
    world.addProcess(501, std::nullopt, true);
    world.addProcess(502, std::nullopt, true);
    world.start();
    world.directory.runningLookups = 0;
    world.model->refresh();
    EXPECT_EQ(world.directory.runningLookups, 1);
}

TEST_F(Discovery, KeysAndNamesFollowTheFallbacks) {
    struct Case {
        const char* what;
        pid_t pid;
        std::optional<RunningApplication> running;
        std::optional<std::string> bundleProperty;
        QString key;
        QString name;
        std::optional<QString> icon;
    };
    const std::vector<Case> cases = {
        {"desktop entry", 10, RunningApplication{"org.x.Editor", "Text Editor", "ed"}, "org.y",
         "org.x.Editor", "Text Editor", "ed"},
        {"entry without bundle id", 11, RunningApplication{std::nullopt, "Synth", "synth"},
         "org.z.Synth", "org.z.Synth", "Synth", "synth"},
        {"entry without name", 12, RunningApplication{"org.x.Quiet", std::nullopt, std::nullopt},
         std::nullopt, "org.x.Quiet", "Quiet", std::nullopt},
        {"bundle property only", 13, std::nullopt, "com.vendor.Tool", "com.vendor.Tool", "Tool",
         std::nullopt},
        {"dotless bundle property", 14, std::nullopt, "mpv", "mpv", "mpv", std::nullopt},
        {"trailing dot", 15, std::nullopt, "org.trailing.", "org.trailing.", "trailing",
         std::nullopt},
        {"nothing known", 812, std::nullopt, std::nullopt, "pid:812", "PID 812", std::nullopt},
        {"empty bundle property", 16, std::nullopt, "", "pid:16", "PID 16", std::nullopt},
        {"system sounds", 17, std::nullopt, "com.apple.systemsoundserverd",
         "com.apple.systemsoundserverd", "System Sounds", std::nullopt},
        {"case differs", 18, std::nullopt, "org.SystemSoundServerd", "org.SystemSoundServerd",
         "SystemSoundServerd", std::nullopt},
    };
    for (const Case& c : cases) {
        if (c.running) {
            world.directory.running[c.pid] = *c.running;
        }
        world.addProcess(c.pid, c.bundleProperty, true);
    }
    world.start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(world.model->allGroups().contains(c.key)) << c.key.toStdString();
        EXPECT_EQ(group(c.key).name, c.name);
        EXPECT_EQ(group(c.key).icon, c.icon);
    }
}

TEST_F(Discovery, TheRunningApplicationOfTheProcessItselfIsUsedWhenTheResponsibleOneIsUnknown) {
    world.directory.running[21] = {QStringLiteral("org.self"), QStringLiteral("Self"), {}};
    world.responsible = {{21, 20}};
    world.addProcess(21, std::nullopt, true);
    world.start();
    EXPECT_EQ(group(QStringLiteral("org.self")).name, QStringLiteral("Self"));
}

TEST_F(Discovery, ProcessesWithoutAUsablePIDAndOurOwnProcessesAreSkipped) {
    const AudioObjectID unreadable = world.addProcess(30, "org.unreadable", true);
    world.hardware.setPropertyFailure(unreadable, kAudioProcessPropertyPID, kAudioParamError);
    world.addProcess(0, "org.zero", true);
    world.addProcess(-5, "org.negative", true);
    world.addProcess(ModelHarness::kOwnPID, "org.own", true);
    world.addProcess(31, "org.child", true);
    world.responsible = {{31, ModelHarness::kOwnPID}};
    world.start();
    EXPECT_TRUE(world.model->allGroups().empty());
    EXPECT_TRUE(world.model->apps().empty());
}

TEST_F(Discovery, AGroupIsNamedByItsFirstMemberInListOrderAtEachRefresh) {
    world.directory.running[40] = {QStringLiteral("org.app"), QStringLiteral("Main"), {}};
    world.directory.running[41] = {QStringLiteral("org.app"), QStringLiteral("Helper"), {}};
    const AudioObjectID first = world.addProcess(40, std::nullopt, true);
    const AudioObjectID second = world.addProcess(41, std::nullopt, false);
    world.start();
    EXPECT_EQ(group(QStringLiteral("org.app")).name, QStringLiteral("Main"));

    world.hardware.moveProcess(second, 0);
    world.refresh();
    EXPECT_EQ(group(QStringLiteral("org.app")).name, QStringLiteral("Helper"));
    EXPECT_EQ(group(QStringLiteral("org.app")).processObjects,
              (std::vector<AudioObjectID>{second, first}));
}

// --- listing ----------------------------------------------------------------------

TEST_F(Discovery, AGroupIsListedOnceHeardAndUntilItsLastProcessEnds) {
    const AudioObjectID a = world.addProcess(50, "org.player", false);
    const AudioObjectID b = world.addProcess(51, "org.player", false);
    world.start();
    EXPECT_TRUE(world.model->allGroups().contains(QStringLiteral("org.player")));
    EXPECT_TRUE(world.model->apps().empty()) << "never heard: not listed";

    world.hardware.setRunningOutput(b, true);
    world.refresh();
    ASSERT_NE(world.row(QStringLiteral("org.player")), nullptr);
    EXPECT_TRUE(world.row(QStringLiteral("org.player"))->isPlaying);

    world.hardware.setRunningOutput(b, false);
    world.hardware.removeProcess(b);
    for (int i = 0; i < 5; ++i) {
        world.refresh();
    }
    ASSERT_NE(world.row(QStringLiteral("org.player")), nullptr) << "silent but still there";
    EXPECT_FALSE(world.row(QStringLiteral("org.player"))->isPlaying);

    world.hardware.removeProcess(a);
    world.refresh();
    EXPECT_TRUE(world.model->apps().empty());
    EXPECT_TRUE(world.model->lastSeen().empty());

    // It comes back silent: it must be heard again to be listed.
    world.addProcess(52, "org.player", false);
    world.refresh();
    EXPECT_TRUE(world.model->apps().empty());
}

TEST_F(Discovery, LastSeenHoldsTheTimeOfTheLatestRefreshThatHeardTheGroup) {
    world.addProcess(55, "org.player", true);
    world.start();
    const QDateTime first = world.clock;
    EXPECT_EQ(world.model->lastSeen().at(QStringLiteral("org.player")), first);
    world.clock = first.addSecs(5);
    world.refresh();
    EXPECT_EQ(world.model->lastSeen().at(QStringLiteral("org.player")), world.clock);
}

TEST_F(Discovery, ASettingListsAGroupThatWasNeverHeard) {
    world.store.setData(QStringLiteral("appSettings"),
                        R"({"org.quiet":{"volume":0.5,"muted":false}})");
    world.addApp(60, QStringLiteral("org.quiet"), QStringLiteral("Quiet"), false);
    world.start();
    ASSERT_NE(world.row(QStringLiteral("org.quiet")), nullptr);
    EXPECT_EQ(world.row(QStringLiteral("org.quiet"))->processObjects.size(), 1U);
}

TEST_F(Discovery, SettingsWithoutAGroupBecomeSettingOnlyRows) {
    world.store.setData(QStringLiteral("appSettings"),
                        R"({"org.named":{"volume":0.5,"muted":false,"name":"Stored Name"},)"
                        R"("org.installed":{"volume":2,"muted":false},)"
                        R"("org.installed.named":{"volume":2,"muted":false,"name":"Mine"},)"
                        R"("org.gone":{"volume":0,"muted":true},)"
                        R"("pid:812":{"volume":0.5,"muted":false}})");
    world.directory.installed[QStringLiteral("org.installed")] = {
        QStringLiteral("Media.app Player.app"), QStringLiteral("/icons/player.png")};
    world.directory.installed[QStringLiteral("org.installed.named")] = {QStringLiteral("Other"),
                                                                        QStringLiteral("other")};
    world.start();

    struct Expected {
        QString key;
        QString name;
        std::optional<QString> icon;
    };
    const Expected expected[] = {
        {QStringLiteral("org.named"), QStringLiteral("Stored Name"), std::nullopt},
        {QStringLiteral("org.installed"), QStringLiteral("Media Player"),
         QStringLiteral("/icons/player.png")},
        {QStringLiteral("org.installed.named"), QStringLiteral("Mine"), QStringLiteral("other")},
        {QStringLiteral("org.gone"), QStringLiteral("org.gone"), std::nullopt},
    };
    EXPECT_EQ(world.model->apps().size(), std::size(expected));
    for (const Expected& e : expected) {
        const AudioApp* row = world.row(e.key);
        ASSERT_NE(row, nullptr) << e.key.toStdString();
        EXPECT_EQ(row->name, e.name);
        EXPECT_EQ(row->icon, e.icon);
        EXPECT_TRUE(row->processObjects.empty());
        EXPECT_FALSE(row->isPlaying);
    }
    EXPECT_EQ(world.row(QStringLiteral("pid:812")), nullptr);
}

TEST_F(Discovery, AnEndedApplicationWithASettingComesBackAsASettingOnlyRow) {
    const AudioObjectID process =
        world.addApp(70, QStringLiteral("org.player"), QStringLiteral("Player"), true);
    world.start().setVolume(0.5, QStringLiteral("org.player"));
    world.hardware.removeProcess(process);
    world.refresh();
    const AudioApp* row = world.row(QStringLiteral("org.player"));
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->name, QStringLiteral("Player")) << "the name remembered with the setting";
    EXPECT_TRUE(row->processObjects.empty());
    EXPECT_EQ(world.model->tapCount(), 0U);
}

TEST_F(Discovery, APIDKeyedSettingIsNotListedOnceItsProcessEnds) {
    const AudioObjectID process = world.addProcess(812, std::nullopt, true);
    world.start().setVolume(0.5, QStringLiteral("pid:812"));
    EXPECT_NE(world.row(QStringLiteral("pid:812")), nullptr);
    world.hardware.removeProcess(process);
    world.refresh();
    EXPECT_TRUE(world.model->apps().empty());
    EXPECT_TRUE(world.model->settings().contains(QStringLiteral("pid:812")));
}

// --- sorting ------------------------------------------------------------------------

TEST_F(Discovery, RowsSortByNameIgnoringCaseAndEqualNamesKeepTheirOrder) {
    world.store.setData(QStringLiteral("appSettings"),
                        R"({"org.a.only":{"volume":2,"muted":false,"name":"banana"}})");
    world.addApp(80, QStringLiteral("org.c"), QStringLiteral("Cherry"), true);
    world.addApp(81, QStringLiteral("org.b"), QStringLiteral("Banana"), true);
    world.addApp(82, QStringLiteral("org.a"), QStringLiteral("apple"), true);
    world.addApp(83, QStringLiteral("org.d"), QStringLiteral("\u00c4pfel"), true);
    world.start();
    // Locale-aware: the accented word sorts by its letters, not after "Z".
    EXPECT_EQ(rowNames(),
              (std::vector<QString>{QStringLiteral("\u00c4pfel"), QStringLiteral("apple"),
                                    QStringLiteral("Banana"), QStringLiteral("banana"),
                                    QStringLiteral("Cherry")}));
    // The shown group comes before the setting-only row of the same name.
    EXPECT_EQ(world.model->apps()[2].id, QStringLiteral("org.b"));
}

TEST_F(Discovery, NothingToShowStillPublishesAnEmptyList) {
    world.start();
    int published = 0;
    QObject::connect(world.model.get(), &MixerModel::appsChanged, [&] { ++published; });
    world.refresh();
    EXPECT_EQ(published, 1);
    EXPECT_TRUE(world.model->apps().empty());
}

TEST_F(Discovery, AnUnreadableProcessListEmptiesEverythingButSettingOnlyRows) {
    world.store.setData(QStringLiteral("appSettings"),
                        R"({"org.player":{"volume":0.5,"muted":false,"name":"Player"}})");
    world.addApp(90, QStringLiteral("org.player"), QStringLiteral("Player"), true);
    world.start();
    EXPECT_TRUE(world.model->hasTap(QStringLiteral("org.player")));

    world.hardware.setPropertyFailure(kAudioObjectSystemObject,
                                      kAudioHardwarePropertyProcessObjectList, kAudioParamError);
    world.refresh();
    EXPECT_TRUE(world.model->allGroups().empty());
    EXPECT_TRUE(world.model->lastSeen().empty());
    ASSERT_EQ(world.model->apps().size(), 1U);
    EXPECT_TRUE(world.model->apps()[0].processObjects.empty());
    EXPECT_EQ(world.model->tapCount(), 0U);
}

} // namespace
} // namespace corvalle
