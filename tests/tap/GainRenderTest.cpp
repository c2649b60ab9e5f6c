#include "GainRender.h"

#include "AllocationCounter.h"
#include "BufferLists.h"
#include "GainReference.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace corvalle {
namespace {

using test::BufferList;

constexpr float kSentinel = 7.0F; // never a valid output sample

struct Gains {
    float target;
    float applied;
};

void setGains(GainState& state, Gains gains) {
    state.target.store(gains.target);
    state.applied.store(gains.applied);
}

bool bitIdentical(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
}

void render(BufferList& in, BufferList& out, GainState& state) {
    renderGain(&in.list(), &out.list(), &state);
}

// --- layouts and edge cases --------------------------------------------------

TEST(GainRenderLayout, EmptyInputSilencesEveryBufferAndAppliesTarget) {
    BufferList in;
    BufferList out;
    out.add(2, 8, kSentinel).add(1, 8, kSentinel);
    GainState state;
    setGains(state, {0.3F, 2.0F});
    render(in, out, state);
    for (std::size_t b = 0; b < out.size(); ++b) {
        for (const float s : out.samples(b)) {
            EXPECT_EQ(s, 0.0F);
        }
    }
    EXPECT_EQ(state.applied.load(), 0.3F);
}

struct SourceCase {
    std::string name;
    std::function<void(BufferList&)> makeInput;
    float expectedLeft;
    float expectedRight;
};

class GainRenderSource : public ::testing::TestWithParam<SourceCase> {};

TEST_P(GainRenderSource, PicksLeftAndRight) {
    BufferList in;
    GetParam().makeInput(in);
    BufferList out;
    out.add(2, 4, kSentinel);
    GainState state;
    setGains(state, {1.0F, 1.0F});
    render(in, out, state);
    for (std::size_t f = 0; f < 4; ++f) {
        EXPECT_EQ(out.at(0, f, 0), GetParam().expectedLeft) << "frame " << f;
        EXPECT_EQ(out.at(0, f, 1), GetParam().expectedRight) << "frame " << f;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GainRenderSource,
    ::testing::Values(
        SourceCase{"StereoInterleaved",
                   [](BufferList& in) {
                       in.add(2, 4);
                       in.fill(0, [](std::size_t, std::size_t c) { return c == 0 ? 0.1F : 0.2F; });
                   },
                   0.1F, 0.2F},
        SourceCase{"LastBufferIsTheTap",
                   [](BufferList& in) {
                       in.add(2, 4, 0.9F).add(2, 4);
                       in.fill(1, [](std::size_t, std::size_t c) { return c == 0 ? 0.1F : 0.2F; });
                   },
                   0.1F, 0.2F},
        SourceCase{"ChannelsBeyondTheSecondIgnored",
                   [](BufferList& in) {
                       in.add(4, 4);
                       in.fill(0, [](std::size_t, std::size_t c) { return 0.1F * float(c + 1); });
                   },
                   0.1F, 0.2F},
        SourceCase{"MonoPairFeedsLeftThenRight",
                   [](BufferList& in) { in.add(1, 4, 0.3F).add(1, 4, 0.4F); }, 0.3F, 0.4F},
        SourceCase{"MonoAfterStereoFeedsBoth",
                   [](BufferList& in) { in.add(2, 4, 0.3F).add(1, 4, 0.4F); }, 0.4F, 0.4F},
        SourceCase{"MonoAfterNullMonoFeedsBoth",
                   [](BufferList& in) { in.addNull(1, 4).add(1, 4, 0.4F); }, 0.4F, 0.4F},
        SourceCase{"MonoAloneFeedsBoth", [](BufferList& in) { in.add(1, 4, 0.5F); }, 0.5F, 0.5F},
        SourceCase{"NullLastBufferIsSilence",
                   [](BufferList& in) { in.add(2, 4, 0.5F).addNull(2, 4); }, 0.0F, 0.0F},
        SourceCase{"NoChannelsIsSilence",
                   [](BufferList& in) { in.add(2, 4, 0.5F).add(0, 4, 0.5F); }, 0.0F, 0.0F}),
    [](const auto& testInfo) { return testInfo.param.name; });

TEST(GainRenderLayout, ShorterLeftBufferIsNotReadPastItsEnd) {
    // The frame count comes from the last buffer; the left one may be shorter.
    for (const Gains gains : {Gains{1.0F, 1.0F}, Gains{0.0F, 1.0F}}) {
        BufferList in;
        in.add(1, 2, 0.25F).add(1, 300, 0.5F);
        BufferList out;
        out.add(2, 300, kSentinel);
        GainState state;
        setGains(state, gains);
        render(in, out, state);
        const float secondGain = 1.0F + (gains.target - gains.applied) / 300.0F;
        EXPECT_EQ(out.at(0, 0, 0), 0.25F);
        EXPECT_EQ(out.at(0, 1, 0), 0.25F * secondGain);
        for (std::size_t f = 2; f < 300; ++f) {
            ASSERT_EQ(out.at(0, f, 0), 0.0F) << f;
        }
        EXPECT_EQ(out.at(0, 0, 1), 0.5F);
        EXPECT_GT(out.at(0, 299, 1), 0.0F);
    }
}

TEST(GainRenderLayout, LongerInputIsCutToTheOutputAndTheRampCompletes) {
    BufferList in;
    in.add(2, 512, 0.5F);
    BufferList out;
    out.add(2, 256, kSentinel);
    GainState state;
    setGains(state, {0.0F, 1.0F});
    render(in, out, state);
    // n = 256: the last frame plays one step short of the target.
    const float step = -1.0F / 256.0F;
    EXPECT_EQ(out.at(0, 0, 0), 0.5F);
    EXPECT_FLOAT_EQ(out.at(0, 255, 1), 0.5F * (1.0F + 255.0F * step));
    EXPECT_EQ(state.applied.load(), 0.0F);
}

TEST(GainRenderLayout, ShorterInputLeavesTheRestSilent) {
    BufferList in;
    in.add(2, 256, 0.5F);
    BufferList out;
    out.add(2, 512, kSentinel);
    GainState state;
    setGains(state, {1.0F, 1.0F});
    render(in, out, state);
    for (std::size_t f = 0; f < 512; ++f) {
        for (std::size_t c = 0; c < 2; ++c) {
            EXPECT_EQ(out.at(0, f, c), f < 256 ? 0.5F : 0.0F) << f << "/" << c;
        }
    }
}

struct OutputCase {
    std::string name;
    std::vector<int> channels;                // per output buffer; negative: no data
    std::vector<std::vector<float>> expected; // per buffer, per channel, every frame
};

class GainRenderOutput : public ::testing::TestWithParam<OutputCase> {};

TEST_P(GainRenderOutput, NumbersChannelsAcrossBuffers) {
    const OutputCase& c = GetParam();
    BufferList in;
    in.add(2, 4);
    in.fill(0, [](std::size_t, std::size_t channel) { return channel == 0 ? 0.25F : -0.25F; });
    BufferList out;
    for (const int channels : c.channels) {
        if (channels < 0) {
            out.addNull(static_cast<std::uint32_t>(-channels), 4);
        } else {
            out.add(static_cast<std::uint32_t>(channels), 4, kSentinel);
        }
    }
    GainState state;
    setGains(state, {1.0F, 1.0F});
    render(in, out, state);
    for (std::size_t b = 0; b < c.expected.size(); ++b) {
        for (std::size_t ch = 0; ch < c.expected[b].size(); ++ch) {
            for (std::size_t f = 0; f < 4; ++f) {
                EXPECT_EQ(out.at(b, f, ch), c.expected[b][ch]) << b << "/" << ch << "/" << f;
            }
        }
    }
}

constexpr float L = 0.25F;
constexpr float R = -0.25F;

INSTANTIATE_TEST_SUITE_P(
    Cases, GainRenderOutput,
    ::testing::Values(OutputCase{"MonoBuffersGetLeftRightThenSilence", {1, 1, 1}, {{L}, {R}, {0}}},
                      OutputCase{
                          "SkippedBuffersDoNotShiftTheChannels", {1, -1, 0, 1}, {{L}, {}, {}, {R}}},
                      OutputCase{"FourChannelsHaveSilentExtras", {4}, {{L, R, 0, 0}}},
                      OutputCase{"StereoAfterMonoStartsAtRight", {1, 2}, {{L}, {R, 0}}},
                      OutputCase{"SecondStereoBufferIsSilent", {2, 2}, {{L, R}, {0, 0}}}),
    [](const auto& testInfo) { return testInfo.param.name; });

TEST(GainRenderLayout, RaggedByteSizesUseWholeFramesOnly) {
    BufferList in;
    in.addBytes(2, 4 * 8 + 4, 0.5F); // 4 frames and half of one
    BufferList out;
    out.addBytes(2, 6 * 8 + 4, kSentinel); // 6 frames and half of one
    GainState state;
    setGains(state, {1.0F, 1.0F});
    render(in, out, state);
    const auto& s = out.samples(0);
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(s[i], 0.5F) << i;
    }
    for (std::size_t i = 8; i < 12; ++i) {
        EXPECT_EQ(s[i], 0.0F) << i;
    }
    EXPECT_EQ(s[12], kSentinel) << "the partial frame is not written";
}

TEST(GainRenderLayout, HugeChannelCountsDoNotWrapTheFrameCount) {
    // 0x40000001 channels × 4 bytes wraps to 4 in 32 bits, which would claim 4 frames.
    BufferList in;
    in.add(2, 4, 0.5F);
    BufferList out;
    out.addBytes(0x40000001U, 16, kSentinel).add(2, 4, kSentinel);
    GainState state;
    setGains(state, {1.0F, 1.0F});
    render(in, out, state);
    for (const float s : out.samples(0)) {
        EXPECT_EQ(s, kSentinel);
    }
    // The huge buffer still counts its channels: the stereo buffer is beyond channel 1.
    for (const float s : out.samples(1)) {
        EXPECT_EQ(s, 0.0F);
    }
}

TEST(GainRenderLayout, NullListsAreSafe) {
    BufferList out;
    out.add(2, 4, kSentinel);
    GainState state;
    setGains(state, {0.5F, 1.0F});
    renderGain(nullptr, &out.list(), &state);
    for (const float s : out.samples(0)) {
        EXPECT_EQ(s, 0.0F);
    }
    BufferList in;
    in.add(2, 4, 0.5F);
    state.target.store(0.25F);
    renderGain(&in.list(), nullptr, &state);
    EXPECT_EQ(state.applied.load(), 0.25F);
}

// --- gain and limits -------------------------------------------------------------

TEST(GainRenderGain, RampDownOverFourFramesThenSilence) {
    BufferList in;
    in.add(2, 4, 0.8F);
    BufferList out;
    out.add(2, 4, kSentinel);
    GainState state;
    setGains(state, {0.0F, 1.0F});
    render(in, out, state);
    const float expected[] = {0.8F * 1.0F, 0.8F * 0.75F, 0.8F * 0.5F, 0.8F * 0.25F};
    for (std::size_t f = 0; f < 4; ++f) {
        EXPECT_EQ(out.at(0, f, 0), expected[f]);
        EXPECT_EQ(out.at(0, f, 1), expected[f]);
    }
    EXPECT_EQ(state.applied.load(), 0.0F);
    render(in, out, state);
    for (const float s : out.samples(0)) {
        EXPECT_EQ(s, 0.0F);
    }
}

TEST(GainRenderGain, EveryChannelOfEveryBufferRestartsAtTheAppliedGain) {
    BufferList in;
    in.add(2, 4, 0.5F);
    BufferList out;
    out.add(1, 4, kSentinel).add(1, 2, kSentinel);
    GainState state;
    setGains(state, {0.0F, 1.0F});
    render(in, out, state);
    // Buffer 0: n = 4, step -0.25. Buffer 1: n = 2, step -0.5, again from 1.
    EXPECT_EQ(out.at(0, 0, 0), 0.5F);
    EXPECT_EQ(out.at(0, 3, 0), 0.125F);
    EXPECT_EQ(out.at(1, 0, 0), 0.5F);
    EXPECT_EQ(out.at(1, 1, 0), 0.25F);
}

struct LimitCase {
    float sample;
    float gain;
    float expected;
};

class GainRenderLimit : public ::testing::TestWithParam<LimitCase> {};

TEST_P(GainRenderLimit, WritesTheLimitedProduct) {
    const auto [sample, gain, expected] = GetParam();
    for (const std::uint32_t frames : {1U, 67U}) { // the stereo path and its tail
        BufferList in;
        in.add(2, frames, sample);
        BufferList out;
        out.add(2, frames, kSentinel).add(1, frames, kSentinel);
        GainState state;
        setGains(state, {gain, gain});
        render(in, out, state);
        for (std::size_t b = 0; b < 2; ++b) {
            for (const float s : out.samples(b)) {
                if (b == 0) {
                    EXPECT_EQ(std::bit_cast<std::uint32_t>(s),
                              std::bit_cast<std::uint32_t>(expected))
                        << sample << " × " << gain << " gave " << s;
                } else {
                    EXPECT_EQ(s, 0.0F);
                }
            }
        }
    }
}

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Cases, GainRenderLimit,
    ::testing::Values(LimitCase{0.5F, 4.0F, 1.0F}, LimitCase{-0.4F, 4.0F, -1.0F},
                      LimitCase{0.25F, 4.0F, 1.0F}, LimitCase{0.2F, 4.0F, 0.8F},
                      LimitCase{1.0F, 1.0F, 1.0F}, LimitCase{-1.0F, 1.0F, -1.0F},
                      LimitCase{kNaN, 1.0F, 0.0F}, LimitCase{kNaN, 0.0F, 0.0F},
                      LimitCase{kInf, 1.0F, 1.0F}, LimitCase{-kInf, 1.0F, -1.0F},
                      LimitCase{kInf, 0.0F, 0.0F}, LimitCase{0.5F, kNaN, 0.0F},
                      LimitCase{0.5F, 0.0F, 0.0F}));

