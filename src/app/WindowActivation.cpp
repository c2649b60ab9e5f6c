#include "WindowActivation.h"

#include "X11Desktop.h"

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <limits>

namespace corvalle {

namespace {

bool onWayland() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

} // namespace

std::uint32_t startupTimestamp(const QString& startupID) {
    const qsizetype at = startupID.lastIndexOf(QLatin1String("_TIME"));
    if (at < 0) {
        return 0;
    }
    bool ok = false;
    const qulonglong time = startupID.mid(at + 5).toULongLong(&ok);
    if (!ok || time > std::numeric_limits<std::uint32_t>::max()) {
        return 0;
    }
    return static_cast<std::uint32_t>(time);
}

void bringToUser(QWidget& window, const ActivationRequest& request) {
    if (onWayland() && window.isVisible() && (!window.isActiveWindow() || window.isMinimized())) {
        // A Wayland client can neither raise itself nor leave a minimised state,
        // and an activation request with a token is often only marked urgent on a
        // workspace the user is not looking at (sway's default). Mapped anew, the
        // window opens like any new one: on the current workspace, in front.
        window.hide();
    }
    if (window.isMinimized()) {
        window.showNormal();
    }
    window.show();
    window.raise();
    if (onWayland() && !request.activationToken.isEmpty()) {
        // Qt's Wayland plugin hands this variable to xdg_activation_v1.activate
        // on the next activation request, and then clears it.
        qputenv("XDG_ACTIVATION_TOKEN", request.activationToken.toUtf8());
    }
    window.activateWindow();
    qunsetenv("XDG_ACTIVATION_TOKEN");
    if (QWindow* handle = window.windowHandle()) {
        x11::bringToCurrentDesktop(*handle, startupTimestamp(request.startupID));
    }
}

} // namespace corvalle
