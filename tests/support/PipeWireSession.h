#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace corvalle::test {

// A private PipeWire session (scripts/pw-session) for one test: started on
// construction, with this process's environment pointed at it, and stopped with
// everything in it on destruction.
class PipeWireSession {
public:
    // `environment` is put before the start command (VAR=value ...): see the
    // top of scripts/pw-session for the variants it offers.
    explicit PipeWireSession(const std::string& environment = "");
    ~PipeWireSession();
    PipeWireSession(const PipeWireSession&) = delete;
    PipeWireSession& operator=(const PipeWireSession&) = delete;

    bool isRunning() const { return !dir_.empty(); }
    const std::filesystem::path& dir() const { return dir_; }
    // Kills the audio daemons and starts them again, as a server restart would.
    bool restartAudio() const;
    // Runs a shell command inside the session; returns its exit status.
    int run(const std::string& command) const;
    // Runs a shell command inside the session and returns what it printed.
    std::string output(const std::string& command) const;

    static std::filesystem::path script();

private:
    std::filesystem::path dir_;
};

// A program started for a test, killed (SIGTERM, then SIGKILL) when the object
// goes away. `environment` holds NAME=value entries that the program gets on top
// of this process's environment, which stays as it is.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& argv,
                          const std::vector<std::string>& environment = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool isRunning();
    void signal(int signal) const;
    // Waits for the process to end; its exit status, or -1 after the timeout.
    int wait(std::chrono::milliseconds timeout);

private:
    pid_t pid_ = -1;
    int status_ = -1;
};

void pauseBriefly();

// "exe:" and the executable `pid` runs: the key under which Corvalle remembers a
// program without a desktop entry (a plain binary; a script is keyed by its own
// path). Empty when the link cannot be read.
std::string programKey(pid_t pid);
// The same for a child, once it runs its program instead of the forked test
// process; empty when it does not within `timeout`.
std::string programKey(const ChildProcess& child,
                       std::chrono::milliseconds timeout = std::chrono::seconds(5));

// Waits until `condition` holds, checking every few milliseconds.
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        pauseBriefly();
    }
    return true;
}

} // namespace corvalle::test
