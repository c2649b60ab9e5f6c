// Reading a stream's Props as the server passes them on from its client, which
// may send anything, and the soft volumes built from them.
#include "StreamVolume.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <spa/param/props.h>
#include <spa/pod/builder.h>

namespace corvalle::pw {
namespace {

TEST(StreamVolumeTest, ReadsTheOwnAndSoftPartsAndBuildsTheSoftPartBack) {
    std::uint8_t buffer[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    const float channels[] = {0.8F, 0.4F};
    const float soft[] = {1.0F, 1.0F};
    const auto* props = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Props, SPA_PARAM_Props, SPA_PROP_volume, SPA_POD_Float(0.9F),
        SPA_PROP_mute, SPA_POD_Bool(true), SPA_PROP_channelVolumes,
        SPA_POD_Array(sizeof(float), SPA_TYPE_Float, 2, channels), SPA_PROP_softVolumes,
        SPA_POD_Array(sizeof(float), SPA_TYPE_Float, 2, soft)));
    const auto volume = readStreamVolume(props);
    ASSERT_TRUE(volume.has_value());
    EXPECT_FLOAT_EQ(volume->volume, 0.9F);
    EXPECT_TRUE(volume->mute);
    EXPECT_EQ(volume->channelVolumes, (std::vector<float>{0.8F, 0.4F}));
    EXPECT_TRUE(volume->isSoftUntouched());
    EXPECT_FALSE(volume->isSoftAt(1.0F)) << "soft mute is off, own mute on";

    std::uint8_t out[kSoftVolumesPodSize];
    spa_pod_builder outBuilder = SPA_POD_BUILDER_INIT(out, sizeof(out));
    const auto back = readStreamVolume(buildSoftVolumes(outBuilder, *volume, 0.5F));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->softVolumes, (std::vector<float>{0.4F, 0.2F}));
    EXPECT_TRUE(back->softMute) << "a muted stream stays muted while held";

    // Its own part, which is what others store, is never part of what we set.
    EXPECT_TRUE(back->channelVolumes.empty());
    EXPECT_EQ(buildSoftVolumes(outBuilder, StreamVolume{}, 0.5F), nullptr);
}

TEST(StreamVolumeTest, OddPropsReadSafely) {
    std::uint8_t buffer[4096];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    std::vector<float> many(100, 0.5F);
    many[1] = std::numeric_limits<float>::quiet_NaN();
    many[2] = std::numeric_limits<float>::infinity();
    const double wide[] = {0.5, 0.5};
    const auto* props = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Props, SPA_PARAM_Props, SPA_PROP_volume,
        SPA_POD_Float(std::numeric_limits<float>::quiet_NaN()), SPA_PROP_channelVolumes,
        SPA_POD_Array(sizeof(float), SPA_TYPE_Float, 100, many.data()), SPA_PROP_softVolumes,
        SPA_POD_Array(sizeof(double), SPA_TYPE_Float, 2, wide)));
    const auto volume = readStreamVolume(props);
    ASSERT_TRUE(volume.has_value());
    EXPECT_EQ(volume->volume, 0.0F);
    ASSERT_EQ(volume->channelVolumes.size(), 64U) << "cut at what a format carries";
    EXPECT_EQ(volume->channelVolumes[1], 0.0F);
    EXPECT_EQ(volume->channelVolumes[2], 0.0F);
    EXPECT_TRUE(volume->softVolumes.empty()) << "elements that are not floats are not read";

    const auto* notProps = static_cast<const spa_pod*>(
        spa_pod_builder_add_object(&builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_Format));
    EXPECT_FALSE(readStreamVolume(notProps).has_value());
    EXPECT_FALSE(readStreamVolume(nullptr).has_value());
}

} // namespace
} // namespace corvalle::pw
