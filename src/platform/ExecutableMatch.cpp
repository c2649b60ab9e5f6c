#include "ExecutableMatch.h"

#include "ProcFiles.h"
#include "ProcessIdentity.h"

#include <QFile>
#include <algorithm>
#include <climits>

namespace corvalle {

namespace {

constexpr qsizetype kMaxArguments = 64;
constexpr qsizetype kMaxScriptArguments = 4;

QString baseName(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? path : path.mid(slash + 1);
}

QString parentName(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QString() : baseName(path.left(slash));
}

bool isPath(const QString& arg) {
    return arg.contains(QLatin1Char('/'));
}

bool argumentMatches(const QString& entryArg, const QString& processArg) {
    if (entryArg == processArg) {
        return true;
    }
    // The same file under another prefix (/usr/lib/foo/app.asar, /opt/foo/app.asar).
    return isPath(entryArg) && isPath(processArg) && baseName(entryArg) == baseName(processArg) &&
           parentName(entryArg) == parentName(processArg);
}

struct ArgumentScore {
    int matched = 0;
    int unmatched = 0;
    int value() const { return matched * 10 - unmatched; }
};

ArgumentScore scoreArguments(const QStringList& entryArgs, const QStringList& processArgs) {
    ArgumentScore score;
    for (const QString& entryArg : entryArgs) {
        const bool found =
            std::any_of(processArgs.begin(), processArgs.end(), [&](const QString& processArg) {
                return argumentMatches(entryArg, processArg);
            });
        ++(found ? score.matched : score.unmatched);
    }
    return score;
}

// How well an entry fits a process started as one of `names`: an exact match of
// Exec, TryExec or StartupWMClass beats one that differs in case; arguments the
// entry passes and the process has count for it, arguments it lacks against it.
int nameScore(const DesktopEntry& entry, const QStringList& names, const QStringList& arguments) {
    int score = 0;
    if (names.contains(entry.program) || names.contains(entry.wmClass) ||
        names.contains(entry.tryExec)) {
        score = 100;
    } else if (names.contains(entry.program, Qt::CaseInsensitive) ||
               (!entry.wmClass.isEmpty() && names.contains(entry.wmClass, Qt::CaseInsensitive)) ||
               (!entry.tryExec.isEmpty() && names.contains(entry.tryExec, Qt::CaseInsensitive))) {
        score = 50;
    } else {
        return INT_MIN;
    }
    score += scoreArguments(entry.arguments, arguments).value();
    if (entry.noDisplay) {
        score -= 5;
    }
    return score;
}

// Names a script or packaged app passed to an interpreter may go by:
// /usr/share/foo/foo.py → foo.py, foo; /usr/lib/foo/app.asar → app.asar, app, foo.
QStringList scriptNames(const QStringList& arguments) {
    static const QStringList genericFolders = {QStringLiteral("bin"),   QStringLiteral("lib"),
                                               QStringLiteral("lib64"), QStringLiteral("share"),
                                               QStringLiteral("usr"),   QStringLiteral("opt"),
                                               QStringLiteral("app"),   QStringLiteral("resources"),
                                               QStringLiteral("src"),   QStringLiteral("dist")};
    QStringList names;
    const auto add = [&names](const QString& name) {
        if (!name.isEmpty() && !names.contains(name)) {
            names.append(name);
        }
    };
    qsizetype used = 0;
    for (const QString& arg : arguments) {
        if (arg.startsWith(QLatin1Char('-'))) {
            continue;
        }
        if (++used > kMaxScriptArguments) {
            break;
        }
        const QString file = baseName(arg);
        add(file);
        const qsizetype dot = file.lastIndexOf(QLatin1Char('.'));
        if (dot > 0) {
            add(file.left(dot));
        }
        const QString parent = parentName(arg);
        if (!genericFolders.contains(parent, Qt::CaseInsensitive)) {
            add(parent);
        }
    }
    return names;
}

} // namespace

ProcessCommand readProcessCommand(const QByteArray& processDir, const QByteArray& statComm) {
    ProcessCommand command;
    QString exePath;
    if (const auto exe = proc::readLink(processDir + "/exe")) {
        exePath = QFile::decodeName(*exe);
    }
    QStringList argv;
    if (const auto cmdline = proc::readFile(processDir + "/cmdline", process::kCmdlineLimit)) {
        for (const QByteArray& arg : proc::splitCmdline(*cmdline)) {
            if (argv.size() > kMaxArguments) {
                break;
            }
            argv.append(QString::fromUtf8(arg));
        }
    }
    // Programs that rewrite their title leave one string: "<exe> --flag …".
    if (argv.size() == 1 && !exePath.isEmpty() && argv[0].startsWith(exePath + QLatin1Char(' '))) {
        argv = argv[0].split(QLatin1Char(' '), Qt::SkipEmptyParts);
    }
    command.executable = exePath;
    command.argv = argv;
    QStringList candidates;
    if (!exePath.isEmpty()) {
        candidates.append(baseName(exePath));
    }
    if (!argv.isEmpty()) {
        candidates.append(baseName(argv[0]));
        command.arguments = argv.mid(1);
    }
    candidates.removeAll(QString());
    // Without access to the executable or command line, the kernel's name is all there is.
    if (candidates.isEmpty()) {
        candidates.append(QString::fromUtf8(statComm));
    }
    for (const QString& name : std::as_const(candidates)) {
        if (name.isEmpty()) {
            continue;
        }
        const QString family = DesktopIndex::interpreterFamily(name);
        QStringList& list = family.isEmpty() ? command.names : command.interpreters;
        const QString& key = family.isEmpty() ? name : family;
        if (!list.contains(key)) {
            list.append(key);
        }
    }
    return command;
}

const DesktopEntry* matchExecutable(const DesktopIndex& index, const ProcessCommand& command) {
    const auto bestByName = [&index](const QStringList& names, const QStringList& arguments) {
        const DesktopEntry* best = nullptr;
        int bestScore = INT_MIN;
        for (const QString& name : names) {
            for (const DesktopEntry* entry : index.entriesByProgram(name)) {
                const int score = nameScore(*entry, names, arguments);
                if (score > bestScore) {
                    best = entry;
                    bestScore = score;
                }
            }
        }
        return best;
    };

    if (const DesktopEntry* entry = bestByName(command.names, command.arguments)) {
        return entry;
    }
    if (command.interpreters.isEmpty()) {
        return nullptr;
    }
    // A shared host (python3, electron, java, node…) says nothing by itself: the
    // entry must pass the same script or package, or name the script as its program.
    const DesktopEntry* best = nullptr;
    int bestScore = 0;
    for (const QString& family : command.interpreters) {
        for (const DesktopEntry* entry : index.entriesByProgram(family)) {
            if (DesktopIndex::interpreterFamily(entry->program) != family) {
                continue;
            }
            const ArgumentScore score = scoreArguments(entry->arguments, command.arguments);
            if (score.matched > 0 && score.value() > bestScore) {
                best = entry;
                bestScore = score.value();
            }
        }
    }
    if (best != nullptr) {
        return best;
    }
    for (const QString& script : scriptNames(command.arguments)) {
        if (const DesktopEntry* entry = bestByName({script}, {})) {
            return entry;
        }
    }
    return nullptr;
}

} // namespace corvalle
