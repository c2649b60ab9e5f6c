#pragma once

#include "AudioTypes.h"

#include <atomic>

namespace corvalle {

// Shared between the main thread and one tap's IO thread: element 0 is the
// target gain (written by the main thread), element 1 the gain the last IO cycle
// ended at (written only by the IO thread).
struct GainState {
    std::atomic<float> target{1.0F};
    std::atomic<float> applied{1.0F};
};
static_assert(std::atomic<float>::is_always_lock_free, "the gain state must be lock-free");

// Copies the tapped stream (the last input buffer) to every output buffer at the
// gain, ramping linearly from the applied to the target gain within the cycle and
// limiting every sample to [-1, 1]. Realtime-safe.
void renderGain(const AudioBufferList* input, AudioBufferList* output, GainState* state) noexcept;

} // namespace corvalle
