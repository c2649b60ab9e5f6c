#include "GainRender.h"

#include <cstddef>
#include <cstdint>

namespace corvalle {

namespace {

// Where the tapped stream comes from in this cycle.
struct Source {
    const float* left = nullptr;
    const float* right = nullptr;
    std::size_t stride = 1;
    std::uint64_t frames = 0;
};

// Frames of a buffer; 64-bit so that a huge channel count cannot wrap the divisor.
std::uint64_t framesOf(const AudioBuffer& buffer) {
    return buffer.dataByteSize / (std::uint64_t{buffer.numberChannels} * sizeof(float));
}

Source chooseSource(const AudioBufferList* input) {
    Source source;
    if (input == nullptr || input->numberBuffers == 0 || input->buffers == nullptr) {
        return source;
    }
    const AudioBuffer& last = input->buffers[input->numberBuffers - 1];
    if (last.data == nullptr || last.numberChannels == 0) {
        return source;
    }
    const auto* samples = static_cast<const float*>(last.data);
    source.frames = framesOf(last);
    if (last.numberChannels >= 2) {
        source.left = samples;
        source.right = samples + 1;
        source.stride = last.numberChannels;
        return source;
    }
    source.left = samples;
    source.right = samples;
    if (input->numberBuffers >= 2) {
        const AudioBuffer& before = input->buffers[input->numberBuffers - 2];
        if (before.data != nullptr && before.numberChannels == 1) {
            source.left = static_cast<const float*>(before.data);
        }
    }
    return source;
}

// Limits to [-1, 1]; a NaN sample would otherwise pass every comparison and reach
// the device, so it becomes silence.
inline float limited(float y) {
    float r = y > 1.0F ? 1.0F : y;
    r = r < -1.0F ? -1.0F : r;
    return r == r ? r : 0.0F; // false only for NaN
}

constexpr std::size_t kChunk = 256;

// One output channel: frames [0, n) from the source at the running gain, the rest silent.
void renderChannel(float* out, std::size_t channels, std::uint64_t outFrames, const float* src,
                   std::size_t stride, std::uint64_t n, float applied, float step) {
    std::uint64_t f = 0;
    if (src != nullptr) {
        if (step == 0.0F) {
            for (; f < n; ++f) {
                out[f * channels] = limited(src[f * stride] * applied);
            }
        } else {
            float g = applied;
            for (; f < n; ++f) {
                out[f * channels] = limited(src[f * stride] * g);
                g += step;
            }
        }
    }
    for (; f < outFrames; ++f) {
        out[f * channels] = 0.0F;
    }
}

// The common case: a stereo interleaved stream into a stereo interleaved buffer.
// Both channels share one gain sequence, so it is computed once per chunk.
void renderStereo(float* out, std::uint64_t outFrames, const float* src, std::uint64_t n,
                  float applied, float step) {
    std::uint64_t f = 0;
    if (step == 0.0F) {
        const std::uint64_t samples = n * 2;
        for (std::uint64_t i = 0; i < samples; ++i) {
            out[i] = limited(src[i] * applied);
        }
        f = n;
    } else {
        float gains[kChunk];
        float g = applied;
        while (f < n) {
            const std::size_t count = n - f < kChunk ? static_cast<std::size_t>(n - f) : kChunk;
            for (std::size_t k = 0; k < count; ++k) {
                gains[k] = g;
                g += step;
            }
            const float* in = src + f * 2;
            float* to = out + f * 2;
            for (std::size_t k = 0; k < count; ++k) {
                to[2 * k] = limited(in[2 * k] * gains[k]);
                to[2 * k + 1] = limited(in[2 * k + 1] * gains[k]);
            }
            f += count;
        }
    }
    for (std::uint64_t i = f * 2; i < outFrames * 2; ++i) {
        out[i] = 0.0F;
    }
}

} // namespace

// Runs on the realtime IO thread: no allocation, lock, logging or blocking call.
void renderGain(const AudioBufferList* input, AudioBufferList* output, GainState* state) noexcept {
    const Source source = chooseSource(input);
    const float target = state->target.load(std::memory_order_relaxed);
    const float applied = state->applied.load(std::memory_order_relaxed);

    if (output != nullptr && output->buffers != nullptr) {
        std::size_t base = 0;
        for (std::uint32_t b = 0; b < output->numberBuffers; ++b) {
            const AudioBuffer& buffer = output->buffers[b];
            if (buffer.data == nullptr || buffer.numberChannels == 0) {
                continue;
            }
            auto* out = static_cast<float*>(buffer.data);
            const std::size_t channels = buffer.numberChannels;
            const std::uint64_t outFrames = framesOf(buffer);
            const std::uint64_t n = source.frames < outFrames ? source.frames : outFrames;
            const float step = n >= 1 ? (target - applied) / static_cast<float>(n) : 0.0F;

            const bool stereoPair =
                channels == 2 && base == 0 && source.stride == 2 && source.right == source.left + 1;
            if (stereoPair) {
                renderStereo(out, outFrames, source.left, n, applied, step);
            } else {
                for (std::size_t c = 0; c < channels; ++c) {
                    const std::size_t k = base + c;
                    const float* src = k == 0 ? source.left : (k == 1 ? source.right : nullptr);
                    renderChannel(out + c, channels, outFrames, src, source.stride, n, applied,
                                  step);
                }
            }
            base += channels;
        }
    }

    state->applied.store(target, std::memory_order_relaxed);
}

} // namespace corvalle
