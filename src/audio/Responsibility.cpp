#include "Responsibility.h"

#include <mutex>
#include <unistd.h>
#include <utility>

namespace corvalle {

namespace {

// A chain deeper than this is a loop in a damaged tree, not a real process chain.
constexpr int kMaxDepth = 256;

} // namespace

ProcessTreeResponsibility::ProcessTreeResponsibility(std::filesystem::path procRoot)
    : procRoot_(std::move(procRoot)) {}

pid_t ProcessTreeResponsibility::responsiblePID(pid_t pid) const {
    if (pid <= 1) {
        return pid;
    }
    const auto stamp = process::processStamp(procRoot_, pid);
    if (!stamp) {
        remembered_.erase(pid);
        return pid;
    }
    if (const auto known = remembered_.find(pid); known != remembered_.end()) {
        const Remembered& entry = known->second;
        if (entry.stamp == *stamp &&
            (entry.answer == pid ||
             process::processStamp(procRoot_, entry.answer) == entry.answerStamp)) {
            return entry.answer;
        }
    }
    const pid_t answer = walk(pid);
    const auto answerStamp = answer == pid ? stamp : process::processStamp(procRoot_, answer);
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
    const auto self = process::readProcessIdentity(procRoot_, pid);
    if (!self) {
        return pid;
    }
    // Inside an application scope the scope decides; without one, the chain of
    // processes running the same program does. Either way the chain must be
    // unbroken: the first ancestor that does not belong ends the walk.
    const bool byScope = !self->applicationUnit.empty();
    if (!byScope && self->executable.empty()) {
        return pid;
    }
    pid_t best = pid;
    pid_t parent = self->parentPID;
    for (int depth = 0; depth < kMaxDepth && parent > 1 && parent != pid; ++depth) {
        const auto facts = process::readProcessIdentity(procRoot_, parent);
        if (!facts || facts->userID != self->userID) {
            break;
        }
        const bool belongs = byScope ? facts->applicationUnit == self->applicationUnit
                                     : facts->executable == self->executable;
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

pid_t processTreeLookup(pid_t pid) {
    // Each thread keeps its own remembered answers, so no lock is needed.
    thread_local const ProcessTreeResponsibility tree("/proc");
    return tree.responsiblePID(pid);
}

LookupFunction resolvedLookup() {
    std::call_once(resolveOnce, [] {
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

} // namespace Responsibility

} // namespace corvalle
