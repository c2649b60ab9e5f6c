#pragma once

#include "MixerModel.h"

#include <memory>

namespace corvalle {

class AppDirectory;
class AudioHardware;
class LoginItem;
class SettingsStore;

// Everything the model and the panel talk to, chosen once at start-up. Owns the
// audio system, the settings store, the application directory and the login
// item; the model made from it must go before it.
struct Backend {
    std::unique_ptr<AudioHardware> hardware;
    std::unique_ptr<SettingsStore> store;
    std::unique_ptr<AppDirectory> directory;
    std::unique_ptr<LoginItem> loginItem;
    std::function<pid_t(pid_t)> responsiblePID; // empty: the system's own lookup
    // Whether the audio system answered at start-up (always true when simulated).
    bool connected = true;

    Backend();
    ~Backend();
    Backend(const Backend&) = delete;
    Backend& operator=(const Backend&) = delete;

    MixerEnvironment environment() const;
};

// The user's PipeWire session, settings, desktop entries and autostart folder.
// Waits up to `connectTimeoutMs` for the server so that the first view is complete.
// Null in a build without the PipeWire backend.
std::unique_ptr<Backend> makePipeWireBackend(int connectTimeoutMs = 2000);

// The simulated audio system with `demoApps` demo applications, two outputs,
// settings in memory and a login item in memory.
std::unique_ptr<Backend> makeSimulatedBackend(int demoApps);

} // namespace corvalle
