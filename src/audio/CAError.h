#pragma once

#include "AudioTypes.h"

#include <stdexcept>
#include <string>

namespace corvalle {

// Thrown when the audio system refuses to create or start an object.
class CAError : public std::runtime_error {
public:
    CAError(std::string what, OSStatus status);

    // The interface's `what` (the operation's name); std::exception already owns what().
    const std::string& operation() const { return what_; }
    OSStatus status() const { return status_; }
    // "<what> failed (OSStatus <status>)"
    const std::string& description() const { return description_; }

private:
    std::string what_;
    OSStatus status_;
    std::string description_;
};

} // namespace corvalle