TEST(GainRenderGain, NaNSampleInARampIsSilenced) {
    BufferList in;
    in.add(2, 8, 0.5F);
    in.at(0, 3, 1) = kNaN;
    BufferList out;
    out.add(2, 8, kSentinel);
    GainState state;
    setGains(state, {0.5F, 1.0F});
    render(in, out, state);
    EXPECT_EQ(out.at(0, 3, 1), 0.0F);
    EXPECT_GT(out.at(0, 3, 0), 0.0F);
}

// --- bit-exactness against the plain procedure ------------------------------------

struct Layout {
    std::vector<std::uint32_t> inputChannels;
    std::vector<std::uint32_t> outputChannels;
};

TEST(GainRenderExact, MatchesThePlainProcedureBitForBit) {
    const std::vector<Layout> layouts = {
        {{2}, {2}}, {{2}, {1, 1}}, {{1, 1}, {2}},    {{1}, {2}},       {{4}, {2}},
        {{2}, {4}}, {{2}, {1, 2}}, {{2, 1}, {2, 1}}, {{6}, {2, 2, 2}}, {{}, {2}},
        {{2}, {3}}, {{3}, {2}},    {{1, 1}, {1, 1}}, {{2}, {2, 2}}};
    const std::vector<std::uint32_t> frameCounts = {0, 1, 2, 3, 7, 8, 64, 255, 256, 257, 1024};
    const std::vector<Gains> gains = {
        {1.0F, 1.0F}, {0.0F, 1.0F}, {1.0F, 0.0F},   {4.0F, 0.0F},   {0.0F, 4.0F},
        {0.5F, 0.5F}, {0.3F, 0.7F}, {3.9F, 0.01F},  {1e-7F, 1.0F},  {1.0F, 1.0F + 1e-7F},
        {2.5F, 2.5F}, {0.1F, 0.2F}, {1.0F, 0.999F}, {0.0F, 1e-30F}, {0.123456F, 3.14159F}};

    std::mt19937 random(20240611U);
    std::uniform_real_distribution<float> sampleDistribution(-1.2F, 1.2F);
    std::uniform_int_distribution<std::size_t> pick(0, frameCounts.size() - 1);
    int compared = 0;
    for (const Layout& layout : layouts) {
        for (const Gains& g : gains) {
            for (int round = 0; round < 4; ++round) {
                const std::uint32_t inFrames = frameCounts[pick(random)];
                const std::uint32_t outFrames = round == 0 ? inFrames : frameCounts[pick(random)];
                BufferList in;
                for (const auto channels : layout.inputChannels) {
                    // Earlier input buffers may differ in length from the last one.
                    const bool last = in.size() + 1 == layout.inputChannels.size();
                    in.add(channels, last || round < 2 ? inFrames : frameCounts[pick(random)]);
                    for (float& s : in.samples(in.size() - 1)) {
                        s = sampleDistribution(random);
                    }
                }
                BufferList out;
                BufferList expected;
                for (const auto channels : layout.outputChannels) {
                    out.add(channels, outFrames, kSentinel);
                    expected.add(channels, outFrames, kSentinel);
                }
                GainState state;
                setGains(state, g);
                float applied = g.applied;
                renderGain(&in.list(), &out.list(), &state);
                test::referenceRender(&in.list(), &expected.list(), g.target, applied);
                for (std::size_t b = 0; b < out.size(); ++b) {
                    ASSERT_TRUE(bitIdentical(out.samples(b), expected.samples(b)))
                        << "layout " << compared << " buffer " << b << " frames " << inFrames
                        << "->" << outFrames << " gain " << g.applied << "->" << g.target;
                }
                EXPECT_EQ(state.applied.load(), applied);
                ++compared;
            }
        }
    }
    EXPECT_EQ(compared, static_cast<int>(layouts.size() * gains.size() * 4));
}

