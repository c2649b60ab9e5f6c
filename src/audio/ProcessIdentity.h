#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// What the system knows about a process, read from a /proc tree: the one set of
// rules for reading its files, for its stat and status lines, its executable and
// the application unit of its control group. The responsible-process walk, the
// desktop application directory and the PipeWire client answers all read through
// here. No Qt: the audio layer uses it too.
namespace corvalle::process {

// Tells a process apart from a later one that reuses its PID, with one stat()
// instead of reading files: the kernel makes a new inode for the /proc entries
// of every process, so the inode and times of <root>/<pid>/stat change with it.
struct ProcessStamp {
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNanoseconds = 0;
    std::int64_t changedNanoseconds = 0;

    friend bool operator==(const ProcessStamp&, const ProcessStamp&) = default;
};

// The stamp of `pid` under `procRoot`, or nothing when the process is gone.
std::optional<ProcessStamp> processStamp(const std::filesystem::path& procRoot, pid_t pid);

// How much of each file is read: enough for any real process, little enough that
// a hostile one cannot make us read without end.
inline constexpr std::size_t kStatLimit = 4096;
inline constexpr std::size_t kSmallFileLimit = std::size_t{64} * 1024;
inline constexpr std::size_t kCmdlineLimit = std::size_t{32} * 1024;

// Reads at most `limit` bytes of a regular file. Never blocks on a FIFO or device
// planted where a file is expected; nothing when the file cannot be read.
std::optional<std::string> readFile(const std::filesystem::path& path, std::size_t limit);

// The target of a symbolic link, without the " (deleted)" that /proc appends to
// the executable of a replaced binary (still the same program); nothing when the
// link cannot be read.
std::optional<std::string> readLink(const std::filesystem::path& path);

// The fields of <pid>/stat the system uses.
struct ProcessStat {
    std::string comm;
    pid_t parentPID = 0;
    unsigned long long startTime = 0; // field 22, clock ticks after boot
};

// Parses <pid>/stat; the command name may hold spaces and parentheses, so the
// fields are counted from the last ')'.
std::optional<ProcessStat> parseStat(std::string_view stat);

// The real user ID from the "Uid:" line of <pid>/status.
std::optional<uid_t> parseRealUserID(std::string_view status);

// Whether a control-group path component is an application's unit: systemd's
// app-….scope and app-….service, flatpak-….scope, snap.….scope and snap.….service.
bool isApplicationUnit(std::string_view name);

// The innermost application unit of <pid>/cgroup: from the unified hierarchy
// ("0::") when it has one, else from the legacy systemd one ("name=systemd"),
// else from the first hierarchy that has one. Empty when the process runs in none.
std::string applicationUnit(std::string_view cgroup);

// Splits <pid>/cmdline into its arguments.
std::vector<std::string> splitCmdline(std::string_view cmdline);

// The command name from <pid>/comm, without the newline; nothing when unreadable.
std::optional<std::string> commandName(const std::filesystem::path& procRoot, pid_t pid);

// One process as the responsible-process walk sees it.
struct ProcessIdentity {
    pid_t parentPID = 0;
    uid_t userID = 0;
    std::string applicationUnit; // empty when the process runs in no application unit
    std::string executable;      // empty when the link cannot be read
};

// Reads the identity of `pid` under `procRoot`; nothing when its stat or status
// cannot be read (the process is gone, or not ours to see).
std::optional<ProcessIdentity> readProcessIdentity(const std::filesystem::path& procRoot,
                                                   pid_t pid);

} // namespace corvalle::process
