#include "NameMatch.h"

#include <gtest/gtest.h>

namespace corvalle {
namespace {

using Kind = NameMatch::Kind;

const std::vector<NameCandidate> kApplications = {
    {"org.mozilla.firefox", "Firefox"},    {"org.example.Music", "Music"},
    {"org.example.MusicBox", "Music Box"}, {"pid:812", "PID 812"},
    {"org.gnome.Totem", "Videos"},         {"com.example.Videos", "Videos"},
};

struct MatchCase {
    const char* query;
    Kind kind;
    std::vector<std::size_t> indices;
};

class NameMatching : public ::testing::TestWithParam<MatchCase> {};

TEST_P(NameMatching, PrefersTheMostExactFit) {
    const auto& [query, kind, indices] = GetParam();
    const auto match = matchName(QString::fromUtf8(query), kApplications);
    EXPECT_EQ(match.kind, kind) << query;
    EXPECT_EQ(match.indices, indices) << query;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NameMatching,
    ::testing::Values(MatchCase{"org.mozilla.firefox", Kind::found, {0}},
                      MatchCase{"ORG.MOZILLA.FIREFOX", Kind::found, {0}},
                      MatchCase{"firefox", Kind::found, {0}}, MatchCase{"fire", Kind::found, {0}},
                      MatchCase{"org.moz", Kind::found, {0}},
                      MatchCase{"music", Kind::found, {1}}, // a whole name beats a longer one
                      MatchCase{"mus", Kind::ambiguous, {1, 2}},

                      MatchCase{"videos", Kind::ambiguous, {4, 5}},

                      MatchCase{"chrome", Kind::none, {}}, MatchCase{"", Kind::none, {}},
                      MatchCase{"irefox", Kind::none, {}}));

TEST(NameMatch, OutputsAlsoMatchByAnyPartOfTheNameButLast) {
    const std::vector<NameCandidate> outputs = {
        {"31", "Built-in Audio Analog Stereo"}, {"32", "Test Headphones"}, {"33", "Headphones"}};
    const auto scope = NameMatchScope::substring;
    EXPECT_EQ(matchName("analog", outputs, scope).indices, std::vector<std::size_t>{0});
    EXPECT_EQ(matchName("analog", outputs).kind, Kind::none);
    EXPECT_EQ(matchName("head", outputs, scope).indices, std::vector<std::size_t>{2});
}

} // namespace
} // namespace corvalle
