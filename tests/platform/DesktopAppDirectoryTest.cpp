#include "DesktopAppDirectory.h"

#include "DesktopFixture.h"
#include "TempDir.h"

#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace corvalle {
namespace {

namespace fs = std::filesystem;
using test::FakeProcess;

QString qpath(const fs::path& path) {
    return QString::fromStdString(path.string());
}

// Dates every folder below `root` an hour back, so the index sees them as long
// settled and any later change as new.
void settleFolders(const fs::path& root) {
    const auto past = fs::file_time_type::clock::now() - std::chrono::hours(1);
    std::error_code ignored;
    if (!fs::is_directory(root, ignored)) {
        return;
    }
    fs::last_write_time(root, past, ignored);
    for (auto it = fs::recursive_directory_iterator(root, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
            fs::last_write_time(it->path(), past, ignored);
        }
    }
}

const char* kUserSlice = "0::/user.slice/user-1000.slice/user@1000.service/app.slice/";

std::string scope(const std::string& unit) {
    return kUserSlice + unit;
}

class DesktopAppDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        entry(system_, "firefox.desktop",
              "Name=Firefox\nName[de]=Firefox-Webbrowser\nExec=firefox %u\nIcon=firefox\n"
              "StartupWMClass=firefox\n");
        entry(system_, "firefox-private.desktop",
              "Name=Firefox Private\nExec=firefox --private-window %u\nIcon=firefox\n");
        entry(system_, "org.gnome.Totem.desktop",
              "Name=Videos\nExec=totem %U\nIcon=org.gnome.Totem\n");
        entry(system_, "slack.desktop",
              "Name=Slack\nExec=/usr/bin/electron25 /usr/lib/slack/app.asar %U\nIcon=slack\n"
              "StartupWMClass=Slack\n");
        entry(system_, "discord.desktop",
              "Name=Discord\nExec=electron25 /usr/lib/discord/app.asar\nIcon=discord\n");
        entry(system_, "com.spotify.Client.desktop",
              "Name=Spotify\nExec=/usr/bin/flatpak run --branch=stable --command=spotify "
              "com.spotify.Client @@u %U "
              "@@\nIcon=com.spotify.Client\nX-Flatpak=com.spotify.Client\n");
        entry(system_, "org.example.Exported.desktop",
              "Name=Exported\nExec=exported\nX-Flatpak=org.example.Sandboxed\nIcon=exported\n");
        entry(system_, "google-chrome.desktop",
              "Name=Google Chrome\nExec=/usr/bin/google-chrome-stable %U\nIcon=google-chrome\n");
        entry(system_, "org.gnome.Evolution-alarm-notify.desktop",
              "Name=Evolution Alarm Notify\nExec=evolution-alarm-notify\nNoDisplay=true\n");
        entry(system_, "io.github.quodlibet.QuodLibet.desktop",
              "Name=Quod Libet\nExec=quodlibet %F\nIcon=io.github.quodlibet.QuodLibet\n");
        entry(system_, "chromium.desktop", "Name=Chromium\nExec=chromium %U\nIcon=chromium\n");
        entry(system_, "chrome-music.desktop",
              "Name=Music Web\nExec=chromium --app=https://music.example.com\nIcon=chrome-music\n");
        entry(system_, "foo.desktop",
              "Name=Foo Studio\nExec=foo-launcher\nStartupWMClass=fooapp\nIcon=foo\n");
        entry(system_, "kde4/kmix.desktop", "Name=KMix\nExec=kmix\nIcon=kmix\n");
        entry(system_, "shadowed.desktop", "Name=From System\nExec=shadowed\n");
        entry(home_, "shadowed.desktop", "Name=From Home\nExec=shadowed\n");
        entry(system_, "hidden-one.desktop", "Name=Hidden One\nExec=hidden-one\n");
        entry(home_, "hidden-one.desktop", "Name=Hidden One\nHidden=true\n");
        entry(system_, "nameless.desktop", "Exec=nameless\nIcon=nameless\n");
    }

    void entry(const fs::path& dataDir, const std::string& file, const std::string& body) const {
        tmp_.writeFile(dataDir / "applications" / file,
                       "[Desktop Entry]\nType=Application\n" + body);
    }

    DesktopAppDirectory& directory() {
        if (!directory_) {
            settleFolders(tmp_.path() / home_);
            settleFolders(tmp_.path() / system_);
            DesktopDirectoryOptions options;
            options.dataDirs = {qpath(tmp_.path() / home_), qpath(tmp_.path() / system_)};
            options.procRoot = qpath(proc());
            options.locales = {QStringLiteral("de_DE.UTF-8")};
            options.rescanInterval = std::chrono::milliseconds(0);
            directory_.emplace(options);
        }
        return *directory_;
    }

    fs::path proc() const { return tmp_.path() / "proc"; }
    fs::path applications(const fs::path& dataDir) const {
        return tmp_.path() / dataDir / "applications";
    }

    test::TempDir tmp_;
    fs::path home_ = "home-data";
    fs::path system_ = "system-data";
    std::optional<DesktopAppDirectory> directory_;
};

