#pragma once

#include <QString>

class QMenu;

namespace corvalle {

class MixerModel;

namespace ui {

// Adds to a row's menu the checkable "Shortcuts for This App" (object name
// "hasShortcuts"): whether the application `appID` gets keyboard shortcuts of
// its own to raise, lower and mute it, whose keys the desktop's settings bind.
void addShortcutAction(QMenu& menu, MixerModel& model, const QString& appID);

} // namespace ui
} // namespace corvalle
