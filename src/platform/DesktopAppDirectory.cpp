#include "DesktopAppDirectory.h"

#include "AppScope.h"
#include "ExecutableMatch.h"
#include "ProcFiles.h"
#include "ProgramKey.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <vector>

namespace corvalle {

namespace {

constexpr int kCacheLimit = 512;

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

DesktopAppDirectory::DesktopAppDirectory(const DesktopDirectoryOptions& options)
    : procRoot_(QFile::encodeName(options.procRoot)), procRootPath_(procRoot_.toStdString()),
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
    // One stat() tells whether this is still the process we resolved before: a
    // reused pid gets new /proc inodes. Reading files is left to the first ask.
    const auto stamp = process::processStamp(procRootPath_, pid);
    if (!stamp) {
        cache_.remove(pid);
        return std::nullopt;
    }
    ++useCounter_;
    const auto cached = cache_.find(pid);
    if (cached != cache_.end() && cached->stamp == *stamp) {
        cached->lastUse = useCounter_;
        return cached->application;
    }
    const auto statText = proc::readFile(processDir + "/stat", process::kStatLimit);
    const auto stat = statText ? proc::parseStat(*statText) : std::nullopt;
    if (!stat) {
        cache_.remove(pid);
        return std::nullopt;
    }
    auto application = resolve(processDir, stat->comm);
    if (application) {
        remember(pid, CachedProcess{*stamp, application, useCounter_});
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

std::vector<std::pair<QString, InstalledApplication>> DesktopAppDirectory::installedApplications() {
    if (index_.update()) {
        cache_.clear();
    }
    std::vector<std::pair<QString, InstalledApplication>> applications;
    for (const DesktopEntry& entry : index_.entries()) {
        if (!entry.noDisplay && !entry.hidden && index_.entryByID(entry.id) == &entry) {
            applications.emplace_back(
                entry.id, InstalledApplication{entry.name.value_or(entry.id), entry.icon});
        }
    }
    return applications;
}

std::optional<RunningApplication> DesktopAppDirectory::resolve(const QByteArray& processDir,
                                                               const QByteArray& statComm) {
    if (const DesktopEntry* entry = entryFromScope(processDir)) {
        return RunningApplication{entry->id, entry->name, entry->icon};
    }
    const ProcessCommand command = readProcessCommand(processDir, statComm);
    if (const DesktopEntry* entry = matchExecutable(index_, command)) {
        return RunningApplication{entry->id, entry->name, entry->icon};
    }
    ProgramCommand program{command.executable, command.argv, {}};
    // A script given by a relative path is found from where it was started.
    if (runsScripts(program.executable)) {
        if (const auto cwd = proc::readLink(processDir + "/cwd")) {
            program.workingDir = QFile::decodeName(*cwd);
        }
    }
    std::optional<QString> key = programKey(program);
    const auto comm = proc::readFile(processDir + "/comm", process::kStatLimit);
    std::optional<QString> name = comm ? cleanName(*comm) : std::nullopt;
    if (!name && !key) {
        return std::nullopt;
    }
    return RunningApplication{std::nullopt, std::move(name), std::nullopt, std::move(key)};
}

const DesktopEntry* DesktopAppDirectory::entryFromScope(const QByteArray& processDir) const {
    QString sandboxID;
    if (const auto info =
            proc::readFile(processDir + "/root/.flatpak-info", process::kSmallFileLimit)) {
        sandboxID = flatpakAppID(*info);
    }
    ScopeAppIDs ids;
    if (const auto cgroup = proc::readFile(processDir + "/cgroup", process::kSmallFileLimit)) {
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

void DesktopAppDirectory::remember(pid_t pid, const CachedProcess& process) {
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
    cache_.insert(pid, process);
}

} // namespace corvalle