struct ProcessCase {
    const char* what;
    FakeProcess process;
    std::optional<QString> bundleID;
    std::optional<QString> name;
    std::optional<QString> icon;
};

FakeProcess process(pid_t pid, std::string comm, std::string exe,
                    std::vector<std::string> argv = {}, std::vector<std::string> cgroups = {},
                    std::string flatpakInfo = {}) {
    FakeProcess p;
    p.pid = pid;
    p.comm = std::move(comm);
    p.exe = std::move(exe);
    p.argv = std::move(argv);
    p.cgroups = std::move(cgroups);
    p.flatpakInfo = std::move(flatpakInfo);
    return p;
}

TEST_F(DesktopAppDirectoryTest, MatchesProcessesToTheirEntries) {
    const std::string electron = "/usr/lib/electron25/electron";
    const std::vector<ProcessCase> cases = {
        {"executable, localised name", process(100, "firefox", "/usr/lib/firefox/firefox"),
         "firefox", "Firefox-Webbrowser", "firefox"},
        {"executable with the arguments of a second entry",
         process(101, "firefox", "/usr/lib/firefox/firefox",
                 {"/usr/lib/firefox/firefox", "--private-window", "https://x"}),
         "firefox-private", "Firefox Private", "firefox"},
        {"systemd scope beats an unrelated executable",
         process(102, "gst-plugin-scan", "/usr/libexec/gst-plugin-scanner", {},
                 {scope("app-gnome-org.gnome.Totem-4242.scope")}),
         "org.gnome.Totem", "Videos", "org.gnome.Totem"},
        {"electron app in its own scope",
         process(103, "electron", electron, {electron, "--type=renderer"},
                 {scope("app-gnome-slack-11.scope")}),
         "slack", "Slack", "slack"},
        {"second electron app in its own scope",
         process(104, "electron", electron, {electron, "--type=renderer"},
                 {scope("app-kde-discord-12.scope")}),
         "discord", "Discord", "discord"},
        {"electron app told apart by its package",
         process(105, "electron", electron, {electron, "/usr/lib/slack/app.asar", "--enable-x"}),
         "slack", "Slack", "slack"},
        {"second electron app told apart by its package",
         process(106, "electron", electron, {electron, "/usr/lib/discord/app.asar"}), "discord",
         "Discord", "discord"},
        {"electron without anything to tell it by",
         process(107, "electron", electron, {electron, "--type=gpu-process"}), std::nullopt,
         "electron", std::nullopt},
        {"flatpak by its instance info",
         process(108, "spotify", "/app/extra/spotify", {}, {scope("app-gnome-unrelated-1.scope")},
                 "[Application]\nname=com.spotify.Client\n"),
         "com.spotify.Client", "Spotify", "com.spotify.Client"},
        {"flatpak by its scope",
         process(109, "spotify", "/app/extra/spotify", {},
                 {scope("app-flatpak-com.spotify.Client-98765.scope")}),
         "com.spotify.Client", "Spotify", "com.spotify.Client"},
        {"flatpak id through X-Flatpak",
         process(110, "sandboxed", "/app/bin/sandboxed", {}, {},
                 "[Application]\nname=org.example.Sandboxed\n"),
         "org.example.Exported", "Exported", "exported"},
        {"escaped id in a scope",
         process(111, "chrome", "/opt/google/chrome/chrome", {},
                 {scope("app-gnome-google\\x2dchrome-77.scope")}),
         "google-chrome", "Google Chrome", "google-chrome"},
        {"autostart service",
         process(112, "evolution-alar", "/usr/libexec/evolution-data-server/evolution-alarm-notify",
                 {}, {scope("app-org.gnome.Evolution\\x2dalarm\\x2dnotify@autostart.service")}),
         "org.gnome.Evolution-alarm-notify", "Evolution Alarm Notify", std::nullopt},
        {"script run by an interpreter",
         process(113, "quodlibet", "/usr/bin/python3.11",
                 {"/usr/bin/python3", "/usr/bin/quodlibet", "--run"}),
         "io.github.quodlibet.QuodLibet", "Quod Libet", "io.github.quodlibet.QuodLibet"},
        {"browser app window",
         process(114, "chromium", "/usr/lib/chromium/chromium",
                 {"/usr/lib/chromium/chromium", "--app=https://music.example.com"}),
         "chrome-music", "Music Web", "chrome-music"},
        {"plain browser",
         process(115, "chromium", "/usr/lib/chromium/chromium",
                 {"/usr/lib/chromium/chromium", "--type=renderer"}),
         "chromium", "Chromium", "chromium"},
        {"window class differing in case", process(116, "FooApp", "/opt/Foo/FooApp"), "foo",
         "Foo Studio", "foo"},
        {"title rewritten into one string",
         process(117, "chromium", "/usr/lib/chromium/chromium",
                 {"/usr/lib/chromium/chromium --app=https://music.example.com --flag"}),
         "chrome-music", "Music Web", "chrome-music"},
        {"entry id from a subfolder", process(118, "kmix", "/usr/bin/kmix"), "kde4-kmix", "KMix",
         "kmix"},
        {"entry without a name", process(119, "nameless", "/usr/bin/nameless"), "nameless",
         std::nullopt, "nameless"},
        {"hidden entry counts as deleted", process(120, "hidden-one", "/usr/bin/hidden-one"),
         std::nullopt, "hidden-one", std::nullopt},
        {"unknown program", process(121, "mystery  ", "/usr/bin/mystery"), std::nullopt, "mystery",
         std::nullopt},
        {"executable unreadable: command name", process(122, "firefox", ""), "firefox",
         "Firefox-Webbrowser", "firefox"},
        {"scope without an entry falls back to the executable",
         process(123, "firefox", "/usr/lib/firefox/firefox", {},
                 {scope("app-gnome-org.unknown.App-5.scope")}),
         "firefox", "Firefox-Webbrowser", "firefox"},
    };
    for (const auto& c : cases) {
        FakeProcess p = c.process;
        if (p.exe.empty()) {
            p.argv = {""};
        }
        test::writeProcEntry(proc(), p);
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto app = directory().runningApplication(c.process.pid);
        ASSERT_TRUE(app);
        EXPECT_EQ(app->bundleID, c.bundleID);
        EXPECT_EQ(app->name, c.name);
        EXPECT_EQ(app->icon, c.icon);
    }
}

