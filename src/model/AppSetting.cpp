#include "AppSetting.h"

#include "MixerModel.h"

namespace corvalle {

double AppSetting::appliedVolume() const {
    if (std::isnan(volume) || volume <= 0.0) {
        return 0.0;
    }
    return volume >= MixerModel::maxVolume ? MixerModel::maxVolume : volume;
}

float AppSetting::effectiveGain() const {
    return muted ? 0.0F : static_cast<float>(appliedVolume());
}

} // namespace corvalle
