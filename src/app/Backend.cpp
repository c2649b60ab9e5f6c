#include "Backend.h"

#include "AppDirectory.h"
#include "AudioHardware.h"
#include "DemoWorld.h"
#include "DesktopAppDirectory.h"
#include "LoginItem.h"
#include "MainThread.h"
#include "QSettingsStore.h"
#include "SettingsStore.h"

#ifdef CORVALLE_HAVE_PIPEWIRE
#include "PipeWireAudioHardware.h"
#endif

namespace corvalle {

Backend::Backend() = default;
Backend::~Backend() = default;

MixerEnvironment Backend::environment() const {
    MixerEnvironment environment;
    environment.hardware = hardware.get();
    environment.store = store.get();
    environment.directory = directory.get();
    environment.responsiblePID = responsiblePID;
    return environment;
}

std::unique_ptr<Backend> makePipeWireBackend(int connectTimeoutMs) {
    auto backend = std::make_unique<Backend>();
#ifdef CORVALLE_HAVE_PIPEWIRE
    auto hardware = std::make_unique<PipeWireAudioHardware>(qtMainThreadPoster());
    backend->connected = hardware->waitUntilConnected(connectTimeoutMs);
    backend->hardware = std::move(hardware);
#else
    (void)connectTimeoutMs;
    return nullptr;
#endif
    backend->store = std::make_unique<QSettingsStore>();
    backend->directory = std::make_unique<DesktopAppDirectory>();
    backend->loginItem = std::make_unique<AutostartLoginItem>();
    return backend;
}

std::unique_ptr<Backend> makeSimulatedBackend(int demoApps) {
    auto backend = std::make_unique<Backend>();
    backend->hardware = makeDemoHardware(demoApps);
    backend->store = makeDemoSettings();
    backend->directory = makeDemoDirectory(demoApps);
    backend->loginItem = std::make_unique<MemoryLoginItem>();
    backend->responsiblePID = [](pid_t pid) { return pid; };
    return backend;
}

} // namespace corvalle
