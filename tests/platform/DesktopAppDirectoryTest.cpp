#include "DesktopAppDirectory.h"

#include "DesktopFixture.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>

namespace corvalle {
namespace {

namespace fs = std::filesystem;
using test::FakeProcess;

QString qpath(const fs::path& path) {
    return QString::fromStdString(path.string());
}

std::optional<QString> text(const char* value) {
    return value ? std::optional(QString::fromUtf8(value)) : std::nullopt;
}

// Dates every folder below `root` an hour back, so the index sees them as long
// settled and any later change as new.
void settleFolders(const fs::path& root) {
    const auto past = fs::file_time_type::clock::now() - std::chrono::hours(1);
    std::error_code ignored;
    fs::last_write_time(root, past, ignored);
    for (auto it = fs::recursive_directory_iterator(root, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
            fs::last_write_time(it->path(), past, ignored);
        }
    }
}

std::string scope(const std::string& unit) {
    return "0::/user.slice/user-1000.slice/user@1000.service/app.slice/" + unit;
}

FakeProcess process(pid_t pid, std::string comm, std::string exe,
                    std::vector<std::string> argv = {}, std::string cgroup = {},
                    std::string flatpakInfo = {}, unsigned long long startTime = 0) {
    FakeProcess p;
    p.pid = pid;
    p.comm = std::move(comm);
    p.exe = std::move(exe);
    p.argv = std::move(argv);
    if (!cgroup.empty()) {
        p.cgroups.push_back(std::move(cgroup));
    }
    p.flatpakInfo = std::move(flatpakInfo);
    p.startTime = startTime;
    return p;
}

class DesktopAppDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* entries[][2] = {
            {"firefox.desktop", "Name=Firefox\nName[de]=Firefox-Webbrowser\nExec=firefox %u\n"
                                "Icon=firefox\n"},
            {"org.gnome.Totem.desktop", "Name=Videos\nExec=totem %U\n"},
            {"discord.desktop", "Name=Discord\nExec=electron25 /usr/lib/discord/app.asar\n"},
            {"com.spotify.Client.desktop",
             "Name=Spotify\nExec=/usr/bin/flatpak run --command=spotify com.spotify.Client\n"},
            {"org.example.Exported.desktop", "Name=Exported\nX-Flatpak=org.example.Sandboxed\n"},
            {"io.github.quodlibet.QuodLibet.desktop", "Name=Quod Libet\nExec=quodlibet %F\n"},
            {"kde4/kmix.desktop", "Name=KMix\nExec=kmix\n"},
            {"shadowed.desktop", "Name=From System\nExec=shadowed\n"},
            {"hidden-one.desktop", "Name=Hidden One\nExec=hidden-one\n"},
            {"nameless.desktop", "Exec=nameless\n"},
        };
        for (const auto& [file, body] : entries) {
            entry(system_, file, body);
        }
        entry(home_, "shadowed.desktop", "Name=From Home\nExec=shadowed\n");
        entry(home_, "hidden-one.desktop", "Name=Hidden One\nHidden=true\n");
    }

    void entry(const fs::path& dataDir, const std::string& file, const std::string& body) const {
        tmp_.writeFile(dataDir / "applications" / file,
                       "[Desktop Entry]\nType=Application\n" + body);
    }

    DesktopAppDirectory& directory() {
        if (!directory_) {
            settleFolders(tmp_.path() / home_);
            settleFolders(tmp_.path() / system_);
            directory_.emplace(DesktopDirectoryOptions{
                .dataDirs = {qpath(tmp_.path() / home_), qpath(tmp_.path() / system_)},
                .procRoot = qpath(proc()),
                .locales = {QStringLiteral("de_DE.UTF-8")},
                .rescanInterval = std::chrono::milliseconds(0)});
        }
        return *directory_;
    }

    fs::path proc() const { return tmp_.path() / "proc"; }
    fs::path applications() const { return tmp_.path() / system_ / "applications"; }

    test::TempDir tmp_;
    fs::path home_ = "home-data";
    fs::path system_ = "system-data";
    std::optional<DesktopAppDirectory> directory_;
};

