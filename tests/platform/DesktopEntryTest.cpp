#include "DesktopEntry.h"

#include <gtest/gtest.h>

namespace corvalle {
namespace {

std::optional<DesktopEntry> parse(const QByteArray& text, const QStringList& locales = {}) {
    return parseDesktopEntry(text, localeKeysFor(locales));
}

TEST(DesktopEntry, NameIsTheBestTranslationForTheLocale) {
    const QByteArray text = "[Desktop Entry]\nName[de]=Musik\nName=Music\nName[de_AT]=Musi\n"
                            "Name[sr@latin]=Muzika\nName[fr]=\nExec=music\n";
    const std::pair<const char*, const char*> cases[] = {
        {"de_AT.UTF-8", "Musi"}, {"de_DE.UTF-8@euro", "Musik"},
        {"de_CH", "Musik"},      {"sr_RS@latin", "Muzika"},
        {"en_US", "Music"},      {"C", "Music"},
        {"fr_FR", "Music"}, // an empty translation does not replace the name
    };
    for (const auto& [locale, name] : cases) {
        const auto entry = parse(text, {QString::fromUtf8(locale)});
        ASSERT_TRUE(entry) << locale;
        EXPECT_EQ(entry->name, QString::fromUtf8(name)) << locale;
    }
}

TEST(DesktopEntry, ExecGivesTheProgramAndItsArgumentsUnquoted) {
    struct Case {
        const char* exec; // as written in the file
        const char* program;
        QStringList arguments;
    };
    const Case cases[] = {
        {"/usr/lib/firefox/firefox --new-window %U", "firefox", {"--new-window"}},
        {"\"/opt/My App/bin/app\" --flag %F", "app", {"--flag"}},
        {"env GDK_BACKEND=x11 FOO=1 /usr/bin/thing --x", "thing", {"--x"}},
        {"\"/opt/Odd \\\\\"Name\\\\\"/run\\\\\\\\me\" %f", "run\\me", {}},
        {"chromium --app=https://x.example/?a=1%%20",
         "chromium",
         {"--app=https://x.example/?a=1%20"}},
        {"\"unterminated arg", "unterminated arg", {}},
        {"env", "", {}},
    };
    for (const Case& c : cases) {
        const auto entry = parse(QByteArray("[Desktop Entry]\nName=X\nExec=") + c.exec + "\n");
        ASSERT_TRUE(entry) << c.exec;
        EXPECT_EQ(entry->program, QString::fromUtf8(c.program)) << c.exec;
        EXPECT_EQ(entry->arguments, c.arguments) << c.exec;
    }
}

TEST(DesktopEntry, OnlyTheDesktopEntryGroupOfAnApplicationCounts) {
    const auto entry = parse("# comment\n[Desktop Entry]\nType=Application\nName = Player \n"
                             "Exec=player\nStartupWMClass=PlayerWM\nNoDisplay=true\n\n"
                             "[Desktop Action quit]\nName=Quit\nExec=other --quit\nHidden=true\n");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, QStringLiteral("Player"));
    EXPECT_EQ(entry->program, QStringLiteral("player"));
    EXPECT_EQ(entry->wmClass, QStringLiteral("PlayerWM"));
    EXPECT_TRUE(entry->noDisplay);
    EXPECT_FALSE(entry->hidden);
    EXPECT_TRUE(parse("[Desktop Entry]\nName=Gone\nHidden=true\n")->hidden);

    for (const char* text : {"[Desktop Entry]\nType=Link\nName=Site\nURL=https://x\n",
                             "Name=No group\nExec=x\n", "[Other Group]\nName=X\nExec=x\n", ""}) {
        EXPECT_FALSE(parse(text)) << text;
    }
}

} // namespace
} // namespace corvalle
