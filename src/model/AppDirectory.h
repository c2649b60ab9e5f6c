#pragma once

#include <QString>
#include <optional>
#include <sys/types.h>

namespace corvalle {

// What the desktop knows about the application a process belongs to.
struct RunningApplication {
    std::optional<QString> bundleID; // desktop file id without ".desktop"
    std::optional<QString> name;     // localised display name
    std::optional<QString> icon;     // theme icon name or absolute file path
};

// An installed application found by its bundle identifier.
struct InstalledApplication {
    QString displayName;
    std::optional<QString> icon;
};

// The running and installed applications of the desktop.
class AppDirectory {
public:
    virtual ~AppDirectory() = default;
    virtual std::optional<RunningApplication> runningApplication(pid_t pid) = 0;
    virtual std::optional<InstalledApplication> installedApplication(const QString& bundleID) = 0;
};

} // namespace corvalle