// A process with an entry gets its id and no program key; one without is keyed
// by what it runs (as ProgramKeyTest decides) and named by its command.
TEST_F(DesktopAppDirectoryTest, ProcessesAreMatchedBySandboxScopeOrExecutable) {
    const std::string electron = "/usr/lib/electron25/electron";
    const std::string spotify = "[Application]\nname=com.spotify.Client\n";
    FakeProcess script = process(510, "python3", "/usr/bin/python3.11", {"python3", "game.py"});
    script.cwd = "/home/ana/games";
    const struct {
        FakeProcess process;
        const char* bundleID = nullptr;
        const char* name = nullptr;
        const char* key = nullptr;
    } cases[] = {
        {process(100, "firefox", "/usr/lib/firefox/firefox"), "firefox", "Firefox-Webbrowser"},
        {process(101, "gst-plugin-scan", "/usr/libexec/gst-plugin-scanner", {},
                 scope("app-gnome-org.gnome.Totem-4242.scope")),
         "org.gnome.Totem", "Videos"},
        {process(104, "electron", electron, {electron, "/usr/lib/discord/app.asar"}), "discord",
         "Discord"},
        {process(105, "electron", electron, {electron, "--type=gpu"}), nullptr, "electron",
         "exe:/usr/lib/electron25/electron"},
        {process(106, "spotify", "/app/spotify", {}, scope("app-gnome-x-1.scope"), spotify),
         "com.spotify.Client", "Spotify"},
        {process(107, "spotify", "/app/spotify", {},
                 scope("app-flatpak-com.spotify.Client-9.scope")),
         "com.spotify.Client", "Spotify"},
        {process(108, "sandboxed", "/app/bin/sandboxed", {}, {},
                 "[Application]\nname=org.example.Sandboxed\n"),
         "org.example.Exported", "Exported"},
        {process(110, "quodlibet", "/usr/bin/python3.11", {"python3", "/usr/bin/quodlibet"}),
         "io.github.quodlibet.QuodLibet", "Quod Libet"},
        {process(111, "kmix", "/usr/bin/kmix"), "kde4-kmix", "KMix"},
        {process(112, "hidden-one", "/usr/bin/hidden-one"), nullptr, "hidden-one",
         "exe:/usr/bin/hidden-one"},
        {process(114, "firefox", "", {""}), "firefox", "Firefox-Webbrowser"},
        {process(115, "firefox", "/usr/lib/firefox/firefox", {},
                 scope("app-gnome-org.unknown.App-5.scope")),
         "firefox", "Firefox-Webbrowser"},
        {script, nullptr, "python3", "exe:/home/ana/games/game.py"},
    };
    for (const auto& c : cases) {
        test::writeProcEntry(proc(), c.process);
    }
    for (const auto& [process, bundleID, name, key] : cases) {
        const auto app = directory().runningApplication(process.pid);
        ASSERT_TRUE(app) << process.pid;
        EXPECT_EQ(app->bundleID, text(bundleID)) << process.pid;
        EXPECT_EQ(app->name, text(name)) << process.pid;
        EXPECT_EQ(app->programKey, text(key)) << process.pid;
    }
    EXPECT_EQ(directory().runningApplication(100)->icon, QStringLiteral("firefox"));
}

// Subfolders become part of the id; earlier data folders win over later ones.
TEST_F(DesktopAppDirectoryTest, InstalledApplicationsByDesktopFileIDAndAsAList) {
    const std::pair<const char*, const char*> cases[] = {
        {"firefox", "Firefox-Webbrowser"},
        {"kde4-kmix", "KMix"},
        {"kde4/kmix", nullptr},
        {"kmix", nullptr},
        {"shadowed", "From Home"},
        {"hidden-one", nullptr},
        {"nameless", "nameless"},
        {"org.example.Sandboxed", "Exported"},
        {"../../../etc/passwd", nullptr},
    };
    for (const auto& [id, name] : cases) {
        const auto app = directory().installedApplication(QString::fromUtf8(id));
        EXPECT_EQ(app ? std::optional(app->displayName) : std::nullopt, text(name)) << id;
    }
    // The list holds the shown entries once each.
    std::map<QString, QString> names;
    for (const auto& [id, app] : directory().installedApplications()) {
        EXPECT_TRUE(names.emplace(id, app.displayName).second) << id.toStdString();
    }
    EXPECT_EQ(names[QStringLiteral("shadowed")], QStringLiteral("From Home"));
    EXPECT_FALSE(names.contains(QStringLiteral("hidden-one"))) << "hidden in the home folder";
}

