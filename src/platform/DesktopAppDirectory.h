#pragma once

#include "AppDirectory.h"
#include "DesktopIndex.h"
#include "ProcessIdentity.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <chrono>
#include <cstdint>
#include <filesystem>

namespace corvalle {

struct DesktopDirectoryOptions {
    QStringList dataDirs; // empty = $XDG_DATA_HOME, then $XDG_DATA_DIRS
    QString procRoot = QStringLiteral("/proc");
    QStringList locales; // best first; empty = $LANGUAGE, $LC_ALL, $LC_MESSAGES, $LANG
    std::chrono::milliseconds rescanInterval{1000}; // least time between folder checks
};

// The applications of a Linux desktop: the desktop entries of the XDG data
// folders, and the processes under a /proc root matched to them by their sandbox
// app id, their systemd application unit or their executable.
//
// Every call runs on the caller's thread; an object is not shared between threads.
class DesktopAppDirectory final : public AppDirectory {
public:
    explicit DesktopAppDirectory(const DesktopDirectoryOptions& options = {});

    std::optional<RunningApplication> runningApplication(pid_t pid) override;
    std::optional<InstalledApplication> installedApplication(const QString& bundleID) override;
    std::vector<std::pair<QString, InstalledApplication>> installedApplications() override;

    // How often the entry index has been built; for tests.
    int indexBuildCount() const { return index_.buildCount(); }
    // How many processes are remembered; for tests.
    std::size_t cachedProcessCount() const { return static_cast<std::size_t>(cache_.size()); }

    // The data folders in use, most important first.
    static QStringList dataDirsFromEnvironment();

private:
    struct CachedProcess {
        process::ProcessStamp stamp;
        std::optional<RunningApplication> application;
        std::uint64_t lastUse = 0;
    };

    std::optional<RunningApplication> resolve(const QByteArray& processDir,
                                              const QByteArray& statComm);
    const DesktopEntry* entryFromScope(const QByteArray& processDir) const;
    void remember(pid_t pid, const CachedProcess& process);

    QByteArray procRoot_;
    std::filesystem::path procRootPath_;
    DesktopIndex index_;
    QHash<pid_t, CachedProcess> cache_;
    std::uint64_t useCounter_ = 0;
};

} // namespace corvalle
