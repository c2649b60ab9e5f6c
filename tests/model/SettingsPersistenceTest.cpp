#include "ModelHarness.h"
#include "QSettingsStore.h"
#include "SettingsCodec.h"
#include "TempDir.h"

#include <QJsonDocument>
#include <QSettings>
#include <bit>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace corvalle {
namespace {

using test::ModelHarness;

const QString kKey = QStringLiteral("appSettings");
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// --- the stored JSON ------------------------------------------------------------

TEST(SettingsCodec, WritesCompactEntriesWithVolumeMutedNameInThatOrder) {
    const std::map<QString, AppSetting> settings{
        {QStringLiteral("pid:812"), {0.8, true, std::nullopt}},
        {QStringLiteral("pid:907"), {0.5, false, QStringLiteral("Player")}},
    };
    EXPECT_EQ(SettingsCodec::encode(settings),
              QByteArray(R"({"pid:812":{"volume":0.8,"muted":true},)"
                         R"("pid:907":{"volume":0.5,"muted":false,"name":"Player"}})"));
    EXPECT_EQ(SettingsCodec::encode({}), QByteArray("{}"));
}

TEST(SettingsCodec, HostileKeysAndNamesSurviveARoundTrip) {
    const std::map<QString, AppSetting> settings{
        {QStringLiteral("a\"b\\c\n"), {2.0, false, QStringLiteral("Ärger \"quoted\" \u2013 \t")}},
        {QStringLiteral("\u65e5\u672c"), {0.0, true, QString()}},
    };
    const QByteArray bytes = SettingsCodec::encode(settings);
    EXPECT_TRUE(QJsonDocument::fromJson(bytes).isObject()) << bytes.toStdString();
    EXPECT_EQ(SettingsCodec::decode(bytes), settings);
}

TEST(SettingsCodec, VolumesReadBackAsTheSameDouble) {
    for (const double volume : {0.1, 1.0 / 3.0, 1.006, 0.1 + 0.2, 4.0, 0.0, 5e-324, 2.5e-7,
                                3.9999999999999996, 123456789.123}) {
        const std::map<QString, AppSetting> settings{{QStringLiteral("k"), {volume, false, {}}}};
        const auto decoded = SettingsCodec::decode(SettingsCodec::encode(settings));
        ASSERT_TRUE(decoded) << volume;
        EXPECT_EQ(std::bit_cast<std::uint64_t>(decoded->at(QStringLiteral("k")).volume),
                  std::bit_cast<std::uint64_t>(volume))
            << volume;
    }
}

TEST(SettingsCodec, ReadingIgnoresMemberOrderAndExtraMembers) {
    const auto decoded = SettingsCodec::decode(
        R"({"b":{"extra":[1,2],"name":null,"muted":false,"volume":2},)"
        R"("a":{"muted":true,"volume":0.25,"name":"Player","colour":"red"},"c":{"volume":1,"muted":false}})");
    ASSERT_TRUE(decoded);
    const std::map<QString, AppSetting> expected{
        {QStringLiteral("a"), {0.25, true, QStringLiteral("Player")}},
        {QStringLiteral("b"), {2.0, false, std::nullopt}},
        {QStringLiteral("c"), {1.0, false, std::nullopt}},
    };
    EXPECT_EQ(*decoded, expected);
}

TEST(SettingsCodec, AnyUnreadableEntryLoadsNothing) {
    const char* cases[] = {
        "",
        "not json",
        "[]",
        "\"text\"",
        R"({"a":{"volume":1.5,"muted":false},"b":3})",
        R"({"a":{"volume":1.5,"muted":false},"b":{"volume":0.5}})",
        R"({"a":{"muted":true}})",
        R"({"a":{"volume":"0.5","muted":false}})",
        R"({"a":{"volume":0.5,"muted":0}})",
        R"({"a":{"volume":null,"muted":false}})",
        R"({"a":{"volume":0.5,"muted":false,"name":7}})",
        R"({"a":{"volume":1e400,"muted":false}})",
        R"({"a":{"volume":0.5,"muted":false})",
    };
    for (const char* bytes : cases) {
        EXPECT_FALSE(SettingsCodec::decode(QByteArray(bytes))) << bytes;
    }
}

TEST(AppSetting, EffectiveGainStaysWithinZeroToFourAndIsSilentWhenMuted) {
    struct Case {
        double volume;
        bool muted;
        float gain;
    };
    const Case cases[] = {
        {1.0, false, 1.0F},   {0.5, false, 0.5F}, {2.5, true, 0.0F},   {kNaN, false, 0.0F},
        {-0.5, false, 0.0F},  {4.5, false, 4.0F}, {kInf, false, 4.0F}, {-kInf, false, 0.0F},
        {1e308, false, 4.0F}, {4.0, false, 4.0F},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AppSetting({c.volume, c.muted, {}}).effectiveGain(), c.gain)
            << c.volume << " muted " << c.muted;
    }
}

// --- loading and saving through the model ----------------------------------------

class SettingsStorage : public ::testing::Test {
protected:
    ModelHarness world;
};

TEST_F(SettingsStorage, LoadsTheStoredMapAsItIsAndWritesNothingBack) {
    world.store.setData(
        kKey, R"({"org.a":{"volume":1.0,"muted":false},"org.b":{"volume":0.3,"muted":true}})");
    const int writes = world.store.writeCount();
    MixerModel& model = world.start();

    EXPECT_EQ(model.settings().size(), 2U);
    EXPECT_EQ(model.setting(QStringLiteral("org.b")), AppSetting({0.3, true, {}}));
    // A stored entry at the default is kept (and listed) until the user changes it.
    EXPECT_TRUE(model.settings().contains(QStringLiteral("org.a")));
    EXPECT_NE(world.row(QStringLiteral("org.a")), nullptr);
    EXPECT_EQ(world.store.writeCount(), writes);
}