TEST_F(DesktopAppDirectoryTest, ProcessesThatCannotBeRead) {
    test::writeProcEntry(proc(), 200, "gone", "/usr/bin/gone", "");
    fs::remove(proc() / "200" / "comm");
    tmp_.writeFile(proc() / "201" / "stat", "201 (broken");
    tmp_.writeFile(proc() / "202" / "comm", "no stat\n");
    test::writeProcEntry(proc(), 203, "", "/usr/bin/unnamed", "");
    ::mkfifo((proc() / "204").c_str(), 0600);

    auto& dir = directory();
    EXPECT_FALSE(dir.runningApplication(200)) << "no entry and no readable name";
    EXPECT_FALSE(dir.runningApplication(201));
    EXPECT_FALSE(dir.runningApplication(202));
    EXPECT_FALSE(dir.runningApplication(203)) << "an empty name is no name";
    EXPECT_FALSE(dir.runningApplication(204));
    EXPECT_FALSE(dir.runningApplication(999999));
    EXPECT_FALSE(dir.runningApplication(0));
    EXPECT_FALSE(dir.runningApplication(-5));
}

TEST_F(DesktopAppDirectoryTest, SurvivesGarbageInProcessFiles) {
    quint32 state = 7;
    const auto noise = [&state](std::size_t length) {
        std::string bytes;
        for (std::size_t i = 0; i < length; ++i) {
            state = state * 1664525U + 1013904223U;
            bytes.push_back(static_cast<char>(state >> 24));
        }
        return bytes;
    };
    auto& dir = directory();
    for (pid_t pid = 600; pid < 700; ++pid) {
        FakeProcess p = process(pid, "x", "/usr/bin/" + noise(12));
        p.argv = {noise(40), noise(3000), "/usr/lib/slack/" + noise(8)};
        p.cgroups = {noise(200), scope("app-" + noise(30) + ".scope")};
        p.flatpakInfo = "[Application]\nname=" + noise(50);
        test::writeProcEntry(proc(), p);
        tmp_.writeFile(proc() / std::to_string(pid) / "comm", noise(20));
        const auto app = dir.runningApplication(pid);
        if (app && app->name) {
            for (const QChar c : *app->name) {
                ASSERT_GE(c.unicode(), 0x20) << "pid " << pid;
            }
            EXPECT_EQ(*app->name, app->name->trimmed());
        }
    }
}

