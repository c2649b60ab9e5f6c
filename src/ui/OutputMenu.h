#pragma once

#include <QString>

class QMenu;
class QWidget;

namespace corvalle {

class MixerModel;

namespace ui {

// The menu of a row that chooses where its application plays: "Default Output"
// (where the application or the system sends it), then every output device. The
// current choice is checked; a chosen device that is away is listed, checked and
// disabled, so the choice can be seen and changed. Choosing calls the model.
// Its object name is "outputMenu"; each action's data is the device UID ("" for
// the default). Last, the checkable "Remember a level for each output" (object
// name "levelPerOutput").
QMenu* makeOutputMenu(MixerModel& model, const QString& appID, const QString& appName,
                      QWidget* parent);

} // namespace ui
} // namespace corvalle
