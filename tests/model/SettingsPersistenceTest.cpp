#include "BufferLists.h"
#include "EncodedSettings.h"
#include "ModelHarness.h"
#include "QSettingsStore.h"
#include "SettingsCodec.h"
#include "TempDir.h"

#include <QFile>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <sys/resource.h>
#include <unistd.h>

namespace corvalle {
namespace {

using namespace Qt::StringLiterals;
using test::ModelHarness;

const QString kKey = u"appSettings"_s;
const QString kKept = u"appSettings.unreadable"_s;

// The exact written shape is checked where the model saves.
TEST(SettingsCodec, HostileTextAndEveryVolumeReadBackExactly) {
    std::map<QString, AppSetting> settings{
        {u"a\"b\\c\n"_s, {2.0, false, u"\u00c4rger \"q\" \t"_s}}};
    for (const double volume : {0.1, 1.0 / 3.0, 1.006, 0.1 + 0.2, 5e-324, 3.9999999999999996}) {
        settings[QString::number(volume, 'g', 17)] = {volume, true, std::nullopt};
    }
    EXPECT_EQ(SettingsCodec::decode(SettingsCodec::encode(settings)), settings);
}

// Entries come, change and go at the front, the middle and the end, down to none.
TEST(EncodedSettings, EveryUpdateGivesWhatEncodingTheWholeMapGives) {
    std::mt19937 random(7);
    std::map<QString, AppSetting> settings;
    EncodedSettings encoded;
    encoded.assign(settings);
    for (int round = 0; round < 400; ++round) {
        const bool sweep = round % 50 == 49;
        std::set<QString> keys;
        for (int change = 0, changes = sweep ? 12 : 1 + static_cast<int>(random() % 3);
             change < changes; ++change) {
            const QString key = *keys.insert(u"k%1"_s.arg(random() % 12)).first;
            if (sweep || random() % 3 == 0) {
                settings.erase(key);
            } else {
                settings[key] = {static_cast<double>(random() % 9) / 2.0, random() % 2 == 0,
                                 random() % 2 == 0 ? std::optional(u"N\u00e4me \"%1\""_s.arg(round))
                                                   : std::nullopt};
            }
        }
        encoded.update(settings, keys);
        ASSERT_EQ(encoded.text(), SettingsCodec::encode(settings)) << round;
    }
}

TEST(SettingsCodec, AnyUnreadableEntryLoadsNothing) {
    const QByteArray cases[] = {
        "",
        "[]",
        R"({"a":{"volume":1.5,"muted":false},"b":3})",
        R"({"a":{"volume":1.5,"muted":false},"b":{"volume":0.5}})",
        R"({"a":{"volume":"0.5","muted":false}})",
        R"({"a":{"volume":0.5,"muted":0}})",
        R"({"a":{"volume":0.5,"muted":false,"name":7}})",
        R"({"a":{"volume":0.5,"muted":false,"output":["hdmi"]}})",
        R"({"a":{"volume":0.5,"muted":false,"output":"a","output":"b"}})",
        R"({"a":{"volume":0.5,"muted":false,"lowersOthers":1}})",
        R"({"a":{"volume":0.5,"muted":false,"lowersOthers":true,"lowersOthers":false}})",
        R"({"a":{"volume":1e400,"muted":false}})",
        // The levels of other outputs: each with both members and nothing else, once.
        R"({"a":{"volume":1,"muted":false,"levelPerOutput":true,"outputLevels":[]}})",
        R"({"a":{"volume":1,"muted":false,"levelPerOutput":true,"outputLevels":{"x":{"volume":1}}}})",
        R"({"a":{"volume":1,"muted":false,"levelPerOutput":true,"outputLevels":{"x":{"volume":1,"muted":false,"eq":2}}}})",
        R"({"a":{"volume":1,"muted":false,"levelPerOutput":true,"outputLevels":{"x":{"volume":1,"muted":false},"x":{"volume":2,"muted":false}}}})",
        R"({"a":{"volume":1,"muted":false,"levelPerOutput":true,"levelOutput":3}})",
        // Saving would keep only one of two entries, or of two volumes.
        R"({"a":{"volume":0.5,"muted":false},"a":{"volume":2,"muted":true}})",
        R"({"a":{"volume":0.5,"volume":2,"muted":false}})",
        // Not JSON at all, though close; nested deeper than any stack.
        R"({"a":{"volume":0.5,"muted":false}} x)",
        "{\"a\xff\":{\"volume\":1,\"muted\":true}}",
        QByteArray(R"({"a":{"volume":1,"muted":true,"x":)") + QByteArray(100000, '[') +
            QByteArray(100000, ']') + "}}",
    };
    for (const QByteArray& bytes : cases) {
        EXPECT_FALSE(SettingsCodec::decode(bytes)) << bytes.left(80).toStdString();
    }
}

// Members it does not know are written back as they stood; files without the
// optional output load as before and are written back byte for byte.
TEST(SettingsCodec, UnknownMembersAndTheOptionalOutputAreWrittenBackInTheirPlace) {
    const QByteArray other =
        R"("id": 123456789012345678901234567890,"tags":["a",{"b":null}],"x":"\u00e9\ud83d\ude00")";
    const std::tuple<QByteArray, std::optional<QString>, QByteArray> cases[] = {
        {R"({"a":{"output":"hdmi-2","muted":false,"volume":1}})", u"hdmi-2"_s,
         R"({"a":{"volume":1,"muted":false,"output":"hdmi-2"}})"},
        {R"({"a":{"volume":1,"muted":true,"output":null,"eq":1}})", std::nullopt,
         R"({"a":{"volume":1,"muted":true,"eq":1}})"},
        // The mark that lowers the others is written only when set.
        {R"({"a":{"lowersOthers":true,"volume":1,"muted":false,"eq":1}})", std::nullopt,
         R"({"a":{"volume":1,"muted":false,"lowersOthers":true,"eq":1}})"},
        {R"({"a":{"lowersOthers":false,"volume":1,"muted":true}})", std::nullopt,
         R"({"a":{"volume":1,"muted":true}})"},
        // A level for each output: the present device's level is the entry's own,
        // a stored level for it too is dropped, and nothing of it is kept once off.
        {R"({"a":{"volume":0.5,"muted":false,"levelPerOutput":true,"levelOutput":"hp",)"
         R"("outputLevels":{"spk":{"volume":2,"muted":true},"hp":{"volume":4,"muted":false}}}})",
         std::nullopt,
         R"({"a":{"volume":0.5,"muted":false,"levelPerOutput":true,"levelOutput":"hp",)"
         R"("outputLevels":{"spk":{"volume":2,"muted":true}}}})"},
        {R"({"a":{"volume":1,"muted":true,"levelPerOutput":false,"levelOutput":"hp",)"
         R"("outputLevels":{"spk":{"volume":2,"muted":true}}}})",
         std::nullopt, R"({"a":{"volume":1,"muted":true}})"},
        // Spaces go, a lone surrogate in a key stays.
        {R"( { "a" : { "muted":true , )" + other +
             R"(, "volume" : 0.50 } , "\ud800":{"volume":2,"muted":false} } )",
         std::nullopt,
         R"({"a":{"volume":0.5,"muted":true,)" + other +
             R"(},"\ud800":{"volume":2,"muted":false}})"},
    };
    for (const auto& [stored, output, written] : cases) {
        SCOPED_TRACE(stored.toStdString());
        const auto decoded = SettingsCodec::decode(stored);
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->at(u"a"_s).output, output);
        EXPECT_EQ(SettingsCodec::encode(*decoded), written);
        EXPECT_EQ(SettingsCodec::decode(SettingsCodec::encode(*decoded)), decoded);
    }
}

class SettingsStorage : public ::testing::Test {
protected:
    ModelHarness world;
};

TEST_F(SettingsStorage, StoredVolumesOutsideTheRangeAreLoadedButClampedAtTheTap) {
    world.store.setData(kKey, R"({"org.loud":{"volume":7.5,"muted":false},)"
                              R"("org.default":{"volume":1,"muted":false}})");
    world.addApp(101, u"org.loud"_s, u"Loud"_s, true);
    world.addApp(103, u"org.default"_s, u"Default"_s, true);
    const int writes = world.store.writeCount();
    MixerModel& model = world.start();
    EXPECT_EQ(model.setting("org.loud").volume, 7.5);
    EXPECT_EQ(model.tapGain("org.loud"), 4.0F);
    EXPECT_TRUE(model.settings().contains("org.default"));
    EXPECT_FALSE(model.hasTap("org.default"));
    EXPECT_EQ(world.store.writeCount(), writes) << "loading writes nothing back";
}

// The limiter is off only when stored so, as bytes or as text written by hand;
// anything else keeps the safer limiter. New and running taps follow it (back
// on: MixerViewTest).
TEST_F(SettingsStorage, TheLimiterIsOffOnlyWhenStoredSoAndEveryTapFollowsIt) {
    const QString key = u"limiter"_s;
    const std::tuple<const char*, bool, bool> cases[] = {
        {nullptr, false, true}, {"off", false, false}, {" Off\n", true, false}, {"0", false, true}};
    for (const auto& [stored, foreign, on] : cases) {
        SCOPED_TRACE(stored == nullptr ? "absent" : stored);
        ModelHarness harness;
        if (stored != nullptr && foreign) {
            harness.store.setForeignData(key, stored);
        } else if (stored != nullptr) {
            harness.store.setData(key, stored);
        }
        const int writes = harness.store.writeCount();
        EXPECT_EQ(harness.start().limiterOn(), on);
        EXPECT_EQ(harness.store.writeCount(), writes) << "loading writes nothing back";
    }

    world.addApp(101, u"org.loud"_s, u"Loud"_s, true);
    MixerModel& model = world.start();
    model.setVolume(4.0, "org.loud");
    // A loud first frame, then quiet ones: clipped, they play at the gain;
    // limited, at the gain the loud frame needed.
    const auto lastFrame = [&] {
        test::BufferList in;
        in.add(2, 8, 0.1F);
        in.at(0, 0, 0) = 0.5F;
        test::BufferList out;
        out.add(2, 8);
        for (const auto& [id, aggregate] : world.hardware.aggregates()) {
            world.hardware.runIOCycle(id, in.list(), out.list());
        }
        return out.at(0, 7, 0);
    };
    EXPECT_FLOAT_EQ(lastFrame(), 0.2F);
    model.setLimiterOn(false);
    EXPECT_EQ(world.store.data(key), "off");
    EXPECT_FLOAT_EQ(lastFrame(), 0.4F);
    model.reset("org.loud");
    model.setVolume(4.0, "org.loud");
    EXPECT_FLOAT_EQ(lastFrame(), 0.4F) << "a new tap is not limited either";
}

TEST_F(SettingsStorage, UnreadableBytesAreKeptAsideAndEveryChangeRewritesTheWholeMap) {
    const QByteArray broken(R"({"org.a":{"volume":0.5},"org.b":{"volume":2,"muted":false}})");
    world.store.setData(kKey, broken);
    EXPECT_TRUE(world.start().settings().empty());
    EXPECT_EQ(world.store.data(kKey), broken) << "untouched until the user changes something";

    world.store.failWrites(u"read-only"_s);
    world.model->setVolume(0.25, "org.c");
    EXPECT_EQ(world.store.data(kKey), broken) << "never replaced before its copy is safe";
    world.store.failWrites(std::nullopt);
    world.model->toggleMute("org.a");
    EXPECT_EQ(world.store.data(kKept), broken);
    EXPECT_EQ(world.store.data(kKey),
              R"({"org.a":{"volume":1,"muted":true},"org.c":{"volume":0.25,"muted":false}})");

    // A copy kept at an earlier launch is never overwritten, nor one of another type.
    world.model.reset();
    world.store.setForeignData(kKey, "second");
    world.store.setForeignData(kKept + u".2"_s, "not ours");
    world.start().toggleMute("org.a");
    EXPECT_EQ(world.store.data(kKept), broken);
    EXPECT_EQ(world.store.foreignData(kKept + u".2"_s), "not ours");
    EXPECT_EQ(world.store.data(kKept + u".3"_s), "second");
    world.model->toggleMute("org.a");
    EXPECT_EQ(world.store.data(kKey), "{}") << "the last removal saves an empty map";
}

TEST_F(SettingsStorage, MembersItDoesNotKnowSurviveChanges) {
    world.store.setData(kKey, R"({"org.a":{"volume":0.5,"muted":false,"eq":[1,2,3]},)"
                              R"("org.b":{"volume":2,"muted":false,"color":"red"}})");
    world.start().toggleMute("org.a");
    world.model->setVolume(0.25, "org.c");
    EXPECT_EQ(world.store.data(kKey),
              R"({"org.a":{"volume":0.5,"muted":true,"name":"org.a","eq":[1,2,3]},)"
              R"("org.b":{"volume":2,"muted":false,"color":"red"},)"
              R"("org.c":{"volume":0.25,"muted":false}})");
    EXPECT_FALSE(world.store.data(kKept)) << "nothing to keep aside";
}

TEST_F(SettingsStorage, AFailedSaveIsToldKeptInForceAndRetriedOnTheNextChange) {
    const QByteArray old = R"({"org.old":{"volume":0.5,"muted":false}})";
    world.store.setData(kKey, old);
    world.addApp(101, u"org.a"_s, u"Player"_s, true);
    MixerModel& model = world.start();
    int errorsTold = 0;
    QObject::connect(&model, &MixerModel::lastErrorChanged, [&] { ++errorsTold; });
    world.store.failWrites(u"the disk is full"_s);
    model.setVolume(0.25, "org.a");
    ASSERT_TRUE(model.saveFailure());
    EXPECT_TRUE(model.saveFailure()->contains(u"the disk is full"_s));
    EXPECT_EQ(model.lastError(), model.saveFailure())
        << "the tap made in the same change does not hide the failure";
    EXPECT_GE(errorsTold, 1);
    EXPECT_EQ(model.tapGain("org.a"), 0.25F) << "the change is in force";
    EXPECT_EQ(world.store.data(kKey), old);

    world.store.failWrites(std::nullopt);
    model.toggleMute("org.a");
    EXPECT_FALSE(model.lastError());
    EXPECT_EQ(world.store.data(kKey), R"({"org.a":{"volume":0.25,"muted":true,"name":"Player"},)"
                                      R"("org.old":{"volume":0.5,"muted":false}})");
}

// The file store against what stands in the way of a write on a real disk.
class QSettingsStoreFailures : public ::testing::Test {
protected:
    test::TempDir dir;
    const std::filesystem::path conf = dir.path() / "config" / "Corvalle" / "Corvalle.conf";
    const QString file = QString::fromStdString(conf.string());
    const QByteArray old = R"({"org.a":{"volume":0.5,"muted":false}})";
    const QByteArray next = R"({"org.a":{"volume":0.75,"muted":false}})";
};

// A folder in the file's place, or a place that refuses new files even to root,
// is told, and the next write judged afresh; what disappears is made again.
TEST_F(QSettingsStoreFailures, WhatStandsInTheWayIsToldAndWhatDisappearsIsMadeAgain) {
    EXPECT_FALSE(QSettingsStore(u"/proc/corvalle-test/corvalle.conf"_s).setData(kKey, next).stored);
    QSettingsStore store(file);
    ASSERT_TRUE(store.setData(kKey, old).stored);
    std::filesystem::remove(conf);
    std::filesystem::create_directory(conf);
    const StoreWrite write = store.setData(kKey, next);
    EXPECT_FALSE(write.stored);
    EXPECT_TRUE(write.failure.contains(u"is a folder"_s)) << write.failure.toStdString();

    std::filesystem::remove(conf);
    EXPECT_TRUE(store.setData(kKey, next).stored) << "an earlier failure does not stick";
    EXPECT_EQ(QSettingsStore(file).data(kKey), next);
    std::filesystem::remove_all(dir.path() / "config");
    ASSERT_TRUE(store.setData(kKey, old).stored);
    EXPECT_EQ(QSettingsStore(file).data(kKey), old);
}

// A file size limit fails the write part way, as a full disk does.
TEST_F(QSettingsStoreFailures, AWriteThatRunsOutOfSpaceLeavesTheOldFileWhole) {
    QSettingsStore store(file);
    ASSERT_TRUE(store.setData(kKey, old).stored);
    const auto bytes = [this] {
        QFile read(file);
        return read.open(QIODevice::ReadOnly) ? read.readAll() : QByteArray();
    };
    const QByteArray before = bytes();
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const StoreWrite write = store.setData(kKey, QByteArray(qsizetype{64} * 1024, 'x'));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(write.stored);
    EXPECT_EQ(bytes(), before);
    EXPECT_EQ(QSettingsStore(file).data(kKey), old);
}

// Read as it stands, it is kept aside before the first save replaces it.
TEST_F(QSettingsStoreFailures, AValueOfAnotherTypeIsReadAsItStandsInTheFile) {
    const std::string text = R"("{\"org.a\":{\"volume\":0.5,\"muted\":false}}", more)";
    const auto path = dir.writeFile("corvalle.conf", "[General]\nappSettings=" + text + "\r\n");
    QSettingsStore store(QString::fromStdString(path.string()));
    EXPECT_FALSE(store.data(kKey));
    EXPECT_EQ(store.foreignData(kKey), QByteArray::fromStdString(text));
    ASSERT_TRUE(store.setData(kKey, old).stored);
    EXPECT_FALSE(store.foreignData(kKey));
}

} // namespace
} // namespace corvalle
