#include "AppScope.h"

#include "ProcFiles.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace corvalle {
namespace {

struct CgroupCase {
    const char* cgroup;
    const char* sandboxID;
    QStringList unitIDs;
};

TEST(AppScope, ApplicationIDsFromTheControlGroup) {
    const std::vector<CgroupCase> cases = {
        {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
         "app-gnome-firefox-4711.scope\n",
         "",
         {"gnome-firefox", "firefox"}},
        {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
         "app-gnome-google\\x2dchrome-77.scope\n",
         "",
         {"gnome-google-chrome", "google-chrome"}},
        {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
         "app-org.kde.konsole-1234.scope\n",
         "",
         {"org.kde.konsole"}},
        {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
         "app-flatpak-com.spotify.Client-98765.scope\n",
         "com.spotify.Client",
         {"flatpak-com.spotify.Client", "com.spotify.Client"}},
        {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
         "app-org.gnome.Evolution\\x2dalarm\\x2dnotify@autostart.service\n",
         "",
         {"org.gnome.Evolution-alarm-notify"}},
        {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/app-slack.service\n",
         "",
         {"slack"}},
        {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
         "snap.firefox.firefox-1b2c3d.scope\n",
         "",
         {"firefox_firefox"}},
        // A nested group below the app unit still belongs to it.
        {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
         "app-gnome-steam-55.scope/game\n",
         "",
         {"gnome-steam", "steam"}},
        // cgroup v1: any hierarchy may carry the path.
        {"12:cpuset:/\n1:name=systemd:/user.slice/user-1000.slice/user@1000.service/"
         "app.slice/app-gnome-vlc-3.scope\n",
         "",
         {"gnome-vlc", "vlc"}},
        {"0::/user.slice/user-1000.slice/session-2.scope\n", "", {}},
        {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/app-.scope\n", "", {}},
        {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/app--5.scope\n", "", {}},
        {"0::/app.slice/app-gnome-evil\\x2fpath-1.scope\n", "", {}},
        {"no colons here\n::\n0::\n", "", {}},
        {"", "", {}},
    };
    for (const auto& c : cases) {
        const ScopeAppIDs ids = appIDsFromCgroup(QByteArray(c.cgroup));
        EXPECT_EQ(ids.sandboxID, QString::fromUtf8(c.sandboxID)) << c.cgroup;
        EXPECT_EQ(ids.unitIDs, c.unitIDs) << c.cgroup;
    }
}

TEST(AppScope, UnescapesSystemdNames) {
    EXPECT_EQ(unescapeUnitName("a\\x2db\\x2Dc"), QStringLiteral("a-b-c"));
    EXPECT_EQ(unescapeUnitName("caf\\xc3\\xa9"), QStringLiteral("café"));
    EXPECT_EQ(unescapeUnitName("bad\\xzz\\x2"), QStringLiteral("bad\\xzz\\x2"));
}

struct FlatpakCase {
    const char* info;
    const char* id;
};

TEST(AppScope, FlatpakInfo) {
    const std::vector<FlatpakCase> cases = {
        {"[Application]\nname=org.example.App\nruntime=runtime/x\n", "org.example.App"},
        {"[Instance]\nname=wrong\n[Application]\nname = org.example.Spaced \n",
         "org.example.Spaced"},
        {"[Runtime]\nname=org.freedesktop.Platform\n", ""},
        {"[Application]\nnamespace=x\n", ""},
        {"[Application]\nname=../../etc/passwd\n", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(flatpakAppID(QByteArray(c.info)), QString::fromUtf8(c.id)) << c.info;
    }
}

struct StatCase {
    const char* stat;
    bool valid;
    const char* comm;
    unsigned long long startTime;
};

TEST(ProcFiles, ParsesStat) {
    const std::vector<StatCase> cases = {
        {"42 (firefox) S 1 42 42 0 -1 4194304 100 0 0 0 5 3 0 0 20 0 4 0 98765 1 2 3\n", true,
         "firefox", 98765},
        {"42 (Web Content) S 1 42 42 0 -1 4194304 100 0 0 0 5 3 0 0 20 0 4 0 5 1\n", true,
         "Web Content", 5},
        {"42 (a) b (c) S 1 42 42 0 -1 4194304 100 0 0 0 5 3 0 0 20 0 4 0 77 1\n", true, "a) b (c",
         77},
        {"42 (short) S 1 42 42\n", false, "", 0},
        {"42 (x) S 1 42 42 0 -1 4194304 100 0 0 0 5 3 0 0 20 0 4 0 12ab 1\n", false, "", 0},
        {"garbage", false, "", 0},
        {"", false, "", 0},
    };
    for (const auto& c : cases) {
        const auto stat = proc::parseStat(QByteArray(c.stat));
        ASSERT_EQ(stat.has_value(), c.valid) << c.stat;
        if (stat) {
            EXPECT_EQ(stat->comm, QByteArray(c.comm));
            EXPECT_EQ(stat->startTime, c.startTime);
        }
    }
}

TEST(ProcFiles, SplitsCmdline) {
    EXPECT_EQ(proc::splitCmdline(QByteArray("a\0b c\0\0d\0", 9)),
              (QList<QByteArray>{"a", "b c", "", "d"}));
    EXPECT_TRUE(proc::splitCmdline({}).isEmpty());
}

TEST(ProcFiles, ReadsOnlyRegularFilesAndNeverBlocks) {
    const test::TempDir dir;
    const auto file = dir.writeFile("file", std::string(10000, 'x'));
    const auto fifo = dir.path() / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

    const auto whole = proc::readFile(QByteArray(file.c_str()), 1 << 20);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->size(), 10000);
    const auto capped = proc::readFile(QByteArray(file.c_str()), 100);
    ASSERT_TRUE(capped);
    EXPECT_EQ(capped->size(), 100);
    EXPECT_FALSE(proc::readFile(QByteArray(fifo.c_str()), 100));
    EXPECT_FALSE(proc::readFile(QByteArray(dir.path().c_str()), 100));
    EXPECT_FALSE(proc::readFile(QByteArray((dir.path() / "missing").c_str()), 100));
}

TEST(ProcFiles, ReadsLinksWithoutTheDeletedMark) {
    const test::TempDir dir;
    std::filesystem::create_symlink("/usr/bin/app (deleted)", dir.path() / "gone");
    std::filesystem::create_symlink("/usr/bin/app", dir.path() / "here");
    EXPECT_EQ(proc::readLink(QByteArray((dir.path() / "gone").c_str())),
              QByteArray("/usr/bin/app"));
    EXPECT_EQ(proc::readLink(QByteArray((dir.path() / "here").c_str())),
              QByteArray("/usr/bin/app"));
    EXPECT_FALSE(proc::readLink(QByteArray((dir.path() / "missing").c_str())));
}

} // namespace
} // namespace corvalle
