#pragma once

#include "TempDir.h"

#include <string>
#include <sys/types.h>

namespace corvalle::test {

// A private D-Bus session bus: a dbus-daemon of its own whose configuration knows
// no activatable services, so nothing on it can be started on demand. The daemon
// ends with the object. Never the user's bus.
class PrivateSessionBus {
public:
    PrivateSessionBus();
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    // Empty when the daemon could not be started.
    const std::string& address() const { return address_; }
    bool isRunning() const { return pid_ > 0 && !address_.empty(); }

private:
    TempDir dir_;
    std::string address_;
    pid_t pid_ = 0;
};

} // namespace corvalle::test
