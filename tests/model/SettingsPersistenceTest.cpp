#include "BufferLists.h"
#include "ModelHarness.h"
#include "QSettingsStore.h"
#include "SettingsCodec.h"
#include "TempDir.h"

#include <QFile>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

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
    const QByteArray cases[] = {
        "",
        "not json",
        "[]",
        R"({"a":{"volume":1.5,"muted":false},"b":3})",
        R"({"a":{"volume":1.5,"muted":false},"b":{"volume":0.5}})",
        R"({"a":{"volume":"0.5","muted":false}})",
        R"({"a":{"volume":0.5,"muted":0}})",
        R"({"a":{"volume":0.5,"muted":false,"name":7}})",
        R"({"a":{"volume":0.5,"muted":false,"output":["hdmi"]}})",
        R"({"a":{"volume":0.5,"muted":false,"output":"a","output":"b"}})",
        R"({"a":{"volume":1e400,"muted":false}})",
        // Saving would keep only one of two entries, or of two volumes.
        R"({"a":{"volume":0.5,"muted":false},"a":{"volume":2,"muted":true}})",
        R"({"a":{"volume":0.5,"volume":2,"muted":false}})",
        // Not JSON at all, though close.
        R"({"a":{"volume":0.5,"muted":false}} x)",
        R"({"a":{"volume":05,"muted":false}})",
        R"({"a":{"volume":0.5,"muted":false,"x":[1,]}})",
        "{\"a\xff\":{\"volume\":1,\"muted\":true}}",
        "{\"a\":{\"volume\":1,\"muted\":true,\"x\":\"\xed\xa0\x80\"}}",
        QByteArray(R"({"a":{"volume":1,"muted":true,"x":)") + QByteArray(100000, '[') +
            QByteArray(100000, ']') + "}}",
    };
    for (const QByteArray& bytes : cases) {
        EXPECT_FALSE(SettingsCodec::decode(bytes)) << bytes.left(80).toStdString();
    }
}

// Members it does not know are written back as they stood; the chosen output is
// optional: files without it load as before and are written back byte for byte,
// and a version that does not know it keeps it as another member.
TEST(SettingsCodec, UnknownMembersAndTheOptionalOutputAreWrittenBackInTheirPlace) {
    const QByteArray other =
        R"("id": 123456789012345678901234567890,"tags":["a",{"b":null}],"x":"\u00e9\ud83d\ude00")";
    struct Case {
        QByteArray stored;
        std::optional<QString> output;
        QByteArray written;
    };
    const Case cases[] = {
        {R"({"a":{"volume":0.5,"muted":false,"name":"A"}})", std::nullopt,
         R"({"a":{"volume":0.5,"muted":false,"name":"A"}})"},
        {R"({"a":{"output":"hdmi-2","muted":false,"volume":1}})", QStringLiteral("hdmi-2"),
         R"({"a":{"volume":1,"muted":false,"output":"hdmi-2"}})"},
        {R"({"a":{"volume":1,"muted":true,"output":null,"eq":1}})", std::nullopt,
         R"({"a":{"volume":1,"muted":true,"eq":1}})"},
        {R"({"a":{"volume":1,"muted":false,"name":"A","output":"x\"y","later":[2]}})",
         QStringLiteral("x\"y"),
         R"({"a":{"volume":1,"muted":false,"name":"A","output":"x\"y","later":[2]}})"},
        // Spaces go, a lone surrogate in a key stays.
        {R"( { "a" : { "muted":true , )" + other +
             R"(, "volume" : 0.50 } , "\ud800":{"volume":2,"muted":false} } )",
         std::nullopt,
         R"({"a":{"volume":0.5,"muted":true,)" + other +
             R"(},"\ud800":{"volume":2,"muted":false}})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored.toStdString());
        const auto decoded = SettingsCodec::decode(c.stored);
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->at(QStringLiteral("a")).output, c.output);
        EXPECT_EQ(SettingsCodec::encode(*decoded), c.written);
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

