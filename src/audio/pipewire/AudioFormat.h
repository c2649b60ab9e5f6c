#pragma once

// The audio formats our streams, the test player and the test recorders offer:
// F32 interleaved in a given channel layout, stereo unless told otherwise.
#include <cstdint>
#include <spa/param/audio/format-utils.h>
#include <vector>

namespace corvalle::pw {

// SPA_AUDIO_CHANNEL_* positions, in the order of the interleaved samples.
using ChannelLayout = std::vector<std::uint32_t>;

inline const ChannelLayout& stereoLayout() {
    static const ChannelLayout layout{SPA_AUDIO_CHANNEL_FL, SPA_AUDIO_CHANNEL_FR};
    return layout;
}

// F32 in `layout` (at most SPA_AUDIO_MAX_CHANNELS channels; stereo when empty or
// longer), at `rate`; a rate of 0 leaves it to the graph.
inline const spa_pod* audioFormat(spa_pod_builder* builder, const ChannelLayout& layout,
                                  std::uint32_t rate = 0) {
    const ChannelLayout& used =
        layout.empty() || layout.size() > SPA_AUDIO_MAX_CHANNELS ? stereoLayout() : layout;
    spa_audio_info_raw info{};
    info.format = SPA_AUDIO_FORMAT_F32;
    info.channels = static_cast<std::uint32_t>(used.size());
    info.rate = rate;
    for (std::size_t i = 0; i < used.size(); ++i) {
        info.position[i] = used[i];
    }
    return spa_format_audio_raw_build(builder, SPA_PARAM_EnumFormat, &info);
}

inline const spa_pod* stereoFormat(spa_pod_builder* builder, std::uint32_t rate = 0) {
    return audioFormat(builder, stereoLayout(), rate);
}

} // namespace corvalle::pw
