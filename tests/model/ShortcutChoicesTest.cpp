#include "ModelHarness.h"

#include <gtest/gtest.h>

// The applications chosen for keyboard shortcuts of their own, stored beside
// the settings, and the group a focused window's process belongs to.
namespace corvalle::test {
namespace {

using namespace Qt::StringLiterals;

const QString kKey = u"shortcutApps"_s;

// A stored value that is not a list of keys gives none, and never costs the
// settings or the other preferences stored beside it.
TEST(ShortcutChoices, AStoredListLoadsAndAnythingElseLoadsAsNone) {
    const std::pair<const char*, std::set<QString>> cases[] = {
        {R"(["org.mozilla.firefox","exe:/usr/bin/mpv"])",
         {u"org.mozilla.firefox"_s, u"exe:/usr/bin/mpv"_s}},
        {"  []\n", {}},
        {R"([1,"org.a",null,"",{"k":"org.b"},"org.a"])", {u"org.a"_s}},
        {R"({"org.a":true})", {}},
        {"\"org.a\"", {}},
        {"[\"org.a\"", {}},
        {"\xff\xfe", {}},
    };
    for (const auto& [stored, keys] : cases) {
        SCOPED_TRACE(stored);
        ModelHarness harness;
        harness.store.setData(u"limiter"_s, "off");
        harness.store.setData(u"appSettings"_s, R"({"org.kept":{"volume":0.5,"muted":false}})");
        harness.store.setData(kKey, stored);
        const int writes = harness.store.writeCount();
        MixerModel& model = harness.start();
        EXPECT_EQ(model.shortcutKeys(), keys);
        EXPECT_FALSE(model.limiterOn());
        EXPECT_EQ(model.setting(u"org.kept"_s).volume, 0.5);
        EXPECT_EQ(harness.store.writeCount(), writes) << "loading writes nothing back";
    }
}

TEST(ShortcutChoices, HandWrittenTextIsReadToo) {
    ModelHarness harness;
    harness.store.setForeignData(kKey, R"( [ "org.a" ] )");
    EXPECT_EQ(harness.start().shortcutKeys(), std::set<QString>{u"org.a"_s});
}

// Each change is stored at once and told once; asking for what already holds
// neither writes nor tells. A reset takes the choice away with the setting.
TEST(ShortcutChoices, ChangesAreStoredAndToldOnceAndResetTakesThemAway) {
    ModelHarness harness;
    MixerModel& model = harness.start();
    int told = 0;
    QObject::connect(&model, &MixerModel::shortcutKeysChanged, [&told] { ++told; });
    const struct {
        bool on;
        const char* key;
        const char* stored;
        int tellings;
    } steps[] = {
        {true, "org.b", R"(["org.b"])", 1},
        {true, "exe:/usr/bin/mpv -v", R"(["exe:/usr/bin/mpv -v","org.b"])", 2},
        {true, "org.b", R"(["exe:/usr/bin/mpv -v","org.b"])", 2},
        {false, "org.none", R"(["exe:/usr/bin/mpv -v","org.b"])", 2},
        {true, "", R"(["exe:/usr/bin/mpv -v","org.b"])", 2},
        {false, "exe:/usr/bin/mpv -v", R"(["org.b"])", 3},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.key);
        model.setHasShortcuts(step.on, QString::fromUtf8(step.key));
        EXPECT_EQ(harness.store.data(kKey).value_or(""), QByteArray(step.stored));
        EXPECT_EQ(told, step.tellings);
    }
    model.setVolume(0.5, u"org.b"_s);
    model.reset(u"org.b"_s);
    EXPECT_TRUE(model.shortcutKeys().empty());
    EXPECT_EQ(harness.store.data(kKey), "[]");

    ModelHarness again;
    again.store.setData(kKey, R"(["org.c"])");
    EXPECT_EQ(again.start().shortcutKeys(), std::set<QString>{u"org.c"_s});
}

TEST(ShortcutChoices, AFailedSaveKeepsTheChoiceAndSaysWhy) {
    ModelHarness harness;
    MixerModel& model = harness.start();
    harness.store.failWrites(u"the disk is full"_s);
    model.setHasShortcuts(true, u"org.b"_s);
    EXPECT_TRUE(model.shortcutKeys().contains(u"org.b"_s));
    ASSERT_TRUE(model.saveFailure().has_value());
    EXPECT_TRUE(model.saveFailure()->contains(u"the disk is full"_s));
}

// A window belongs to the group of its own process, or of any process that the
// same process is responsible for: a browser's window and its audio helper.
TEST(ShortcutChoices, AProcessLeadsToItsGroupThroughTheResponsibleProcess) {
    ModelHarness harness;
    harness.addApp(100, u"org.mozilla.firefox"_s, u"Firefox"_s, true);
    harness.addApp(201, u"org.example.Music"_s, u"Music"_s, false);
    harness.addApp(301, u"org.example.Game"_s, u"Game"_s, true);
    // 200 is Music's main process, whose helper 201 plays; 300's window is a
    // child of the game's process 301.
    harness.responsible[201] = 200;
    harness.responsible[300] = 301;
    MixerModel& model = harness.start();
    const std::pair<pid_t, std::optional<QString>> cases[] = {
        {100, u"org.mozilla.firefox"_s},
        {200, u"org.example.Music"_s},
        {201, u"org.example.Music"_s},
        {300, u"org.example.Game"_s},
        {555, std::nullopt},
        {0, std::nullopt},
        {-1, std::nullopt},
        {ModelHarness::kOwnPID, std::nullopt},
    };
    for (const auto& [pid, key] : cases) {
        EXPECT_EQ(model.keyOfProcess(pid), key) << pid;
    }
}

} // namespace
} // namespace corvalle::test