TEST(GainRenderExact, RandomRampsMatchThePlainProcedure) {
    // Gains from every corner: the ordinary range, powers of two (where the sum
    // changes its rounding), ties, tiny and denormal values, negatives, and
    // gains that only unsafe callers would store.
    std::mt19937 random(7U);
    std::uniform_real_distribution<float> ordinary(0.0F, 4.0F);
    std::uniform_int_distribution<int> kind(0, 5);
    std::uniform_int_distribution<int> exponent(-10, 2);
    std::uniform_int_distribution<std::uint32_t> frames(1, 1100);
    const auto gain = [&]() -> float {
        switch (kind(random)) {
        case 0:
            return std::ldexp(1.0F, exponent(random));
        case 1:
            return std::nextafter(std::ldexp(1.0F, exponent(random)), 0.0F);
        case 2:
            return 1e-39F * ordinary(random);
        case 3:
            return -ordinary(random);
        default:
            return ordinary(random);
        }
    };
    for (int round = 0; round < 3000; ++round) {
        const Gains g{gain(), gain()};
        const std::uint32_t n = frames(random);
        BufferList in;
        in.add(2, n);
        in.fill(0, [&](std::size_t f, std::size_t c) {
            return static_cast<float>((f * 7 + c * 3) % 23) / 11.0F - 1.0F;
        });
        BufferList out;
        BufferList expected;
        out.add(2, n, kSentinel).add(1, n, kSentinel);
        expected.add(2, n, kSentinel).add(1, n, kSentinel);
        GainState state;
        setGains(state, g);
        float applied = g.applied;
        renderGain(&in.list(), &out.list(), &state);
        test::referenceRender(&in.list(), &expected.list(), g.target, applied);
        for (std::size_t b = 0; b < 2; ++b) {
            ASSERT_TRUE(bitIdentical(out.samples(b), expected.samples(b)))
                << "round " << round << " buffer " << b << " frames " << n << " gain " << g.applied
                << "->" << g.target;
        }
    }
}

