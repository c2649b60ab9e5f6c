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
    return menu;
}

} // namespace corvalle::ui