// A folder reached again through a link is read once; names are one printable line.
TEST_F(DesktopAppDirectoryTest, HostileFilesGiveSafeAnswers) {
    QByteArray noise;
    for (quint32 i = 0, state = 99; i < 300000; ++i) {
        state = state * 1664525U + 1013904223U;
        noise.append(static_cast<char>(state >> 24));
    }
    const fs::path apps = applications();
    tmp_.writeFile(apps / "noise.desktop", noise.toStdString());
    tmp_.writeFile(apps / "huge.desktop",
                   "[Desktop Entry]\nName=Huge\nExec=huge\n" + std::string(3 << 20, 'A'));
    tmp_.writeFile(apps / "badutf.desktop", "[Desktop Entry]\nName=Bad\xc3\x28\xff\n");
    tmp_.writeFile(apps / "odd.desktop", "[Desktop Entry]\r\nName=Two\\nLines\\tand\x01 bell\r\n");
    ASSERT_EQ(::mkfifo((apps / "fifo.desktop").c_str(), 0600), 0);
    fs::create_directories(apps / "loop");
    fs::create_directory_symlink("..", apps / "loop" / "back");
    fs::create_symlink("/nonexistent/target.desktop", apps / "dangling.desktop");
    test::writeProcEntry(proc(), process(200, "gone", "/usr/bin/gone"));
    fs::remove(proc() / "200" / "comm");
    tmp_.writeFile(proc() / "201" / "stat", "201 (broken");
    test::writeProcEntry(proc(), process(202, "", "/usr/bin/unnamed"));
    ::mkfifo((proc() / "203").c_str(), 0600);
    test::writeProcEntry(proc(), process(204, "ev\x01il\nname\xff", "/usr/bin/evil"));

    const std::pair<const char*, const char*> installed[] = {
        {"noise", nullptr},     {"fifo", nullptr},
        {"dangling", nullptr},  {"huge", "Huge"},
        {"badutf", "Bad"},      {"odd", "Two Lines and bell"},
        {"firefox", "Firefox"}, {"loop-back-firefox", nullptr},
    };
    for (const auto& [id, prefix] : installed) {
        const auto app = directory().installedApplication(QString::fromUtf8(id));
        ASSERT_EQ(app.has_value(), prefix != nullptr) << id;
        if (app) {
            EXPECT_TRUE(app->displayName.startsWith(QString::fromUtf8(prefix))) << id;
        }
    }
    for (const pid_t pid : {201, 203, 999999, 0, -5}) {
        EXPECT_FALSE(directory().runningApplication(pid)) << pid;
    }
    // Without a name to show, the executable still keys the program.
    for (const auto& [pid, key] :
         {std::pair{200, "exe:/usr/bin/gone"}, std::pair{202, "exe:/usr/bin/unnamed"}}) {
        const auto app = directory().runningApplication(pid);
        ASSERT_TRUE(app) << pid;
        EXPECT_FALSE(app->bundleID) << pid;
        EXPECT_EQ(app->programKey, QString::fromLatin1(key)) << pid;
    }
    const auto evil = directory().runningApplication(204);
    ASSERT_TRUE(evil && evil->name);
    EXPECT_TRUE(std::ranges::all_of(*evil->name, [](QChar c) { return c.unicode() >= 0x20; }));
}

// Answers are kept until the folders change, the pid is reused or too many are kept.
TEST_F(DesktopAppDirectoryTest, AnswersAreKeptUntilTheFoldersChangeOrThePidIsReused) {
    home_ = "late-home"; // created only after the first lookups
    test::writeProcEntry(proc(), process(300, "newcomer", "/usr/bin/newcomer"));
    auto& dir = directory();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(dir.installedApplication(QStringLiteral("discord")));
        ASSERT_EQ(dir.runningApplication(300)->bundleID, std::nullopt);
    }
    EXPECT_EQ(dir.indexBuildCount(), 1);

    entry(home_, "shadowed.desktop", "Name=Late Home\nExec=shadowed\n");
    EXPECT_EQ(dir.installedApplication(QStringLiteral("shadowed"))->displayName,
              QStringLiteral("Late Home"));
    entry(system_, "newcomer.desktop", "Name=Newcomer\nExec=newcomer\n");
    EXPECT_EQ(dir.runningApplication(300)->bundleID, QStringLiteral("newcomer"))
        << "a remembered process is matched again after the index changed";
    EXPECT_EQ(dir.indexBuildCount(), 3);
    fs::remove(applications() / "newcomer.desktop");
    EXPECT_FALSE(dir.installedApplication(QStringLiteral("newcomer")));

    test::writeProcEntry(proc(), process(400, "player", "/usr/bin/firefox", {}, {}, {}, 5000));
    EXPECT_EQ(dir.runningApplication(400)->bundleID, QStringLiteral("firefox"));
    // A later process of the same name takes the pid. Like the kernel, the fake
    // tree gives it new inodes: written aside while the old one exists, then moved.
    test::writeProcEntry(tmp_.path() / "staging",
                         process(400, "player", "/usr/bin/kmix", {}, {}, {}, 6000));
    fs::remove_all(proc() / "400");
    fs::rename(tmp_.path() / "staging" / "400", proc() / "400");
    EXPECT_EQ(dir.runningApplication(400)->bundleID, QStringLiteral("kde4-kmix"));
    fs::remove_all(proc() / "400");
    EXPECT_FALSE(dir.runningApplication(400));

    // Many processes of one program: every pid folder links to the same one.
    for (pid_t pid = 1000; pid < 1700; ++pid) {
        fs::create_directory_symlink("999", proc() / std::to_string(pid));
    }
    test::writeProcEntry(proc(), process(999, "firefox", "/usr/lib/firefox/firefox"));
    for (pid_t pid = 1000; pid < 1700; ++pid) {
        ASSERT_TRUE(dir.runningApplication(pid));
        ASSERT_LE(dir.cachedProcessCount(), 512U);
    }
}

} // namespace
} // namespace corvalle
