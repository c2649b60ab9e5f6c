#include "LoginItem.h"

#include "DesktopEntry.h"
#include "TempDir.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>

namespace corvalle {
namespace {

namespace fs = std::filesystem;

QString qpath(const fs::path& path) {
    return QString::fromStdString(path.string());
}

std::string readText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class LoginItemTest : public ::testing::Test {
protected:
    fs::path entryFile() const { return tmp_.path() / "config" / "autostart" / "corvalle.desktop"; }
    AutostartLoginItem item(const QString& executable = QStringLiteral("/usr/bin/corvalle")) const {
        return AutostartLoginItem(qpath(tmp_.path() / "config"), executable);
    }

    test::TempDir tmp_;
};

TEST_F(LoginItemTest, RegisterWritesTheAutostartEntry) {
    auto login = item();
    EXPECT_EQ(login.status(), 0);
    ASSERT_TRUE(login.registerItem());
    EXPECT_EQ(login.status(), 1);
    EXPECT_EQ(login.entryPath(), qpath(entryFile()));

    const std::string text = readText(entryFile());
    EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0U);
    for (const char* line :
         {"\nType=Application\n", "\nName=Corvalle\n", "\nIcon=corvalle\n",
          "\nExec=/usr/bin/corvalle --login-item\n", "\nX-GNOME-Autostart-enabled=true\n"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }

    // Registering again replaces the entry rather than failing or duplicating it.
    ASSERT_TRUE(login.registerItem());
    EXPECT_EQ(readText(entryFile()), text);
}

struct ExecCase {
    const char* executable;
    const char* execLine;
};

TEST_F(LoginItemTest, ExecutablePathsAreQuotedAndRoundTrip) {
    const std::vector<ExecCase> cases = {
        {"/usr/bin/corvalle", "/usr/bin/corvalle --login-item"},
        {"/opt/My Apps/corvalle", "\"/opt/My Apps/corvalle\" --login-item"},
        {"/home/u/$HOME/bin/corvalle", "\"/home/u/\\\\$HOME/bin/corvalle\" --login-item"},
        {"/home/u/back\\slash/corvalle", "\"/home/u/back\\\\\\\\slash/corvalle\" --login-item"},
        {"/home/u/100%/corvalle", "/home/u/100%%/corvalle --login-item"},
        {"/home/u/\"quoted\"/corvalle", "\"/home/u/\\\\\"quoted\\\\\"/corvalle\" --login-item"},
    };
    for (const auto& c : cases) {
        const QString executable = QString::fromUtf8(c.executable);
        EXPECT_EQ(AutostartLoginItem::execLine(executable), QString::fromUtf8(c.execLine))
            << c.executable;
        // What a desktop reads back must be the same program and argument.
        auto login = item(executable);
        ASSERT_TRUE(login.registerItem());
        std::ifstream in(entryFile(), std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), {});
        const auto entry = parseDesktopEntry(QByteArray::fromStdString(text), {});
        ASSERT_TRUE(entry) << c.executable;
        EXPECT_EQ(entry->program, executable.mid(executable.lastIndexOf(QLatin1Char('/')) + 1));
        EXPECT_EQ(entry->arguments, QStringList{QStringLiteral("--login-item")}) << c.executable;
    }
}

TEST_F(LoginItemTest, StatusFollowsTheEntry) {
    struct StatusCase {
        const char* text;
        int status;
    };
    const std::vector<StatusCase> cases = {
        {"[Desktop Entry]\nType=Application\nExec=corvalle\n", 1},
        {"[Desktop Entry]\nExec=corvalle\nHidden=true\n", 0},
        {"[Desktop Entry]\nExec=corvalle\nHidden = true\n", 0},
        {"[Desktop Entry]\nExec=corvalle\nHidden=false\n", 1},
        {"[Desktop Entry]\nExec=corvalle\nX-GNOME-Autostart-enabled=false\n", 0},
        {"[Desktop Entry]\nExec=corvalle\n[Desktop Action x]\nHidden=true\n", 1},
        {"garbage without a group\n", 0},
        {"", 0},
    };
    for (const auto& c : cases) {
        tmp_.writeFile(entryFile().lexically_relative(tmp_.path()), c.text);
        EXPECT_EQ(item().status(), c.status) << c.text;
    }
}

TEST_F(LoginItemTest, UnregisterRemovesTheEntry) {
    auto login = item();
    ASSERT_TRUE(login.registerItem());
    EXPECT_TRUE(login.unregisterItem());
    EXPECT_FALSE(fs::exists(entryFile()));
    EXPECT_EQ(login.status(), 0);
    EXPECT_TRUE(login.unregisterItem()) << "a missing entry is already unregistered";

    fs::create_symlink("/nonexistent/target", entryFile());
    EXPECT_TRUE(login.unregisterItem());
    EXPECT_FALSE(fs::is_symlink(entryFile()));
}

TEST_F(LoginItemTest, FailuresAreReported) {
    // The config home is a file: the autostart folder cannot be made.
    tmp_.writeFile("config", "not a folder");
    auto blocked = item();
    EXPECT_FALSE(blocked.registerItem());
    EXPECT_EQ(blocked.status(), 0);
    EXPECT_TRUE(blocked.unregisterItem());

    // The entry's name is taken by a folder.
    const test::TempDir other;
    fs::create_directories(other.path() / "autostart" / "corvalle.desktop");
    AutostartLoginItem occupied(qpath(other.path()), QStringLiteral("/usr/bin/corvalle"));
    EXPECT_FALSE(occupied.registerItem());
    EXPECT_EQ(occupied.status(), 0);
    EXPECT_FALSE(occupied.unregisterItem());
}

TEST_F(LoginItemTest, UnregisterFailsWhenTheEntryCannotBeRemoved) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permissions do not bind the superuser";
    }
    auto login = item();
    ASSERT_TRUE(login.registerItem());
    const fs::path autostart = entryFile().parent_path();
    fs::permissions(autostart, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_FALSE(login.unregisterItem());
    EXPECT_EQ(login.status(), 1);
    fs::permissions(autostart, fs::perms::owner_all);
}

TEST(LoginItemDefaults, ConfigHomeComesFromTheEnvironment) {
    const QByteArray old = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", "/somewhere/config");
    EXPECT_EQ(AutostartLoginItem({}, QStringLiteral("/x")).entryPath(),
              QStringLiteral("/somewhere/config/autostart/corvalle.desktop"));
    qputenv("XDG_CONFIG_HOME", "relative/config");
    EXPECT_TRUE(AutostartLoginItem({}, QStringLiteral("/x"))
                    .entryPath()
                    .endsWith(QStringLiteral("/.config/autostart/corvalle.desktop")));
    qputenv("XDG_CONFIG_HOME", old);
}

} // namespace
} // namespace corvalle
