#include "ProgramKey.h"

#include <gtest/gtest.h>
#include <optional>

namespace corvalle {
namespace {

struct KeyCase {
    const char* what;
    ProgramCommand command;
    std::optional<QString> key;
};

QStringList words(std::initializer_list<const char*> list) {
    QStringList result;
    for (const char* word : list) {
        result.append(QString::fromUtf8(word));
    }
    return result;
}

ProgramCommand run(const char* executable, std::initializer_list<const char*> argv,
                   const char* workingDir = "/home/ana") {
    return {QString::fromUtf8(executable), words(argv), QString::fromUtf8(workingDir)};
}

std::optional<QString> key(const char* text) {
    return QString::fromUtf8(text);
}

TEST(ProgramKey, EachProgramHasOneKeyAndDifferentProgramsDiffer) {
    const KeyCase cases[] = {
        {"a plain binary", run("/usr/bin/paplay", {"paplay", "/tmp/a.wav"}),
         key("exe:/usr/bin/paplay")},
        {"the same binary elsewhere is another program", run("/opt/pulse/bin/paplay", {"paplay"}),
         key("exe:/opt/pulse/bin/paplay")},
        {"arguments of a plain binary are not the program",
         run("/usr/bin/mpv", {"mpv", "--no-video", "song.ogg"}), key("exe:/usr/bin/mpv")},
        {"a script by its absolute path", run("/usr/bin/python3.11", {"python3", "/opt/g/game.py"}),
         key("exe:/opt/g/game.py")},
        {"a relative script from the working folder",
         run("/usr/bin/python3.12", {"python3", "-u", "./bin/../game.py", "--level", "2"}),
         key("exe:/home/ana/game.py")},
        {"interpreter options with values are stepped over",
         run("/usr/bin/python3.11", {"python3", "-X", "dev", "-W", "ignore", "tool.py"}),
         key("exe:/home/ana/tool.py")},
        {"a module run by python", run("/usr/bin/python3.11", {"python3", "-m", "http.server"}),
         key("exe:/usr/bin/python3.11 -m http.server")},
        {"inline code", run("/usr/bin/python3.11", {"python3", "-c", "print(1)"}),
         key("exe:/usr/bin/python3.11 -c")},
        {"an interpreter on its own", run("/usr/bin/python3.11", {"python3"}),
         key("exe:/usr/bin/python3.11")},
        {"a shell script", run("/usr/bin/bash", {"bash", "-e", "beep.sh"}, "/srv"),
         key("exe:/srv/beep.sh")},
        {"a shell command", run("/usr/bin/dash", {"sh", "-c", "paplay x.wav"}),
         key("exe:/usr/bin/dash -c")},
        {"perl", run("/usr/bin/perl", {"perl", "-I", "lib", "/usr/games/beeper"}),
         key("exe:/usr/games/beeper")},
        {"node", run("/usr/bin/node", {"node", "--require", "x", "srv/main.js"}),
         key("exe:/home/ana/srv/main.js")},
        {"a java archive",
         run("/usr/lib/jvm/java-17/bin/java", {"java", "-Xmx2G", "-jar", "/opt/mc/launcher.jar"}),
         key("exe:/opt/mc/launcher.jar")},
        {"a java class", run("/usr/lib/jvm/java-17/bin/java", {"java", "-cp", "a.jar", "org.Game"}),
         key("exe:/usr/lib/jvm/java-17/bin/java org.Game")},
        {"after --, the script", run("/usr/bin/node", {"node", "--", "-odd.js"}),
         key("exe:/home/ana/-odd.js")},
        {"a relative script without a working folder",
         run("/usr/bin/python3.11", {"python3", "game.py"}, ""),
         key("exe:/usr/bin/python3.11 game.py")},
        {"a Windows program", run("/usr/bin/wine64-preloader", {"C:\\Games\\Quake.exe"}),
         key("exe:/usr/bin/wine64-preloader C:\\Games\\Quake.exe")},
        {"a Windows program after its launcher",
         run("/usr/bin/wine64-preloader", {"/usr/bin/wine64", "setup.exe"}),
         key("exe:/usr/bin/wine64-preloader setup.exe")},
        {"an unreadable executable", run("", {"paplay"}), std::nullopt},
        {"a relative executable", run("paplay", {"paplay"}), std::nullopt},
        {"control characters in a script name are not a name",
         run("/usr/bin/python3.11", {"python3", "a\nb.py"}), key("exe:/usr/bin/python3.11")},
    };
    for (const auto& [what, command, expected] : cases) {
        EXPECT_EQ(programKey(command), expected) << what;
    }
    // A script name longer than any path a person gave is not taken as one.
    ProgramCommand flood = run("/usr/bin/python3.11", {"python3"});
    flood.argv.append(QLatin1Char('/') + QString(5000, QLatin1Char('a')));
    EXPECT_EQ(programKey(flood), QStringLiteral("exe:/usr/bin/python3.11"));
}

} // namespace
} // namespace corvalle
