#pragma once

namespace corvalle::dbus {

// The running instance's name on the session bus and the objects it serves.
inline constexpr const char* kServiceName = "org.corvalle.Corvalle";
inline constexpr const char* kApplicationPath = "/org/corvalle/Corvalle";
inline constexpr const char* kApplicationInterface = "org.corvalle.Corvalle.Application";
inline constexpr const char* kMixerPath = "/org/corvalle/Corvalle/Mixer";
inline constexpr const char* kMixerInterface = "org.corvalle.Corvalle.Mixer";

} // namespace corvalle::dbus
