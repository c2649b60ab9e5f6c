#include "ProgramKey.h"

#include <gtest/gtest.h>
#include <optional>

namespace corvalle {
namespace {

struct KeyCase {
    const char* what = nullptr;
    ProgramCommand command;
    std::optional<QString> key;
};

ProgramCommand run(const char* executable, const QStringList& argv,
                   const char* workingDir = "/home/ana") {
    return {QString::fromUtf8(executable), argv, QString::fromUtf8(workingDir)};
}

TEST(ProgramKey, EachProgramHasOneKeyAndDifferentProgramsDiffer) {
    const KeyCase cases[] = {
        {"a plain binary", run("/usr/bin/paplay", {"paplay", "/tmp/a.wav"}), "exe:/usr/bin/paplay"},
        {"a script by its absolute path", run("/usr/bin/python3.11", {"python3", "/opt/g/game.py"}),
         "exe:/opt/g/game.py"},
        {"a relative script from the working folder",
         run("/usr/bin/python3.12", {"python3", "-u", "./bin/../game.py", "--level", "2"}),
         "exe:/home/ana/game.py"},
        {"interpreter options with values are stepped over",
         run("/usr/bin/python3.11", {"python3", "-X", "dev", "-W", "ignore", "tool.py"}),
         "exe:/home/ana/tool.py"},
        {"a module run by python", run("/usr/bin/python3.11", {"python3", "-m", "http.server"}),
         "exe:/usr/bin/python3.11 -m http.server"},
        {"inline code", run("/usr/bin/python3.11", {"python3", "-c", "print(1)"}),
         "exe:/usr/bin/python3.11 -c"},
        {"an interpreter on its own", run("/usr/bin/python3.11", {"python3"}),
         "exe:/usr/bin/python3.11"},
        {"a shell script", run("/usr/bin/bash", {"bash", "-e", "beep.sh"}, "/srv"),
         "exe:/srv/beep.sh"},
        {"a java archive",
         run("/usr/lib/jvm/java-17/bin/java", {"java", "-Xmx2G", "-jar", "/opt/mc/launcher.jar"}),
         "exe:/opt/mc/launcher.jar"},
        {"a java class", run("/usr/lib/jvm/java-17/bin/java", {"java", "-cp", "a.jar", "org.Game"}),
         "exe:/usr/lib/jvm/java-17/bin/java org.Game"},
        {"after --, the script", run("/usr/bin/node", {"node", "--", "-odd.js"}),
         "exe:/home/ana/-odd.js"},
        {"a relative script without a working folder",
         run("/usr/bin/python3.11", {"python3", "game.py"}, ""), "exe:/usr/bin/python3.11 game.py"},
        {"a Windows program", run("/usr/bin/wine64-preloader", {"C:\\Games\\Quake.exe"}),
         "exe:/usr/bin/wine64-preloader C:\\Games\\Quake.exe"},
        {"a Windows program after its launcher",
         run("/usr/bin/wine64-preloader", {"/usr/bin/wine64", "setup.exe"}),
         "exe:/usr/bin/wine64-preloader setup.exe"},
        {"an unreadable executable", run("", {"paplay"}), std::nullopt},
        {"a relative executable", run("paplay", {"paplay"}), std::nullopt},
        {"control characters in a script name are not a name",
         run("/usr/bin/python3.11", {"python3", "a\nb.py"}), "exe:/usr/bin/python3.11"},
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
