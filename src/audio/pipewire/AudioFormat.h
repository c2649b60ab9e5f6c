#pragma once

// The one audio format our streams, the test player and the test recorders offer.
#include <cstdint>
#include <spa/param/audio/format-utils.h>

namespace corvalle::pw {

inline constexpr std::uint32_t kStereoChannels = 2;

// F32 stereo, FL FR, at `rate`; a rate of 0 leaves it to the graph.
inline const spa_pod* stereoFormat(spa_pod_builder* builder, std::uint32_t rate = 0) {
    spa_audio_info_raw info{};
    info.format = SPA_AUDIO_FORMAT_F32;
    info.channels = kStereoChannels;
    info.rate = rate;
    info.position[0] = SPA_AUDIO_CHANNEL_FL;
    info.position[1] = SPA_AUDIO_CHANNEL_FR;
    return spa_format_audio_raw_build(builder, SPA_PARAM_EnumFormat, &info);
}

} // namespace corvalle::pw
