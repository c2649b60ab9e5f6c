#include "XvfbServer.h"

#include <array>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace corvalle::test {

XvfbServer::XvfbServer() {
    std::array<int, 2> pipeEnds{};
    if (pipe(pipeEnds.data()) != 0) {
        return;
    }
    pid_ = fork();
    if (pid_ == 0) {
        close(pipeEnds[0]);
        const std::string fd = std::to_string(pipeEnds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeEnds[1]);
    char c = 0;
    while (read(pipeEnds[0], &c, 1) == 1 && c != '\n') {
        display_ += c;
    }
    close(pipeEnds[0]);
}

XvfbServer::~XvfbServer() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

} // namespace corvalle::test