// The limiter's preference beside the settings: off only when it says so, as
// bytes or as text written by hand; anything else keeps the safer limiter. A
// tap made later, and one already running, follow the preference.
TEST_F(SettingsStorage, TheLimiterIsOffOnlyWhenStoredSoAndEveryTapFollowsIt) {
    const QString key = QStringLiteral("limiter");
    const struct {
        const char* stored; // nullptr: absent
        bool foreign;
        bool on;
    } cases[] = {{nullptr, false, true},  {"off", false, false}, {"on", false, true},
                 {" Off\n", true, false}, {"0", false, true},    {"", false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored == nullptr ? "absent" : c.stored);
        ModelHarness harness;
        if (c.stored != nullptr && c.foreign) {
            harness.store.setForeignData(key, c.stored);
        } else if (c.stored != nullptr) {
            harness.store.setData(key, c.stored);
        }
        const int writes = harness.store.writeCount();
        EXPECT_EQ(harness.start().limiterOn(), c.on);
        EXPECT_EQ(harness.store.writeCount(), writes) << "loading writes nothing back";
    }

    world.addApp(101, QStringLiteral("org.loud"), QStringLiteral("Loud"), true);
    MixerModel& model = world.start();
    model.setVolume(4.0, QStringLiteral("org.loud"));
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
    EXPECT_LT(model.takeTapLimit(QStringLiteral("org.loud")).value_or(1.0F), 1.0F);
    model.setLimiterOn(false);
    EXPECT_EQ(world.store.data(key), "off");
    EXPECT_FLOAT_EQ(lastFrame(), 0.4F);
    model.reset(QStringLiteral("org.loud"));
    model.setVolume(4.0, QStringLiteral("org.loud"));
    EXPECT_FLOAT_EQ(lastFrame(), 0.4F) << "a new tap is not clipped";
    model.setLimiterOn(true);
    EXPECT_EQ(world.store.data(key), "on");
    EXPECT_FLOAT_EQ(lastFrame(), 0.2F);
    EXPECT_EQ(model.takeTapLimit(QStringLiteral("org.other")), std::nullopt);
}

