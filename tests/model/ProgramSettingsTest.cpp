#include "ModelHarness.h"

#include <gtest/gtest.h>

namespace corvalle {
namespace {

using namespace Qt::StringLiterals;

using test::ModelHarness;

const QString kKey = u"appSettings"_s;
const QString kPaplay = u"exe:/usr/bin/paplay"_s;

// A process the desktop has no entry for: known by its command name and the key
// of the program it runs (or, with no key, by nothing but its PID).
AudioObjectID addProgram(ModelHarness& world, pid_t pid, std::optional<QString> programKey,
                         std::optional<std::string> bundleID = std::nullopt,
                         std::optional<std::string> nameHint = std::nullopt) {
    world.directory.running[pid] = RunningApplication{std::nullopt, u"comm-%1"_s.arg(pid),
                                                      std::nullopt, std::move(programKey)};
    return world.hardware.addProcess({pid, std::move(bundleID), true, std::move(nameHint)});
}

TEST(ProgramKeys, DecideTheGroupOfAProcessWithoutADesktopEntry) {
    struct Case {
        const char* what;
        std::optional<QString> programKey;
        std::optional<std::string> bundleID;
        QString key;
    };
    const Case cases[] = {
        {"a plain program", kPaplay, std::nullopt, kPaplay},
        {"no executable to read", std::nullopt, std::nullopt, u"pid:500"_s},
        {"the application id the client gives", kPaplay, "org.example.Tool", u"org.example.Tool"_s},
        {"an id shaped like a program key is not taken", kPaplay, "exe:/usr/bin/firefox", kPaplay},
        {"nor one shaped like a PID key", kPaplay, "pid:42", kPaplay},
        {"an empty program key", QString(), std::nullopt, u"pid:500"_s},
    };
    for (const auto& [what, programKey, bundleID, key] : cases) {
        ModelHarness world;
        addProgram(world, 500, programKey, bundleID);
        world.start();
        ASSERT_EQ(world.model->allGroups().size(), 1U) << what;
        EXPECT_EQ(world.model->allGroups().begin()->first, key) << what;
    }
}

TEST(ProgramKeys, ASettingFollowsTheProgramToItsNextRun) {
    ModelHarness world;
    const AudioObjectID first = addProgram(world, 500, kPaplay, std::nullopt, "paplay");
    world.start();
    world.model->setVolume(0.5, kPaplay);
    EXPECT_EQ(world.model->setting(kPaplay).name, u"paplay"_s);

    // Listed by its stored name while not running: Discovery's. The next run has
    // another PID, and still plays at 50 %.
    world.hardware.removeProcess(first);
    world.refresh();
    const AudioObjectID second = addProgram(world, 731, kPaplay, std::nullopt, "paplay");
    world.refresh();
    ASSERT_EQ(world.model->apps().size(), 1U) << "one row, not a stale one beside a new one";
    EXPECT_EQ(world.row(kPaplay)->processObjects, std::vector{second});
    EXPECT_EQ(world.model->tapGain(kPaplay), 0.5F);

    // Two runs at once are one program.
    const AudioObjectID third = addProgram(world, 732, kPaplay);
    world.refresh();
    EXPECT_EQ(world.row(kPaplay)->processObjects, (std::vector{second, third}));
}

TEST(PIDSettings, ThoseOfEndedProcessesAreForgottenWhenLoaded) {
    ModelHarness world;
    const QByteArray stored = R"({"org.app":{"volume":0.5,"muted":false},)"
                              R"("pid:812":{"volume":0.25,"muted":false},)"
                              R"("pid:813":{"volume":0.75,"muted":true,"name":"Live"},)"
                              R"("pid:0813":{"volume":2,"muted":false},)"
                              R"("pid:x":{"volume":2,"muted":false},)"
                              R"("pid:-4":{"volume":2,"muted":false}})";
    world.store.setData(kKey, stored);
    world.endedPIDs = {812};
    world.start();
    EXPECT_EQ(world.model->settings().size(), 2U);
    EXPECT_EQ(world.store.data(kKey), stored) << "loading writes nothing";
    world.model->setVolume(0.6, u"org.app"_s);
    EXPECT_EQ(world.store.data(kKey),
              QByteArray(R"({"org.app":{"volume":0.6,"muted":false,"name":"org.app"},)"
                         R"("pid:813":{"volume":0.75,"muted":true,"name":"Live"}})"));
}

// Only by their desktop file ID: never by name, nor a program key that looks like one.
TEST(InstalledApplications, CanBeSetBeforeTheyRun) {
    ModelHarness world;
    world.directory.installed[u"chromium"_s] = InstalledApplication{u"Chromium"_s, u"chromium"_s};
    world.directory.installed[u"exe:/usr/bin/x"_s] = InstalledApplication{u"Odd"_s, std::nullopt};
    world.start();
    EXPECT_FALSE(world.model->installedApplication(u"Chromium"_s));
    EXPECT_FALSE(world.model->installedApplication(u"exe:/usr/bin/x"_s));
    world.model->setVolume(0.5, u"chromium"_s);
    EXPECT_EQ(world.model->tapCount(), 0U);
    test::drainEvents();
    const AudioApp* row = world.row(u"chromium"_s);
    ASSERT_TRUE(row) << "shown as a setting-only row without waiting for the next tick";
    EXPECT_EQ(std::tie(row->name, row->icon),
              std::tuple(u"Chromium"_s, std::optional(u"chromium"_s)));
    EXPECT_EQ(world.model->setting(u"chromium"_s).name, u"Chromium"_s);

    world.addApp(900, u"chromium"_s, u"Chromium"_s, true);
    world.refresh();
    EXPECT_EQ(world.model->tapGain(u"chromium"_s), 0.5F) << "applies from its start";
}

} // namespace
} // namespace corvalle
