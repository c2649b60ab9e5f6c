#pragma once

#include "AppSetting.h"

#include <QString>

namespace corvalle::ui {

// The volume as a whole percentage, half away from zero (1.25 gives 125,
// 0.125 gives 13). A stored volume outside 0 to 4 is shown as the 0 or 400
// that is actually applied; NaN shows as 0.
int levelPercent(double volume);

// What the row's level text says: "Muted", or the percentage and "%".
QString levelText(const AppSetting& setting);

// Whether the level is drawn in orange: louder than the application's own level
// and not muted.
bool isBoosted(const AppSetting& setting);

} // namespace corvalle::ui
