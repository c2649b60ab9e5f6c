#pragma once

#include <cmath>

// The one set of rules for a volume: a linear factor from silence (0) to four
// times an application's own level, where 1.0 leaves it unchanged. Every layer
// that stores, shows, steps or plays a volume goes through these; they live here,
// below the model, because the tap applies them too.
namespace corvalle::Volume {

// The loudest volume: 400 %.
inline constexpr double kMax = 4.0;
// Within this of 1.0 a volume counts as unchanged (1.004 does, 1.006 does not).
inline constexpr double kUnchangedBand = 0.005;

// The volume actually applied for any request: NaN and anything at or below 0
// give 0, anything above the maximum (infinity included) gives the maximum.
constexpr double clamped(double volume) {
    if (!(volume > 0.0)) {
        return 0.0;
    }
    return volume > kMax ? kMax : volume;
}

// Whether `volume` leaves the level unchanged (strictly within the band).
inline bool isUnchanged(double volume) {
    return std::fabs(volume - 1.0) < kUnchangedBand;
}

// The factor a tap may play. Stricter than clamped(): a gain that reaches the
// tap as infinity came from arithmetic gone wrong, not from a request for the
// maximum, so it is silence.
inline float playableGain(float gain) {
    if (std::isinf(gain)) {
        return 0.0F;
    }
    return static_cast<float>(clamped(static_cast<double>(gain)));
}

} // namespace corvalle::Volume
