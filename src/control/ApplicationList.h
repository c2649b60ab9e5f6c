#pragma once

#include "MixerBusTypes.h"

#include <optional>
#include <vector>

namespace corvalle {

class MixerModel;

// Every application the control interface can address: the model's rows in the
// panel's order, then the remembered settings that have no row (for example a
// "pid:" key whose process has ended), in key order.
std::vector<ApplicationState> applicationStates(const MixerModel& model);

// Only the first part of that: the model's rows.
std::vector<ApplicationState> listedApplicationStates(const MixerModel& model);

// The application with `key`, or nothing when it is neither a row, nor
// remembered, nor an installed application's desktop file id (which can be set
// before the application ever runs).
std::optional<ApplicationState> applicationState(const MixerModel& model, const QString& key);

// Every installed application a menu shows, at the default setting, by desktop
// file id; whether it runs or is remembered is not looked at.
std::vector<ApplicationState> installedApplicationStates(const MixerModel& model);

} // namespace corvalle
