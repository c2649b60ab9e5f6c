#pragma once

#include "AppSetting.h"
#include "MixerModel.h"
#include "SettingsCodec.h"

#include <QString>
#include <chrono>
#include <map>

namespace corvalle::bench {

// `entries` remembered settings of players that are not running, keyed by
// `keyPattern` with the entry's number for %1, as the store holds them.
inline QByteArray rememberedSettings(int entries, const QString& keyPattern) {
    std::map<QString, AppSetting> settings;
    for (int entry = 0; entry < entries; ++entry) {
        settings[keyPattern.arg(entry)] =
            AppSetting{0.5, entry % 3 == 0, QStringLiteral("Stopped player %1").arg(entry)};
    }
    return SettingsCodec::encode(settings);
}

// A model's environment that refreshes only when asked (once an hour), with
// every process responsible for itself.
inline MixerEnvironment benchEnvironment(AudioHardware& hardware, SettingsStore& store,
                                         AppDirectory& directory) {
    MixerEnvironment environment;
    environment.hardware = &hardware;
    environment.store = &store;
    environment.directory = &directory;
    environment.responsiblePID = [](pid_t pid) { return pid; };
    environment.ownPID = 1;
    environment.pollInterval = std::chrono::hours(1);
    return environment;
}

} // namespace corvalle::bench
