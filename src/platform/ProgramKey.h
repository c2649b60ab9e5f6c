#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace corvalle {

// What a process runs: the target of its exe link, its arguments (argv[0] first)
// and its working folder (empty when unknown).
struct ProgramCommand {
    QString executable;
    QStringList argv;
    QString workingDir;
};

// Whether a process running `executable` is an interpreter that may run a script
// or module given to it, so that its working folder is worth reading.
bool runsScripts(const QString& executable);

// The key under which a program that no desktop entry claims is remembered, the
// same for every run of it and different for different programs:
//   "exe:/usr/bin/paplay"                  a program, by its executable's path;
//   "exe:/home/ana/bin/game.py"            a script, whatever runs it (python3.11
//                                          or python3.12, "./game.py" or
//                                          "python3 game.py");
//   "exe:/usr/bin/python3.11 -m pkg"       a module, class or inline code run by
//                                          an interpreter ("-m", "-c", a Java class);
//   "exe:/usr/bin/wine64-preloader C:\g.exe"  a Windows program under Wine.
// The text after "exe:" always begins with '/', so no desktop file id (which
// never holds a '/') can be mistaken for one. Nothing when the executable is
// unknown.
std::optional<QString> programKey(const ProgramCommand& command);

} // namespace corvalle
