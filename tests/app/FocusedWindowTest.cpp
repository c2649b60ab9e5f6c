#include "ModelHarness.h"
#include "X11Desktop.h"
#include "XvfbServer.h"

#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <xcb/xcb.h>

// The focused window's process as the window manager tells it, on a real X
// server where the test plays the window manager and sets the properties itself.
namespace corvalle {
namespace {

using namespace Qt::StringLiterals;

xcb_connection_t* connection() {
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr ? x11->connection() : nullptr;
}

xcb_atom_t atom(const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection(),
        xcb_intern_atom(connection(), 0, static_cast<std::uint16_t>(std::strlen(name)), name),
        nullptr);
    const xcb_atom_t value = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return value;
}

xcb_window_t root() {
    return xcb_setup_roots_iterator(xcb_get_setup(connection())).data->root;
}

xcb_window_t newWindow() {
    const xcb_window_t window = xcb_generate_id(connection());
    xcb_create_window(connection(), XCB_COPY_FROM_PARENT, window, root(), 0, 0, 10, 10, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    return window;
}

void setValue(xcb_window_t window, const char* property, xcb_atom_t type, std::uint32_t value) {
    xcb_change_property(connection(), XCB_PROP_MODE_REPLACE, window, atom(property), type, 32, 1,
                        &value);
}

void removeValue(xcb_window_t window, const char* property) {
    xcb_delete_property(connection(), window, atom(property));
}

TEST(FocusedWindowOnX11, TheActiveWindowsProcessLeadsToItsGroup) {
    ASSERT_NE(connection(), nullptr);
    test::ModelHarness world;
    world.addApp(100, u"org.mozilla.firefox"_s, u"Firefox"_s, true);
    world.addApp(201, u"org.example.Music"_s, u"Music"_s, true);
    world.responsible[201] = 200;
    MixerModel& model = world.start();

    const xcb_window_t firefox = newWindow();
    const xcb_window_t music = newWindow();
    const xcb_window_t silent = newWindow();
    const xcb_window_t nameless = newWindow();
    const xcb_window_t oddlyTyped = newWindow();
    setValue(firefox, "_NET_WM_PID", XCB_ATOM_CARDINAL, 100);
    setValue(music, "_NET_WM_PID", XCB_ATOM_CARDINAL, 200);
    setValue(silent, "_NET_WM_PID", XCB_ATOM_CARDINAL, 555);
    setValue(oddlyTyped, "_NET_WM_PID", XCB_ATOM_STRING, 100);

    const struct {
        const char* what;
        std::optional<xcb_window_t> active;
        xcb_atom_t type;
        std::optional<pid_t> pid;
        std::optional<QString> key;
    } cases[] = {
        {"no active window told", std::nullopt, XCB_ATOM_WINDOW, std::nullopt, std::nullopt},
        {"Firefox", firefox, XCB_ATOM_WINDOW, 100, u"org.mozilla.firefox"_s},
        {"Music's main process", music, XCB_ATOM_WINDOW, 200, u"org.example.Music"_s},
        {"a process without sound", silent, XCB_ATOM_WINDOW, 555, std::nullopt},
        {"a window without a PID", nameless, XCB_ATOM_WINDOW, std::nullopt, std::nullopt},
        {"a PID that is not a number", oddlyTyped, XCB_ATOM_WINDOW, std::nullopt, std::nullopt},
        {"none active", XCB_WINDOW_NONE, XCB_ATOM_WINDOW, std::nullopt, std::nullopt},
        {"an active window of the wrong type", firefox, XCB_ATOM_CARDINAL, std::nullopt,
         std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.active) {
            setValue(root(), "_NET_ACTIVE_WINDOW", c.type, *c.active);
        } else {
            removeValue(root(), "_NET_ACTIVE_WINDOW");
        }
        xcb_flush(connection());
        const std::optional<pid_t> pid = x11::focusedWindowPID();
        EXPECT_EQ(pid, c.pid);
        EXPECT_EQ(pid ? model.keyOfProcess(*pid) : std::nullopt, c.key);
    }
}

} // namespace
} // namespace corvalle

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const corvalle::test::XvfbServer server;
    if (server.display().empty()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    setenv("DISPLAY", (":" + server.display()).c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    unsetenv("WAYLAND_DISPLAY");
    int result = 0;
    {
        QGuiApplication application(argc, argv);
        result = RUN_ALL_TESTS();
    }
    return result;
}
