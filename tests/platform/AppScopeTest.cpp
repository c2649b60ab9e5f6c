#include "AppScope.h"

#include <gtest/gtest.h>

namespace corvalle {
namespace {

// The common unit names are covered where processes are matched to entries, and
// finding the unit where process identity is read; these are the forms that must
// not give a wrong or unsafe id.
TEST(AppScope, OddControlGroupsGiveNoWrongID) {
    const char* app = "0::/user.slice/user-1000.slice/user@1000.service/app.slice/";
    const std::pair<std::string, QStringList> cases[] = {
        {std::string(app) + "snap.firefox.firefox-1b2c3d.scope\n", {"firefox_firefox"}},
        {std::string(app) + "app-gnome-steam-55.scope/game\n", {"gnome-steam", "steam"}},
        {std::string(app) + "app-.scope\n", {}},
        {std::string(app) + "app--5.scope\n", {}},
        {"0::/app.slice/app-gnome-evil\\x2fpath-1.scope\n", {}},
    };
    for (const auto& [cgroup, unitIDs] : cases) {
        EXPECT_EQ(appIDsFromCgroup(QByteArray::fromStdString(cgroup)).unitIDs, unitIDs) << cgroup;
    }
    EXPECT_EQ(appIDsFromCgroup("0::/user.slice/flatpak-org.example.App-12.scope\n").sandboxID,
              QStringLiteral("org.example.App"));
    EXPECT_EQ(appIDsFromCgroup("0::/app.slice/app-flatpak-org.example.App-12.scope\n").sandboxID,
              QStringLiteral("org.example.App"));
    EXPECT_EQ(unescapeUnitName("caf\\xc3\\xa9 bad\\xzz\\x2"), QStringLiteral("café bad\\xzz\\x2"));
    EXPECT_EQ(flatpakAppID("[Instance]\nname=wrong\n[Application]\nname = org.example.App \n"),
              QStringLiteral("org.example.App"));
    EXPECT_EQ(flatpakAppID("[Application]\nname=../../etc/passwd\n"), QString());
}

} // namespace
} // namespace corvalle
