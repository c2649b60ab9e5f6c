#include "DesktopAppDirectory.h"

#include "AppScope.h"
#include "ProcFiles.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <climits>
#include <vector>

namespace corvalle {

namespace {

constexpr int kCacheLimit = 512;
constexpr qsizetype kStatLimit = 4096;
constexpr qsizetype kCmdlineLimit = 32 * 1024;
constexpr qsizetype kSmallFileLimit = 64 * 1024;
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

// What a process was started as.
struct ProcessCommand {
    QStringList names;        // exe and argv[0] basenames that are not interpreters
    QStringList interpreters; // interpreter families of the exe and argv[0]
    QStringList arguments;    // argv[1…]
};

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

std::optional<QString> cleanName(const QByteArray& raw) {
    QString name = QString::fromUtf8(raw);
    for (QChar& c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) {
            c = QLatin1Char(' ');
        }
    }
    name = name.trimmed();
    if (name.isEmpty()) {
        return std::nullopt;
    }
    return name;
}

QStringList localesFromEnvironment() {
    QString locale;
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        locale = qEnvironmentVariable(variable);
        if (!locale.isEmpty()) {
            break;
        }
    }
    if (locale.isEmpty() || locale == QLatin1String("C") || locale == QLatin1String("POSIX")) {
        return {};
    }
    // As in gettext, LANGUAGE lists preferences ahead of the locale itself.
    QStringList locales =
        qEnvironmentVariable("LANGUAGE").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    locales.append(locale);
    return locales;
}

} // namespace

