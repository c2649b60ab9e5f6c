#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QWindow>
#include <cstdint>
#include <memory>
#include <optional>
#include <sys/types.h>

namespace corvalle {

// The X11 side of the desktop, through the connection Qt's xcb platform opened.
// Everything here does nothing (or reports nothing) on any other platform.

// Whether an XEmbed tray manager owns the selection _NET_SYSTEM_TRAY_S<screen>.
// A new manager announces itself with a MANAGER message on the root window; a
// manager that goes away destroys its window. Both arrive as events.
class X11TrayManagerWatch final : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT

public:
    // Absent when the program does not run on xcb.
    static std::unique_ptr<X11TrayManagerWatch> create();
    ~X11TrayManagerWatch() override;

    bool isPresent() const { return owner_ != 0; }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    void presenceChanged(bool present);

private:
    X11TrayManagerWatch() = default;
    void refresh();

    std::uint32_t root_ = 0;
    std::uint32_t selection_ = 0;
    std::uint32_t manager_ = 0;
    std::uint32_t owner_ = 0;
};

// Whether the X server reports one window as wholly covered by others
// (VisibilityNotify). Only a desktop without a compositing manager reports it:
// one that composites keeps every window unobscured, so a window is never taken
// for covered there.
class X11CoverWatch final : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT

public:
    // Absent when the program does not run on xcb.
    static std::unique_ptr<X11CoverWatch> create(const QWindow& window);
    ~X11CoverWatch() override;

    std::uintptr_t windowID() const { return window_; }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    void coveredChanged(bool covered);

private:
    X11CoverWatch() = default;

    std::uint32_t window_ = 0;
    bool covered_ = false;
};

namespace x11 {

// Asks the window manager to put `window` on the desktop the user is looking
// at, then to activate it (_NET_WM_DESKTOP and _NET_ACTIVE_WINDOW requests).
// `timestamp` is the time of the user's action, 0 when unknown. False when not
// on xcb.
bool bringToCurrentDesktop(const QWindow& window, std::uint32_t timestamp);

// The process of the window that has the focus, as the window manager tells it:
// _NET_ACTIVE_WINDOW on the root window, then that window's _NET_WM_PID.
// Nothing when not on xcb (Wayland keeps it to the compositor), when no window
// is active, or when the window does not say its process.
std::optional<pid_t> focusedWindowPID();

} // namespace x11

} // namespace corvalle
