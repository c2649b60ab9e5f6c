// The start analysis on made-up recordings: each fault the start-level test
// hunts must show in its figures, and a clean start must not.
#include "StartShape.h"

#include <gtest/gtest.h>
#include <vector>

namespace corvalle::test {
namespace {

// Silence, then `segments` of (level, samples).
std::vector<float> recording(std::size_t silence,
                             const std::vector<std::pair<float, std::size_t>>& segments) {
    std::vector<float> samples(silence, 0.0F);
    for (const auto& [level, count] : segments) {
        samples.insert(samples.end(), count, level);
    }
    samples.insert(samples.end(), 480, 0.0F);
    return samples;
}

TEST(StartShapeTest, FaultsShowInTheFigures) {
    struct Case {
        const char* name;
        std::vector<float> samples;
        bool atLevel;
        double loudest;
        double longestWrongMs;
        double firstHeardMs;
    };
    const std::vector<Case> cases{
        {"clean", recording(4800, {{0.2F, 9600}}), true, 0.2, 0.0, 100.0},
        {"full level first", recording(480, {{0.4F, 2048}, {0.2F, 9600}}), false, 0.4,
         2048.0 / 48.0, 10.0},
        {"doubled", recording(0, {{0.2F, 960}, {0.6F, 1024}, {0.2F, 960}}), false, 0.6,
         1024.0 / 48.0, 0.0},
        {"a gap is at another level", recording(0, {{0.2F, 960}, {0.0F, 480}, {0.2F, 960}}), false,
         0.2, 10.0, 0.0},
        {"negative samples count by size", recording(0, {{-0.2F, 960}}), true, 0.2, 0.0, 0.0},
    };
    for (const Case& c : cases) {
        const StartShape shape = startShape(c.samples, 0.2);
        EXPECT_TRUE(shape.heard) << c.name;
        EXPECT_EQ(shape.atLevelFromFirstSample, c.atLevel) << c.name;
        EXPECT_NEAR(shape.loudest, c.loudest, 1e-6) << c.name;
        EXPECT_NEAR(shape.longestWrongMs, c.longestWrongMs, 1e-6) << c.name;
        EXPECT_NEAR(shape.firstHeardMs, c.firstHeardMs, 1e-6) << c.name;
    }
    EXPECT_FALSE(startShape(std::vector<float>(4800, 0.001F), 0.2).heard);
}

TEST(StartShapeTest, ReleaseFaultsShowInTheFigures) {
    struct Case {
        const char* name;
        std::vector<std::pair<float, std::size_t>> segments;
        double loudest;
        double longestSilentMs;
        double longestBetweenMs;
        double fullFromMs;
    };
    const std::vector<Case> cases{
        {"held until back", {{0.1F, 960}, {0.4F, 960}}, 0.4, 0.0, 0.0, 20.0},
        {"a gap",
         {{0.1F, 960}, {0.0F, 1024}, {0.4F, 960}},
         0.4,
         1024.0 / 48.0,
         1024.0 / 48.0,
         1984.0 / 48.0},
        {"doubled", {{0.1F, 960}, {0.5F, 480}, {0.4F, 960}}, 0.5, 0.0, 10.0, 30.0},
        {"never back", {{0.1F, 1920}}, 0.1, 0.0, 0.0, 0.0},
    };
    for (const Case& c : cases) {
        std::vector<float> samples;
        for (const auto& [level, count] : c.segments) {
            samples.insert(samples.end(), count, level);
        }
        const ReleaseShape shape = releaseShape(samples, 0.1, 0.4);
        EXPECT_NEAR(shape.loudest, c.loudest, 1e-6) << c.name;
        EXPECT_NEAR(shape.longestSilentMs, c.longestSilentMs, 1e-6) << c.name;
        EXPECT_NEAR(shape.longestBetweenMs, c.longestBetweenMs, 1e-6) << c.name;
        EXPECT_NEAR(shape.fullFromMs, c.fullFromMs, 1e-6) << c.name;
    }
}

} // namespace
} // namespace corvalle::test