TEST(GainRenderExact, RampIsRepeatedFloatAddition) {
    // 0.1 is inexact in binary: a multiplied ramp (G + f × step) drifts from the
    // repeated sum, so this catches a procedure that computes the gain per frame.
    BufferList in;
    in.add(2, 1000, 1.0F / 8.0F);
    BufferList out;
    out.add(2, 1000, kSentinel);
    GainState state;
    setGains(state, {0.9F, 0.1F});
    render(in, out, state);
    const float step = (0.9F - 0.1F) / 1000.0F;
    float g = 0.1F;
    bool differsFromProduct = false;
    for (std::size_t f = 0; f < 1000; ++f) {
        ASSERT_EQ(out.at(0, f, 0), g / 8.0F) << f;
        ASSERT_EQ(out.at(0, f, 1), g / 8.0F) << f;
        differsFromProduct |= g != 0.1F + static_cast<float>(f) * step;
        g += step;
    }
    EXPECT_TRUE(differsFromProduct) << "the case does not tell the two ways apart";
}

// --- realtime safety -------------------------------------------------------------------

TEST(GainRenderRealtime, AllocatesNothing) {
    BufferList in;
    in.add(2, 1024, 0.5F);
    BufferList out;
    out.add(2, 1024).add(1, 1024).add(4, 512);
    BufferList mono;
    mono.add(1, 512, 0.1F).add(1, 512, 0.2F);
    GainState state;
    setGains(state, {0.5F, 1.0F});
    auto& inList = in.list();
    auto& outList = out.list();
    auto& monoList = mono.list();
    test::AllocationCounter counter;
    for (int cycle = 0; cycle < 4; ++cycle) {
        state.target.store(cycle % 2 == 0 ? 2.0F : 0.25F);
        renderGain(&inList, &outList, &state);
        renderGain(&monoList, &outList, &state);
        renderGain(nullptr, &outList, &state);
    }
    EXPECT_EQ(counter.count(), 0U);
}

TEST(GainRenderRealtime, CounterSeesAllocations) {
    test::AllocationCounter counter;
    // Through a volatile pointer, so the optimiser cannot drop the pair.
    int* volatile p = new int(3);
    delete p;
    EXPECT_EQ(counter.count(), 1U);
}

} // namespace
} // namespace corvalle