TEST_F(DesktopAppDirectoryTest, InstalledApplicationsByID) {
    auto& dir = directory();
    const auto firefox = dir.installedApplication(QStringLiteral("firefox"));
    ASSERT_TRUE(firefox);
    EXPECT_EQ(firefox->displayName, QStringLiteral("Firefox-Webbrowser"));
    EXPECT_EQ(firefox->icon, QStringLiteral("firefox"));

    const auto kmix = dir.installedApplication(QStringLiteral("kde4-kmix"));
    ASSERT_TRUE(kmix);
    EXPECT_EQ(kmix->displayName, QStringLiteral("KMix"));
    EXPECT_FALSE(dir.installedApplication(QStringLiteral("kde4/kmix")));
    EXPECT_FALSE(dir.installedApplication(QStringLiteral("kmix")));

    const auto shadowed = dir.installedApplication(QStringLiteral("shadowed"));
    ASSERT_TRUE(shadowed);
    EXPECT_EQ(shadowed->displayName, QStringLiteral("From Home")) << "earlier folders win";

    EXPECT_FALSE(dir.installedApplication(QStringLiteral("hidden-one")));
    EXPECT_FALSE(dir.installedApplication(QStringLiteral("firefox.desktop")));
    EXPECT_FALSE(dir.installedApplication(QStringLiteral("")));
    EXPECT_FALSE(dir.installedApplication(QStringLiteral("../../../etc/passwd")));

    const auto nameless = dir.installedApplication(QStringLiteral("nameless"));
    ASSERT_TRUE(nameless);
    EXPECT_EQ(nameless->displayName, QStringLiteral("nameless"));

    const auto sandboxed = dir.installedApplication(QStringLiteral("org.example.Sandboxed"));
    ASSERT_TRUE(sandboxed);
    EXPECT_EQ(sandboxed->displayName, QStringLiteral("Exported"));
}

TEST_F(DesktopAppDirectoryTest, LookupsDoNotRescanTheFolders) {
    test::writeProcEntry(proc(), 300, "firefox", "/usr/lib/firefox/firefox", "");
    auto& dir = directory();
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(dir.runningApplication(300));
        ASSERT_TRUE(dir.installedApplication(QStringLiteral("slack")));
        ASSERT_FALSE(dir.installedApplication(QStringLiteral("missing")));
    }
    EXPECT_EQ(dir.indexBuildCount(), 1);
}

TEST_F(DesktopAppDirectoryTest, SeesEntriesAddedAndRemovedLater) {
    auto& dir = directory();
    EXPECT_FALSE(dir.installedApplication(QStringLiteral("newcomer")));
    test::writeProcEntry(proc(), 301, "newcomer", "/usr/bin/newcomer", "");
    EXPECT_EQ(dir.runningApplication(301)->bundleID, std::nullopt);
    const int builds = dir.indexBuildCount();

    entry(system_, "newcomer.desktop", "Name=Newcomer\nExec=newcomer\n");
    const auto added = dir.installedApplication(QStringLiteral("newcomer"));
    ASSERT_TRUE(added);
    EXPECT_EQ(added->displayName, QStringLiteral("Newcomer"));
    EXPECT_EQ(dir.runningApplication(301)->bundleID, QStringLiteral("newcomer"))
        << "a remembered process is matched again after the index changed";
    EXPECT_GT(dir.indexBuildCount(), builds);

    entry(system_, "deep/er/nested.desktop", "Name=Nested\nExec=nested\n");
    EXPECT_TRUE(dir.installedApplication(QStringLiteral("deep-er-nested")));

    fs::remove(applications(system_) / "newcomer.desktop");
    EXPECT_FALSE(dir.installedApplication(QStringLiteral("newcomer")));

    settleFolders(tmp_.path() / system_);
    const int settled = dir.indexBuildCount() + 1;
    for (int i = 0; i < 20; ++i) {
        dir.installedApplication(QStringLiteral("firefox"));
    }
    EXPECT_LE(dir.indexBuildCount(), settled) << "settled folders are not read again";
}

