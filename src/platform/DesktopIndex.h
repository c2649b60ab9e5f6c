#pragma once

#include "DesktopEntry.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <chrono>
#include <ctime>
#include <sys/types.h>
#include <vector>

namespace corvalle {

// Every application entry of a list of applications folders, keyed for hash
// lookups. Built once and rebuilt only when a folder changes: a lookup never
// rescans. Changes are seen through the modification times of the folders,
// compared at most once per check interval. Not thread-safe; used from one thread.
class DesktopIndex {
public:
    // `applicationDirs` in precedence order: an id found in an earlier folder hides
    // the same id in later ones.
    DesktopIndex(QStringList applicationDirs, QStringList localeKeys,
                 std::chrono::milliseconds checkInterval);

    // Rebuilds the index when a folder changed since the last build. Compares at
    // most once per check interval. True when the index was rebuilt.
    bool update();

    // The entry of a desktop file id (without ".desktop"); hidden entries count as
    // deleted and hide lower ones.
    const DesktopEntry* entryByID(const QString& id) const;
    // The entry whose X-Flatpak id (or own id) is `sandboxID`.
    const DesktopEntry* entryBySandboxID(const QString& sandboxID) const;
    // Entries whose Exec program, TryExec or StartupWMClass equals `name`,
    // compared case-insensitively, in precedence order. Interpreters are also
    // filed under their family name ("python3.11" under "python").
    QList<const DesktopEntry*> entriesByProgram(const QString& name) const;

    // Every entry, in precedence order; an id may appear more than once, and the
    // first is the one entryByID gives.
    const std::vector<DesktopEntry>& entries() const { return entries_; }

    int buildCount() const { return buildCount_; }
    std::size_t size() const { return entries_.size(); }

    // "python3.11" → "python", "electron25" → "electron", "java" → "java"; empty
    // for a program that is not an interpreter-like host of other applications.
    static QString interpreterFamily(const QString& program);

private:
    struct FolderStamp {
        QByteArray path;
        bool exists = false;
        timespec mtime{};
        ino_t inode = 0;
    };

    void rebuild();
    void scanFolder(const QString& root, const QString& folder, int depth,
                    QHash<QString, bool>& seenIDs, std::vector<FolderStamp>& stamps,
                    QSet<QPair<dev_t, ino_t>>& visited);
    void addEntry(DesktopEntry entry);
    bool foldersChanged() const;

    QStringList applicationDirs_;
    QStringList localeKeys_;
    std::chrono::milliseconds checkInterval_;
    std::chrono::steady_clock::time_point lastCheck_{};
    bool built_ = false;
    bool recentChange_ = false;
    int buildCount_ = 0;
    std::size_t filesRead_ = 0;

    std::vector<FolderStamp> stamps_;
    std::vector<DesktopEntry> entries_;
    QHash<QString, qsizetype> byID_;
    QHash<QString, qsizetype> bySandboxID_;
    QHash<QString, QList<qsizetype>> byProgram_;
};

} // namespace corvalle
