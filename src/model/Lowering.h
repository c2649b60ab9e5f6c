#pragma once

#include <chrono>
#include <optional>

namespace corvalle {

using SteadyTime = std::chrono::steady_clock::time_point;

// Where the others' level is while calls come and go.
enum class LoweringPhase {
    idle,       // no call: everyone at their own level
    fadingDown, // a call plays: on the way to the lowered level
    lowered,    // a call plays: at the lowered level
    holding,    // the call went quiet: held where it was, in case it goes on
    fadingUp,   // no call for a while: on the way back to the own level
};

// The factor that lowers every application but the calls' own while a call
// plays: down over kFadeDown once it starts, held while it plays and for
// kHoldAfter once it stops, back up over kFadeUp. Fades run evenly in decibels,
// from wherever the factor is, so a call that comes back during the way up turns
// it around without a jump. Times come from the caller; nothing here reads a
// clock.
class Lowering {
public:
    static constexpr std::chrono::milliseconds kFadeDown{300};
    static constexpr std::chrono::milliseconds kHoldAfter{2000};
    static constexpr std::chrono::milliseconds kFadeUp{1000};
    // How often a fade moves the gains on; each step ramps within an audio block.
    static constexpr std::chrono::milliseconds kStep{20};
    static constexpr double kDefaultLevel = 0.3;

    // Moves on to `now`, with a call playing or not.
    void update(bool callPlays, SteadyTime now);
    // The lowered level: a factor on the others' gains, from 0 to 1. Out-of-range
    // and NaN levels are taken to the nearest sound one (NaN to the default).
    double level() const { return level_; }
    // A change while lowered fades to the new level.
    void setLevel(double level, SteadyTime now);

    LoweringPhase phase() const { return phase_; }
    // Whether the others are lowered at all: in any phase but idle.
    bool isActive() const { return phase_ != LoweringPhase::idle; }
    // The factor at `now`: 1 while idle, level() once lowered; never above 1.
    double factor(SteadyTime now) const;
    // When update() should next run for the factor or the phase to move on;
    // nothing while they stay as they are until a call starts or stops.
    std::optional<SteadyTime> nextStep(SteadyTime now) const;

private:
    void fadeFrom(LoweringPhase phase, double from, SteadyTime now);

    LoweringPhase phase_ = LoweringPhase::idle;
    SteadyTime since_{};
    double from_ = 1.0; // the factor when the phase began
    double level_ = kDefaultLevel;
};

} // namespace corvalle
