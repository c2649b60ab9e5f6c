#pragma once

#include "AudioTypes.h"

#include <atomic>
#include <cstdint>

namespace corvalle {

// Shared between the main thread and one tap's IO thread.
struct GainState {
    // The gain to reach; written by the main thread.
    std::atomic<float> target{1.0F};
    // The gain the last IO cycle ended at; written only by the IO thread.
    std::atomic<float> applied{1.0F};
    // The largest sample magnitude written since the main thread last took it:
    // raised by the IO thread, taken and reset by the main thread (takePeak).
    std::atomic<float> peak{0.0F};
    // Whether sound above full scale is limited smoothly (PeakLimiter) rather
    // than clipped sample by sample; written by the main thread.
    std::atomic<bool> limiterOn{true};
    // The limiter's gain and hold at the end of the last cycle; IO thread only.
    std::atomic<float> limiterGain{1.0F};
    std::atomic<std::uint32_t> limiterHold{0};
    // The lowest limiter gain since the main thread last took it (takeLimit):
    // lowered by the IO thread, reset to 1 by the main thread.
    std::atomic<float> deepestLimit{1.0F};
};
static_assert(std::atomic<float>::is_always_lock_free && std::atomic<bool>::is_always_lock_free &&
                  std::atomic<std::uint32_t>::is_always_lock_free,
              "the gain state must be lock-free");

// Copies the tapped stream (the last input buffer) to the output buffers at the
// gain, channel k of the outputs (counted across buffers) from channel k of the
// stream, a mono stream on the first two and channels it lacks silent, ramping linearly from the
// applied to the target gain within the cycle, and raises `state->peak` to the largest magnitude
// it wrote. Sound that would pass full scale is brought down by the limiter while it is on; every
// sample is then limited to [-1, 1], and a NaN sample is silence. While the limiter is on but has
// nothing to do, the output is bit for bit what it is with the limiter off. Realtime-safe.
void renderGain(const AudioBufferList* input, AudioBufferList* output, GainState* state) noexcept;

// The largest magnitude the IO thread wrote since the last call, in [0, 1]; 0
// when it wrote only silence or nothing at all.
float takePeak(GainState& state) noexcept;

// The lowest gain the limiter applied since the last call, in (0, 1]; 1 when it
// did not work.
float takeLimit(GainState& state) noexcept;

} // namespace corvalle
