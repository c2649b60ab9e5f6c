#include "Responsibility.h"

#include <atomic>
#include <charconv>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <unistd.h>

namespace corvalle {

namespace {

// What the walk needs to know about one process.
struct ProcessFacts {
    pid_t parentPID = 0;
    uid_t userID = 0;
    std::string appScope; // empty when the process runs in no application scope
    std::string executable;
};

// A chain deeper than this is a loop in a damaged tree, not a real process chain.
constexpr int kMaxDepth = 256;

std::optional<std::string> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

template <typename Number> std::optional<Number> parseNumber(std::string_view text) {
    Number value{};
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr == text.data()) {
        return std::nullopt;
    }
    return value;
}

// The parent from <pid>/stat. The command name may hold spaces and ')' itself,
// so the fields are counted from the last ')'.
std::optional<pid_t> parentFromStat(const std::string& stat) {
    const auto close = stat.rfind(')');
    if (close == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream rest(stat.substr(close + 1));
    std::string state;
    std::string parent;
    if (!(rest >> state >> parent)) {
        return std::nullopt;
    }
    return parseNumber<pid_t>(parent);
}

// The real user ID from the "Uid:" line of <pid>/status.
std::optional<uid_t> userFromStatus(const std::string& status) {
    std::istringstream lines(status);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.starts_with("Uid:")) {
            std::istringstream fields(line.substr(4));
            std::string real;
            if (fields >> real) {
                return parseNumber<uid_t>(real);
            }
            return std::nullopt;
        }
    }
    return std::nullopt;
}

bool isAppScopeName(std::string_view name) {
    const bool unit = name.ends_with(".scope") || name.ends_with(".service");
    return (name.starts_with("app-") && unit) ||
           (name.starts_with("flatpak-") && name.ends_with(".scope"));
}

// The innermost application unit of a cgroup path, or empty.
std::string appScopeOfPath(std::string_view path) {
    std::string found;
    std::size_t start = 0;
    while (start <= path.size()) {
        const auto slash = path.find('/', start);
        const auto end = slash == std::string_view::npos ? path.size() : slash;
        const auto component = path.substr(start, end - start);
        if (isAppScopeName(component)) {
            found = std::string(component);
        }
        if (slash == std::string_view::npos) {
            break;
        }
        start = slash + 1;
    }
    return found;
}

// The application scope from <pid>/cgroup: the unified hierarchy ("0::") first,
// then the systemd one of a legacy layout.
std::string appScopeFromCgroup(const std::string& cgroup) {
    std::istringstream lines(cgroup);
    std::string line;
    std::string legacy;
    while (std::getline(lines, line)) {
        const auto first = line.find(':');
        const auto second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos) {
            continue;
        }
        const std::string_view controllers(line.data() + first + 1, second - first - 1);
        const auto scope = appScopeOfPath(std::string_view(line).substr(second + 1));
        if (line.starts_with("0::")) {
            return scope;
        }
        if (controllers == "name=systemd" && legacy.empty()) {
            legacy = scope;
        }
    }
    return legacy;
}

std::string executableOf(const std::filesystem::path& link) {
    std::error_code error;
    auto target = std::filesystem::read_symlink(link, error).string();
    if (error) {
        return {};
    }
    // A program replaced on disk while running still is the same program.
    constexpr std::string_view deleted = " (deleted)";
    if (target.ends_with(deleted)) {
        target.resize(target.size() - deleted.size());
    }
    return target;
}

std::optional<ProcessFacts> readFacts(const std::filesystem::path& procRoot, pid_t pid) {
    const auto dir = procRoot / std::to_string(pid);
    const auto stat = readFile(dir / "stat");
    const auto status = readFile(dir / "status");
    if (!stat || !status) {
        return std::nullopt;
    }
    const auto parent = parentFromStat(*stat);
    const auto user = userFromStatus(*status);
    if (!parent || !user) {
        return std::nullopt;
    }
    ProcessFacts facts;
    facts.parentPID = *parent;
    facts.userID = *user;
    facts.appScope = appScopeFromCgroup(readFile(dir / "cgroup").value_or(""));
    facts.executable = executableOf(dir / "exe");
    return facts;
}

} // namespace

ProcessTreeResponsibility::ProcessTreeResponsibility(std::filesystem::path procRoot)
    : procRoot_(std::move(procRoot)) {}

pid_t ProcessTreeResponsibility::responsiblePID(pid_t pid) const {
    if (pid <= 1) {
        return pid;
    }
    const auto stamp = processStamp(procRoot_, pid);
    if (!stamp) {
        remembered_.erase(pid);
        return pid;
    }
    if (const auto known = remembered_.find(pid); known != remembered_.end()) {
        const Remembered& entry = known->second;
        if (entry.stamp == *stamp &&
            (entry.answer == pid || processStamp(procRoot_, entry.answer) == entry.answerStamp)) {
            return entry.answer;
        }
    }
    const pid_t answer = walk(pid);
    const auto answerStamp = answer == pid ? stamp : processStamp(procRoot_, answer);
    if (answerStamp) {
        // Dead processes' entries go when a lookup meets them; a cap keeps a
        // long run that never asks again from growing without bound.
        constexpr std::size_t kMaxRemembered = 4096;
        if (remembered_.size() >= kMaxRemembered) {
            remembered_.clear();
        }
        remembered_[pid] = Remembered{*stamp, answer, *answerStamp};
    }
    return answer;
}

pid_t ProcessTreeResponsibility::walk(pid_t pid) const {
    const auto self = readFacts(procRoot_, pid);
    if (!self) {
        return pid;
    }
    // Inside an application scope the scope decides; without one, the chain of
    // processes running the same program does. Either way the chain must be
    // unbroken: the first ancestor that does not belong ends the walk.
    const bool byScope = !self->appScope.empty();
    if (!byScope && self->executable.empty()) {
        return pid;
    }
    pid_t best = pid;
    pid_t parent = self->parentPID;
    for (int depth = 0; depth < kMaxDepth && parent > 1 && parent != pid; ++depth) {
        const auto facts = readFacts(procRoot_, parent);
        if (!facts || facts->userID != self->userID) {
            break;
        }
        const bool belongs =
            byScope ? facts->appScope == self->appScope : facts->executable == self->executable;
        if (!belongs) {
            break;
        }
        best = parent;
        parent = facts->parentPID;
    }
    return best;
}

namespace Responsibility {

namespace {

using LookupFunction = pid_t (*)(pid_t);

std::once_flag resolveOnce;
LookupFunction lookup = nullptr;
std::atomic<std::size_t> resolutions{0};

pid_t processTreeLookup(pid_t pid) {
    // Each thread keeps its own remembered answers, so no lock is needed.
    thread_local const ProcessTreeResponsibility tree("/proc");
    return tree.responsiblePID(pid);
}

LookupFunction resolvedLookup() {
    std::call_once(resolveOnce, [] {
        ++resolutions;
        // Without a readable process tree there is nothing to ask.
        lookup = access("/proc/self/stat", R_OK) == 0 ? &processTreeLookup : nullptr;
    });
    return lookup;
}

} // namespace

pid_t responsiblePID(pid_t pid) {
    const LookupFunction function = resolvedLookup();
    if (function == nullptr) {
        return pid;
    }
    const pid_t answer = function(pid);
    return answer > 0 ? answer : pid;
}

std::size_t resolutionCount() {
    return resolutions.load();
}

} // namespace Responsibility

} // namespace corvalle