TEST_F(DesktopAppDirectoryTest, SeesAnApplicationsFolderCreatedLater) {
    home_ = "late-home";
    auto& dir = directory();
    EXPECT_EQ(dir.installedApplication(QStringLiteral("shadowed"))->displayName,
              QStringLiteral("From System"));
    entry(home_, "shadowed.desktop", "Name=Late Home\nExec=shadowed\n");
    EXPECT_EQ(dir.installedApplication(QStringLiteral("shadowed"))->displayName,
              QStringLiteral("Late Home"));
}

TEST_F(DesktopAppDirectoryTest, ChecksTheFoldersAtMostOncePerInterval) {
    DesktopDirectoryOptions options;
    options.dataDirs = {qpath(tmp_.path() / system_)};
    options.procRoot = qpath(proc());
    options.rescanInterval = std::chrono::hours(1);
    DesktopAppDirectory dir(options);
    EXPECT_TRUE(dir.installedApplication(QStringLiteral("firefox")));
    entry(system_, "later.desktop", "Name=Later\nExec=later\n");
    EXPECT_FALSE(dir.installedApplication(QStringLiteral("later")));
    EXPECT_EQ(dir.indexBuildCount(), 1);
}

TEST_F(DesktopAppDirectoryTest, SeesChangesWithinOneTimestampTick) {
    // Coarse file system clocks can give a folder the same time stamp before and
    // after a change; a folder stamped just now is therefore read again.
    DesktopDirectoryOptions options;
    options.dataDirs = {qpath(tmp_.path() / system_)};
    options.procRoot = qpath(proc());
    options.rescanInterval = std::chrono::milliseconds(0);
    DesktopAppDirectory dir(options);
    const fs::path folder = applications(system_);
    const auto stamp = fs::last_write_time(folder);
    EXPECT_FALSE(dir.installedApplication(QStringLiteral("sametick")));
    entry(system_, "sametick.desktop", "Name=Same Tick\nExec=sametick\n");
    fs::last_write_time(folder, stamp);
    EXPECT_TRUE(dir.installedApplication(QStringLiteral("sametick")));
}

TEST_F(DesktopAppDirectoryTest, RemembersProcessesByStartTime) {
    FakeProcess p = process(400, "firefox", "/usr/lib/firefox/firefox");
    p.startTime = 5000;
    test::writeProcEntry(proc(), p);
    auto& dir = directory();
    EXPECT_EQ(dir.runningApplication(400)->bundleID, QStringLiteral("firefox"));

    // Same process (same start time and name): the answer is remembered, not re-read.
    fs::remove(proc() / "400" / "exe");
    fs::create_symlink("/usr/bin/totem", proc() / "400" / "exe");
    EXPECT_EQ(dir.runningApplication(400)->bundleID, QStringLiteral("firefox"));

    // The pid reused by a later process.
    FakeProcess later = process(400, "mystery", "/usr/bin/mystery");
    later.startTime = 6000;
    test::writeProcEntry(proc(), later);
    const auto reused = dir.runningApplication(400);
    ASSERT_TRUE(reused);
    EXPECT_EQ(reused->bundleID, std::nullopt);
    EXPECT_EQ(reused->name, QStringLiteral("mystery"));

    // exec() keeps pid and start time but changes the command name.
    FakeProcess execed = process(400, "totem", "/usr/bin/totem");
    execed.startTime = 6000;
    test::writeProcEntry(proc(), execed);
    EXPECT_EQ(dir.runningApplication(400)->bundleID, QStringLiteral("org.gnome.Totem"));

    test::removeProcEntry(proc(), 400);
    EXPECT_FALSE(dir.runningApplication(400));
}

TEST_F(DesktopAppDirectoryTest, RemembersABoundedNumberOfProcesses) {
    // Many processes of one program: every pid folder links to the same one.
    test::writeProcEntry(proc(), 999, "firefox", "/usr/lib/firefox/firefox", "");
    auto& dir = directory();
    for (pid_t pid = 1000; pid < 1700; ++pid) {
        fs::create_directory_symlink("999", proc() / std::to_string(pid));
        ASSERT_TRUE(dir.runningApplication(pid));
        ASSERT_LE(dir.cachedProcessCount(), 512U);
    }
    EXPECT_GT(dir.cachedProcessCount(), 0U);
    EXPECT_EQ(dir.runningApplication(1699)->bundleID, QStringLiteral("firefox"));
}

