#pragma once

#include <cstdint>

namespace corvalle {

// A peak limiter without look-ahead, frame by frame: a frame whose loudest
// sample would pass the ceiling gets exactly the gain that brings it to the
// ceiling, at once (so it adds no latency and never overshoots); that gain is
// held for kHoldFrames, long enough to span a whole period of any tone above
// 50 Hz so that a steady tone gets one constant gain and no distortion, and
// then falls back to 1 exponentially. Every channel of a frame gets the same
// gain. The times are for 48 kHz, and scale with the rate: at 44.1 kHz they are
// 9 % longer, at 96 kHz half as long.
struct PeakLimiter {
    static constexpr float kCeiling = 1.0F;
    static constexpr std::uint32_t kHoldFrames = 960;
    // Per frame: the distance to 1 shrinks by this, a time constant of 50 ms.
    static constexpr float kRelease = 0.99958342F;
    // Closer than this to 1 the gain is 1 again, 80 dB below anything audible.
    static constexpr float kSnap = 0.9999F;
    // A frame that comes this close to the ceiling at the gain held renews the
    // hold: a steady tone keeps its gain instead of releasing between peaks.
    static constexpr float kRenewHold = 0.99F;

    float gain = 1.0F;
    std::uint32_t hold = 0;

    bool idle() const { return gain == 1.0F; }

    // The gain of a frame whose loudest sample, after the volume, has the
    // magnitude `loudest` (a finite number; 0 for a silent frame).
    float next(float loudest) {
        if (loudest > kCeiling && kCeiling / loudest < gain) {
            gain = kCeiling / loudest;
            hold = kHoldFrames;
        } else if (gain < 1.0F && loudest * gain >= kCeiling * kRenewHold) {
            hold = kHoldFrames;
        } else if (hold > 0) {
            --hold;
        } else if (gain < 1.0F) {
            gain = 1.0F - (1.0F - gain) * kRelease;
            if (gain >= kSnap) {
                gain = 1.0F;
            }
        }
        return gain;
    }

    // Frames that nextBlock() takes at once.
    static constexpr std::uint32_t kBlock = 8;

    // next() for kBlock frames at once, where it is simple: while the gain is
    // held and none of the frames lowers it, every frame gets the gain held and
    // only the hold changes. Returns false, changing nothing, otherwise.
    bool nextBlock(const float* loudest) {
        if (hold < kBlock || gain >= 1.0F) {
            return false;
        }
        bool lowers = false;
        std::uint32_t renewedBy = 0; // 1 + the last frame that renews the hold
        for (std::uint32_t k = 0; k < kBlock; ++k) {
            lowers = lowers || (loudest[k] > kCeiling && kCeiling / loudest[k] < gain);
            renewedBy = loudest[k] * gain >= kCeiling * kRenewHold ? k + 1 : renewedBy;
        }
        if (lowers) {
            return false;
        }
        hold = renewedBy != 0 ? kHoldFrames - (kBlock - renewedBy) : hold - kBlock;
        return true;
    }
};

} // namespace corvalle
