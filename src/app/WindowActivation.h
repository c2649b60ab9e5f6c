#pragma once

#include "SingleInstance.h"

#include <QString>
#include <cstdint>

class QWidget;

namespace corvalle {

// Brings `window` to the user: shown, no longer minimised, on the workspace the
// user is looking at, raised and focused. Uses the platform's activation
// protocol where there is one: on Wayland the request's XDG activation token
// (the compositor grants the focus for the user action it stands for), on X11
// the window manager's desktop and active-window requests.
void bringToUser(QWidget& window, const ActivationRequest& request);

// The time of the user's action in an X11 startup-notification id
// ("…_TIME<decimal>"), 0 when it has none.
std::uint32_t startupTimestamp(const QString& startupID);

} // namespace corvalle
