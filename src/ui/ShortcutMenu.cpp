#include "ShortcutMenu.h"

#include "MixerModel.h"

#include <QCoreApplication>
#include <QMenu>

namespace corvalle::ui {

// The texts are translated where they stand: lupdate finds only literal ones.
void addShortcutAction(QMenu& menu, MixerModel& model, const QString& appID) {
    QAction* choice = menu.addAction(
        QCoreApplication::translate("corvalle::ui::ShortcutMenu", "Shortcuts for This App"));
    choice->setObjectName(QStringLiteral("hasShortcuts"));
    choice->setCheckable(true);
    choice->setChecked(model.shortcutKeys().contains(appID));
    choice->setToolTip(QCoreApplication::translate(
        "corvalle::ui::ShortcutMenu",
        "Keys to raise, lower and mute it; the desktop's shortcut settings bind them."));
    QObject::connect(choice, &QAction::triggered, &model,
                     [&model, appID](bool on) { model.setHasShortcuts(on, appID); });
}

} // namespace corvalle::ui
