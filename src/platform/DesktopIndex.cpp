#include "DesktopIndex.h"

#include "Log.h"
#include "ProcFiles.h"

#include <QFile>
#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>
#include <utility>

namespace corvalle {

namespace {

// Bounds on one build, so a link to a large tree (say, to "/") cannot make it
// read the whole file system.
constexpr int kMaxDepth = 8;
constexpr std::size_t kMaxFiles = 50000;
constexpr std::size_t kMaxFolders = 500;
constexpr qsizetype kMaxFileSize = qsizetype{1024} * 1024;
// File systems stamp times with a granularity of up to two seconds (FAT; ext3 has
// one): a folder changed this recently may change again without a new stamp, so
// the next check rebuilds regardless.
constexpr time_t kStampGranularitySeconds = 2;

bool sameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

QStringList sortedNames(const QByteArray& folder) {
    QStringList names;
    DIR* dir = ::opendir(folder.constData());
    if (dir == nullptr) {
        return names;
    }
    while (const dirent* item = ::readdir(dir)) {
        const QByteArray name(item->d_name);
        if (name == "." || name == ".." || name.startsWith('.')) {
            continue;
        }
        names.append(QFile::decodeName(name));
    }
    ::closedir(dir);
    names.sort();
    return names;
}

} // namespace

DesktopIndex::DesktopIndex(QStringList applicationDirs, QStringList localeKeys,
                           std::chrono::milliseconds checkInterval)
    : applicationDirs_(std::move(applicationDirs)), localeKeys_(std::move(localeKeys)),
      checkInterval_(checkInterval) {}

bool DesktopIndex::update() {
    const auto now = std::chrono::steady_clock::now();
    if (built_ && now - lastCheck_ < checkInterval_) {
        return false;
    }
    lastCheck_ = now;
    if (built_ && !recentChange_ && !foldersChanged()) {
        return false;
    }
    rebuild();
    return true;
}

bool DesktopIndex::foldersChanged() const {
    for (const FolderStamp& stamp : stamps_) {
        struct stat info {};
        const bool exists = ::stat(stamp.path.constData(), &info) == 0 && S_ISDIR(info.st_mode);
        if (exists != stamp.exists) {
            return true;
        }
        if (exists && (!sameTime(info.st_mtim, stamp.mtime) || info.st_ino != stamp.inode)) {
            return true;
        }
    }
    return false;
}

void DesktopIndex::rebuild() {
    entries_.clear();
    byID_.clear();
    bySandboxID_.clear();
    byProgram_.clear();
    filesRead_ = 0;

    std::vector<FolderStamp> stamps;
    QHash<QString, bool> seenIDs;
    QSet<QPair<dev_t, ino_t>> visited;
    for (const QString& root : std::as_const(applicationDirs_)) {
        scanFolder(root, root, 0, seenIDs, stamps, visited);
    }
    stamps_ = std::move(stamps);

    timespec wallClock{};
    ::clock_gettime(CLOCK_REALTIME, &wallClock);
    recentChange_ = std::any_of(stamps_.begin(), stamps_.end(), [&](const FolderStamp& stamp) {
        return stamp.exists && stamp.mtime.tv_sec + kStampGranularitySeconds >= wallClock.tv_sec;
    });
    built_ = true;
    ++buildCount_;
    qCDebug(lcPlatform) << "read" << entries_.size() << "desktop entries from" << filesRead_
                        << "files";
}

void DesktopIndex::scanFolder(const QString& root, const QString& folder, int depth,
                              QHash<QString, bool>& seenIDs, std::vector<FolderStamp>& stamps,
                              QSet<QPair<dev_t, ino_t>>& visited) {
    FolderStamp stamp;
    stamp.path = QFile::encodeName(folder);
    struct stat info {};
    stamp.exists = ::stat(stamp.path.constData(), &info) == 0 && S_ISDIR(info.st_mode);
    if (stamp.exists) {
        stamp.mtime = info.st_mtim;
        stamp.inode = info.st_ino;
    }
    stamps.push_back(stamp);
    // Symbolic links may loop back to a folder already read.
    if (!stamp.exists || visited.contains(qMakePair(info.st_dev, info.st_ino)) ||
        static_cast<std::size_t>(visited.size()) >= kMaxFolders) {
        return;
    }
    visited.insert(qMakePair(info.st_dev, info.st_ino));

    const QStringList names = sortedNames(stamp.path);
    QStringList subfolders;
    for (const QString& name : names) {
        const QString path = folder + QLatin1Char('/') + name;
        struct stat item {};
        if (::stat(QFile::encodeName(path).constData(), &item) != 0) {
            continue;
        }
        if (S_ISDIR(item.st_mode)) {
            subfolders.append(path);
            continue;
        }
        if (!S_ISREG(item.st_mode) || !name.endsWith(QLatin1String(".desktop")) ||
            filesRead_ >= kMaxFiles) {
            continue;
        }
        // The desktop file id: the path below the applications folder, '/' → '-'.
        QString id = path.mid(root.size() + 1);
        id.chop(8);
        id.replace(QLatin1Char('/'), QLatin1Char('-'));
        if (id.isEmpty() || seenIDs.contains(id)) {
            continue;
        }
        ++filesRead_;
        const auto contents = proc::readFile(QFile::encodeName(path), kMaxFileSize);
        if (!contents) {
            continue;
        }
        auto entry = parseDesktopEntry(*contents, localeKeys_);
        if (!entry) {
            continue;
        }
        seenIDs.insert(id, true);
        entry->id = id;
        if (!entry->hidden) {
            addEntry(std::move(*entry));
        }
    }
    if (depth >= kMaxDepth) {
        return;
    }
    for (const QString& subfolder : std::as_const(subfolders)) {
        scanFolder(root, subfolder, depth + 1, seenIDs, stamps, visited);
    }
}

void DesktopIndex::addEntry(DesktopEntry entry) {
    const auto index = static_cast<qsizetype>(entries_.size());
    byID_.insert(entry.id, index);
    if (!entry.flatpakID.isEmpty() && !bySandboxID_.contains(entry.flatpakID)) {
        bySandboxID_.insert(entry.flatpakID, index);
    }
    QStringList keys;
    for (const QString& key :
         {entry.program, entry.tryExec, entry.wmClass, interpreterFamily(entry.program)}) {
        const QString lower = key.toLower();
        if (!lower.isEmpty() && !keys.contains(lower)) {
            keys.append(lower);
        }
    }
    for (const QString& key : std::as_const(keys)) {
        byProgram_[key].append(index);
    }
    entries_.push_back(std::move(entry));
}

const DesktopEntry* DesktopIndex::entryByID(const QString& id) const {
    const auto it = byID_.constFind(id);
    return it == byID_.cend() ? nullptr : &entries_[static_cast<std::size_t>(*it)];
}

const DesktopEntry* DesktopIndex::entryBySandboxID(const QString& sandboxID) const {
    if (const DesktopEntry* entry = entryByID(sandboxID)) {
        return entry;
    }
    const auto it = bySandboxID_.constFind(sandboxID);
    return it == bySandboxID_.cend() ? nullptr : &entries_[static_cast<std::size_t>(*it)];
}

QList<const DesktopEntry*> DesktopIndex::entriesByProgram(const QString& name) const {
    QList<const DesktopEntry*> result;
    const auto it = byProgram_.constFind(name.toLower());
    if (it != byProgram_.cend()) {
        for (const qsizetype index : *it) {
            result.append(&entries_[static_cast<std::size_t>(index)]);
        }
    }
    return result;
}

QString DesktopIndex::interpreterFamily(const QString& program) {
    QString name = program.toLower();
    if (name.endsWith(QLatin1String("-preloader"))) {
        name.chop(10);
    }
    while (!name.isEmpty() && (name.back().isDigit() || name.back() == QLatin1Char('.') ||
                               name.back() == QLatin1Char('-'))) {
        name.chop(1);
    }
    if (name == QLatin1String("nodejs")) {
        return QStringLiteral("node");
    }
    if (name == QLatin1String("bash") || name == QLatin1String("dash") ||
        name == QLatin1String("zsh")) {
        return QStringLiteral("sh");
    }
    static const QStringList families = {QStringLiteral("python"), QStringLiteral("electron"),
                                         QStringLiteral("java"),   QStringLiteral("node"),
                                         QStringLiteral("perl"),   QStringLiteral("ruby"),
                                         QStringLiteral("mono"),   QStringLiteral("gjs"),
                                         QStringLiteral("wine"),   QStringLiteral("sh")};
    return families.contains(name) ? name : QString();
}

} // namespace corvalle
