#include "VolumeText.h"

#include <gtest/gtest.h>

namespace corvalle {
namespace {

struct ParseCase {
    const char* text;
    double volume;
    bool relative;
};

class VolumeTextParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(VolumeTextParse, ReadsPercentFactorsAndChanges) {
    const auto [text, volume, relative] = GetParam();
    const auto parsed = parseVolumeText(QString::fromUtf8(text));
    ASSERT_TRUE(parsed) << text;
    EXPECT_DOUBLE_EQ(parsed->volume, volume) << text;
    EXPECT_EQ(parsed->relative, relative) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Accepted, VolumeTextParse,
    ::testing::Values(ParseCase{"150%", 1.5, false}, ParseCase{"150", 1.5, false},
                      ParseCase{"0", 0.0, false}, ParseCase{"0%", 0.0, false},
                      ParseCase{"33.5%", 0.335, false}, ParseCase{".5x", 0.5, false},
                      ParseCase{"1.5x", 1.5, false}, ParseCase{"2X", 2.0, false},
                      ParseCase{"+5%", 0.05, true}, ParseCase{"-5%", -0.05, true},
                      ParseCase{"-5", -0.05, true}, ParseCase{"+0.25x", 0.25, true},
                      ParseCase{"500%", 5.0, false}, ParseCase{"007%", 0.07, false}));

class VolumeTextReject : public ::testing::TestWithParam<const char*> {};

TEST_P(VolumeTextReject, RefusesAnythingElse) {
    EXPECT_FALSE(parseVolumeText(QString::fromUtf8(GetParam()))) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Refused, VolumeTextReject,
                         ::testing::Values("", "%", "x", "abc", "nan", "NaN%", "inf", "-inf",
                                           "infinity", "1e3", "1e3%", "0x10", "150%%", "15 0",
                                           " 150", "150 ", "--5%", "+-5", "5%x", "1,5", "١٥٠",
                                           "１５０", "5-", "%5",
                                           "99999999999999999999999999999999999999999999999"
                                           "99999999999999999999999999999999999999999999999"
                                           "99999999999999999999999999999999999999999999999"
                                           "99999999999999999999999999999999999999999999999"
                                           "99999999999999999999999999999999999999999999999"
                                           "99999999999999999999999999999999999999999999999"
                                           "99999999999999999999999999999999999999999999999"));

TEST(FormatPercent, RoundsToWholeOrOneDecimalAndMarksNonNumbers) {
    EXPECT_EQ(formatPercent(1.5), "150%");
    EXPECT_EQ(formatPercent(0.0), "0%");
    EXPECT_EQ(formatPercent(4.0), "400%");
    EXPECT_EQ(formatPercent(0.333), "33.3%");
    EXPECT_EQ(formatPercent(1.0004), "100%");
    EXPECT_EQ(formatPercent(std::nan("")), "?");
    EXPECT_EQ(formatPercent(-HUGE_VAL), "?");
}

} // namespace
} // namespace corvalle
