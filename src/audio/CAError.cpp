#include "CAError.h"

#include <utility>

namespace corvalle {

namespace {

std::string describe(const std::string& what, OSStatus status) {
    return what + " failed (OSStatus " + std::to_string(status) + ")";
}

} // namespace

CAError::CAError(std::string what, OSStatus status)
    : std::runtime_error(describe(what, status)), what_(std::move(what)), status_(status),
      description_(describe(what_, status_)) {}

} // namespace corvalle
