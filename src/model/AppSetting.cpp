#include "AppSetting.h"

#include "MixerModel.h"

namespace corvalle {

float AppSetting::effectiveGain() const {
    if (muted || std::isnan(volume) || volume <= 0.0) {
        return 0.0F;
    }
    if (volume >= MixerModel::maxVolume) {
        return static_cast<float>(MixerModel::maxVolume);
    }
    return static_cast<float>(volume);
}

} // namespace corvalle
