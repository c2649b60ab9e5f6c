#include "FocusedWindow.h"

#include <QGuiApplication>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#if __has_include(<xcb/xcb.h>) && QT_CONFIG(xcb)
#define CORVALLE_HAVE_XCB 1
#include <xcb/xcb.h>
#endif

namespace corvalle::x11 {

#ifdef CORVALLE_HAVE_XCB

namespace {

xcb_atom_t atom(xcb_connection_t* connection, std::string_view name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection,
        xcb_intern_atom(connection, 1, static_cast<std::uint16_t>(name.size()), name.data()),
        nullptr);
    const xcb_atom_t value = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return value;
}

// The first 32-bit value of `property` of `type` on `window`, or nothing.
std::optional<std::uint32_t> value32(xcb_connection_t* connection, xcb_window_t window,
                                     xcb_atom_t property, xcb_atom_t type) {
    if (property == XCB_ATOM_NONE) {
        return std::nullopt;
    }
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, property, type, 0, 1), nullptr);
    std::optional<std::uint32_t> value;
    if (reply && reply->type == type && reply->format == 32 &&
        xcb_get_property_value_length(reply) >= 4) {
        value = *static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
    }
    std::free(reply);
    return value;
}

} // namespace

std::optional<pid_t> focusedWindowPID() {
    const auto* x11 =
        qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection) {
        return std::nullopt;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!screen) {
        return std::nullopt;
    }
    // Only existing atoms: a window manager that never set them has no answer.
    const std::optional<std::uint32_t> window =
        value32(connection, screen->root, atom(connection, "_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW);
    if (!window || *window == XCB_WINDOW_NONE) {
        return std::nullopt;
    }
    const std::optional<std::uint32_t> pid =
        value32(connection, *window, atom(connection, "_NET_WM_PID"), XCB_ATOM_CARDINAL);
    if (!pid || *pid == 0 || *pid > static_cast<std::uint32_t>(INT32_MAX)) {
        return std::nullopt;
    }
    return static_cast<pid_t>(*pid);
}

#else

std::optional<pid_t> focusedWindowPID() {
    return std::nullopt;
}

#endif

} // namespace corvalle::x11
