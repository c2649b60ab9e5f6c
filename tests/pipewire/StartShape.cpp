#include "StartShape.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace corvalle::test {

StartShape startShape(const std::vector<float>& samples, double expected, double tolerance,
                      double sampleRate) {
    StartShape shape;
    const auto isHeard = [&](float x) { return std::fabs(x) > 0.02 * expected; };
    const auto first = std::find_if(samples.begin(), samples.end(), isHeard);
    if (first == samples.end()) {
        return shape;
    }
    const auto last = std::find_if(samples.rbegin(), samples.rend(), isHeard).base();
    shape.heard = true;
    shape.firstHeardMs = 1000.0 * static_cast<double>(first - samples.begin()) / sampleRate;
    shape.atLevelFromFirstSample = true;
    for (auto it = first; it != last; ++it) {
        shape.loudest = std::max(shape.loudest, static_cast<double>(std::fabs(*it)));
        shape.atLevelFromFirstSample = shape.atLevelFromFirstSample &&
                                       std::fabs(std::fabs(*it) - expected) <= tolerance * expected;
    }
    return shape;
}

ReleaseShape releaseShape(const std::vector<float>& samples, double before, double after,
                          double tolerance, double sampleRate) {
    ReleaseShape shape;
    std::size_t silent = 0;
    std::size_t longestSilent = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double level = std::fabs(samples[i]);
        shape.loudest = std::max(shape.loudest, level);
        silent = level < 0.02 * before ? silent + 1 : 0;
        longestSilent = std::max(longestSilent, silent);
        if (shape.fullFromMs == 0.0 && std::fabs(level - after) <= tolerance * after) {
            shape.fullFromMs = 1000.0 * static_cast<double>(i) / sampleRate;
        }
    }
    shape.longestSilentMs = 1000.0 * static_cast<double>(longestSilent) / sampleRate;
    return shape;
}

bool writeConstantWav(const std::string& path, float level, double seconds) {
    // A sine of 0 Hz a quarter period on is sox's constant.
    const std::string command = "sox -n -r 48000 -c 2 -b 32 -e floating-point '" + path +
                                "' synth " + std::to_string(seconds) + " sine 0 0 25 vol " +
                                std::to_string(level);
    return std::system(command.c_str()) == 0;
}

} // namespace corvalle::test
