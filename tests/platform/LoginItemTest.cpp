#include "LoginItem.h"

#include "DesktopEntry.h"
#include "TempDir.h"

#include <QProcess>
#include <QStandardPaths>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace corvalle {
namespace {

namespace fs = std::filesystem;

class LoginItemTest : public ::testing::Test {
protected:
    fs::path entryFile() const { return tmp_.path() / "config" / "autostart" / "corvalle.desktop"; }
    std::string entryText() const {
        std::ostringstream text;
        text << std::ifstream(entryFile(), std::ios::binary).rdbuf();
        return text.str();
    }
    AutostartLoginItem item(const QString& executable = QStringLiteral("/usr/bin/corvalle")) const {
        return AutostartLoginItem(QString::fromStdString((tmp_.path() / "config").string()),
                                  executable);
    }

    test::TempDir tmp_;
};

TEST_F(LoginItemTest, RegisterWritesAnEntryThatStartsUsAsALoginItem) {
    auto login = item();
    EXPECT_EQ(login.status(), 0);
    ASSERT_TRUE(login.registerItem());
    EXPECT_EQ(login.status(), 1);
    const std::string text = entryText();
    ASSERT_TRUE(login.registerItem());
    EXPECT_EQ(entryText(), text) << "registering again replaces the entry";

    // Whatever the path, a desktop reads back the same program and argument, and
    // accepts the entry (desktop-file-utils is part of the project's tools).
    const QString validator =
        QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    for (const char* path :
         {"/usr/bin/corvalle", "/opt/My $HOME/back\\slash/100%/\"q\"/corvalle"}) {
        ASSERT_TRUE(item(QString::fromUtf8(path)).registerItem());
        const auto entry = parseDesktopEntry(QByteArray::fromStdString(entryText()), {});
        ASSERT_TRUE(entry) << path;
        EXPECT_EQ(entry->program, QStringLiteral("corvalle")) << path;
        EXPECT_EQ(entry->arguments, QStringList{QStringLiteral("--login-item")}) << path;
        if (!validator.isEmpty()) {
            QProcess validate;
            validate.start(validator, {QString::fromStdString(entryFile().string())});
            ASSERT_TRUE(validate.waitForFinished(10000));
            EXPECT_EQ(validate.exitCode(), 0)
                << path << ": " << validate.readAllStandardOutput().toStdString();
        }
    }
}

TEST_F(LoginItemTest, StatusFollowsTheEntryOnDisk) {
    const std::pair<const char*, int> cases[] = {
        {"[Desktop Entry]\nType=Application\nExec=corvalle\n", 1},
        {"[Desktop Entry]\nExec=corvalle\nHidden = true\n", 0},
        {"[Desktop Entry]\nExec=corvalle\nHidden=false\n", 1},
        {"[Desktop Entry]\nExec=corvalle\nX-GNOME-Autostart-enabled=false\n", 0},
        {"[Desktop Entry]\nExec=corvalle\n[Desktop Action x]\nHidden=true\n", 1},
        {"garbage without a group\n", 0},
    };
    for (const auto& [text, status] : cases) {
        tmp_.writeFile(entryFile().lexically_relative(tmp_.path()), text);
        EXPECT_EQ(item().status(), status) << text;
    }
}

TEST_F(LoginItemTest, UnregisterRemovesTheEntryAndFailuresAreReported) {
    auto login = item();
    ASSERT_TRUE(login.registerItem());
    EXPECT_TRUE(login.unregisterItem());
    EXPECT_FALSE(fs::exists(entryFile()));
    EXPECT_EQ(login.status(), 0);
    EXPECT_TRUE(login.unregisterItem()) << "a missing entry is already unregistered";

    // The entry's name is taken by a folder: neither registering nor removing works.
    fs::create_directories(entryFile());
    EXPECT_FALSE(login.registerItem());
    EXPECT_EQ(login.status(), 0);
    EXPECT_FALSE(login.unregisterItem());
}

} // namespace
} // namespace corvalle
