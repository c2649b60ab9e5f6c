#include "DesktopEntry.h"

#include <gtest/gtest.h>

namespace corvalle {
namespace {

std::optional<DesktopEntry> parse(const char* text, const QStringList& locales = {}) {
    return parseDesktopEntry(QByteArray(text), localeKeysFor(locales));
}

struct LocaleCase {
    QStringList locales;
    QStringList keys;
};

TEST(LocaleKeys, FromLocaleNames) {
    const std::vector<LocaleCase> cases = {
        {{"de_DE.UTF-8@euro"}, {"de_DE@euro", "de_DE", "de@euro", "de"}},
        {{"pt_BR.UTF-8"}, {"pt_BR", "pt"}},
        {{"sr@latin"}, {"sr@latin", "sr"}},
        {{"fr"}, {"fr"}},
        {{"C"}, {}},
        {{"C.UTF-8"}, {}},
        {{"POSIX"}, {}},
        {{"de_AT", "de_DE"}, {"de_AT", "de", "de_DE"}},
        {{""}, {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(localeKeysFor(c.locales), c.keys) << c.locales.join(',').toStdString();
    }
}

struct NameCase {
    QStringList locales;
    const char* expected;
};

TEST(DesktopEntryName, PicksTheBestTranslation) {
    const char* text = "[Desktop Entry]\n"
                       "Name[de]=Musik\n"
                       "Name=Music\n"
                       "Name[de_AT]=Musi\n"
                       "Name[sr@latin]=Muzika\n"
                       "Name[fr]=\n"
                       "Exec=music\n";
    const std::vector<NameCase> cases = {
        {{"de_AT.UTF-8"}, "Musi"},   {{"de_DE.UTF-8"}, "Musik"}, {{"de_CH"}, "Musik"},
        {{"sr_RS@latin"}, "Muzika"}, {{"en_US"}, "Music"},       {{"C"}, "Music"},
        {{"fr_FR"}, "Music"}, // an empty translation does not replace the name
    };
    for (const auto& c : cases) {
        const auto entry = parse(text, c.locales);
        ASSERT_TRUE(entry && entry->name) << c.locales.join(',').toStdString();
        EXPECT_EQ(*entry->name, QString::fromUtf8(c.expected)) << c.locales.join(',').toStdString();
    }
}

struct ExecCase {
    const char* exec; // as written in the file
    const char* program;
    QStringList arguments;
};

TEST(DesktopEntryExec, ProgramAndArgumentsFollowTheQuotingRules) {
    const std::vector<ExecCase> cases = {
        {"firefox %u", "firefox", {}},
        {"/usr/lib/firefox/firefox --new-window %U", "firefox", {"--new-window"}},
        {"\"/opt/My App/bin/app\" --flag %F", "app", {"--flag"}},
        {"env GDK_BACKEND=x11 FOO=1 /usr/bin/thing --x", "thing", {"--x"}},
        {"env -u WAYLAND_DISPLAY thing", "thing", {}},
        {"\"/opt/Odd \\\\\"Name\\\\\"/run\\\\\\\\me\" %f", "run\\me", {}},
        {"electron25 /usr/lib/slack/app.asar %U", "electron25", {"/usr/lib/slack/app.asar"}},
        {"chromium --app=https://x.example/?a=1%%20",
         "chromium",
         {"--app=https://x.example/?a=1%20"}},
        {"app\\sname", "app", {"name"}},
        {"\"unterminated arg", "unterminated arg", {}},
        {"", "", {}},
        {"env", "", {}},
    };
    for (const auto& c : cases) {
        const QByteArray text = QByteArray("[Desktop Entry]\nName=X\nExec=") + c.exec + "\n";
        const auto entry = parseDesktopEntry(text, {});
        ASSERT_TRUE(entry) << c.exec;
        EXPECT_EQ(entry->program, QString::fromUtf8(c.program)) << c.exec;
        EXPECT_EQ(entry->arguments, c.arguments) << c.exec;
    }
}

TEST(DesktopEntryExec, FlatpakRunGivesTheSandboxID) {
    const auto entry = parse("[Desktop Entry]\nName=Spotify\nExec=/usr/bin/flatpak run "
                             "--branch=stable --arch=x86_64 --command=spotify "
                             "com.spotify.Client @@u %U @@\n");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->flatpakID, QStringLiteral("com.spotify.Client"));

    const auto declared = parse("[Desktop Entry]\nName=S\nX-Flatpak=org.example.S\n"
                                "Exec=flatpak run org.other.T\n");
    ASSERT_TRUE(declared);
    EXPECT_EQ(declared->flatpakID, QStringLiteral("org.example.S"));
}

TEST(DesktopEntry, ReadsOnlyTheDesktopEntryGroup) {
    const auto entry = parse("# comment\n"
                             "[Desktop Entry]\n"
                             "Type=Application\n"
                             "Name = Player \n"
                             "Icon=/usr/share/pixmaps/player.png\n"
                             "Exec=player\n"
                             "TryExec=/usr/bin/player-bin\n"
                             "StartupWMClass=PlayerWM\n"
                             "NoDisplay=true\n"
                             "\n"
                             "[Desktop Action quit]\n"
                             "Name=Quit\n"
                             "Exec=other --quit\n"
                             "Icon=other\n"
                             "Hidden=true\n");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, QStringLiteral("Player"));
    EXPECT_EQ(entry->icon, QStringLiteral("/usr/share/pixmaps/player.png"));
    EXPECT_EQ(entry->program, QStringLiteral("player"));
    EXPECT_EQ(entry->tryExec, QStringLiteral("player-bin"));
    EXPECT_EQ(entry->wmClass, QStringLiteral("PlayerWM"));
    EXPECT_TRUE(entry->noDisplay);
    EXPECT_FALSE(entry->hidden);
}

TEST(DesktopEntry, RejectsWhatIsNotAnApplication) {
    EXPECT_FALSE(parse("[Desktop Entry]\nType=Link\nName=Site\nURL=https://x\n"));
    EXPECT_FALSE(parse("[Desktop Entry]\nType=Directory\nName=Folder\n"));
    EXPECT_FALSE(parse("Name=No group\nExec=x\n"));
    EXPECT_FALSE(parse("[Other Group]\nName=X\nExec=x\n"));
    EXPECT_FALSE(parse(""));
}

TEST(DesktopEntry, OddTextBecomesOneSafeLine) {
    const auto multiline =
        parse("[Desktop Entry]\r\nName=Two\\nLines\\tand\x01 bell\r\nExec=x\r\n");
    ASSERT_TRUE(multiline);
    EXPECT_EQ(multiline->name, QStringLiteral("Two Lines and bell"));

    const auto invalid = parse("[Desktop Entry]\nName=Bad\xff\xfe UTF\xc3\n");
    ASSERT_TRUE(invalid && invalid->name);
    EXPECT_TRUE(invalid->name->startsWith(QStringLiteral("Bad")));
    EXPECT_TRUE(invalid->name->contains(QChar(QChar::ReplacementCharacter)));

    const auto blank = parse("[Desktop Entry]\nName=   \nIcon=\nExec=x\n");
    ASSERT_TRUE(blank);
    EXPECT_FALSE(blank->name);
    EXPECT_FALSE(blank->icon);

    const QByteArray longName = "[Desktop Entry]\nName=" + QByteArray(5000, 'n') + "\n";
    const auto bounded = parseDesktopEntry(longName, {});
    ASSERT_TRUE(bounded && bounded->name);
    EXPECT_LE(bounded->name->size(), 256);
}

TEST(DesktopEntry, SurvivesGarbage) {
    QByteArray garbage;
    quint32 state = 12345;
    for (int i = 0; i < 200000; ++i) {
        state = state * 1103515245U + 12345U;
        garbage.append(static_cast<char>(state >> 24));
    }
    EXPECT_FALSE(parseDesktopEntry(garbage, {}));
    const auto entry = parseDesktopEntry("[Desktop Entry]\nName=Ok\n" + garbage, {});
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, QStringLiteral("Ok"));
}

} // namespace
} // namespace corvalle
