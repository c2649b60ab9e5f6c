#include "NameMatch.h"

#include <gtest/gtest.h>

namespace corvalle {
namespace {

const std::vector<NameCandidate> kApplications = {
    {"org.mozilla.firefox", "Firefox"},    {"org.example.Music", "Music"},
    {"org.example.MusicBox", "Music Box"}, {"pid:812", "PID 812"},
    {"org.gnome.Totem", "Videos"},         {"com.example.Videos", "Videos"},
};

struct MatchCase {
    const char* query;
    NameMatch::Kind kind;
    std::vector<std::size_t> indices;
};

class NameMatching : public ::testing::TestWithParam<MatchCase> {};

TEST_P(NameMatching, PrefersTheMostExactFit) {
    const auto& [query, kind, indices] = GetParam();
    const auto match = matchName(QString::fromUtf8(query), kApplications);
    EXPECT_EQ(match.kind, kind) << query;
    EXPECT_EQ(match.indices, indices) << query;
}

using Kind = NameMatch::Kind;

INSTANTIATE_TEST_SUITE_P(
    Cases, NameMatching,
    ::testing::Values(MatchCase{"org.mozilla.firefox", Kind::found, {0}},
                      MatchCase{"ORG.MOZILLA.FIREFOX", Kind::found, {0}}, // the key ignoring case
                      MatchCase{"firefox", Kind::found, {0}},             // the name ignoring case
                      MatchCase{"fire", Kind::found, {0}},    // a unique start of the name
                      MatchCase{"org.moz", Kind::found, {0}}, // a unique start of the key
                      MatchCase{"music", Kind::found, {1}},   // a whole name wins over a longer one
                      MatchCase{"mus", Kind::ambiguous, {1, 2}},
                      MatchCase{"org.example", Kind::ambiguous, {1, 2}},
                      MatchCase{
                          "videos", Kind::ambiguous, {4, 5}}, // two applications with one name
                      MatchCase{"org.gnome.Totem", Kind::found, {4}},
                      MatchCase{"pid:812", Kind::found, {3}}, MatchCase{"PID 8", Kind::found, {3}},
                      MatchCase{"chrome", Kind::none, {}}, MatchCase{"", Kind::none, {}},
                      MatchCase{"irefox", Kind::none, {}}, // the middle of a name is no match
                      MatchCase{"Firefox ", Kind::none, {}}));

TEST(NameMatch, AnExactKeyWinsOverAnotherCandidatesName) {
    const std::vector<NameCandidate> outputs = {{"73", "Speakers"}, {"74", "73"}};
    const auto match = matchName(QStringLiteral("73"), outputs);
    EXPECT_EQ(match.kind, NameMatch::Kind::found);
    EXPECT_EQ(match.indices, std::vector<std::size_t>{0});
}

TEST(NameMatch, DevicesAlsoMatchByAnyPartOfTheirNameButOnlyAsALastResort) {
    const std::vector<NameCandidate> outputs = {
        {"31", "Built-in Audio Analog Stereo"},
        {"32", "Test Headphones"},
        {"33", "Headphones Stereo"},
    };
    const auto byPart = matchName(QStringLiteral("analog"), outputs, NameMatchScope::substring);
    EXPECT_EQ(byPart.indices, std::vector<std::size_t>{0});
    EXPECT_EQ(matchName(QStringLiteral("analog"), outputs).kind, NameMatch::Kind::none)
        << "applications match by their start only";
    const auto start = matchName(QStringLiteral("head"), outputs, NameMatchScope::substring);
    EXPECT_EQ(start.indices, std::vector<std::size_t>{2}) << "a start wins over a part";
    const auto both = matchName(QStringLiteral("stereo"), outputs, NameMatchScope::substring);
    EXPECT_EQ(both.kind, NameMatch::Kind::ambiguous);
}

TEST(NameMatch, NoCandidatesMatchNothing) {
    EXPECT_EQ(matchName(QStringLiteral("a"), {}).kind, NameMatch::Kind::none);
}

} // namespace
} // namespace corvalle
