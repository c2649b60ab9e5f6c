#pragma once

namespace corvalle::dbus {

// The running instance's name on the session bus and the objects it serves.
inline constexpr const char* kServiceName = "org.corvalle.Corvalle";
inline constexpr const char* kApplicationPath = "/org/corvalle/Corvalle";
inline constexpr const char* kApplicationInterface = "org.corvalle.Corvalle.Application";
inline constexpr const char* kMixerPath = "/org/corvalle/Corvalle/Mixer";
inline constexpr const char* kMixerInterface = "org.corvalle.Corvalle.Mixer";

// The desktop portal: its keyboard shortcuts, the requests and sessions they
// use, and the registry that names a program that is not sandboxed.
inline constexpr const char* kPortalService = "org.freedesktop.portal.Desktop";
inline constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
inline constexpr const char* kPortalRequestPathPrefix = "/org/freedesktop/portal/desktop/request/";
inline constexpr const char* kPortalSessionPathPrefix = "/org/freedesktop/portal/desktop/session/";
inline constexpr const char* kGlobalShortcutsInterface = "org.freedesktop.portal.GlobalShortcuts";
inline constexpr const char* kPortalRequestInterface = "org.freedesktop.portal.Request";
inline constexpr const char* kPortalSessionInterface = "org.freedesktop.portal.Session";
inline constexpr const char* kPortalRegistryInterface = "org.freedesktop.host.portal.Registry";

// The desktop's notification server.
inline constexpr const char* kNotificationsService = "org.freedesktop.Notifications";
inline constexpr const char* kNotificationsPath = "/org/freedesktop/Notifications";
inline constexpr const char* kNotificationsInterface = "org.freedesktop.Notifications";

} // namespace corvalle::dbus