TEST_F(DesktopAppDirectoryTest, SurvivesGarbageInTheDataFolders) {
    const fs::path apps = applications(system_);
    QByteArray noise;
    quint32 state = 99;
    for (int i = 0; i < 300000; ++i) {
        state = state * 1664525U + 1013904223U;
        noise.append(static_cast<char>(state >> 24));
    }
    tmp_.writeFile(apps / "noise.desktop", noise.toStdString());
    tmp_.writeFile(apps / "huge.desktop",
                   "[Desktop Entry]\nName=Huge\nExec=huge\n" + std::string(3 << 20, 'A'));
    tmp_.writeFile(apps / "badutf.desktop", "[Desktop Entry]\nName=Bad\xc3\x28\xff\nExec=badutf\n");
    tmp_.writeFile(apps / "empty.desktop", "");
    tmp_.writeFile(apps / "notes.txt", "[Desktop Entry]\nName=Not a desktop file\n");
    ASSERT_EQ(::mkfifo((apps / "fifo.desktop").c_str(), 0600), 0);
    fs::create_directories(apps / "loop");
    fs::create_directory_symlink("..", apps / "loop" / "back");
    fs::create_symlink("/nonexistent/target.desktop", apps / "dangling.desktop");

    auto& dir = directory();
    EXPECT_TRUE(dir.installedApplication(QStringLiteral("firefox")));
    EXPECT_FALSE(dir.installedApplication(QStringLiteral("noise")));
    EXPECT_FALSE(dir.installedApplication(QStringLiteral("fifo")));
    EXPECT_FALSE(dir.installedApplication(QStringLiteral("notes")));
    EXPECT_EQ(dir.installedApplication(QStringLiteral("huge"))->displayName,
              QStringLiteral("Huge"));
    const auto bad = dir.installedApplication(QStringLiteral("badutf"));
    ASSERT_TRUE(bad);
    EXPECT_TRUE(bad->displayName.startsWith(QStringLiteral("Bad")));
    EXPECT_FALSE(dir.installedApplication(QStringLiteral("loop-back-firefox")))
        << "a folder reached again through a link is not read twice";
}

TEST_F(DesktopAppDirectoryTest, GeneratedEntriesMatchTheirPrograms) {
    test::writeDesktopEntries(applications(system_), 40);
    test::writeProcEntry(proc(), 500, "app-012", "/usr/bin/app-012", "");
    test::writeProcEntry(proc(), 501, "app-013", "/opt/App 013/app-013", "");
    test::writeProcEntry(proc(), 502, "electron", "/usr/lib/electron/electron",
                         scope("app-gnome-app\\x2d027-99.scope"));
    auto& dir = directory();
    EXPECT_EQ(dir.runningApplication(500)->bundleID, QStringLiteral("app-012"));
    EXPECT_EQ(dir.runningApplication(500)->name, QStringLiteral("Musik 12"));
    EXPECT_EQ(dir.runningApplication(501)->bundleID, QStringLiteral("app-013"));
    EXPECT_EQ(dir.runningApplication(502)->bundleID, QStringLiteral("app-027"));
    EXPECT_EQ(dir.installedApplication(QStringLiteral("app-014"))->icon,
              QStringLiteral("/usr/share/pixmaps/app-014.png"));
}

TEST(DesktopAppDirectoryEnvironment, DataFoldersFollowTheXdgVariables) {
    const QByteArray oldHome = qgetenv("XDG_DATA_HOME");
    const QByteArray oldDirs = qgetenv("XDG_DATA_DIRS");
    qputenv("XDG_DATA_HOME", "/data/home/");
    qputenv("XDG_DATA_DIRS", "/a:relative:/b/:/a:");
    EXPECT_EQ(DesktopAppDirectory::dataDirsFromEnvironment(),
              (QStringList{"/data/home", "/a", "/b"}));
    qputenv("XDG_DATA_HOME", "not/absolute");
    qunsetenv("XDG_DATA_DIRS");
    const QStringList defaults = DesktopAppDirectory::dataDirsFromEnvironment();
    ASSERT_EQ(defaults.size(), 3);
    EXPECT_TRUE(defaults[0].endsWith(QStringLiteral("/.local/share")));
    EXPECT_EQ(defaults[1], QStringLiteral("/usr/local/share"));
    EXPECT_EQ(defaults[2], QStringLiteral("/usr/share"));
    qputenv("XDG_DATA_HOME", oldHome);
    qputenv("XDG_DATA_DIRS", oldDirs);
}

} // namespace
} // namespace corvalle
