#include "ProcessIdentity.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace corvalle::process {

namespace {

std::int64_t nanoseconds(const timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

// Closes the descriptor on every way out.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

template <typename Number> std::optional<Number> parseNumber(std::string_view text) {
    Number value{};
    const char* end = text.data() + text.size();
    const auto [ptr, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || ptr != end || text.empty()) {
        return std::nullopt;
    }
    return value;
}

// The next field of `text` from `pos` on, fields separated by spaces, tabs or
// newlines; empty at the end.
std::string_view nextField(std::string_view text, std::size_t& pos) {
    constexpr std::string_view kBlanks = " \t\n";
    const auto start = text.find_first_not_of(kBlanks, pos);
    if (start == std::string_view::npos) {
        pos = text.size();
        return {};
    }
    auto end = text.find_first_of(kBlanks, start);
    if (end == std::string_view::npos) {
        end = text.size();
    }
    pos = end;
    return text.substr(start, end - start);
}

// Calls `visit` with each line of `text`, without its newline, until it returns true.
template <typename Visit> void forEachLine(std::string_view text, Visit visit) {
    std::size_t lineStart = 0;
    while (lineStart < text.size()) {
        auto lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string_view::npos) {
            lineEnd = text.size();
        }
        if (visit(text.substr(lineStart, lineEnd - lineStart))) {
            return;
        }
        lineStart = lineEnd + 1;
    }
}

// The innermost application unit of one cgroup path, or empty.
std::string_view innermostUnit(std::string_view path) {
    std::string_view found;
    std::size_t start = 0;
    while (start <= path.size()) {
        const auto slash = path.find('/', start);
        const auto end = slash == std::string_view::npos ? path.size() : slash;
        const auto component = path.substr(start, end - start);
        if (isApplicationUnit(component)) {
            found = component;
        }
        if (slash == std::string_view::npos) {
            break;
        }
        start = slash + 1;
    }
    return found;
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

std::optional<std::string> readFile(const std::filesystem::path& path, std::size_t limit) {
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) {
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    std::string data;
    // /proc files report size 0, so read until the end rather than trusting st_size.
    std::array<char, 4096> buffer{};
    while (data.size() < limit) {
        const std::size_t want = std::min(buffer.size(), limit - data.size());
        const ssize_t got = ::read(fd.get(), buffer.data(), want);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        data.append(buffer.data(), static_cast<std::size_t>(got));
    }
    return data;
}

std::optional<std::string> readLink(const std::filesystem::path& path) {
    std::array<char, 4096> buffer{};
    const ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size()) {
        return std::nullopt;
    }
    std::string target(buffer.data(), static_cast<std::size_t>(length));
    constexpr std::string_view kDeleted = " (deleted)";
    if (target.ends_with(kDeleted)) {
        target.resize(target.size() - kDeleted.size());
    }
    return target;
}

std::optional<ProcessStat> parseStat(std::string_view stat) {
    const auto open = stat.find('(');
    const auto close = stat.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
        return std::nullopt;
    }
    ProcessStat result;
    result.comm = std::string(stat.substr(open + 1, close - open - 1));
    // Fields from 3 on (state, parent, …) follow the closing parenthesis.
    std::size_t pos = close + 1;
    for (int field = 3; field <= 22; ++field) {
        const auto text = nextField(stat, pos);
        if (text.empty()) {
            return std::nullopt;
        }
        if (field == 4) {
            const auto parent = parseNumber<pid_t>(text);
            if (!parent) {
                return std::nullopt;
            }
            result.parentPID = *parent;
        } else if (field == 22) {
            const auto start = parseNumber<unsigned long long>(text);
            if (!start) {
                return std::nullopt;
            }
            result.startTime = *start;
        }
    }
    return result;
}

std::optional<uid_t> parseRealUserID(std::string_view status) {
    std::optional<uid_t> user;
    forEachLine(status, [&](std::string_view line) {
        if (!line.starts_with("Uid:")) {
            return false;
        }
        std::size_t pos = 4;
        user = parseNumber<uid_t>(nextField(line, pos));
        return true;
    });
    return user;
}

bool isApplicationUnit(std::string_view name) {
    const bool scope = name.ends_with(".scope");
    const bool service = name.ends_with(".service");
    return ((name.starts_with("app-") || name.starts_with("snap.")) && (scope || service)) ||
           (name.starts_with("flatpak-") && scope);
}

std::string applicationUnit(std::string_view cgroup) {
    std::optional<std::string_view> unified;
    std::string_view legacy;
    std::string_view any;
    forEachLine(cgroup, [&](std::string_view line) {
        // hierarchy-ID:controllers:path
        const auto first = line.find(':');
        const auto second = first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second == std::string_view::npos) {
            return false;
        }
        const auto unit = innermostUnit(line.substr(second + 1));
        if (line.starts_with("0::")) {
            unified = unit;
            return true;
        }
        if (line.substr(first + 1, second - first - 1) == "name=systemd" && legacy.empty()) {
            legacy = unit;
        }
        if (any.empty()) {
            any = unit;
        }
        return false;
    });
    return std::string(unified ? *unified : legacy.empty() ? any : legacy);
}

std::vector<std::string> splitCmdline(std::string_view cmdline) {
    std::vector<std::string> args;
    std::size_t start = 0;
    while (start < cmdline.size()) {
        auto end = cmdline.find('\0', start);
        if (end == std::string_view::npos) {
            end = cmdline.size();
        }
        args.emplace_back(cmdline.substr(start, end - start));
        start = end + 1;
    }
    return args;
}

std::optional<std::string> commandName(const std::filesystem::path& procRoot, pid_t pid) {
    auto name = readFile(procRoot / std::to_string(pid) / "comm", kStatLimit);
    if (!name) {
        return std::nullopt;
    }
    if (const auto newline = name->find('\n'); newline != std::string::npos) {
        name->resize(newline);
    }
    return name;
}

std::optional<ProcessIdentity> readProcessIdentity(const std::filesystem::path& procRoot,
                                                   pid_t pid) {
    const auto dir = procRoot / std::to_string(pid);
    const auto statText = readFile(dir / "stat", kStatLimit);
    const auto statusText = readFile(dir / "status", kSmallFileLimit);
    if (!statText || !statusText) {
        return std::nullopt;
    }
    const auto stat = parseStat(*statText);
    const auto user = parseRealUserID(*statusText);
    if (!stat || !user) {
        return std::nullopt;
    }
    ProcessIdentity identity;
    identity.parentPID = stat->parentPID;
    identity.userID = *user;
    identity.applicationUnit =
        applicationUnit(readFile(dir / "cgroup", kSmallFileLimit).value_or(""));
    identity.executable = readLink(dir / "exe").value_or("");
    return identity;
}

} // namespace corvalle::process
