#include "Lowering.h"

#include <algorithm>
#include <cmath>

namespace corvalle {

namespace {

// Fades in decibels pass through this for silence (-60 dB) and end exactly at it.
constexpr double kQuietest = 0.001;

double progress(SteadyTime since, SteadyTime now, std::chrono::milliseconds length) {
    const auto elapsed = std::chrono::duration<double>(now - since).count();
    return std::clamp(elapsed / std::chrono::duration<double>(length).count(), 0.0, 1.0);
}

double fade(double from, double to, double t) {
    if (t >= 1.0) {
        return to;
    }
    const double start = std::max(from, kQuietest);
    const double end = std::max(to, kQuietest);
    return start * std::pow(end / start, t);
}

} // namespace

void Lowering::fadeFrom(LoweringPhase phase, double from, SteadyTime now) {
    phase_ = phase;
    from_ = from;
    since_ = now;
}

void Lowering::update(bool callPlays, SteadyTime now) {
    const double current = factor(now);
    switch (phase_) {
    case LoweringPhase::idle:
        if (callPlays) {
            fadeFrom(LoweringPhase::fadingDown, 1.0, now);
        }
        break;
    case LoweringPhase::fadingDown:
        if (!callPlays) {
            fadeFrom(LoweringPhase::holding, current, now);
        } else if (now - since_ >= kFadeDown) {
            fadeFrom(LoweringPhase::lowered, level_, now);
        }
        break;
    case LoweringPhase::lowered:
        if (!callPlays) {
            fadeFrom(LoweringPhase::holding, level_, now);
        }
        break;
    case LoweringPhase::holding:
        if (callPlays) {
            fadeFrom(LoweringPhase::fadingDown, current, now);
        } else if (now - since_ >= kHoldAfter) {
            fadeFrom(LoweringPhase::fadingUp, current, since_ + kHoldAfter);
            update(false, now);
        }
        break;
    case LoweringPhase::fadingUp:
        if (callPlays) {
            fadeFrom(LoweringPhase::fadingDown, current, now);
        } else if (now - since_ >= kFadeUp) {
            fadeFrom(LoweringPhase::idle, 1.0, now);
        }
        break;
    }
}

void Lowering::setLevel(double level, SteadyTime now) {
    const double sound = std::isnan(level) ? kDefaultLevel : std::clamp(level, 0.0, 1.0);
    if (sound == level_) {
        return;
    }
    const double current = factor(now);
    level_ = sound;
    if (phase_ == LoweringPhase::lowered || phase_ == LoweringPhase::fadingDown) {
        fadeFrom(LoweringPhase::fadingDown, current, now);
    }
}

double Lowering::factor(SteadyTime now) const {
    switch (phase_) {
    case LoweringPhase::idle:
        return 1.0;
    case LoweringPhase::fadingDown:
        return fade(from_, level_, progress(since_, now, kFadeDown));
    case LoweringPhase::lowered:
        return level_;
    case LoweringPhase::holding:
        return from_;
    case LoweringPhase::fadingUp:
        return fade(from_, 1.0, progress(since_, now, kFadeUp));
    }
    return 1.0;
}

std::optional<SteadyTime> Lowering::nextStep(SteadyTime now) const {
    switch (phase_) {
    case LoweringPhase::fadingDown:
    case LoweringPhase::fadingUp:
        return now + kStep;
    case LoweringPhase::holding:
        return since_ + kHoldAfter;
    case LoweringPhase::idle:
    case LoweringPhase::lowered:
        break;
    }
    return std::nullopt;
}

} // namespace corvalle
