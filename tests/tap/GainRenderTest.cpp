#include "GainRender.h"

#include "BufferLists.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <vector>

namespace corvalle {
namespace {

using test::BufferList;

constexpr float kSentinel = 7.0F; // never a valid output sample
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// The gain procedure written the plain way, one sample at a time. The optimised
// procedure must match it bit for bit.
void referenceRender(const AudioBufferList& input, AudioBufferList& output, float applied,
                     float target) {
    const float* left = nullptr;
    const float* right = nullptr;
    // A shorter left buffer reads as silence after its end.
    std::uint64_t stride = 1, frames = 0, leftFrames = 0, sourceChannels = 0;
    const AudioBuffer* last =
        input.numberBuffers > 0 ? &input.buffers[input.numberBuffers - 1] : nullptr;
    if (last != nullptr && last->data != nullptr && last->numberChannels > 0) {
        frames = leftFrames = last->dataByteSize / (std::uint64_t{last->numberChannels} * 4);
        left = right = static_cast<const float*>(last->data);
        if (last->numberChannels >= 2) {
            right = left + 1;
            stride = last->numberChannels;
            sourceChannels = last->numberChannels;
        } else if (input.numberBuffers >= 2 && (last - 1)->data != nullptr &&
                   (last - 1)->numberChannels == 1) {
            left = static_cast<const float*>((last - 1)->data);
            leftFrames = (last - 1)->dataByteSize / 4;
        }
    }
    std::uint64_t base = 0;
    for (std::uint32_t i = 0; i < output.numberBuffers; ++i) {
        const AudioBuffer& buffer = output.buffers[i];
        if (buffer.data == nullptr || buffer.numberChannels == 0) {
            continue;
        }
        const std::uint64_t channels = buffer.numberChannels;
        const std::uint64_t outFrames = buffer.dataByteSize / (channels * 4);
        const std::uint64_t n = std::min(frames, outFrames);
        const float step = n >= 1 ? (target - applied) / static_cast<float>(n) : 0.0F;
        for (std::uint64_t c = 0; c < channels; ++c) {
            const std::uint64_t k = base + c;
            const float* src = k == 0               ? left
                               : k == 1             ? right
                               : k < sourceChannels ? left + k
                                                    : nullptr;
            float g = applied;
            for (std::uint64_t f = 0; f < outFrames; ++f) {
                float y = 0.0F;
                if (src != nullptr && f < n) {
                    y = k == 0 && f >= leftFrames ? 0.0F : src[f * stride] * g;
                    g += step;
                }
                static_cast<float*>(buffer.data)[f * channels + c] =
                    std::isnan(y) ? 0.0F : std::clamp(y, -1.0F, 1.0F);
            }
        }
        base += channels;
    }
}

bool sameBits(float a, float b) {
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

// Output buffers of the given channel counts, `frames` each.
BufferList outputs(const std::vector<std::uint32_t>& layout, std::uint32_t frames) {
    BufferList list;
    for (const auto channels : layout) {
        list.add(channels, frames, kSentinel);
    }
    return list;
}

// Whole frames only (0x40000001 channels × 4 bytes wraps to 4 in 32 bits and
// would claim 4 frames); a buffer without data or channels takes no channel number;
// a missing list is no fault.
TEST(GainRender, WritesWholeFramesAndSkipsBuffersWithoutData) {
    BufferList in;
    in.add(3, 4, 0.5F);
    for (std::size_t f = 0; f < 4; ++f) {
        in.at(0, f, 2) = -0.25F;
    }
    BufferList out;
    out.addBytes(2, 2 * 8 + 4, kSentinel).addBytes(1, 16, kSentinel, false);
    out.addBytes(0, 16, kSentinel).add(1, 4, kSentinel).addBytes(0x40000001U, 16, kSentinel);
    GainState state;
    renderGain(&in.list(), &out.list(), &state);
    EXPECT_EQ(out.samples(0), (std::vector{0.5F, 0.5F, 0.5F, 0.5F, kSentinel}));
    EXPECT_EQ(out.samples(2), std::vector(4, kSentinel));
    EXPECT_EQ(out.samples(3), std::vector(4, -0.25F)) << "channel 2 of the stream";
    EXPECT_EQ(out.samples(4), std::vector(4, kSentinel));
    renderGain(&in.list(), nullptr, &state);
    renderGain(nullptr, &out.list(), &state);
    EXPECT_EQ(out.samples(3), std::vector(4, 0.0F)) << "without input, silence";
}

// Input and output layouts (channels per buffer); earlier input buffers may
// differ in length from the last.
TEST(GainRender, MatchesThePlainProcedureBitForBit) {
    const std::vector<std::pair<std::vector<std::uint32_t>, std::vector<std::uint32_t>>> layouts = {
        {{2}, {2}}, {{2}, {1, 1}}, {{1, 1}, {2}},    {{1}, {2}},       {{4}, {2}},
        {{2}, {4}}, {{2}, {1, 2}}, {{2, 1}, {2, 1}}, {{6}, {2, 2, 2}}, {{}, {2}},
        {{2}, {3}}, {{3}, {2}},    {{1, 1}, {1, 1}}, {{2}, {2, 2}}};
    const std::vector<std::uint32_t> edgeFrames = {0, 1, 2, 3, 7, 8, 31, 32, 33, 255, 256, 257};
    // Gains from every corner: powers of two (where the repeated sum changes its
    // rounding) and just below them, denormals, negatives; or any up to 4.
    const float below1 = std::nextafter(1.0F, 0.0F);
    const float belowHalf = std::nextafter(0.5F, 0.0F);
    const float below2 = std::nextafter(2.0F, 0.0F);
    const std::vector<float> corners = {0.0F,  1.0F,  4.0F,  0.5F,   2.0F,      0.0625F, 1e-39F,
                                        -0.5F, -3.0F, 1e-7F, below1, belowHalf, below2};
    const float specials[] = {kNaN, -kNaN, kInf, -kInf, 1e-40F, -1e-45F};
    std::mt19937 random(20240611U);
    std::uniform_real_distribution<float> sample(-1.2F, 1.2F);
    std::uniform_real_distribution<float> ordinary(0.0F, 4.0F);
    std::uniform_int_distribution<std::uint32_t> anyFrames(1, 1100);
    std::bernoulli_distribution coin;
    std::uniform_int_distribution<std::size_t> pick;
    const auto gain = [&] {
        return coin(random) ? corners[pick(random) % corners.size()] : ordinary(random);
    };
    const auto frames = [&] {
        return coin(random) ? edgeFrames[pick(random) % edgeFrames.size()] : anyFrames(random);
    };
    // Limiter off: anything goes and is clipped. On: the samples stay within full
    // scale at every gain of the ramp, so that the limiter has nothing to do.
    for (const bool limiterOn : {false, true}) {
        for (const auto& [inputs, outputLayout] : layouts) {
            for (int round = 0; round < 200; ++round) {
                const float applied = gain();
                const float target = round % 4 == 0 ? applied : gain();
                const float scale =
                    limiterOn
                        ? 1.0F / std::max({std::fabs(applied), std::fabs(target), 1.2F}) / 1.2F
                        : 1.0F;
                const std::uint32_t inFrames = frames();
                const std::uint32_t outFrames = round % 3 == 0 ? inFrames : frames();
                SCOPED_TRACE(::testing::Message()
                             << "limiter " << limiterOn << " frames " << inFrames << "->"
                             << outFrames << " gain " << applied << "->" << target);
                BufferList in;
                for (const auto channels : inputs) {
                    const bool last = in.size() + 1 == inputs.size();
                    auto& samples = in.add(channels, last || round % 2 == 0 ? inFrames : frames())
                                        .samples(in.size() - 1);
                    for (float& s : samples) {
                        s = sample(random) * scale;
                    }
                    // Limiter off: NaN and infinities become silence and full scale,
                    // denormals pass, also within a ramp.
                    const bool special = !limiterOn && round % 5 == 0 && !samples.empty();
                    for (std::size_t i = 0; special && i < std::size(specials); ++i) {
                        samples[pick(random) % samples.size()] = specials[i];
                    }
                }
                BufferList out = outputs(outputLayout, outFrames);
                BufferList expected = outputs(outputLayout, outFrames);
                GainState state;
                state.applied.store(applied);
                state.target.store(target);
                state.limiterOn.store(limiterOn);
                renderGain(&in.list(), &out.list(), &state);
                referenceRender(in.list(), expected.list(), applied, target);
                ASSERT_EQ(takeLimit(state), 1.0F);
                ASSERT_EQ(state.applied.load(), target);
                float loudest = 0.0F;
                for (std::size_t b = 0; b < out.size(); ++b) {
                    ASSERT_TRUE(std::ranges::equal(out.samples(b), expected.samples(b), sameBits))
                        << "buffer " << b;
                    for (const float s : expected.samples(b)) {
                        loudest = std::max(loudest, std::fabs(s));
                    }
                }
                // The peak is that of every sample written, whichever loop wrote it.
                ASSERT_EQ(takePeak(state), loudest);
            }
        }
    }
}

// The peak is what is heard; within one cycle (muted, silent, over the limit) it is
// compared with the plain procedure above. Here: held across cycles until taken,
// zero after taking, and what samples that are not finite numbers become.
TEST(GainRender, ThePeakIsTheLoudestSampleWrittenSinceItWasTaken) {
    // The loudest input sample of each cycle, and the peak then.
    const std::pair<std::vector<float>, float> cases[] = {
        {{kNaN}, 0.0F}, {{kInf}, 1.0F}, {{0.75F, 0.125F}, 0.75F}, {{0.125F, 0.75F}, 0.75F}};
    for (const auto& [cycles, peak] : cases) {
        for (const std::uint32_t channels : {1U, 2U, 3U}) {
            GainState state;
            for (const float loudest : cycles) {
                BufferList in;
                in.add(channels, 300, loudest / 8).at(0, 0, std::min(channels - 1, 1U)) = loudest;
                BufferList out = outputs({channels}, 300);
                renderGain(&in.list(), &out.list(), &state);
            }
            EXPECT_EQ(takePeak(state), peak) << cycles.back() << ", channels " << channels;
            EXPECT_EQ(takePeak(state), 0.0F) << "taking resets it";
        }
    }
}

// A tone of `frames` frames at 48 kHz on every channel of one buffer, channel c
// at `amplitudes[c]`, starting at frame `first` of the tone.
BufferList tone(const std::vector<float>& amplitudes, std::uint32_t frames, std::size_t first,
                double hertz = 1000.0) {
    BufferList list;
    const auto channels = static_cast<std::uint32_t>(amplitudes.size());
    list.add(channels, frames);
    for (std::size_t f = 0; f < frames; ++f) {
        const double phase =
            2.0 * 3.14159265358979323846 * hertz * static_cast<double>(first + f) / 48000.0;
        for (std::uint32_t c = 0; c < channels; ++c) {
            list.at(0, f, c) = amplitudes[c] * static_cast<float>(std::sin(phase));
        }
    }
    return list;
}

// Four times a full-scale tone: at the first peak the limiter takes a quarter,
// holds it through the tone, and so plays the tone itself, unclipped, on every
// channel alike, across buffers too.
TEST(GainRender, TheLimiterPlaysALoudToneWholeInsteadOfClippingIt) {
    // Channel amplitudes, and the output buffers' channel counts.
    const std::vector<std::pair<std::vector<float>, std::vector<std::uint32_t>>> cases = {
        {{1.0F, 0.5F}, {2}},
        {{1.0F, 0.5F}, {1, 1}},
        {{1.0F, 0.5F, 0.25F, 1.0F, 0.75F, 0.1F}, {2, 2, 2}}};
    for (const auto& c : cases) {
        const auto& amplitudes = c.first;
        const auto& layout = c.second;
        SCOPED_TRACE(layout.size());
        GainState state;
        state.applied.store(4.0F);
        state.target.store(4.0F);
        constexpr std::uint32_t kFrames = 256;
        float deepest = 1.0F;
        for (std::size_t cycle = 0; cycle < 40; ++cycle) {
            BufferList in = tone(amplitudes, kFrames, cycle * kFrames);
            BufferList out = outputs(layout, kFrames);
            renderGain(&in.list(), &out.list(), &state);
            deepest = std::min(deepest, takeLimit(state));
            // Output channel k of frame f, counted across the buffers.
            const auto played = [&](std::size_t f, std::size_t k) {
                std::size_t b = 0;
                while (k >= layout[b]) {
                    k -= layout[b++];
                }
                return out.at(b, f, k);
            };
            // From the first peak (frame 12) on, every sample is the input's.
            for (std::size_t f = 0; f < kFrames; ++f) {
                for (std::size_t k = 0; k < amplitudes.size(); ++k) {
                    ASSERT_LE(std::fabs(played(f, k)), 1.0F);
                    if (cycle > 0 || f >= 12) {
                        ASSERT_NEAR(played(f, k), in.at(0, f, k), 2e-7F)
                            << "cycle " << cycle << " frame " << f << " channel " << k;
                    }
                }
            }
        }
        EXPECT_FLOAT_EQ(deepest, 0.25F);
    }
}

// After a loud moment the limiter holds, then lets go smoothly (never rising by
// more than a small step a frame), and within half a second the output is the
// plain procedure's again, bit for bit.
TEST(GainRender, TheLimiterLetsGoSmoothlyAndThenChangesNothing) {
    GainState state;
    state.applied.store(4.0F);
    state.target.store(4.0F);
    constexpr std::uint32_t kFrames = 480; // 10 ms
    std::size_t frame = 0;
    // 100 ms at twice full scale, then a tone the gain keeps well below it.
    for (int cycle = 0; cycle < 10; ++cycle, frame += kFrames) {
        BufferList in = tone({0.5F, 0.5F}, kFrames, frame);
        BufferList out = outputs({2}, kFrames);
        renderGain(&in.list(), &out.list(), &state);
    }
    EXPECT_FLOAT_EQ(takeLimit(state), 0.5F);
    float lastGain = 0.5F;
    std::size_t exactFrom = 0;
    for (int cycle = 0; cycle < 60; ++cycle, frame += kFrames) {
        BufferList in = tone({0.1F, 0.1F}, kFrames, frame, 440.0);
        BufferList out = outputs({2}, kFrames);
        BufferList expected = outputs({2}, kFrames);
        renderGain(&in.list(), &out.list(), &state);
        referenceRender(in.list(), expected.list(), 4.0F, 4.0F);
        if (std::ranges::equal(out.samples(0), expected.samples(0), sameBits)) {
            exactFrom = exactFrom == 0 ? frame : exactFrom;
            continue;
        }
        ASSERT_EQ(exactFrom, 0U) << "exact, then not, at frame " << frame;
        for (std::size_t f = 0; f < kFrames; ++f) {
            const float x = in.at(0, f, 0) * 4.0F;
            if (std::fabs(x) < 0.05F) {
                continue; // too quiet to read the gain from
            }
            const float gain = out.at(0, f, 0) / x;
            ASSERT_GE(gain, lastGain - 1e-5F) << "the gain fell at frame " << frame + f;
            ASSERT_LE(gain, lastGain + 0.002F) << "the gain jumped at frame " << frame + f;
            lastGain = gain;
        }
    }
    EXPECT_GT(exactFrom, 0U) << "still limiting after 600 ms";
    EXPECT_LE(exactFrom, 10 * kFrames + 24000U);
    EXPECT_FLOAT_EQ(takeLimit(state), 0.5F) << "the release is read as limiting";
}

// Turned off while it works, the next cycle is clipped as if it had never been
// on; turned on again, it starts afresh and lowers only what needs it.
TEST(GainRender, TheLimiterTurnedOffClipsAtOnceAndTurnedOnStartsAfresh) {
    GainState state;
    state.applied.store(3.0F);
    state.target.store(3.0F);
    const auto cycle = [&](float amplitude) {
        BufferList in = tone({amplitude, amplitude}, 256, 0);
        BufferList out = outputs({2}, 256);
        renderGain(&in.list(), &out.list(), &state);
        BufferList expected = outputs({2}, 256);
        referenceRender(in.list(), expected.list(), 3.0F, 3.0F);
        return std::ranges::equal(out.samples(0), expected.samples(0), sameBits);
    };
    EXPECT_FALSE(cycle(1.0F)) << "the limiter did not work";
    state.limiterOn.store(false);
    EXPECT_TRUE(cycle(1.0F));
    state.limiterOn.store(true);
    EXPECT_TRUE(cycle(0.3F)) << "a quiet cycle was lowered by what came before";
}

} // namespace
} // namespace corvalle
