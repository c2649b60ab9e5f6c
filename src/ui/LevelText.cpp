#include "LevelText.h"

#include "MixerModel.h"

#include <QCoreApplication>
#include <algorithm>
#include <cmath>

namespace corvalle::ui {

namespace {

double shownVolume(double volume) {
    if (std::isnan(volume)) {
        return 0.0;
    }
    return std::clamp(volume, 0.0, MixerModel::maxVolume);
}

} // namespace

int levelPercent(double volume) {
    return static_cast<int>(std::lround(shownVolume(volume) * 100.0));
}

QString levelText(const AppSetting& setting) {
    if (setting.muted) {
        return QCoreApplication::translate("corvalle::ui::AppRow", "Muted");
    }
    return QString::number(levelPercent(setting.volume)) + QLatin1Char('%');
}

bool isBoosted(const AppSetting& setting) {
    return !setting.muted && setting.volume > 1.0;
}

int sliderPosition(double volume) {
    return static_cast<int>(std::lround(shownVolume(volume) * kSliderScale));
}

double volumeAtSliderPosition(int position) {
    return static_cast<double>(position) / kSliderScale;
}

} // namespace corvalle::ui
