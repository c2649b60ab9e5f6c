#pragma once

#include "DesktopEntry.h"
#include "DesktopIndex.h"

#include <QByteArray>
#include <QStringList>

namespace corvalle {

// What a process was started as.
struct ProcessCommand {
    QStringList names;        // basenames of the exe and argv[0] that are not interpreters
    QStringList interpreters; // interpreter families of the exe and argv[0] ("python", "electron")
    QStringList arguments;    // argv[1…]
    QString executable;       // the target of the exe link; empty when unreadable
    QStringList argv;         // the whole command line
};

// Reads the exe link and command line of a /proc/<pid> folder. `comm` stands in
// when neither can be read (another user's process, a kernel thread).
ProcessCommand readProcessCommand(const QByteArray& processDir, const QByteArray& comm);

// The entry a process belongs to by its executable, or nullptr.
//
// An entry whose Exec program, TryExec or StartupWMClass is exactly the process's
// name wins over one that differs in case; among those, the one whose Exec
// arguments the process was given (a browser's --app=…), and a displayed entry
// over a NoDisplay one. A shared interpreter-like host (python3, electron, java,
// node…) says nothing by itself: the entry must pass the same script or package,
// or the script itself must be an entry's program.
const DesktopEntry* matchExecutable(const DesktopIndex& index, const ProcessCommand& command);

} // namespace corvalle
