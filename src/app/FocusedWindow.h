#pragma once

#include <optional>
#include <sys/types.h>

namespace corvalle::x11 {

// The process of the window that has the focus, as the window manager tells it:
// _NET_ACTIVE_WINDOW on the root window, then that window's _NET_WM_PID.
// Nothing when not on xcb (Wayland keeps it to the compositor), when no window
// is active, or when the window does not say its process.
std::optional<pid_t> focusedWindowPID();

} // namespace corvalle::x11
