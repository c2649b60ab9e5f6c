#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace corvalle::test {

// Writes `count` desktop entries app-000.desktop … into `applicationsDir`
// (created when missing). Entry i is named "<word> <i>" with a German
// translation, icon "app-<i>" (every seventh one an absolute path) and an Exec
// whose program basename is "app-<i>" (three-digit, zero-padded), written in
// several realistic forms (plain, absolute, quoted path with a space, env
// prefix, field codes). Every third entry has StartupWMClass "App<i>"; every
// tenth is NoDisplay. So a process whose exe is /usr/bin/app-042 belongs to
// app-042.desktop.
void writeDesktopEntries(const std::filesystem::path& applicationsDir, int count);

// A process in a fake /proc tree.
struct FakeProcess {
    pid_t pid = 0;
    pid_t ppid = 1;
    unsigned uid = 1000;
    std::string comm;
    std::string exe;                  // target of the exe symlink; empty = no link
    std::vector<std::string> argv;    // empty = { exe }
    std::vector<std::string> cgroups; // lines of the cgroup file
    unsigned long long startTime = 0; // field 22 of stat; 0 = derived from the pid
    std::string flatpakInfo;          // contents of root/.flatpak-info; empty = none
    std::string cwd;                  // target of the cwd symlink; empty = no link
};

// Writes <procRoot>/<pid>/{stat,status,comm,cmdline,cgroup} and the exe symlink,
// replacing an earlier entry of the same pid.
void writeProcEntry(const std::filesystem::path& procRoot, const FakeProcess& process);

} // namespace corvalle::test