TEST_F(SettingsStorage, EveryChangeRewritesTheWholeMapAndTheLastRemovalLeavesAnEmptyObject) {
    MixerModel& model = world.start();
    model.setVolume(0.5, QStringLiteral("org.a"));
    model.toggleMute(QStringLiteral("org.b"));
    EXPECT_EQ(
        world.store.data(kKey),
        QByteArray(R"({"org.a":{"volume":0.5,"muted":false},"org.b":{"volume":1,"muted":true}})"));

    model.reset(QStringLiteral("org.a"));
    model.toggleMute(QStringLiteral("org.b"));
    EXPECT_EQ(world.store.data(kKey), QByteArray("{}"));
    EXPECT_TRUE(model.settings().empty());

    // A reset of a group without an entry still saves.
    const int writes = world.store.writeCount();
    model.reset(QStringLiteral("org.none"));
    EXPECT_EQ(world.store.writeCount(), writes + 1);
}

TEST_F(SettingsStorage, UnreadableBytesAreKeptAsideBeforeTheFirstChangeReplacesThem) {
    const QByteArray broken(R"({"org.a":{"volume":0.5},"org.b":{"volume":2,"muted":false}})");
    world.store.setData(kKey, broken);
    MixerModel& model = world.start();
    EXPECT_TRUE(model.settings().empty());
    EXPECT_EQ(world.store.data(kKey), broken);
    EXPECT_FALSE(world.store.data(kKey + QStringLiteral(".unreadable")));

    model.setVolume(0.25, QStringLiteral("org.c"));
    EXPECT_EQ(world.store.data(kKey + QStringLiteral(".unreadable")), broken);
    EXPECT_EQ(world.store.data(kKey), QByteArray(R"({"org.c":{"volume":0.25,"muted":false}})"));

    // Kept once, not again at every change.
    const int writes = world.store.writeCount();
    model.setVolume(0.5, QStringLiteral("org.c"));
    EXPECT_EQ(world.store.writeCount(), writes + 1);
}

TEST_F(SettingsStorage, AnEarlierKeptCopyIsNeverOverwritten) {
    const QByteArray earlier("first broken value");
    const QByteArray now("second broken value");
    world.store.setData(kKey + QStringLiteral(".unreadable"), earlier);
    world.store.setData(kKey, now);
    world.start().toggleMute(QStringLiteral("org.a"));

    EXPECT_EQ(world.store.data(kKey + QStringLiteral(".unreadable")), earlier);
    EXPECT_EQ(world.store.data(kKey + QStringLiteral(".unreadable.2")), now);
}

TEST_F(SettingsStorage, TheSameBrokenBytesAreKeptOnlyOnce) {
    const QByteArray broken("{");
    world.store.setData(kKey + QStringLiteral(".unreadable"), broken);
    world.store.setData(kKey, broken);
    world.start().toggleMute(QStringLiteral("org.a"));
    EXPECT_FALSE(world.store.data(kKey + QStringLiteral(".unreadable.2")));
}

TEST_F(SettingsStorage, StoredVolumesOutsideTheRangeNeverReachATapAsSuch) {
    world.store.setData(kKey, R"({"org.loud":{"volume":7.5,"muted":false},)"
                              R"("org.neg":{"volume":-2,"muted":false},)"
                              R"("org.huge":{"volume":1e308,"muted":false}})");
    world.addApp(101, QStringLiteral("org.loud"), QStringLiteral("Loud"), true);
    world.addApp(102, QStringLiteral("org.neg"), QStringLiteral("Neg"), true);
    world.addApp(103, QStringLiteral("org.huge"), QStringLiteral("Huge"), true);
    MixerModel& model = world.start();

    EXPECT_EQ(model.setting(QStringLiteral("org.loud")).volume, 7.5); // loaded as it is
    EXPECT_EQ(model.tapGain(QStringLiteral("org.loud")), 4.0F);
    EXPECT_EQ(model.tapGain(QStringLiteral("org.neg")), 0.0F);
    EXPECT_EQ(model.tapGain(QStringLiteral("org.huge")), 4.0F);
    model.toggleMute(QStringLiteral("org.loud"));
    EXPECT_EQ(model.tapGain(QStringLiteral("org.loud")), 0.0F);
}

TEST_F(SettingsStorage, ANaNVolumeRequestChangesNothing) {
    MixerModel& model = world.start();
    model.setVolume(0.5, QStringLiteral("org.a"));
    const QByteArray before = *world.store.data(kKey);
    model.setVolume(kNaN, QStringLiteral("org.a"));
    EXPECT_EQ(model.setting(QStringLiteral("org.a")).volume, 0.5);
    EXPECT_EQ(world.store.data(kKey), before);
}

// --- the per-user store ----------------------------------------------------------

TEST(QSettingsStoreTest, KeepsByteArraysAcrossInstancesAndRefusesOtherKinds) {
    const test::TempDir dir;
    const QString file = QString::fromStdString((dir.path() / "corvalle.conf").string());
    const QByteArray bytes(R"({"org.a":{"volume":0.5,"muted":false}})");
    {
        QSettingsStore store(file);
        EXPECT_FALSE(store.data(kKey));
        store.setData(kKey, bytes);
    }
    { QSettings(file, QSettings::IniFormat).setValue(QStringLiteral("text"), QStringLiteral("x")); }
    const QSettingsStore reopened(file);
    EXPECT_EQ(reopened.data(kKey), bytes);
    EXPECT_FALSE(reopened.data(QStringLiteral("text")));
}

} // namespace
} // namespace corvalle
