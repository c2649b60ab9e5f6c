#pragma once

#include "Volume.h"

#include <QString>
#include <optional>

namespace corvalle {

// The remembered volume and mute switch of one application group.
struct AppSetting {
    double volume = 1.0;
    bool muted = false;
    std::optional<QString> name;

    // Within 0.005 of full volume and not muted: no tap is needed.
    bool isDefault() const { return !muted && Volume::isUnchanged(volume); }
    // The gain a tap applies: 0 when muted, else Volume::clamped, so a stored
    // volume outside 0 to 4 (a hand-edited or corrupt file) never reaches a tap as
    // such and NaN gives silence.
    float effectiveGain() const {
        return muted ? 0.0F : static_cast<float>(Volume::clamped(volume));
    }

    friend bool operator==(const AppSetting&, const AppSetting&) = default;
};

} // namespace corvalle
