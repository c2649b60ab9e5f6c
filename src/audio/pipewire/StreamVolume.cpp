#include "StreamVolume.h"

#include <algorithm>
#include <cmath>
#include <spa/param/audio/raw.h>
#include <spa/param/props.h>
#include <spa/pod/builder.h>
#include <spa/pod/iter.h>

namespace corvalle::pw {
namespace {

std::vector<float> readFloats(const spa_pod* value) {
    // The element size is checked too: a pod that claims floats of another
    // size would otherwise be read past its values.
    if (!spa_pod_is_array(value) || SPA_POD_ARRAY_VALUE_TYPE(value) != SPA_TYPE_Float ||
        SPA_POD_ARRAY_VALUE_SIZE(value) != sizeof(float)) {
        return {};
    }
    const auto* values = static_cast<const float*>(SPA_POD_ARRAY_VALUES(value));
    const auto count = std::min<std::size_t>(SPA_POD_ARRAY_N_VALUES(value), SPA_AUDIO_MAX_CHANNELS);
    std::vector<float> floats(values, values + count);
    for (float& v : floats) {
        v = std::isfinite(v) ? v : 0.0F;
    }
    return floats;
}

bool sameFloats(const std::vector<float>& a, const std::vector<float>& b) {
    constexpr float kTolerance = 1e-6F;
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](float x, float y) {
               return std::fabs(x - y) <= kTolerance;
           });
}

} // namespace

bool StreamVolume::hasSameOwnPart(const StreamVolume& other) const {
    return volume == other.volume && mute == other.mute &&
           sameFloats(channelVolumes, other.channelVolumes);
}

bool StreamVolume::isSoftAt(float gain) const {
    std::vector<float> wanted = channelVolumes;
    for (float& v : wanted) {
        v *= gain;
    }
    return softMute == mute && sameFloats(softVolumes, wanted);
}

bool StreamVolume::isSoftUntouched() const {
    return !softMute &&
           std::all_of(softVolumes.begin(), softVolumes.end(), [](float v) { return v == 1.0F; });
}

std::optional<StreamVolume> readStreamVolume(const spa_pod* props) {
    if (props == nullptr || !spa_pod_is_object_type(props, SPA_TYPE_OBJECT_Props)) {
        return std::nullopt;
    }
    StreamVolume volume;
    const auto* object = reinterpret_cast<const spa_pod_object*>(props);
    const spa_pod_prop* prop = nullptr;
    SPA_POD_OBJECT_FOREACH(object, prop) {
        switch (prop->key) {
        case SPA_PROP_volume:
            if (spa_pod_get_float(&prop->value, &volume.volume) < 0 ||
                !std::isfinite(volume.volume)) {
                volume.volume = 0.0F;
            }
            break;
        case SPA_PROP_mute:
            spa_pod_get_bool(&prop->value, &volume.mute);
            break;
        case SPA_PROP_channelVolumes:
            volume.channelVolumes = readFloats(&prop->value);
            break;
        case SPA_PROP_softMute:
            spa_pod_get_bool(&prop->value, &volume.softMute);
            break;
        case SPA_PROP_softVolumes:
            volume.softVolumes = readFloats(&prop->value);
            break;
        default:
            break;
        }
    }
    return volume;
}

const spa_pod* buildSoftVolumes(spa_pod_builder& builder, const StreamVolume& volume, float gain) {
    if (volume.channelVolumes.empty()) {
        return nullptr;
    }
    float soft[SPA_AUDIO_MAX_CHANNELS];
    const std::size_t count =
        std::min<std::size_t>(volume.channelVolumes.size(), SPA_AUDIO_MAX_CHANNELS);
    for (std::size_t i = 0; i < count; ++i) {
        soft[i] = volume.channelVolumes[i] * gain;
    }
    return static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Props, SPA_PARAM_Props, SPA_PROP_softMute,
        SPA_POD_Bool(volume.mute), SPA_PROP_softVolumes,
        SPA_POD_Array(sizeof(float), SPA_TYPE_Float, static_cast<std::uint32_t>(count), soft)));
}

} // namespace corvalle::pw
