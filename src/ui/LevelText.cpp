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
    // Languages differ in the space before the sign (German writes "150 %").
    return QCoreApplication::translate("corvalle::ui::AppRow", "%1%", "a level in percent")
        .arg(levelPercent(setting.volume));
}

bool isBoosted(const AppSetting& setting) {
    return !setting.muted && setting.volume > 1.0;
}

} // namespace corvalle::ui
