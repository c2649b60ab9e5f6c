#pragma once

#include <QString>

class QMenu;

namespace corvalle {

class MixerModel;

namespace ui {

// Adds to a row's menu what lowers the others during a call: the checkable
// "Lower Others While It Plays" of the application `appID` (object name
// "lowersOthers"), and the submenu "Others Go To" (object name
// "loweredLevelMenu") of the one level every call lowers the others to, the
// current one checked; each level action's data is the level, from 0 to 1.
void addLoweringActions(QMenu& menu, MixerModel& model, const QString& appID);

} // namespace ui
} // namespace corvalle
