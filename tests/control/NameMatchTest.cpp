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

// The command line's own matches (a name in any case, the start of one, several,
// none, a part of an output's name) are CommandLineTest's; these are the rest.
TEST(NameMatch, PrefersTheMostExactFit) {
    const std::tuple<const char*, Kind, std::vector<std::size_t>> cases[] = {
        {"ORG.MOZILLA.FIREFOX", Kind::found, {0}},
        {"org.moz", Kind::found, {0}},
        {"music", Kind::found, {1}}, // a whole name beats a longer one
        {"videos", Kind::ambiguous, {4, 5}},
        {"", Kind::none, {}},
        {"irefox", Kind::none, {}},
    };
    for (const auto& [query, kind, indices] : cases) {
        const auto match = matchName(QString::fromUtf8(query), kApplications);
        EXPECT_EQ(match.kind, kind) << query;
        EXPECT_EQ(match.indices, indices) << query;
    }
}

} // namespace
} // namespace corvalle
