#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <sys/types.h>

namespace corvalle {

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

} // namespace corvalle
