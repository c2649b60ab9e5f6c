#pragma once

#include <string>
#include <sys/types.h>

namespace corvalle::test {

// An Xvfb server on a display it picks itself, ended with the object.
class XvfbServer {
public:
    XvfbServer();
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // The display's number, or an empty string when the server did not start.
    const std::string& display() const { return display_; }

private:
    pid_t pid_ = 0;
    std::string display_;
};

} // namespace corvalle::test