TEST_F(SettingsStorage, UnreadableBytesAreKeptAsideAndEveryChangeRewritesTheWholeMap) {
    const QByteArray broken(R"({"org.a":{"volume":0.5},"org.b":{"volume":2,"muted":false}})");
    world.store.setData(kKey, broken);
    world.start();
    EXPECT_TRUE(world.model->settings().empty());
    EXPECT_EQ(world.store.data(kKey), broken) << "untouched until the user changes something";

    world.store.failWrites(QStringLiteral("read-only"));
    world.model->setVolume(0.25, QStringLiteral("org.c"));
    EXPECT_TRUE(world.model->saveFailure());
    EXPECT_EQ(world.store.data(kKey), broken) << "never replaced before its copy is safe";
    world.store.failWrites(std::nullopt);
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

TEST_F(SettingsStorage, AValueOfAnotherTypeIsKeptAsideBeforeTheFirstSave) {
    const QByteArray text(R"({"org.a":{"volume":0.5,"muted":false}})");
    world.store.setForeignData(kKey, text);
    world.start();
    EXPECT_TRUE(world.model->settings().empty());

    world.model->setVolume(0.25, QStringLiteral("org.c"));
    EXPECT_EQ(world.store.data(kKept), text);
    EXPECT_EQ(world.store.data(kKey), QByteArray(R"({"org.c":{"volume":0.25,"muted":false}})"));

    // A slot taken by another type of value is not overwritten either.
    world.model.reset();
    world.store.setForeignData(kKey, "second");
    world.store.setForeignData(kKept + QStringLiteral(".2"), "not ours");
    world.start().toggleMute(QStringLiteral("org.a"));
    EXPECT_EQ(world.store.data(kKept), text);
    EXPECT_EQ(world.store.foreignData(kKept + QStringLiteral(".2")), QByteArray("not ours"));
    EXPECT_EQ(world.store.data(kKept + QStringLiteral(".3")), QByteArray("second"));
}

TEST_F(SettingsStorage, MembersItDoesNotKnowSurviveChanges) {
    world.store.setData(kKey, R"({"org.a":{"volume":0.5,"muted":false,"eq":[1,2,3]},)"
                              R"("org.b":{"volume":2,"muted":false,"color":"red"}})");
    world.start();
    world.model->toggleMute(QStringLiteral("org.a"));
    world.model->setVolume(0.25, QStringLiteral("org.c"));
    EXPECT_EQ(world.store.data(kKey),
              QByteArray(R"({"org.a":{"volume":0.5,"muted":true,"name":"org.a","eq":[1,2,3]},)"
                         R"("org.b":{"volume":2,"muted":false,"color":"red"},)"
                         R"("org.c":{"volume":0.25,"muted":false}})"));
    EXPECT_FALSE(world.store.data(kKept)) << "nothing to keep aside";
}

TEST_F(SettingsStorage, AFailedSaveIsToldKeptInForceAndRetriedOnTheNextChange) {
    world.store.setData(kKey, R"({"org.old":{"volume":0.5,"muted":false}})");
    world.addApp(101, QStringLiteral("org.a"), QStringLiteral("Player"), true);
    MixerModel& model = world.start();
    int errorsTold = 0;
    QObject::connect(&model, &MixerModel::lastErrorChanged, [&] { ++errorsTold; });

    world.store.failWrites(QStringLiteral("the disk is full"));
    model.setVolume(0.25, QStringLiteral("org.a"));
    ASSERT_TRUE(model.saveFailure());
    EXPECT_TRUE(model.saveFailure()->contains(QStringLiteral("the disk is full")));
    EXPECT_EQ(model.lastError(), model.saveFailure())
        << "the tap made in the same change does not hide the failure";
    EXPECT_GE(errorsTold, 1);
    EXPECT_EQ(model.tapGain(QStringLiteral("org.a")), 0.25F) << "the change is in force";
    EXPECT_EQ(world.store.data(kKey), QByteArray(R"({"org.old":{"volume":0.5,"muted":false}})"));

    world.store.failWrites(std::nullopt);
    model.toggleMute(QStringLiteral("org.a"));
    EXPECT_FALSE(model.saveFailure());
    EXPECT_FALSE(model.lastError());
    EXPECT_EQ(world.store.data(kKey), QByteArray(R"({"org.a":{"volume":0.25,"muted":true,)"
                                                 R"("name":"Player"},)"
                                                 R"("org.old":{"volume":0.5,"muted":false}})"));
}

// The file store against what stands in the way of a write on a real disk.
class QSettingsStoreFailures : public ::testing::Test {
protected:
    QString file() const { return QString::fromStdString(conf().string()); }
    std::filesystem::path conf() const { return dir.path() / "corvalle.conf"; }
    QByteArray bytes() const {
        QFile read(file());
        return read.open(QIODevice::ReadOnly) ? read.readAll() : QByteArray();
    }
    test::TempDir dir;
    const QByteArray old = R"({"org.a":{"volume":0.5,"muted":false}})";
    const QByteArray next = R"({"org.a":{"volume":0.75,"muted":false}})";
};

// A folder in the file's place is told and the next write judged afresh; the
// file and its folders are made again when they disappear.
TEST_F(QSettingsStoreFailures, AFolderInTheFilesPlaceIsToldAndWhatDisappearsIsMadeAgain) {
    const auto conf = dir.path() / "config" / "Corvalle" / "Corvalle.conf";
    const QString path = QString::fromStdString(conf.string());
    QSettingsStore store(path);
    ASSERT_TRUE(store.setData(kKey, old).stored);
    std::filesystem::remove(conf);
    std::filesystem::create_directory(conf);
    const StoreWrite write = store.setData(kKey, next);
    EXPECT_FALSE(write.stored);
    EXPECT_TRUE(write.failure.contains(QStringLiteral("is a folder")))
        << write.failure.toStdString();

    std::filesystem::remove(conf);
    EXPECT_TRUE(store.setData(kKey, next).stored) << "an earlier failure does not stick";
    EXPECT_EQ(QSettingsStore(path).data(kKey), next);
    std::filesystem::remove_all(dir.path() / "config");
    ASSERT_TRUE(store.setData(kKey, old).stored);
    EXPECT_EQ(QSettingsStore(path).data(kKey), old);
}

TEST_F(QSettingsStoreFailures, AReadOnlyPlaceIsTold) {
    // /proc refuses new files even to root, who may write to any read-only file.
    QSettingsStore store(QStringLiteral("/proc/corvalle-test/corvalle.conf"));
    EXPECT_FALSE(store.setData(kKey, next).stored);
    if (geteuid() == 0) {
        return;
    }
    QSettingsStore readOnly(file());
    ASSERT_TRUE(readOnly.setData(kKey, old).stored);
    std::filesystem::permissions(conf(), std::filesystem::perms::owner_read);
    const StoreWrite write = readOnly.setData(kKey, next);
    EXPECT_FALSE(write.stored);
    EXPECT_TRUE(write.failure.contains(QStringLiteral("read-only"))) << write.failure.toStdString();
    EXPECT_EQ(QSettingsStore(file()).data(kKey), old);
}

// A file size limit fails the write part way, as a full disk does.
TEST_F(QSettingsStoreFailures, AWriteThatRunsOutOfSpaceLeavesTheOldFileWhole) {
    QSettingsStore store(file());
    ASSERT_TRUE(store.setData(kKey, old).stored);
    const auto before = bytes();

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
    EXPECT_EQ(QSettingsStore(file()).data(kKey), old);
}

TEST_F(QSettingsStoreFailures, AValueOfAnotherTypeIsReadAsItStandsInTheFile) {
    const std::string text = R"("{\"org.a\":{\"volume\":0.5,\"muted\":false}}", more)";
    dir.writeFile("corvalle.conf", "[General]\nappSettings=" + text + "\r\nother=1\n");
    QSettingsStore store(file());
    EXPECT_FALSE(store.data(kKey));
    EXPECT_EQ(store.foreignData(kKey), QByteArray::fromStdString(text));
    EXPECT_FALSE(store.foreignData(QStringLiteral("other2")));
    ASSERT_TRUE(store.setData(kKey, old).stored);
    EXPECT_FALSE(store.foreignData(kKey));
    EXPECT_EQ(store.data(kKey), old);
}

} // namespace
} // namespace corvalle
