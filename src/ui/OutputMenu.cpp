#include "OutputMenu.h"

#include "MixerModel.h"

#include <QActionGroup>
#include <QCoreApplication>
#include <QMenu>

namespace corvalle::ui {

QMenu* makeOutputMenu(MixerModel& model, const QString& appID, const QString& appName,
                      QWidget* parent) {
    auto* menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("outputMenu"));
    menu->setTitle(
        QCoreApplication::translate("corvalle::ui::OutputMenu", "Play %1 On").arg(appName));
    menu->setAccessibleName(menu->title());
    menu->addSection(menu->title());
    auto* group = new QActionGroup(menu);
    const std::optional<QString> chosen = model.setting(appID).output;

    auto add = [&](const QString& text, const QString& uid, bool enabled) {
        QAction* action = menu->addAction(text);
        action->setCheckable(true);
        action->setChecked(chosen.value_or(QString()) == uid);
        action->setEnabled(enabled);
        action->setData(uid);
        group->addAction(action);
        QObject::connect(action, &QAction::triggered, &model, [&model, appID, uid] {
            model.setOutput(uid.isEmpty() ? std::nullopt : std::optional<QString>(uid), appID);
        });
    };
    add(QCoreApplication::translate("corvalle::ui::OutputMenu", "Default Output"), QString(), true);
    menu->addSeparator();
    bool chosenPresent = false;
    for (const OutputDevice& device : model.outputDevices()) {
        if (device.uid.isEmpty()) {
            continue;
        }
        chosenPresent = chosenPresent || device.uid == chosen;
        add(device.name, device.uid, true);
    }
    if (chosen && !chosenPresent) {
        add(QCoreApplication::translate("corvalle::ui::OutputMenu", "%1 (not connected)")
                .arg(*chosen),
            *chosen, false);
    }

    menu->addSeparator();
    QAction* perOutput = menu->addAction(QCoreApplication::translate(
        "corvalle::ui::OutputMenu", "Remember a level for each output"));
    perOutput->setObjectName(QStringLiteral("levelPerOutput"));
    perOutput->setCheckable(true);
    perOutput->setChecked(model.setting(appID).levelPerOutput);
    perOutput->setToolTip(QCoreApplication::translate(
        "corvalle::ui::OutputMenu", "On each output device it plays at the level last set while "
                                    "it was heard there."));
    QObject::connect(perOutput, &QAction::triggered, &model,
                     [&model, appID](bool on) { model.setLevelPerOutput(on, appID); });
    return menu;
}

} // namespace corvalle::ui
