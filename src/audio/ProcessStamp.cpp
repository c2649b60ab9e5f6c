#include "ProcessStamp.h"

#include <string>
#include <sys/stat.h>

namespace corvalle {

namespace {

std::int64_t nanoseconds(const timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

} // namespace

std::optional<ProcessStamp> processStamp(const std::filesystem::path& procRoot, pid_t pid) {
    if (pid <= 0) {
        return std::nullopt;
    }
    const std::string path = (procRoot / std::to_string(pid) / "stat").string();
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return ProcessStamp{static_cast<std::uint64_t>(status.st_ino),
                        static_cast<std::int64_t>(status.st_size), nanoseconds(status.st_mtim),
                        nanoseconds(status.st_ctim)};
}

} // namespace corvalle
