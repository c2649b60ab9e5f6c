#pragma once

#include "AudioTypes.h"

#include <cstddef>
#include <cstdint>

namespace corvalle::test {

// The gain procedure written the plain way, one sample at a time, straight from
// its rules. The optimised procedure must match it bit for bit.
inline void referenceRender(const AudioBufferList* input, AudioBufferList* output, float target,
                            float& applied) {
    const float* left = nullptr;
    const float* right = nullptr;
    std::uint64_t stride = 1;
    std::uint64_t sourceFrames = 0;
    // A shorter left buffer is read only up to its end; silence after it.
    std::uint64_t leftFrames = 0;
    if (input != nullptr && input->numberBuffers > 0) {
        const AudioBuffer& b = input->buffers[input->numberBuffers - 1];
        if (b.data != nullptr && b.numberChannels > 0) {
            sourceFrames = b.dataByteSize / (std::uint64_t{b.numberChannels} * 4);
            leftFrames = sourceFrames;
            const auto* bData = static_cast<const float*>(b.data);
            if (b.numberChannels >= 2) {
                left = bData;
                right = bData + 1;
                stride = b.numberChannels;
            } else if (input->numberBuffers >= 2 &&
                       input->buffers[input->numberBuffers - 2].data != nullptr &&
                       input->buffers[input->numberBuffers - 2].numberChannels == 1) {
                left = static_cast<const float*>(input->buffers[input->numberBuffers - 2].data);
                leftFrames = input->buffers[input->numberBuffers - 2].dataByteSize / 4;
                right = bData;
            } else {
                left = bData;
                right = bData;
            }
        }
    }
    const float T = target;
    const float G = applied;
    std::uint64_t base = 0;
    for (std::uint32_t i = 0; output != nullptr && i < output->numberBuffers; ++i) {
        AudioBuffer& buffer = output->buffers[i];
        if (buffer.data == nullptr || buffer.numberChannels == 0) {
            continue;
        }
        const std::uint64_t C = buffer.numberChannels;
        const std::uint64_t fout = buffer.dataByteSize / (C * 4);
        const std::uint64_t n = sourceFrames < fout ? sourceFrames : fout;
        const float step = n >= 1 ? (T - G) / static_cast<float>(n) : 0.0F;
        auto* out = static_cast<float*>(buffer.data);
        for (std::uint64_t c = 0; c < C && fout > 0; ++c) {
            const std::uint64_t k = base + c;
            const float* src = k == 0 ? left : (k == 1 ? right : nullptr);
            float g = G;
            for (std::uint64_t f = 0; f < fout; ++f) {
                float written = 0.0F;
                if (src != nullptr && f < n) {
                    const float x = k == 0 && f >= leftFrames ? 0.0F : src[f * stride];
                    const float y = x * g;
                    g += step;
                    if (y > 1.0F) {
                        written = 1.0F;
                    } else if (y < -1.0F) {
                        written = -1.0F;
                    } else if (y >= -1.0F && y <= 1.0F) {
                        written = y;
                    }
                }
                out[f * C + c] = written;
            }
        }
        base += C;
    }
    applied = T;
}

} // namespace corvalle::test
