#include "PipeWireSession.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string_view>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace corvalle::test {

namespace {

std::string quoted(const std::string& text) {
    std::string result = "'";
    for (const char c : text) {
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return result + "'";
}

// Copies the `export NAME='value'` and `unset NAME` lines of the session's env
// file into this process.
void applyEnvironment(const std::filesystem::path& envFile) {
    std::ifstream file(envFile);
    std::string line;
    while (std::getline(file, line)) {
        const auto eq = line.find('=');
        if (line.rfind("export ", 0) == 0 && eq != std::string::npos) {
            std::string value = line.substr(eq + 1);
            if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'') {
                value = value.substr(1, value.size() - 2);
            }
            setenv(line.substr(7, eq - 7).c_str(), value.c_str(), 1);
        } else if (line.rfind("unset ", 0) == 0) {
            unsetenv(line.substr(6).c_str());
        }
    }
}

} // namespace

void pauseBriefly() {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

std::filesystem::path PipeWireSession::script() {
    return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "scripts" /
           "pw-session";
}

PipeWireSession::PipeWireSession(const std::string& environment) {
    std::string out =
        output(environment + " " + quoted(script().string()) + " start || echo ' failed'");
    while (!out.empty() && std::isspace(static_cast<unsigned char>(out.back())) != 0) {
        out.pop_back();
    }
    if (!out.empty() && !out.ends_with(" failed")) {
        dir_ = out;
        applyEnvironment(dir_ / "env");
    }
}

PipeWireSession::~PipeWireSession() {
    if (!dir_.empty()) {
        run(quoted(script().string()) + " stop " + quoted(dir_.string()));
    }
}

bool PipeWireSession::restartAudio() const {
    return run(quoted(script().string()) + " restart-pipewire " + quoted(dir_.string())) == 0;
}

int PipeWireSession::run(const std::string& command) const {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string PipeWireSession::output(const std::string& command) const {
    std::string text;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return text;
    }
    std::array<char, 4096> buffer{};
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        text.append(buffer.data(), n);
    }
    pclose(pipe);
    return text;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& environment) {
    std::vector<char*> raw;
    std::vector<std::string> copy = argv;
    for (auto& arg : copy) {
        raw.push_back(arg.data());
    }
    raw.push_back(nullptr);
    // Built before fork: the child may only exec. The given entries replace this
    // process's entries of the same name.
    std::vector<std::string> entries = environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const auto name = text.substr(0, text.find('=') + 1);
        const bool replaced = std::ranges::any_of(
            environment, [&](const std::string& given) { return given.starts_with(name); });
        if (!replaced) {
            entries.emplace_back(text);
        }
    }
    std::vector<char*> envp;
    for (auto& entry : entries) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        // Its own process group, so that whatever it starts ends with it.
        setpgid(0, 0);
        execvpe(raw[0], raw.data(), envp.data());
        _exit(127);
    }
}

ChildProcess::~ChildProcess() {
    if (pid_ <= 0) {
        return;
    }
    if (!isRunning()) {
        kill(-pid_, SIGKILL); // helpers left behind by the process
        return;
    }
    kill(-pid_, SIGTERM);
    if (wait(std::chrono::milliseconds(2000)) == -1) {
        kill(-pid_, SIGKILL);
        wait(std::chrono::milliseconds(2000));
    }
}

bool ChildProcess::isRunning() {
    if (pid_ <= 0 || status_ != -1) {
        return false;
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return false;
    }
    return true;
}

void ChildProcess::signal(int signal) const {
    if (pid_ > 0) {
        kill(pid_, signal);
    }
}

int ChildProcess::wait(std::chrono::milliseconds timeout) {
    eventually([this] { return !isRunning(); }, timeout);
    return status_;
}

std::string programKey(pid_t pid) {
    std::error_code error;
    const auto executable =
        std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error);
    return error ? std::string() : "exe:" + executable.string();
}

std::string programKey(const ChildProcess& child, std::chrono::milliseconds timeout) {
    const std::string forked = programKey(getpid());
    std::string key;
    eventually(
        [&] {
            key = programKey(child.pid());
            return !key.empty() && key != forked;
        },
        timeout);
    return key == forked ? std::string() : key;
}

} // namespace corvalle::test
