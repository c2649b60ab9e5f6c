#include "LevelText.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace corvalle::ui {
namespace {

TEST(LevelText, PercentagesAndColours) {
    struct Case {
        double volume;
        bool muted;
        const char* text;
        bool boosted;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const Case c : {
             Case{1.0, false, "100%", false},
             Case{1.004, false, "100%", true}, // louder than 1.0, yet shown as 100 %
             Case{1.006, false, "101%", true},
             Case{0.125, false, "13%", false}, // a half goes away from zero
             Case{0.005, false, "1%", false},
             Case{0.0049, false, "0%", false},
             Case{0.0, false, "0%", false},
             Case{4.0, false, "400%", true},
             Case{2.0, true, "Muted", false},
             Case{1.0, true, "Muted", false},
             Case{7.5, false, "400%", true}, // a corrupt stored value shows what is applied
             Case{-2.0, false, "0%", false},
             Case{nan, false, "0%", false},
         }) {
        const AppSetting setting{c.volume, c.muted, std::nullopt};
        EXPECT_EQ(levelText(setting), QString::fromLatin1(c.text)) << c.volume << " " << c.muted;
        EXPECT_EQ(isBoosted(setting), c.boosted) << c.volume << " " << c.muted;
    }
}

TEST(LevelText, SliderReachesEveryWholePercentAndTheDefaultBand) {
    for (int percent = 0; percent <= 400; ++percent) {
        const double volume = percent / 100.0;
        EXPECT_EQ(levelPercent(volumeAtSliderPosition(sliderPosition(volume))), percent);
    }
    // Positions just inside and just outside the band around 1.0.
    EXPECT_TRUE((AppSetting{volumeAtSliderPosition(1004), false, {}}.isDefault()));
    EXPECT_TRUE((AppSetting{volumeAtSliderPosition(996), false, {}}.isDefault()));
    EXPECT_FALSE((AppSetting{volumeAtSliderPosition(1006), false, {}}.isDefault()));
    EXPECT_FALSE((AppSetting{volumeAtSliderPosition(994), false, {}}.isDefault()));
    EXPECT_EQ(sliderPosition(4.0), 4000);
    EXPECT_EQ(sliderPosition(99.0), 4000);
    EXPECT_EQ(sliderPosition(std::numeric_limits<double>::quiet_NaN()), 0);
}

} // namespace
} // namespace corvalle::ui
