// Lowering the others during a call, heard at the device: every player is
// recorded at a tone of its own and followed in 50 ms windows, so the figures
// tell when the others went down, how long they were held and when they were
// back, against when the call was heard to start and stop.
#include "ModelOnPipeWire.h"

#include <cstdio>
#include <numeric>
#include <utility>

namespace corvalle {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;

// 50 ms at 48 kHz: every tone here is a multiple of 20 Hz, so whole cycles of
// each fit in a window (at any offset) and the tones, and a constant level,
// read apart.
constexpr std::size_t kWindow = 2400;
constexpr int kWindowMs = 50;
constexpr double kLowered = 0.3;
// -10 dB, nearly the whole way down to kLowered (-10.5 dB).
const double kTenDB = std::pow(10.0, -0.5);
// The server's own relink of a moved stream, as the release tests allow it:
// up to three cycles of 1024 frames. Lowering an untapped player moves it
// into a tap; it leaves the tap only once it stops playing.
constexpr double kRelinkGapMs = 3 * 1024 / 48.0 + 0.1;
// Less than one cycle of the smallest quantum the tests run: no gap at all, the
// windows' own spread.
constexpr double kNoGapMs = 256 / 48.0;

struct Tone {
    const char* appID;
    int frequency;
    double amplitude;
    QString key() const { return QString::fromLatin1(appID); }
};
const Tone kMusic{"org.corvalle.test.Music", 440, 0.25};
const Tone kBoosted{"org.corvalle.test.Boosted", 560, 0.2};
const Tone kMuted{"org.corvalle.test.Muted", 780, 0.2};
const Tone kCall{"org.corvalle.test.Call", 660, 0.2};

// The test player's arguments for `sound`, then `more`.
std::vector<std::string> argsOf(const Tone& sound, std::vector<std::string> more = {}) {
    more.insert(more.begin(),
                {test::testPlayerPath(), "--app-id", sound.appID, "--frequency",
                 std::to_string(sound.frequency), "--amplitude", std::to_string(sound.amplitude)});
    return more;
}

// The amplitude of `frequency` in windows of `window` samples, one every
// `step`; 0 Hz: the mean.
std::vector<double> trace(const std::vector<float>& samples, int frequency,
                          std::size_t window = kWindow, std::size_t step = kWindow) {
    std::vector<double> cosines(window);
    std::vector<double> sines(window);
    for (std::size_t i = 0; i < window; ++i) {
        const double phase = 2.0 * M_PI * frequency * static_cast<double>(i) / 48000.0;
        cosines[i] = std::cos(phase);
        sines[i] = std::sin(phase);
    }
    std::vector<double> levels;
    for (std::size_t at = 0; at + window <= samples.size(); at += step) {
        double re = 0.0;
        double im = 0.0;
        for (std::size_t i = 0; i < window; ++i) {
            re += samples[at + i] * cosines[i];
            im += samples[at + i] * sines[i];
        }
        levels.push_back(std::hypot(re, im) * (frequency == 0 ? 1.0 : 2.0) /
                         static_cast<double>(window));
    }
    return levels;
}

// The longest time `frequency` went missing, in ms: how far a window, slid on
// 2.5 ms at a time, falls short of the windows either side of it (their
// geometric mean, which a fade in decibels keeps). 50 ms windows, or 100 ms
// where a gap fills a whole short one.
double longestGapMs(const std::vector<float>& samples, int frequency) {
    constexpr std::size_t kSlide = 120;
    double longest = 0.0;
    for (const std::size_t window : {kWindow, 2 * kWindow}) {
        const std::vector<double> levels = trace(samples, frequency, window, kSlide);
        const std::size_t apart = window / kSlide;
        const double windowMs = static_cast<double>(window) / 48.0;
        longest = 0.0;
        for (std::size_t i = apart; i + apart < levels.size(); ++i) {
            const double around = std::sqrt(levels[i - apart] * levels[i + apart]);
            if (around > 0.01) {
                longest = std::max(longest, windowMs * (1.0 - levels[i] / around));
            }
        }
        if (longest < 0.9 * windowMs) {
            break;
        }
    }
    return longest;
}

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
// The first window in [from, to) where `holds` does, or kNone.
template <typename Holds>
std::size_t firstWhere(const std::vector<double>& levels, std::size_t from, std::size_t to,
                       Holds holds) {
    for (std::size_t i = from; i < std::min(to, levels.size()); ++i) {
        if (holds(levels[i])) {
            return i;
        }
    }
    return kNone;
}
// Windows of no reading (NaN) pass.
bool allWithin(const std::vector<double>& levels, std::size_t from, std::size_t to, double low,
               double high) {
    return firstWhere(levels, from, to, [&](double l) { return l < low || l > high; }) == kNone;
}
// The first window in [from, to) from which on every one up to `to` is within
// [low, high], or kNone.
std::size_t steadyFrom(const std::vector<double>& levels, std::size_t from, std::size_t to,
                       double low, double high) {
    const std::size_t end = std::min(to, levels.size());
    std::size_t i = end;
    while (i > from && allWithin(levels, i - 1, i, low, high)) {
        --i;
    }
    return i == end ? kNone : i;
}
bool near(double level, double expected, double tolerance = 0.02) {
    return std::fabs(level - expected) <= expected * tolerance;
}
double windowsMs(std::size_t from, std::size_t to) {
    return from == kNone || to == kNone ? -1.0 : static_cast<double>(to - from) * kWindowMs;
}
// NaN windows (see besideCall) are passed over.
double loudest(const std::vector<double>& levels) {
    return std::accumulate(levels.begin(), levels.end(), 0.0,
                           [](double a, double b) { return std::fmax(a, b); });
}

// The windows where a call at `amplitude` is heard: [start, end).
struct Heard {
    std::size_t start = kNone;
    std::size_t end = kNone;
};
Heard heardAbove(const std::vector<double>& levels, double amplitude, std::size_t from = 0) {
    Heard heard;
    heard.start =
        firstWhere(levels, from, levels.size(), [&](double l) { return l >= amplitude / 2; });
    if (heard.start != kNone) {
        heard.end = firstWhere(levels, heard.start, levels.size(),
                               [&](double l) { return l < amplitude / 2; });
    }
    return heard;
}
// `levels` without the windows around the call's start and end (NaN): its onset
// spreads into every tone's reading there.
std::vector<double> besideCall(std::vector<double> levels, const Heard& call) {
    for (const std::size_t edge : {call.start - 1, call.start, call.end - 1, call.end}) {
        if (edge < levels.size()) {
            levels[edge] = std::nan("");
        }
    }
    return levels;
}

class LoweringTest : public test::ModelOnPipeWire {
protected:
    bool playing(const std::vector<Tone>& tones) {
        return spinUntil(
            [&] {
                return std::ranges::all_of(
                    tones, [&](const Tone& t) { return test::ModelOnPipeWire::playing(t.key()); });
            },
            5s);
    }
    // Each tone is heard at its amplitude times its factor (0: silent).
    bool heardAt(const std::vector<std::pair<Tone, double>>& tones) {
        bool heard = false;
        whileSpinning([&] {
            heard = test::eventually(
                [&] {
                    const std::vector<float> samples = speakers.record(200);
                    return std::ranges::all_of(tones, [&](const auto& sound) {
                        const std::vector<double> levels = trace(samples, sound.first.frequency);
                        const double expected = sound.first.amplitude * sound.second;
                        return !levels.empty() && std::ranges::all_of(levels, [&](double l) {
                            return expected == 0.0 ? l < 0.001 : near(l, expected);
                        });
                    });
                },
                5s);
        });
        return heard;
    }
    // The music, at `own` before the call and until `notBefore` after its
    // start, is down to -10 dB within `within` of the start and stays there
    // while the call is heard.
    void expectLowered(const std::vector<double>& music, double own, const Heard& call,
                       std::chrono::milliseconds within,
                       std::chrono::milliseconds notBefore = 0ms) {
        const std::size_t early = static_cast<std::size_t>(notBefore.count() / kWindowMs);
        EXPECT_TRUE(allWithin(music, 0, call.start + early, own * 0.97, own * 1.03))
            << "lowered too early";
        const std::size_t down = steadyFrom(music, call.start, call.end, 0.0, own * kTenDB);
        EXPECT_NE(down, kNone) << "never lowered";
        EXPECT_LE(windowsMs(call.start, down), static_cast<double>(within.count()));
    }
    test::MonitorMeter speakers{"speakers"};
};

// The music untapped, another player boosted to 150 % and a muted one: each
// goes to 30 % of its own level, the call plays on at its own, and nothing is
// ever louder than it was before the call.
TEST_F(LoweringTest, ACallLowersTheOthersFromTheirOwnLevelsUntilTwoSecondsAfterItEnds) {
    std::optional<ChildProcess> music;
    std::optional<ChildProcess> boosted;
    std::optional<ChildProcess> muted;
    std::optional<ChildProcess> call;
    music.emplace(argsOf(kMusic));
    boosted.emplace(argsOf(kBoosted));
    muted.emplace(argsOf(kMuted));
    ASSERT_TRUE(playing({kMusic, kBoosted, kMuted}));
    model->setVolume(1.5, kBoosted.key());
    model->toggleMute(kMuted.key());
    ASSERT_TRUE(heardAt({{kMusic, 1.0}, {kBoosted, 1.5}, {kMuted, 0.0}}));

    std::set<QString> callers;
    std::set<QString> lowered;
    const std::vector<float> samples = recordAround(
        speakers, 5800,
        {{300ms,
          [&] {
              call.emplace(argsOf(kCall, {"--role", "Communication", "--seconds", "1.5"}));
          }},
         {1400ms, [&] {
              callers = model->callingKeys();
              lowered = model->loweredKeys();
          }}});
    EXPECT_EQ(callers, std::set<QString>{kCall.key()});
    EXPECT_EQ(lowered, (std::set<QString>{kMusic.key(), kBoosted.key(), kMuted.key()}));

    const std::vector<double> c = trace(samples, kCall.frequency);
    const Heard heard = heardAbove(c, kCall.amplitude);
    ASSERT_NE(heard.end, kNone) << "the call is never heard to start and stop";
    const std::vector<double> m = besideCall(trace(samples, kMusic.frequency), heard);
    const std::vector<double> b = besideCall(trace(samples, kBoosted.frequency), heard);
    const std::vector<double> silent = besideCall(trace(samples, kMuted.frequency), heard);
    const double own = kMusic.amplitude;
    const double boostedOwn = 1.5 * kBoosted.amplitude;
    expectLowered(m, own, heard, 500ms);
    // Fully down from 600 ms on, to the end of the call and through the hold.
    const std::size_t settled = heard.start + 12;
    const std::size_t held = heard.end + 1800 / kWindowMs;
    EXPECT_TRUE(allWithin(m, settled, held, own * kLowered * 0.97, own * kLowered * 1.03));
    EXPECT_TRUE(
        allWithin(b, settled, held, boostedOwn * kLowered * 0.97, boostedOwn * kLowered * 1.03))
        << "150 % goes to 45 %";
    const std::size_t back = steadyFrom(m, heard.end, m.size(), own * 0.98, own * 1.02);
    EXPECT_NE(back, kNone) << "never back";
    EXPECT_LE(windowsMs(heard.end, back), 3300.0);
    // The call plays on at its own level; the others' relink gaps spread a
    // little into its windows and theirs.
    std::vector<double> callLevels(c.begin() + static_cast<std::ptrdiff_t>(heard.start + 1),
                                   c.begin() + static_cast<std::ptrdiff_t>(heard.end - 1));
    std::ranges::nth_element(callLevels, callLevels.begin() +
                                             static_cast<std::ptrdiff_t>(callLevels.size() / 2));
    EXPECT_TRUE(near(callLevels[callLevels.size() / 2], kCall.amplitude, 0.01));
    EXPECT_TRUE(allWithin(c, heard.start + 1, heard.end - 1, kCall.amplitude * 0.92,
                          kCall.amplitude * 1.08));
    EXPECT_LE(loudest(m), own * 1.03) << "louder than the music alone";
    EXPECT_LE(loudest(b), boostedOwn * 1.06);
    EXPECT_LT(loudest(silent), 0.01);
    // Into the tap as the call starts, out of it after the way back.
    const auto split = samples.begin() + static_cast<std::ptrdiff_t>(heard.end * kWindow);
    const double intoMs = longestGapMs({samples.begin(), split}, kMusic.frequency);
    const double outMs = longestGapMs({split, samples.end()}, kMusic.frequency);
    std::printf("gaps: %.1f ms into the tap, %.1f ms on the way back\n", intoMs, outMs);
    EXPECT_LE(intoMs, kRelinkGapMs) << "the music broke off moving into its tap";
    EXPECT_LE(outMs, kNoGapMs) << "the music broke off on its way back";

    // The lowering was never the music's setting; its tap, only for the call, stays
    // while it plays on and goes once it stops.
    EXPECT_TRUE(model->hasTap(kMusic.key()));
    music.reset();
    EXPECT_TRUE(spinUntil([&] { return !model->hasTap(kMusic.key()); }, 2s));
    EXPECT_FALSE(model->settings().contains(kMusic.key()));
    EXPECT_TRUE(model->hasTap(kBoosted.key()));
    EXPECT_EQ(model->loweringFactor(), 1.0);
}

// A marked player without a call's role lowers the others once it has played
// for half a second; pipewire-pulse gives a PulseAudio stream of role "phone"
// media.role Communication, a call like any other, which lowers them at once.
TEST_F(LoweringTest, AMarkedPlayerAndAPulseAudioPhoneStreamLowerTheOthers) {
    model->setLowersOthers(true, kCall.key());
    std::optional<ChildProcess> music;
    music.emplace(argsOf(kMusic));
    ASSERT_TRUE(playing({kMusic}));
    struct Case {
        const char* what;
        std::vector<std::string> argv; // of a player that plays 1.5 s at 0.2
        int frequency;                 // its tone; 0: a constant level, read as the mean
        std::chrono::milliseconds within;
        std::chrono::milliseconds notBefore;
        QString key; // empty: its program's
    };
    const Case cases[] = {
        {"marked player", argsOf(kCall, {"--seconds", "1.5"}), kCall.frequency, 1000ms, 450ms,
         kCall.key()},
        {"PulseAudio phone stream",
         {test::pulsePlayerPath(), "--role", "phone", "--amplitude", "0.2", "--seconds", "1.5"},
         0,
         500ms,
         0ms,
         {}},
    };
    for (const Case& c : cases) {
        if (c.argv.front().empty()) {
            continue; // built without libpulse
        }
        ASSERT_TRUE(heardAt({{kMusic, 1.0}})) << c.what;
        std::optional<ChildProcess> caller;
        QString key = c.key;
        std::set<QString> callers;
        const std::vector<float> samples =
            recordAround(speakers, 2000,
                         {{200ms,
                           [&] {
                               caller.emplace(c.argv);
                               if (key.isEmpty()) {
                                   key = test::keyOf(*caller);
                               }
                           }},
                          {1300ms, [&] { callers = model->callingKeys(); }}});
        EXPECT_EQ(callers, std::set<QString>{key}) << c.what;
        const std::vector<double> calls = trace(samples, c.frequency);
        Heard heard = heardAbove(calls, 0.2);
        ASSERT_NE(heard.start, kNone) << c.what << " is never heard";
        heard.end = std::min(heard.end, calls.size());
        expectLowered(besideCall(trace(samples, kMusic.frequency), heard), kMusic.amplitude, heard,
                      c.within, c.notBefore);
        EXPECT_LE(longestGapMs(samples, kMusic.frequency), kRelinkGapMs)
            << c.what << ": the music broke off moving into its tap";
    }
}

} // namespace
} // namespace corvalle
