#pragma once

#include <QDBusConnection>
#include <QString>
#include <QStringList>

class QTextStream;

namespace corvalle {

// The command line of the corvalle binary, which controls the running instance
// over D-Bus: `corvalle [--json] VERB [ARGUMENTS]`. The verbs are list, get, set,
// up, down, mute, unmute, toggle-mute, reset, output, route, limiter, duck,
// duck-level, shortcuts, show and help; `corvalle help` prints the whole usage.
//
// Exit codes: 0 done; 1 Corvalle is not running, or it failed or refused the
// change; 2 the command line is wrong (unknown verb or option, missing or extra
// arguments, a volume or level that cannot be read); 3 no application or output device
// matches the name given; 4 more than one matches.
enum CommandLineExit : int {
    kExitDone = 0,
    kExitFailed = 1,
    kExitUsage = 2,
    kExitNoMatch = 3,
    kExitAmbiguous = 4,
};

bool isCommandLineVerb(const QString& word);

// Whether `arguments` (after the program name) are meant for the command line:
// the first argument that is not an option is a verb, or --json is given.
bool isCommandLineInvocation(const QStringList& arguments);

// Runs one command against the instance on the session bus and returns the exit
// code. Needs a QCoreApplication. Never starts an instance.
int runCommandLine(const QStringList& arguments);

// The same against `bus`, writing results to `out` and messages to `err`.
int runCommandLine(const QStringList& arguments, QDBusConnection bus, QTextStream& out,
                   QTextStream& err);

} // namespace corvalle
