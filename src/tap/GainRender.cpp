#include "GainRender.h"

#include "PeakLimiter.h"

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

// The hot loops are also built for AVX2 and picked at load time on CPUs that have it.
#if defined(__x86_64__) && defined(__has_attribute)
#if __has_attribute(target_clones)
#define CORVALLE_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#endif
#endif
#ifndef CORVALLE_VECTOR_CLONES
#define CORVALLE_VECTOR_CLONES
#endif

namespace corvalle {

namespace {

// Where the tapped stream comes from in this cycle.
struct Source {
    const float* left = nullptr;
    const float* right = nullptr;
    std::size_t stride = 1;
    // Interleaved channels of the stream: channel k of the output plays its
    // channel k, so that a layout wider than stereo keeps every channel.
    std::size_t channels = 0;
    std::uint64_t frames = 0;
    // Frames the left channel's own buffer holds: fewer than `frames` when it is
    // a shorter mono buffer before the last one, whose end must not be read past.
    std::uint64_t leftFrames = 0;
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
    source.leftFrames = source.frames;
    if (last.numberChannels >= 2) {
        source.left = samples;
        source.right = samples + 1;
        source.stride = last.numberChannels;
        source.channels = last.numberChannels;
        return source;
    }
    source.left = samples;
    source.right = samples;
    if (input->numberBuffers >= 2) {
        const AudioBuffer& before = input->buffers[input->numberBuffers - 2];
        if (before.data != nullptr && before.numberChannels == 1) {
            source.left = static_cast<const float*>(before.data);
            source.leftFrames = framesOf(before);
        }
    }
    return source;
}

// Bit patterns of a float for the limit below.
constexpr std::uint32_t kSign = 0x80000000U;
constexpr std::uint32_t kOne = 0x3F800000U;
constexpr std::uint32_t kInfinity = 0x7F800000U;

// Limits to [-1, 1], and a NaN sample, which would pass any comparison and reach
// the device, becomes silence. Done on the bits, which vectorises to integer
// min and compare: a magnitude above 1 (infinity included) becomes 1 with the
// sign kept, a magnitude above infinity's is NaN.
inline float limited(float y) {
    const auto bits = std::bit_cast<std::uint32_t>(y);
    const std::uint32_t magnitude = bits & ~kSign;
    const std::uint32_t limitedBits = (bits & kSign) | (magnitude < kOne ? magnitude : kOne);
    return std::bit_cast<float>(magnitude > kInfinity ? 0U : limitedBits);
}

// The magnitude of a limited sample as bits: their order is the order of the
// magnitudes, so the loudest sample is an integer maximum, which vectorises.
inline std::uint32_t magnitudeOf(float y) {
    return std::bit_cast<std::uint32_t>(y) & ~kSign;
}

inline std::uint32_t louder(std::uint32_t a, std::uint32_t b) {
    return a < b ? b : a;
}

// Frames whose gains are computed at a time; lives on the stack.
constexpr std::size_t kChunk = 256;

// Eight lanes of floats or of their bits; the compiler maps them to the widest
// vector unit of the build (two halves on plain SSE2).
using Floats = float __attribute__((vector_size(32)));
using Bits = std::uint32_t __attribute__((vector_size(32)));
constexpr std::size_t kLanes = 8;
// Frames per block of the fast ramp below: four vectors.
constexpr std::size_t kBlock = 4 * kLanes;

// Vectors travel by reference only: passing them by value would depend on the
// vector unit the caller was built for.
void loadFloats(Floats& v, const float* p) {
    std::memcpy(&v, p, sizeof v);
}

void storeFloats(float* p, const Floats& v) {
    std::memcpy(p, &v, sizeof v);
}

// The bit-level limit of `limited`, eight lanes at a time, in place; raises
// `loudest` lane by lane to the magnitudes written.
void limitLanes(Floats& y, Bits& loudest) {
    const Bits bits = reinterpret_cast<Bits>(y);
    const Bits magnitude = bits & ~kSign;
    const Bits one = Bits{} + kOne;
    const Bits limitedMagnitude =
        magnitude > kInfinity ? Bits{} : (magnitude < one ? magnitude : one);
    loudest = loudest < limitedMagnitude ? limitedMagnitude : loudest;
    y = reinterpret_cast<Floats>(magnitude > kInfinity ? Bits{}
                                                       : (bits & kSign) | limitedMagnitude);
}

// Without the limit: raises `loudest` lane by lane to the magnitudes of `y` as
// they are. A NaN's magnitude is above every number's, so a loudest at or below
// 1 says that no sample needed the limit.
void markLanes(const Floats& y, Bits& loudest) {
    const Bits magnitude = reinterpret_cast<Bits>(y) & ~kSign;
    loudest = loudest < magnitude ? magnitude : loudest;
}

// One sample, limited or as it is.
template <bool Limit> float finished(float y) {
    if constexpr (Limit) {
        return limited(y);
    } else {
        return y;
    }
}

template <bool Limit> void finishLanes(Floats& y, Bits& loudest) {
    if constexpr (Limit) {
        limitLanes(y, loudest);
    } else {
        markLanes(y, loudest);
    }
}

std::uint32_t loudestLane(const Bits& lanes) {
    std::uint32_t loudest = 0;
    for (std::size_t i = 0; i < kLanes; ++i) {
        loudest = louder(loudest, lanes[i]);
    }
    return loudest;
}

bool sameBits(float a, float b) {
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

// Writes the running gain of `count` frames, starting at `g` and adding `step`
// after each frame, and returns the gain after the last one. The result is the
// repeated 32-bit sum by definition; the sum itself is one long chain of
// dependent additions, so blocks are first guessed in parallel as g + j·d and
// kept only when every guess plus the step gives exactly the bits of the next
// guess: by induction from the first, each guess then is the repeated sum. A
// block that fails (a power of two crossed, a rounding tie) is guessed again
// vector by vector, and only a vector that fails again is summed one by one.
// Whether any lane is not zero, folded in the vector unit rather than lane by lane.
std::uint32_t anyLane(const Bits& lanes) {
    Bits m = lanes;
    m |= __builtin_shufflevector(m, m, 4, 5, 6, 7, 0, 1, 2, 3);
    m |= __builtin_shufflevector(m, m, 2, 3, 0, 1, 6, 7, 4, 5);
    m |= __builtin_shufflevector(m, m, 1, 0, 3, 2, 5, 4, 7, 6);
    return m[0];
}

CORVALLE_VECTOR_CLONES
float rampGains(float g, float step, float* gains, std::size_t count) {
    const Floats lane{0.0F, 1.0F, 2.0F, 3.0F, 4.0F, 5.0F, 6.0F, 7.0F};
    const Floats steps = Floats{} + step;
    std::size_t k = 0;
    float d = (g + step) - g;
    // One vector's frames from `at` on, guessed or summed; g and d follow.
    const auto rampVector = [&](std::size_t at) {
        const Floats start = Floats{} + g;
        const Floats jump = Floats{} + d;
        const Floats guesses = start + lane * jump;
        const Bits mismatch = reinterpret_cast<Bits>(guesses + steps) ^
                              reinterpret_cast<Bits>(start + (lane + 1.0F) * jump);
        if (sameBits(guesses[0], g) && anyLane(mismatch) == 0U) {
            storeFloats(gains + at, guesses);
            // The next guess, which the check proved to be the sum; 8·d is exact.
            g = g + static_cast<float>(kLanes) * d;
            return;
        }
        for (std::size_t j = 0; j < kLanes; ++j) {
            gains[at + j] = g;
            g += step;
        }
        d = (g + step) - g;
    };
    for (; k + kBlock <= count; k += kBlock) {
        const Floats start = Floats{} + g;
        const Floats jump = Floats{} + d;
        Floats guesses[kBlock / kLanes];
        Bits mismatch{};
        for (std::size_t v = 0; v < kBlock / kLanes; ++v) {
            const Floats index = lane + static_cast<float>(v * kLanes);
            guesses[v] = start + index * jump;
            const Floats next = start + (index + 1.0F) * jump;
            mismatch |= reinterpret_cast<Bits>(guesses[v] + steps) ^ reinterpret_cast<Bits>(next);
        }
        if (sameBits(guesses[0][0], g) && anyLane(mismatch) == 0U) {
            for (std::size_t v = 0; v < kBlock / kLanes; ++v) {
                storeFloats(gains + k + v * kLanes, guesses[v]);
            }
            // The next guess, which the check proved to be the sum, without waiting
            // for the guesses: 32·d is exact, so this is the same sum in one step.
            g = g + static_cast<float>(kBlock) * d;
        } else {
            for (std::size_t v = 0; v < kBlock / kLanes; ++v) {
                rampVector(k + v * kLanes);
            }
        }
    }
    for (; k < count; ++k) {
        gains[k] = g;
        g += step;
    }
    return g;
}

// Each scaling loop below returns the largest magnitude it wrote, as bits. With
// `Limit` every sample is limited to [-1, 1]; without, samples are written as they
// are and the magnitude may be above 1 or a NaN's, which the caller then redoes.

// `count` samples, contiguous on both sides, at one gain.
// The loops below are templates inlined into one function each way, as a
// template cannot be built for several targets.
template <bool Limit>
[[gnu::always_inline]] inline std::uint32_t scaleContiguousLoop(float* out, const float* in,
                                                                std::size_t count, float gain) {
    // Written in vectors: the compiler does not vectorise the loudest sample
    // alongside the stores on its own.
    const Floats gains = Floats{} + gain;
    Bits lanes{};
    std::size_t i = 0;
    // Four vectors a round, so that the loop's own work is spread thin.
    for (; i + 4 * kLanes <= count; i += 4 * kLanes) {
        Floats a;
        Floats b;
        Floats c;
        Floats d;
        loadFloats(a, in + i);
        loadFloats(b, in + i + kLanes);
        loadFloats(c, in + i + 2 * kLanes);
        loadFloats(d, in + i + 3 * kLanes);
        a *= gains;
        b *= gains;
        c *= gains;
        d *= gains;
        finishLanes<Limit>(a, lanes);
        finishLanes<Limit>(b, lanes);
        finishLanes<Limit>(c, lanes);
        finishLanes<Limit>(d, lanes);
        storeFloats(out + i, a);
        storeFloats(out + i + kLanes, b);
        storeFloats(out + i + 2 * kLanes, c);
        storeFloats(out + i + 3 * kLanes, d);
    }
    for (; i + kLanes <= count; i += kLanes) {
        Floats y;
        loadFloats(y, in + i);
        y *= gains;
        finishLanes<Limit>(y, lanes);
        storeFloats(out + i, y);
    }
    std::uint32_t loudest = loudestLane(lanes);
    for (; i < count; ++i) {
        const float y = finished<Limit>(in[i] * gain);
        out[i] = y;
        loudest = louder(loudest, magnitudeOf(y));
    }
    return loudest;
}

CORVALLE_VECTOR_CLONES std::uint32_t scaleContiguousLimited(float* out, const float* in,
                                                            std::size_t count, float gain) {
    return scaleContiguousLoop<true>(out, in, count, gain);
}

CORVALLE_VECTOR_CLONES std::uint32_t scaleContiguousAsIs(float* out, const float* in,
                                                         std::size_t count, float gain) {
    return scaleContiguousLoop<false>(out, in, count, gain);
}

template <bool Limit>
std::uint32_t scaleContiguous(float* out, const float* in, std::size_t count, float gain) {
    return Limit ? scaleContiguousLimited(out, in, count, gain)
                 : scaleContiguousAsIs(out, in, count, gain);
}

// `frames` stereo interleaved frames, each at its own gain.
template <bool Limit>
[[gnu::always_inline]] inline std::uint32_t
scaleStereoLoop(float* out, const float* in, std::size_t frames, const float* gains) {
    Bits lanes{};
    std::size_t k = 0;
    for (; k + kLanes <= frames; k += kLanes) {
        Floats g;
        Floats low;
        Floats high;
        loadFloats(g, gains + k);
        loadFloats(low, in + 2 * k);
        loadFloats(high, in + 2 * k + kLanes);
        low *= __builtin_shufflevector(g, g, 0, 0, 1, 1, 2, 2, 3, 3);
        high *= __builtin_shufflevector(g, g, 4, 4, 5, 5, 6, 6, 7, 7);
        finishLanes<Limit>(low, lanes);
        finishLanes<Limit>(high, lanes);
        storeFloats(out + 2 * k, low);
        storeFloats(out + 2 * k + kLanes, high);
    }
    std::uint32_t loudest = loudestLane(lanes);
    for (; k < frames; ++k) {
        out[2 * k] = finished<Limit>(in[2 * k] * gains[k]);
        out[2 * k + 1] = finished<Limit>(in[2 * k + 1] * gains[k]);
        loudest = louder(loudest, louder(magnitudeOf(out[2 * k]), magnitudeOf(out[2 * k + 1])));
    }
    return loudest;
}

CORVALLE_VECTOR_CLONES std::uint32_t scaleStereoLimited(float* out, const float* in,
                                                        std::size_t frames, const float* gains) {
    return scaleStereoLoop<true>(out, in, frames, gains);
}

CORVALLE_VECTOR_CLONES std::uint32_t scaleStereoAsIs(float* out, const float* in,
                                                     std::size_t frames, const float* gains) {
    return scaleStereoLoop<false>(out, in, frames, gains);
}

template <bool Limit>
std::uint32_t scaleStereo(float* out, const float* in, std::size_t frames, const float* gains) {
    return Limit ? scaleStereoLimited(out, in, frames, gains)
                 : scaleStereoAsIs(out, in, frames, gains);
}

// One channel of `frames` frames, with any strides, each frame at its own gain.
template <bool Limit>
std::uint32_t scaleStrided(float* out, std::size_t outStride, const float* in, std::size_t inStride,
                           std::size_t frames, const float* gains) {
    std::uint32_t loudest = 0;
    for (std::size_t k = 0; k < frames; ++k) {
        const float y = finished<Limit>(in[k * inStride] * gains[k]);
        out[k * outStride] = y;
        loudest = louder(loudest, magnitudeOf(y));
    }
    return loudest;
}

template <bool Limit>
std::uint32_t scaleStridedConstant(float* out, std::size_t outStride, const float* in,
                                   std::size_t inStride, std::size_t frames, float gain) {
    // A buffer for each channel, from a stream given the same way.
    if (outStride == 1 && inStride == 1) {
        return scaleContiguous<Limit>(out, in, frames, gain);
    }
    std::uint32_t loudest = 0;
    for (std::size_t k = 0; k < frames; ++k) {
        const float y = finished<Limit>(in[k * inStride] * gain);
        out[k * outStride] = y;
        loudest = louder(loudest, magnitudeOf(y));
    }
    return loudest;
}

void silence(float* out, std::size_t stride, std::size_t frames) {
    for (std::size_t k = 0; k < frames; ++k) {
        out[k * stride] = 0.0F;
    }
}

// The limiter of one cycle. Each output buffer runs it from the cycle's start,
// so that every buffer gets the same gains; the last one leaves its state.
struct Limiting {
    PeakLimiter start;
    PeakLimiter limiter;
    // The stream's channels that some output plays: the loudest of them decides.
    std::size_t played = 0;
    float deepest = 1.0F;
};

// The magnitude a detector reads: NaN and infinity are left to the limit of
// each sample, so they count as silence here.
inline float finiteMagnitude(float x) {
    const float magnitude = std::fabs(x);
    return magnitude <= std::numeric_limits<float>::max() ? magnitude : 0.0F;
}

// Raises `loudest[j]` to the magnitude of every channel the outputs play at the
// frame `first + j` of the stream, for `count` frames.
CORVALLE_VECTOR_CLONES
void frameMagnitudes(const Source& source, std::size_t first, std::size_t count, std::size_t played,
                     float* loudest) {
    for (std::size_t k = 0; k < played; ++k) {
        const float* channel = k == 0   ? source.left
                               : k == 1 ? source.right
                                        : (k < source.channels ? source.left + k : nullptr);
        const std::uint64_t frames = k == 0 ? source.leftFrames : source.frames;
        if (channel == nullptr || first >= frames) {
            continue;
        }
        const std::size_t readable =
            frames - first < count ? static_cast<std::size_t>(frames - first) : count;
        const float* x = channel + first * source.stride;
        if (source.stride == 2 && k == 0 && played == 2 && source.right == source.left + 1) {
            // Interleaved stereo, the common case: both channels in one pass.
            for (std::size_t j = 0; j < readable; ++j) {
                const float l = finiteMagnitude(x[2 * j]);
                const float r = finiteMagnitude(x[2 * j + 1]);
                loudest[j] = l < r ? r : l;
            }
            return;
        }
        for (std::size_t j = 0; j < readable; ++j) {
            const float m = finiteMagnitude(x[j * source.stride]);
            loudest[j] = loudest[j] < m ? m : loudest[j];
        }
    }
}

// Multiplies the `count` gains of the frames from `first` on by the limiter's.
void applyLimiter(float* gains, std::size_t count, std::size_t first, const Source& source,
                  Limiting& limiting) {
    float loudest[kChunk] = {};
    frameMagnitudes(source, first, count, limiting.played, loudest);
    for (std::size_t j = 0; j < count; ++j) {
        loudest[j] = finiteMagnitude(loudest[j] * gains[j]);
    }
    PeakLimiter& limiter = limiting.limiter;
    float deepest = limiting.deepest;
    for (std::size_t j = 0; j < count;) {
        if (j + PeakLimiter::kBlock <= count && limiter.nextBlock(loudest + j)) {
            for (std::size_t k = 0; k < PeakLimiter::kBlock; ++k) {
                gains[j + k] *= limiter.gain;
            }
            deepest = limiter.gain < deepest ? limiter.gain : deepest;
            j += PeakLimiter::kBlock;
            continue;
        }
        const float limit = limiter.next(loudest[j]);
        deepest = limit < deepest ? limit : deepest;
        gains[j] *= limit;
        ++j;
    }
    limiting.deepest = deepest;
}

// One output buffer of `channels` interleaved channels and `outFrames` frames,
// whose first channel is global channel `base`; through `limiting` when it is
// given (which needs `Limit`). Returns the largest magnitude written, as bits.
template <bool Limit>
std::uint32_t renderBuffer(float* out, std::size_t channels, std::size_t base,
                           std::size_t outFrames, const Source& source, float applied, float target,
                           Limiting* limiting) {
    const std::size_t n =
        source.frames < outFrames ? static_cast<std::size_t>(source.frames) : outFrames;
    // No division for the common constant gain: its latency shows in a short cycle.
    const float step =
        n >= 1 && target != applied ? (target - applied) / static_cast<float>(n) : 0.0F;
    const auto sourceOf = [&](std::size_t c) -> const float* {
        const std::size_t k = base + c;
        if (k < 2) {
            return k == 0 ? source.left : source.right;
        }
        return k < source.channels ? source.left + k : nullptr;
    };
    // Frames of channel c that have a source sample; the rest of [0, n) is silent.
    const auto readableOf = [&](std::size_t c) -> std::size_t {
        return base + c == 0 && source.leftFrames < n ? static_cast<std::size_t>(source.leftFrames)
                                                      : n;
    };
    // Both channels of a stereo buffer come from one interleaved stereo stream.
    const bool stereo = channels == 2 && base == 0 && source.stride == 2 &&
                        source.left != nullptr && source.right == source.left + 1;

    std::uint32_t loudest = 0;
    if (step == 0.0F && limiting == nullptr) {
        if (stereo) {
            loudest = scaleContiguous<Limit>(out, source.left, n * 2, applied);
        } else {
            for (std::size_t c = 0; c < channels; ++c) {
                const float* src = sourceOf(c);
                const std::size_t readable = src != nullptr ? readableOf(c) : 0;
                if (readable > 0) {
                    loudest = louder(loudest,
                                     scaleStridedConstant<Limit>(out + c, channels, src,
                                                                 source.stride, readable, applied));
                }
                silence(out + readable * channels + c, channels, n - readable);
            }
        }
    } else {
        // Every channel restarts at the applied gain with the same step, so the
        // gains of a chunk serve all channels of this buffer.
        if (limiting != nullptr) {
            limiting->limiter = limiting->start;
        }
        float gains[kChunk];
        float g = applied;
        for (std::size_t f = 0; f < n; f += kChunk) {
            const std::size_t count = n - f < kChunk ? n - f : kChunk;
            g = rampGains(g, step, gains, count);
            if (limiting != nullptr) {
                applyLimiter(gains, count, f, source, *limiting);
            }
            if (stereo) {
                loudest = louder(
                    loudest, scaleStereo<Limit>(out + f * 2, source.left + f * 2, count, gains));
                continue;
            }
            for (std::size_t c = 0; c < channels; ++c) {
                const float* src = sourceOf(c);
                const std::size_t readable = src != nullptr ? readableOf(c) : 0;
                const std::size_t scaled =
                    readable > f ? (readable - f < count ? readable - f : count) : 0;
                if (scaled > 0) {
                    loudest = louder(loudest, scaleStrided<Limit>(out + f * channels + c, channels,
                                                                  src + f * source.stride,
                                                                  source.stride, scaled, gains));
                }
                silence(out + (f + scaled) * channels + c, channels, count - scaled);
            }
        }
        // The frames the stream did not fill still pass, as silence.
        for (std::size_t f = n; limiting != nullptr && f < outFrames; ++f) {
            limiting->limiter.next(0.0F);
        }
    }
    // Frames without a source: contiguous across all channels.
    silence(out + n * channels, 1, (outFrames - n) * channels);
    return loudest;
}

// Every output buffer; the largest magnitude written, as bits.
template <bool Limit>
std::uint32_t renderAll(AudioBufferList& output, const Source& source, float applied, float target,
                        Limiting* limiting = nullptr) {
    std::uint32_t loudest = 0;
    std::size_t base = 0;
    for (std::uint32_t b = 0; b < output.numberBuffers; ++b) {
        const AudioBuffer& buffer = output.buffers[b];
        if (buffer.data == nullptr || buffer.numberChannels == 0) {
            continue;
        }
        const std::uint64_t outFrames = framesOf(buffer);
        // A buffer without whole frames gets nothing; its channels still count.
        if (outFrames > 0) {
            loudest = louder(loudest, renderBuffer<Limit>(static_cast<float*>(buffer.data),
                                                          buffer.numberChannels, base,
                                                          static_cast<std::size_t>(outFrames),
                                                          source, applied, target, limiting));
        }
        base += buffer.numberChannels;
    }
    return loudest;
}

// The channels the output buffers of a list take, as renderAll counts them.
std::size_t outputChannels(const AudioBufferList& output) {
    std::size_t channels = 0;
    for (std::uint32_t b = 0; b < output.numberBuffers; ++b) {
        const AudioBuffer& buffer = output.buffers[b];
        if (buffer.data != nullptr) {
            channels += buffer.numberChannels;
        }
    }
    return channels;
}

} // namespace

// Runs on the realtime IO thread: no allocation, lock, logging or blocking call;
// the main thread is reached only through the atomics of `state`.
void renderGain(const AudioBufferList* input, AudioBufferList* output, GainState* state) noexcept {
    const Source source = chooseSource(input);
    std::uint32_t loudest = 0;
    const float target = state->target.load(std::memory_order_relaxed);
    const float applied = state->applied.load(std::memory_order_relaxed);
    const bool limiterOn = state->limiterOn.load(std::memory_order_relaxed);
    // Both limiters are set from the loaded values, not one copied from the
    // other: reading back the two fields just stored as one word stalls the
    // store buffer, a third of the time of a 256-frame cycle.
    const PeakLimiter start = limiterOn
                                  ? PeakLimiter{state->limiterGain.load(std::memory_order_relaxed),
                                                state->limiterHold.load(std::memory_order_relaxed)}
                                  : PeakLimiter{};
    Limiting limiting{.start = start, .limiter = start};

    if (output != nullptr && output->buffers != nullptr) {
        if (!limiterOn) {
            loudest = renderAll<true>(*output, source, applied, target);
        } else {
            // Written as they are at first: a cycle with nothing above full scale
            // (and no NaN) is then done, and exactly what the limit would give.
            bool limit = !limiting.start.idle();
            if (!limit) {
                loudest = renderAll<false>(*output, source, applied, target);
                limit = loudest > kOne;
            }
            if (limit) {
                const std::size_t streamChannels =
                    source.left == nullptr ? 0 : (source.channels > 2 ? source.channels : 2);
                const std::size_t channels = outputChannels(*output);
                limiting.played = streamChannels < channels ? streamChannels : channels;
                loudest = renderAll<true>(*output, source, applied, target, &limiting);
            }
        }
    }

    state->applied.store(target, std::memory_order_relaxed);
    state->limiterGain.store(limiting.limiter.gain, std::memory_order_relaxed);
    state->limiterHold.store(limiting.limiter.hold, std::memory_order_relaxed);

    // Both raised (or lowered) here, reset only by the main thread. An exchange
    // is retried only when the main thread took the value in between.
    const float peak = std::bit_cast<float>(loudest);
    float held = state->peak.load(std::memory_order_relaxed);
    while (peak > held &&
           !state->peak.compare_exchange_weak(held, peak, std::memory_order_relaxed)) {
    }
    float heldLimit = state->deepestLimit.load(std::memory_order_relaxed);
    while (limiting.deepest < heldLimit &&
           !state->deepestLimit.compare_exchange_weak(heldLimit, limiting.deepest,
                                                      std::memory_order_relaxed)) {
    }
}

float takePeak(GainState& state) noexcept {
    return state.peak.exchange(0.0F, std::memory_order_relaxed);
}

float takeLimit(GainState& state) noexcept {
    return state.deepestLimit.exchange(1.0F, std::memory_order_relaxed);
}

} // namespace corvalle
