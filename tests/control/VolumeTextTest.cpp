#include "VolumeText.h"

#include <gtest/gtest.h>

namespace corvalle {
namespace {

TEST(VolumeText, ReadsPercentFactorsAndChangesAndRefusesAnythingElse) {
    const struct {
        const char* text;
        double volume;
        bool relative;
    } accepted[] = {{"150%", 1.5, false},    {"150", 1.5, false},    {"0", 0.0, false},
                    {"33.5%", 0.335, false}, {"1.5x", 1.5, false},   {"+5%", 0.05, true},
                    {"-5%", -0.05, true},    {"+0.25x", 0.25, true}, {"500%", 5.0, false}};
    for (const auto& [text, volume, relative] : accepted) {
        const auto parsed = parseVolumeText(QString::fromUtf8(text));
        ASSERT_TRUE(parsed) << text;
        EXPECT_DOUBLE_EQ(parsed->volume, volume) << text;
        EXPECT_EQ(parsed->relative, relative) << text;
    }
    const std::string tooLarge(400, '9'); // beyond any double
    for (const char* text : {"", "%", "abc", "nan", "NaN%", "inf", "-inf", "1e3", "0x10", "150%%",
                             " 150", "--5%", "+-5", "1,5", "١٥٠", "5-", tooLarge.c_str()}) {
        EXPECT_FALSE(parseVolumeText(QString::fromUtf8(text))) << text;
    }
}

} // namespace
} // namespace corvalle
