#include "ControlBus.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <signal.h>
#include <thread>

namespace corvalle::test {

namespace {

std::string readLine(std::FILE* stream) {
    std::string line;
    for (int c = std::fgetc(stream); c != EOF && c != '\n'; c = std::fgetc(stream)) {
        line.push_back(static_cast<char>(c));
    }
    return line;
}

bool isAlive(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) {
        return false;
    }
    // The state follows the command name, which is in parentheses.
    const auto close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

} // namespace

PrivateSessionBus::PrivateSessionBus() {
    const auto config = dir_.path() / "session.conf";
    std::ofstream(config) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus "
                             "Configuration 1.0//EN\"\n"
                             " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                             "<busconfig>\n"
                             "  <type>session</type>\n"
                             "  <listen>unix:dir="
                          << dir_.path().string()
                          << "</listen>\n"
                             "  <auth>EXTERNAL</auth>\n"
                             "  <policy context=\"default\">\n"
                             "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                             "    <allow eavesdrop=\"true\"/>\n"
                             "    <allow own=\"*\"/>\n"
                             "  </policy>\n"
                             "</busconfig>\n";
    const auto command = "dbus-daemon --config-file=" + config.string() +
                         " --fork --print-address=1 --print-pid=1 --nopidfile";
    std::FILE* output = ::popen(command.c_str(), "r");
    if (output == nullptr) {
        return;
    }
    address_ = readLine(output);
    const auto pidText = readLine(output);
    ::pclose(output);
    try {
        pid_ = static_cast<pid_t>(std::stol(pidText));
    } catch (...) {
        pid_ = 0;
        address_.clear();
    }
}

PrivateSessionBus::~PrivateSessionBus() {
    if (pid_ <= 0) {
        return;
    }
    ::kill(pid_, SIGTERM);
    // The daemon forked away from us, so it cannot be reaped here; wait until it
    // has exited, which leaves it a zombie until its new parent reaps it.
    for (int attempt = 0; attempt < 100 && isAlive(pid_); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace corvalle::test
