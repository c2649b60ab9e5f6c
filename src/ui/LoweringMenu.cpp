#include "LoweringMenu.h"

#include "LevelText.h"
#include "MixerModel.h"

#include <QActionGroup>
#include <QCoreApplication>
#include <QMenu>
#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace corvalle::ui {

// The texts are translated where they stand: lupdate finds only literal ones.
void addLoweringActions(QMenu& menu, MixerModel& model, const QString& appID) {
    menu.addSeparator();
    QAction* mark = menu.addAction(
        QCoreApplication::translate("corvalle::ui::LoweringMenu", "Lower Others While It Plays"));
    mark->setObjectName(QStringLiteral("lowersOthers"));
    mark->setCheckable(true);
    mark->setChecked(model.setting(appID).lowersOthers);
    mark->setToolTip(QCoreApplication::translate(
        "corvalle::ui::LoweringMenu", "While it plays, as in a call, every other application is "
                                      "lowered; short sounds lower nothing."));
    QObject::connect(mark, &QAction::triggered, &model,
                     [&model, appID](bool on) { model.setLowersOthers(on, appID); });

    QMenu* levels =
        menu.addMenu(QCoreApplication::translate("corvalle::ui::LoweringMenu", "Others Go To"));
    levels->setObjectName(QStringLiteral("loweredLevelMenu"));
    auto* group = new QActionGroup(levels);
    // A level set another way (the command line, a hand-edited file) is listed too.
    const int current = levelPercent(model.loweredLevel());
    std::vector<int> percents{0, 10, 20, 30, 50, 70};
    if (std::ranges::find(percents, current) == percents.end()) {
        percents.insert(std::ranges::upper_bound(percents, current), current);
    }
    for (const int percent : percents) {
        AppSetting shown;
        shown.volume = percent / 100.0;
        QAction* action = levels->addAction(levelText(shown));
        action->setCheckable(true);
        action->setChecked(percent == current);
        action->setData(shown.volume);
        group->addAction(action);
        QObject::connect(action, &QAction::triggered, &model,
                         [&model, level = shown.volume] { model.setLoweredLevel(level); });
    }
}

} // namespace corvalle::ui
