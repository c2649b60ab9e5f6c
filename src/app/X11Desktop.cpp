#include "X11Desktop.h"

#include <QGuiApplication>
#include <cstdint>
#include <cstdlib>
#include <string>

#if __has_include(<xcb/xcb.h>) && QT_CONFIG(xcb)
#define CORVALLE_HAVE_XCB 1
#include <xcb/xcb.h>
#endif

namespace corvalle {

#ifdef CORVALLE_HAVE_XCB

namespace {

xcb_connection_t* qtConnection() {
    const auto* x11 =
        qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t* connection, const std::string& name) {
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.c_str());
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const xcb_atom_t value = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return value;
}

xcb_screen_t* screenNumbered(xcb_connection_t* connection, int number) {
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; it.rem > 0; xcb_screen_next(&it), ++i) {
        if (i == number) {
            return it.data;
        }
    }
    return nullptr;
}

int defaultScreenNumber() {
    char* host = nullptr;
    int display = 0;
    int screen = 0;
    const int parsed = xcb_parse_display(nullptr, &host, &display, &screen);
    std::free(host);
    return parsed != 0 ? screen : 0;
}

// The first value of a 32-bit property of `type`; `fallback` when absent or
// of another type.
std::uint32_t value32(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property,
                      xcb_atom_t type, std::uint32_t fallback) {
    const xcb_get_property_cookie_t cookie =
        xcb_get_property(connection, 0, window, property, type, 0, 1);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(connection, cookie, nullptr);
    std::uint32_t value = fallback;
    if (reply && reply->type == type && reply->format == 32 &&
        xcb_get_property_value_length(reply) >= 4) {
        value = *static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
    }
    std::free(reply);
    return value;
}

// A CARDINAL property of one value; `fallback` when absent.
std::uint32_t cardinal(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property,
                       std::uint32_t fallback) {
    return value32(connection, window, property, XCB_ATOM_CARDINAL, fallback);
}

// Adds `mask` to the events this client receives for `window`, keeping what Qt
// asked for already.
void addEventMask(xcb_connection_t* connection, xcb_window_t window, std::uint32_t mask) {
    xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(
        connection, xcb_get_window_attributes(connection, window), nullptr);
    if (!attributes) {
        return;
    }
    const std::uint32_t value = attributes->your_event_mask | mask;
    std::free(attributes);
    xcb_change_window_attributes(connection, window, XCB_CW_EVENT_MASK, &value);
}

void sendToRoot(xcb_connection_t* connection, xcb_window_t root, xcb_window_t window,
                xcb_atom_t type, std::uint32_t d0, std::uint32_t d1, std::uint32_t d2) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    event.data.data32[0] = d0;
    event.data.data32[1] = d1;
    event.data.data32[2] = d2;
    xcb_send_event(connection, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
}

// Source indication of EWMH requests: 2 is a request on the user's direct
// behalf (a launcher, a command, a tray click), which window managers honour.
constexpr std::uint32_t kSourceUser = 2;
constexpr std::uint32_t kAllDesktops = 0xFFFFFFFF;

} // namespace

std::unique_ptr<X11TrayManagerWatch> X11TrayManagerWatch::create() {
    xcb_connection_t* connection = qtConnection();
    if (!connection) {
        return nullptr;
    }
    const int number = defaultScreenNumber();
    xcb_screen_t* screen = screenNumbered(connection, number);
    if (!screen) {
        return nullptr;
    }
    std::unique_ptr<X11TrayManagerWatch> watch(new X11TrayManagerWatch);
    watch->root_ = screen->root;
    watch->selection_ = atom(connection, "_NET_SYSTEM_TRAY_S" + std::to_string(number));
    watch->manager_ = atom(connection, "MANAGER");
    addEventMask(connection, watch->root_, XCB_EVENT_MASK_STRUCTURE_NOTIFY);
    watch->refresh();
    QCoreApplication::instance()->installNativeEventFilter(watch.get());
    return watch;
}

X11TrayManagerWatch::~X11TrayManagerWatch() {
    if (QCoreApplication::instance()) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
    }
}

bool X11TrayManagerWatch::nativeEventFilter(const QByteArray& eventType, void* message,
                                            qintptr* /*result*/) {
    if (eventType != "xcb_generic_event_t") {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    switch (event->response_type & 0x7F) {
    case XCB_CLIENT_MESSAGE: {
        const auto* client = static_cast<const xcb_client_message_event_t*>(message);
        if (client->type == manager_ && client->data.data32[1] == selection_) {
            refresh();
        }
        break;
    }
    case XCB_DESTROY_NOTIFY: {
        const auto* destroyed = static_cast<const xcb_destroy_notify_event_t*>(message);
        if (owner_ != 0 && destroyed->window == owner_) {
            refresh();
        }
        break;
    }
    default:
        break;
    }
    // Qt sees every event as well.
    return false;
}

void X11TrayManagerWatch::refresh() {
    xcb_connection_t* connection = qtConnection();
    if (!connection) {
        return;
    }
    xcb_get_selection_owner_reply_t* reply = xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, selection_), nullptr);
    const std::uint32_t owner = reply ? reply->owner : 0;
    std::free(reply);
    if (owner != 0) {
        // Its window's end is the manager's end.
        addEventMask(connection, owner, XCB_EVENT_MASK_STRUCTURE_NOTIFY);
    }
    const bool before = isPresent();
    owner_ = owner;
    xcb_flush(connection);
    if (isPresent() != before) {
        emit presenceChanged(isPresent());
    }
}

