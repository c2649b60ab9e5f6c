#pragma once

#include <QString>
#include <optional>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace corvalle {

// Begins the key of a program that no desktop entry claims ("exe:/usr/bin/paplay").
// A desktop file id never holds the '/' that follows it, and the audio server's
// application ids that begin with it are not taken as keys.
inline constexpr const char* kProgramKeyPrefix = "exe:";
// Begins the key of a process known by nothing but its PID, when not even its
// executable can be read.
inline constexpr const char* kPIDKeyPrefix = "pid:";

// What the desktop knows about the application a process belongs to.
struct RunningApplication {
    std::optional<QString> bundleID; // desktop file id without ".desktop"
    std::optional<QString> name;     // localised display name
    std::optional<QString> icon;     // theme icon name or absolute file path
    // Without a desktop entry: the program's key ("exe:…", see kProgramKeyPrefix),
    // the same for every run of the same program.
    std::optional<QString> programKey = std::nullopt;
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
    // Every installed application a menu shows, by bundle identifier.
    virtual std::vector<std::pair<QString, InstalledApplication>> installedApplications() {
        return {};
    }
};

} // namespace corvalle
