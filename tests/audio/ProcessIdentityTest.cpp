#include "ProcessIdentity.h"

#include "TempDir.h"

#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace corvalle {
namespace {

using namespace std::string_literals;

constexpr const char* kUserSlice = "/user.slice/user-1000.slice/user@1000.service/app.slice/";

TEST(ProcessIdentity, ApplicationUnitIsTheInnermostOneOfTheUnifiedHierarchyFirst) {
    const std::string app = kUserSlice;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"0::" + app + "app-gnome-firefox-4711.scope\n", "app-gnome-firefox-4711.scope"},
        {"0::" + app + "app-org.term.service\n", "app-org.term.service"},
        {"0::" + app + "app-gnome-steam-55.scope/game\n", "app-gnome-steam-55.scope"},
        {"0::" + app + "app-outer.scope/app-inner-2.scope\n", "app-inner-2.scope"},
        {"0::" + app + "snap.firefox.firefox-1b2c3d.scope\n", "snap.firefox.firefox-1b2c3d.scope"},
        {"0::/user.slice/flatpak-org.example.App-12.scope\n", "flatpak-org.example.App-12.scope"},
        {"12:cpuset:/\n1:name=systemd:/app.slice/app-a.scope\n", "app-a.scope"},
        {"3:cpu:/app.slice/app-b.scope\n1:name=systemd:/app.slice/app-a.scope\n", "app-a.scope"},
        {"3:cpu:/app.slice/app-b.scope\n1:name=systemd:/\n", "app-b.scope"},
        {"1:name=systemd:/app.slice/app-a.scope\n0::/app.slice/app-c.scope\n", "app-c.scope"},
        {"1:name=systemd:/app.slice/app-a.scope\n0::/session-2.scope\n", ""},
        {"0::/user.slice/user-1000.slice/session-2.scope\n", ""},
        {"0::/app.slice/application.scope\n0::/flatpak-x.service\n", ""},
        {"no colons here\n::\n0::\n", ""},
    };
    for (const auto& [cgroup, unit] : cases) {
        EXPECT_EQ(process::applicationUnit(cgroup), unit) << cgroup;
    }
}

TEST(ProcessIdentity, StatAndStatusFieldsSurviveOddCommandNames) {
    const std::string tail = " 0 -1 4194304 100 0 0 0 5 3 0 0 20 0 4 0 98765 1 2\n";
    const auto stat = process::parseStat("42 (a) S 7 (b) R 17 42 42" + tail);
    ASSERT_TRUE(stat);
    EXPECT_EQ(stat->comm, "a) S 7 (b");
    EXPECT_EQ(stat->parentPID, 17);
    EXPECT_EQ(stat->startTime, 98765U);
    for (const std::string& garbled :
         {"42 firefox S 1"s, "42 (firefox) S notanumber 1 1" + tail, "42 (firefox) S 1 1 1\n"s,
          "42 (firefox) S 1 1 1 0 -1 4194304 100 0 0 0 5 3 0 0 20 0 4 0 -5\n"s, ""s}) {
        EXPECT_FALSE(process::parseStat(garbled)) << garbled;
    }
    EXPECT_EQ(process::parseRealUserID("Name:\tx\nUid:\t1000\t1000\t1000\t1000\n"), 1000U);
    EXPECT_EQ(process::parseRealUserID("Name:\tx\n"), std::nullopt);
    EXPECT_EQ(process::parseRealUserID("Uid:\tme\n"), std::nullopt);
    EXPECT_EQ(process::splitCmdline("a\0\0b\0"s), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_TRUE(process::splitCmdline("").empty());
}

TEST(ProcessIdentity, FilesAreReadSafely) {
    const test::TempDir dir;
    const auto file = dir.writeFile("file", std::string(10000, 'x'));
    EXPECT_EQ(process::readFile(file, 100)->size(), 100U);
    EXPECT_EQ(process::readFile(file, 1'000'000)->size(), 10000U);
    EXPECT_EQ(process::readFile(dir.path() / "missing", 100), std::nullopt);
    EXPECT_EQ(process::readFile(dir.path(), 100), std::nullopt) << "a folder";
    // A FIFO planted where a file is expected must not block the reader.
    const auto fifo = dir.path() / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(process::readFile(fifo, 100), std::nullopt);

    const auto exe = dir.path() / "exe";
    ASSERT_EQ(::symlink("/usr/bin/app (deleted)", exe.c_str()), 0);
    EXPECT_EQ(process::readLink(exe), "/usr/bin/app");
    EXPECT_EQ(process::readLink(file), std::nullopt) << "not a link";
}

} // namespace
} // namespace corvalle
