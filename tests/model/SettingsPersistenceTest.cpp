#include "ModelHarness.h"
#include "QSettingsStore.h"
#include "SettingsCodec.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <limits>

namespace corvalle {
namespace {

using test::ModelHarness;

const QString kKey = QStringLiteral("appSettings");
const QString kKept = QStringLiteral("appSettings.unreadable");

// The exact written shape is checked where the model saves.
TEST(SettingsCodec, HostileTextAndEveryVolumeReadBackExactly) {
    std::map<QString, AppSetting> settings{
        {QStringLiteral("a\"b\\c\n"), {2.0, false, QStringLiteral("\u00c4rger \"q\" \t")}}};
    for (const double volume : {0.1, 1.0 / 3.0, 1.006, 0.1 + 0.2, 5e-324, 3.9999999999999996}) {
        settings[QString::number(volume, 'g', 17)] = {volume, true, std::nullopt};
    }
    EXPECT_EQ(SettingsCodec::decode(SettingsCodec::encode(settings)), settings);
}

TEST(SettingsCodec, AnyUnreadableEntryLoadsNothing) {
    for (const char* bytes :
         {"", "not json", "[]", R"({"a":{"volume":1.5,"muted":false},"b":3})",
          R"({"a":{"volume":1.5,"muted":false},"b":{"volume":0.5}})",
          R"({"a":{"volume":"0.5","muted":false}})", R"({"a":{"volume":0.5,"muted":0}})",
          R"({"a":{"volume":0.5,"muted":false,"name":7}})",
          R"({"a":{"volume":1e400,"muted":false}})"}) {
        EXPECT_FALSE(SettingsCodec::decode(QByteArray(bytes))) << bytes;
    }
}

TEST(AppSetting, EffectiveGainStaysWithinZeroToFour) {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const std::tuple<double, bool, float> cases[] = {
        {0.5, false, 0.5F}, {2.5, true, 0.0F},   {kNaN, false, 0.0F},  {-0.5, false, 0.0F},
        {4.5, false, 4.0F}, {kInf, false, 4.0F}, {-kInf, false, 0.0F}, {1e308, false, 4.0F},
    };
    for (const auto& [volume, muted, gain] : cases) {
        EXPECT_EQ(AppSetting({volume, muted, {}}).effectiveGain(), gain) << volume << muted;
    }
}

class SettingsStorage : public ::testing::Test {
protected:
    ModelHarness world;
};

TEST_F(SettingsStorage, StoredVolumesOutsideTheRangeAreLoadedButClampedAtTheTap) {
    world.store.setData(kKey, R"({"org.loud":{"volume":7.5,"muted":false},)"
                              R"("org.default":{"volume":1,"muted":false}})");
    world.addApp(101, QStringLiteral("org.loud"), QStringLiteral("Loud"), true);
    world.addApp(103, QStringLiteral("org.default"), QStringLiteral("Default"), true);
    const int writes = world.store.writeCount();
    MixerModel& model = world.start();

    EXPECT_EQ(model.setting(QStringLiteral("org.loud")).volume, 7.5);
    EXPECT_EQ(model.tapGain(QStringLiteral("org.loud")), 4.0F);
    EXPECT_TRUE(model.settings().contains(QStringLiteral("org.default")));
    EXPECT_FALSE(model.hasTap(QStringLiteral("org.default")));
    EXPECT_EQ(world.store.writeCount(), writes) << "loading writes nothing back";
}

TEST_F(SettingsStorage, UnreadableBytesAreKeptAsideAndEveryChangeRewritesTheWholeMap) {
    const QByteArray broken(R"({"org.a":{"volume":0.5},"org.b":{"volume":2,"muted":false}})");
    world.store.setData(kKey, broken);
    world.start();
    EXPECT_TRUE(world.model->settings().empty());
    EXPECT_EQ(world.store.data(kKey), broken) << "untouched until the user changes something";

    world.model->setVolume(0.25, QStringLiteral("org.c"));
    world.model->toggleMute(QStringLiteral("org.a"));
    EXPECT_EQ(world.store.data(kKept), broken);
    EXPECT_EQ(world.store.data(kKey), QByteArray(R"({"org.a":{"volume":1,"muted":true},)"
                                                 R"("org.c":{"volume":0.25,"muted":false}})"));

    // A copy kept at an earlier launch is never overwritten.
    world.model.reset();
    world.store.setData(kKey, "second broken value");
    world.start().toggleMute(QStringLiteral("org.a"));
    EXPECT_EQ(world.store.data(kKept), broken);
    EXPECT_EQ(world.store.data(kKept + QStringLiteral(".2")), QByteArray("second broken value"));
    world.model->toggleMute(QStringLiteral("org.a"));
    EXPECT_EQ(world.store.data(kKey), QByteArray("{}")) << "the last removal saves an empty map";
}

TEST(QSettingsStoreTest, KeepsByteArraysAcrossInstances) {
    const test::TempDir dir;
    const QString file = QString::fromStdString((dir.path() / "corvalle.conf").string());
    const QByteArray bytes(R"({"org.a":{"volume":0.5,"muted":false}})");
    QSettingsStore(file).setData(kKey, bytes);
    EXPECT_EQ(QSettingsStore(file).data(kKey), bytes);
}

} // namespace
} // namespace corvalle
