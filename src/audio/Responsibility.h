#pragma once

#include "ProcessIdentity.h"

#include <cstddef>
#include <filesystem>
#include <sys/types.h>
#include <unordered_map>

namespace corvalle {

// Finds the process responsible for another one: the process that launched the
// application it belongs to. Reads the process tree under a /proc root.
class ProcessTreeResponsibility {
public:
    explicit ProcessTreeResponsibility(std::filesystem::path procRoot = "/proc");

    // The topmost ancestor of `pid` in the same application unit (see
    // process::applicationUnit: systemd app unit, flatpak instance, snap) or,
    // without one, the topmost ancestor running the same executable; never PID 1
    // and never a process of another user. `pid` itself when nothing better is
    // known.
    //
    // An answer is remembered while both the process and its responsible process
    // are still the same processes (see ProcessStamp), so asking again every
    // second costs two stat() calls instead of a walk over several files per
    // ancestor. Not for use from several threads at once.
    pid_t responsiblePID(pid_t pid) const;

private:
    struct Remembered {
        process::ProcessStamp stamp;
        pid_t answer = 0;
        process::ProcessStamp answerStamp;
    };

    pid_t walk(pid_t pid) const;

    std::filesystem::path procRoot_;
    mutable std::unordered_map<pid_t, Remembered> remembered_;
};

namespace Responsibility {

// The responsible process of `pid`, or `pid` itself. The lookup source is
// resolved once per run, on first use, thread-safely.
pid_t responsiblePID(pid_t pid);

} // namespace Responsibility

} // namespace corvalle
