#include "LevelText.h"

#include "Volume.h"

#include <QCoreApplication>
#include <cmath>

namespace corvalle::ui {

int levelPercent(double volume) {
    return static_cast<int>(std::lround(Volume::clamped(volume) * 100.0));
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

} // namespace corvalle::ui
