#pragma once

#include "AudioTypes.h"

#include <atomic>

namespace corvalle {

// Shared between the main thread and one tap's IO thread: element 0 is the
// target gain (written by the main thread), element 1 the gain the last IO cycle
// ended at (written only by the IO thread), element 2 the largest sample
// magnitude written since the main thread last took it (raised by the IO
// thread, taken and reset by the main thread through takePeak).
struct GainState {
    std::atomic<float> target{1.0F};
    std::atomic<float> applied{1.0F};
    std::atomic<float> peak{0.0F};
};
static_assert(std::atomic<float>::is_always_lock_free, "the gain state must be lock-free");

// Copies the tapped stream (the last input buffer) to the output buffers at the
// gain, channel k of the outputs (counted across buffers) from channel k of the
// stream, a mono stream on the first two and channels it lacks silent, ramping linearly from the
// applied to the target gain within the cycle and limiting every sample to [-1, 1], and raises
// `state->peak` to the largest magnitude it wrote. Realtime-safe.
void renderGain(const AudioBufferList* input, AudioBufferList* output, GainState* state) noexcept;

// The largest magnitude the IO thread wrote since the last call, in [0, 1]; 0
// when it wrote only silence or nothing at all.
float takePeak(GainState& state) noexcept;

} // namespace corvalle
