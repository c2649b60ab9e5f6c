#pragma once

#include <QString>
#include <cmath>
#include <optional>

namespace corvalle {

// The remembered volume and mute switch of one application group.
struct AppSetting {
    double volume = 1.0;
    bool muted = false;
    std::optional<QString> name;

    // Within 0.005 of full volume and not muted: no tap is needed.
    bool isDefault() const { return !muted && std::fabs(volume - 1.0) < 0.005; }
    // The gain a tap applies. A stored volume outside 0 to 4 (a hand-edited or
    // corrupt file) never reaches a tap as such; NaN gives silence.
    float effectiveGain() const;

    friend bool operator==(const AppSetting&, const AppSetting&) = default;
};

} // namespace corvalle
