#pragma once

#include <string>
#include <vector>

namespace corvalle::test {

// How a stream's first moments reached a device, from a recording of a constant
// (DC) signal that began before the stream started: every sample is then the
// level heard, so a louder first moment or a doubled path (direct and tapped
// summed) shows sample by sample, whatever the delay between the two paths.
struct StartShape {
    bool heard = false;
    // Highest level between the first and the last sample heard.
    double loudest = 0.0;
    // Whether every sample heard was at the expected level.
    bool atLevelFromFirstSample = false;
    // Milliseconds from the start of the recording to the first sample heard.
    double firstHeardMs = 0.0;
};

// `expected`: the level asked for; a sample within `tolerance` (relative) of it
// is right. Samples below 2 % of `expected` are silence.
StartShape startShape(const std::vector<float>& samples, double expected, double tolerance = 0.05,
                      double sampleRate = 48000.0);

// How a stream released from its tap reached a device, from a recording of a
// constant signal that plays throughout: at `before` while tapped, at `after`
// once it is back on the device.
struct ReleaseShape {
    double loudest = 0.0;
    // The longest run of silent samples (below 2 % of `before`).
    double longestSilentMs = 0.0;
    // Milliseconds from the start of the recording to the first sample at `after`
    // (0 when none is).
    double fullFromMs = 0.0;
};

ReleaseShape releaseShape(const std::vector<float>& samples, double before, double after,
                          double tolerance = 0.05, double sampleRate = 48000.0);

// A stereo 32-bit float WAV of a constant level, for the players.
bool writeConstantWav(const std::string& path, float level, double seconds);

} // namespace corvalle::test
