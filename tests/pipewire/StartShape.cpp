#include "StartShape.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>

namespace corvalle::test {

StartShape startShape(const std::vector<float>& samples, double expected, double tolerance,
                      double sampleRate) {
    StartShape shape;
    const double floor = 0.02 * expected;
    const auto isHeard = [&](float x) { return std::fabs(x) > floor; };
    const auto first = std::find_if(samples.begin(), samples.end(), isHeard);
    if (first == samples.end()) {
        return shape;
    }
    const auto last = std::find_if(samples.rbegin(), samples.rend(), isHeard).base();
    shape.heard = true;
    shape.firstHeardMs = 1000.0 * static_cast<double>(first - samples.begin()) / sampleRate;
    std::size_t run = 0;
    std::size_t longest = 0;
    std::size_t longestStart = 0;
    for (auto it = first; it != last; ++it) {
        const double level = std::fabs(*it);
        shape.loudest = std::max(shape.loudest, level);
        if (std::fabs(level - expected) > tolerance * expected) {
            ++run;
            if (run > longest) {
                longest = run;
                longestStart = static_cast<std::size_t>(it - first) + 1 - run;
            }
        } else {
            run = 0;
        }
    }
    shape.atLevelFromFirstSample = longest == 0;
    shape.longestWrongMs = 1000.0 * static_cast<double>(longest) / sampleRate;
    shape.wrongStartsAtMs = 1000.0 * static_cast<double>(longestStart) / sampleRate;
    return shape;
}

ReleaseShape releaseShape(const std::vector<float>& samples, double before, double after,
                          double tolerance, double sampleRate) {
    ReleaseShape shape;
    const auto near = [&](double level, double expected) {
        return std::fabs(level - expected) <= tolerance * expected;
    };
    std::size_t silent = 0;
    std::size_t between = 0;
    std::size_t longestSilent = 0;
    std::size_t longestBetween = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double level = std::fabs(samples[i]);
        shape.loudest = std::max(shape.loudest, level);
        silent = level < 0.02 * before ? silent + 1 : 0;
        between = near(level, before) || near(level, after) ? 0 : between + 1;
        longestSilent = std::max(longestSilent, silent);
        longestBetween = std::max(longestBetween, between);
        if (shape.fullFromMs == 0.0 && near(level, after)) {
            shape.fullFromMs = 1000.0 * static_cast<double>(i) / sampleRate;
        }
    }
    shape.longestSilentMs = 1000.0 * static_cast<double>(longestSilent) / sampleRate;
    shape.longestBetweenMs = 1000.0 * static_cast<double>(longestBetween) / sampleRate;
    return shape;
}

bool writeConstantWav(const std::string& path, float level, double seconds) {
    constexpr std::uint32_t kRate = 48000;
    constexpr std::uint16_t kChannels = 2;
    const auto frames = static_cast<std::uint32_t>(seconds * kRate);
    const std::uint32_t dataBytes = frames * kChannels * 4;
    std::ofstream out(path, std::ios::binary);
    const auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    const auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    out.write("RIFF", 4);
    u32(36 + dataBytes);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(3); // IEEE float
    u16(kChannels);
    u32(kRate);
    u32(kRate * kChannels * 4);
    u16(kChannels * 4);
    u16(32);
    out.write("data", 4);
    u32(dataBytes);
    const std::vector<float> frame(std::size_t{frames} * kChannels, level);
    out.write(reinterpret_cast<const char*>(frame.data()),
              static_cast<std::streamsize>(frame.size() * sizeof(float)));
    return static_cast<bool>(out);
}

} // namespace corvalle::test
