#include "ControlBus.h"

#include <csignal>
#include <cstdio>
#include <fstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvalle::test {

PrivateSessionBus::PrivateSessionBus() {
    const auto config = dir_.path() / "session.conf";
    std::ofstream(config)
        << "<busconfig><type>session</type><listen>unix:dir=" << dir_.path().string()
        << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
           "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
           "<allow own=\"*\"/></policy>"
           "</busconfig>\n";
    // Built before fork: the child may only exec.
    const auto configArgument = "--config-file=" + config.string();
    char* const argv[] = {const_cast<char*>("dbus-daemon"),
                          const_cast<char*>(configArgument.c_str()), const_cast<char*>("--nofork"),
                          const_cast<char*>("--print-address=1"), nullptr};
    int pipe[2];
    if (::pipe(pipe) != 0) {
        return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        // The daemon goes with the test even if the test dies first.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::dup2(pipe[1], STDOUT_FILENO);
        ::execvp(argv[0], argv);
        ::_exit(127);
    }
    ::close(pipe[1]);
    std::FILE* output = ::fdopen(pipe[0], "r");
    for (int c = std::fgetc(output); c != EOF && c != '\n'; c = std::fgetc(output)) {
        address_.push_back(static_cast<char>(c));
    }
    std::fclose(output);
}

PrivateSessionBus::~PrivateSessionBus() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
}

} // namespace corvalle::test
