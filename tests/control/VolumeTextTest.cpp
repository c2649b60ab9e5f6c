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
                      ParseCase{"0", 0.0, false}, ParseCase{"33.5%", 0.335, false},
                      ParseCase{"1.5x", 1.5, false}, ParseCase{"+5%", 0.05, true},
                      ParseCase{"-5%", -0.05, true}, ParseCase{"+0.25x", 0.25, true},
                      ParseCase{"500%", 5.0, false}));

const std::string kTooLarge(400, '9'); // beyond any double

class VolumeTextReject : public ::testing::TestWithParam<const char*> {};

TEST_P(VolumeTextReject, RefusesAnythingElse) {
    EXPECT_FALSE(parseVolumeText(QString::fromUtf8(GetParam()))) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Refused, VolumeTextReject,
                         ::testing::Values("", "%", "abc", "nan", "NaN%", "inf", "-inf", "1e3",
                                           "0x10", "150%%", " 150", "--5%", "+-5", "1,5", "١٥٠",
                                           "5-", kTooLarge.c_str()));

} // namespace
} // namespace corvalle