std::unique_ptr<X11CoverWatch> X11CoverWatch::create(const QWindow& window) {
    xcb_connection_t* connection = qtConnection();
    if (!connection) {
        return nullptr;
    }
    std::unique_ptr<X11CoverWatch> watch(new X11CoverWatch);
    watch->window_ = static_cast<xcb_window_t>(window.winId());
    addEventMask(connection, watch->window_, XCB_EVENT_MASK_VISIBILITY_CHANGE);
    xcb_flush(connection);
    QCoreApplication::instance()->installNativeEventFilter(watch.get());
    return watch;
}

X11CoverWatch::~X11CoverWatch() {
    if (QCoreApplication::instance()) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
    }
}

bool X11CoverWatch::nativeEventFilter(const QByteArray& eventType, void* message,
                                      qintptr* /*result*/) {
    if (eventType != "xcb_generic_event_t") {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7F) != XCB_VISIBILITY_NOTIFY) {
        return false;
    }
    const auto* visibility = static_cast<const xcb_visibility_notify_event_t*>(message);
    if (visibility->window != window_) {
        return false;
    }
    const bool covered = visibility->state == XCB_VISIBILITY_FULLY_OBSCURED;
    if (covered != covered_) {
        covered_ = covered;
        emit coveredChanged(covered);
    }
    return false;
}

bool x11::bringToCurrentDesktop(const QWindow& window, std::uint32_t timestamp) {
    xcb_connection_t* connection = qtConnection();
    xcb_screen_t* screen = connection ? screenNumbered(connection, defaultScreenNumber()) : nullptr;
    if (!screen) {
        return false;
    }
    const auto id = static_cast<xcb_window_t>(window.winId());
    const xcb_atom_t currentDesktop = atom(connection, "_NET_CURRENT_DESKTOP");
    const xcb_atom_t windowDesktop = atom(connection, "_NET_WM_DESKTOP");
    const std::uint32_t current = cardinal(connection, screen->root, currentDesktop, kAllDesktops);
    const std::uint32_t on = cardinal(connection, id, windowDesktop, kAllDesktops);
    if (current != kAllDesktops && on != kAllDesktops && on != current) {
        sendToRoot(connection, screen->root, id, windowDesktop, current, kSourceUser, 0);
    }
    sendToRoot(connection, screen->root, id, atom(connection, "_NET_ACTIVE_WINDOW"), kSourceUser,
               timestamp, 0);
    xcb_flush(connection);
    return true;
}

std::optional<pid_t> x11::focusedWindowPID() {
    xcb_connection_t* connection = qtConnection();
    xcb_screen_t* screen = connection ? screenNumbered(connection, defaultScreenNumber()) : nullptr;
    if (!screen) {
        return std::nullopt;
    }
    const std::uint32_t window =
        value32(connection, screen->root, atom(connection, "_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW,
                XCB_WINDOW_NONE);
    if (window == XCB_WINDOW_NONE) {
        return std::nullopt;
    }
    const std::uint32_t pid = cardinal(connection, window, atom(connection, "_NET_WM_PID"), 0);
    if (pid == 0 || pid > static_cast<std::uint32_t>(INT32_MAX)) {
        return std::nullopt;
    }
    return static_cast<pid_t>(pid);
}

#else

std::unique_ptr<X11TrayManagerWatch> X11TrayManagerWatch::create() {
    return nullptr;
}

X11TrayManagerWatch::~X11TrayManagerWatch() = default;

bool X11TrayManagerWatch::nativeEventFilter(const QByteArray&, void*, qintptr*) {
    return false;
}

void X11TrayManagerWatch::refresh() {}

std::unique_ptr<X11CoverWatch> X11CoverWatch::create(const QWindow&) {
    return nullptr;
}

X11CoverWatch::~X11CoverWatch() = default;

bool X11CoverWatch::nativeEventFilter(const QByteArray&, void*, qintptr*) {
    return false;
}

bool x11::bringToCurrentDesktop(const QWindow&, std::uint32_t) {
    return false;
}

std::optional<pid_t> x11::focusedWindowPID() {
    return std::nullopt;
}

#endif

} // namespace corvalle