QStringList DesktopAppDirectory::dataDirsFromEnvironment() {
    QStringList dirs;
    const auto add = [&dirs](const QString& dir) {
        // Relative entries are invalid in these variables and are ignored.
        if (QDir::isAbsolutePath(dir)) {
            const QString clean = QDir::cleanPath(dir);
            if (!dirs.contains(clean)) {
                dirs.append(clean);
            }
        }
    };
    const QString home = qEnvironmentVariable("XDG_DATA_HOME");
    add(QDir::isAbsolutePath(home) ? home : QDir::homePath() + QStringLiteral("/.local/share"));
    QStringList system =
        qEnvironmentVariable("XDG_DATA_DIRS").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    system.removeIf([](const QString& dir) { return !QDir::isAbsolutePath(dir); });
    if (system.isEmpty()) {
        system = {QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share")};
    }
    for (const QString& dir : std::as_const(system)) {
        add(dir);
    }
    return dirs;
}

namespace {

QStringList applicationDirs(const DesktopDirectoryOptions& options) {
    const QStringList dataDirs = options.dataDirs.isEmpty()
                                     ? DesktopAppDirectory::dataDirsFromEnvironment()
                                     : options.dataDirs;
    QStringList result;
    for (const QString& dir : dataDirs) {
        const QString applications = QDir::cleanPath(dir + QStringLiteral("/applications"));
        if (!result.contains(applications)) {
            result.append(applications);
        }
    }
    return result;
}

} // namespace

DesktopAppDirectory::DesktopAppDirectory(DesktopDirectoryOptions options)
    : procRoot_(QFile::encodeName(options.procRoot)),
      index_(applicationDirs(options),
             localeKeysFor(options.locales.isEmpty() ? localesFromEnvironment() : options.locales),
             options.rescanInterval) {}

std::optional<RunningApplication> DesktopAppDirectory::runningApplication(pid_t pid) {
    if (pid <= 0) {
        return std::nullopt;
    }
    if (index_.update()) {
        cache_.clear();
    }
    const QByteArray processDir = procRoot_ + '/' + QByteArray::number(pid);
    const auto statText = proc::readFile(processDir + "/stat", kStatLimit);
    const auto stat = statText ? proc::parseStat(*statText) : std::nullopt;
    if (!stat) {
        cache_.remove(pid);
        return std::nullopt;
    }
    ++useCounter_;
    // A pid is reused by a later process, and exec keeps the pid but changes the
    // command: the start time and command name together tell them apart.
    const auto cached = cache_.find(pid);
    if (cached != cache_.end() && cached->startTime == stat->startTime &&
        cached->comm == stat->comm) {
        cached->lastUse = useCounter_;
        return cached->application;
    }
    auto application = resolve(processDir, stat->comm);
    if (application) {
        remember(pid, CachedProcess{stat->startTime, stat->comm, application, useCounter_});
    } else {
        cache_.remove(pid);
    }
    return application;
}

std::optional<InstalledApplication>
DesktopAppDirectory::installedApplication(const QString& bundleID) {
    if (index_.update()) {
        cache_.clear();
    }
    const DesktopEntry* entry = index_.entryBySandboxID(bundleID);
    if (entry == nullptr) {
        return std::nullopt;
    }
    return InstalledApplication{entry->name.value_or(bundleID), entry->icon};
}

std::optional<RunningApplication> DesktopAppDirectory::resolve(const QByteArray& processDir,
                                                               const QByteArray& statComm) {
    const DesktopEntry* entry = entryFromScope(processDir);
    if (entry == nullptr) {
        entry = entryFromExecutable(processDir, statComm);
    }
    if (entry != nullptr) {
        return RunningApplication{entry->id, entry->name, entry->icon};
    }
    const auto comm = proc::readFile(processDir + "/comm", kStatLimit);
    const auto name = comm ? cleanName(*comm) : std::nullopt;
    if (!name) {
        return std::nullopt;
    }
    return RunningApplication{std::nullopt, name, std::nullopt};
}

const DesktopEntry* DesktopAppDirectory::entryFromScope(const QByteArray& processDir) const {
    QString sandboxID;
    if (const auto info = proc::readFile(processDir + "/root/.flatpak-info", kSmallFileLimit)) {
        sandboxID = flatpakAppID(*info);
    }
    ScopeAppIDs ids;
    if (const auto cgroup = proc::readFile(processDir + "/cgroup", kSmallFileLimit)) {
        ids = appIDsFromCgroup(*cgroup);
    }
    if (sandboxID.isEmpty()) {
        sandboxID = ids.sandboxID;
    }
    if (!sandboxID.isEmpty()) {
        if (const DesktopEntry* entry = index_.entryBySandboxID(sandboxID)) {
            return entry;
        }
    }
    for (const QString& id : std::as_const(ids.unitIDs)) {
        if (const DesktopEntry* entry = index_.entryBySandboxID(id)) {
            return entry;
        }
    }
    return nullptr;
}

namespace {

ProcessCommand readCommand(const QByteArray& processDir, const QByteArray& statComm) {
    ProcessCommand command;
    QString exePath;
    if (const auto exe = proc::readLink(processDir + "/exe")) {
        exePath = QFile::decodeName(*exe);
    }
    QStringList argv;
    if (const auto cmdline = proc::readFile(processDir + "/cmdline", kCmdlineLimit)) {
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

const DesktopEntry* DesktopAppDirectory::entryFromExecutable(const QByteArray& processDir,
                                                             const QByteArray& statComm) const {
    const ProcessCommand command = readCommand(processDir, statComm);

    const auto bestByName = [this](const QStringList& names, const QStringList& arguments) {
        const DesktopEntry* best = nullptr;
        int bestScore = INT_MIN;
        for (const QString& name : names) {
            for (const DesktopEntry* entry : index_.entriesByProgram(name)) {
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
        for (const DesktopEntry* entry : index_.entriesByProgram(family)) {
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

void DesktopAppDirectory::remember(pid_t pid, CachedProcess process) {
    if (cache_.size() >= kCacheLimit && !cache_.contains(pid)) {
        // Forget the half least recently asked for.
        std::vector<std::uint64_t> uses;
        uses.reserve(static_cast<std::size_t>(cache_.size()));
        for (const CachedProcess& cached : std::as_const(cache_)) {
            uses.push_back(cached.lastUse);
        }
        const auto middle = uses.begin() + static_cast<std::ptrdiff_t>(uses.size() / 2);
        std::nth_element(uses.begin(), middle, uses.end());
        const std::uint64_t cutoff = *middle;
        cache_.removeIf([cutoff](const auto& item) { return item.value().lastUse <= cutoff; });
    }
    cache_.insert(pid, std::move(process));
}

} // namespace corvalle
