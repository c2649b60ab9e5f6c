#include "Shortcuts.h"

#include "AppDirectory.h"
#include "DBusNames.h"
#include "LevelText.h"
#include "Log.h"
#include "MixerModel.h"
#include "VolumeSlider.h"

#include <QUrl>
#include <algorithm>
#include <vector>

namespace corvalle {

namespace {

const QString kProgram = QStringLiteral("Corvalle");

const char* actionWord(Shortcuts::Action action) {
    switch (action) {
    case Shortcuts::Action::raise:
        return "raise";
    case Shortcuts::Action::lower:
        return "lower";
    case Shortcuts::Action::mute:
        return "mute";
    }
    return "";
}

constexpr Shortcuts::Action kActions[] = {Shortcuts::Action::raise, Shortcuts::Action::lower,
                                          Shortcuts::Action::mute};

} // namespace

Shortcuts::Shortcuts(MixerModel& model, const QDBusConnection& bus,
                     std::function<std::optional<pid_t>()> focusedPID, QObject* parent)
    : QObject(parent), model_(model), focusedPID_(std::move(focusedPID)),
      // The desktop file is named as the program's bus name.
      portal_(bus, QString::fromLatin1(dbus::kServiceName)),
      notice_(bus, kProgram, QString::fromLatin1(dbus::kServiceName)) {
    connect(&portal_, &GlobalShortcuts::activated, this, &Shortcuts::run);
    connect(&model_, &MixerModel::shortcutKeysChanged, this, &Shortcuts::declare);
    declare();
}

QString Shortcuts::shortcutID(Action action, const std::optional<QString>& key) {
    const QString word = QString::fromLatin1(actionWord(action));
    if (!key) {
        return word + QStringLiteral("-focused");
    }
    // Keys hold slashes, colons and spaces ("exe:/usr/bin/python3 -m pkg").
    return word + QStringLiteral("-app-") + QString::fromLatin1(QUrl::toPercentEncoding(*key));
}

void Shortcuts::declare() {
    declared_.clear();
    std::vector<ShortcutAction> actions;
    const auto add = [&](Action action, const std::optional<QString>& key,
                         const QString& description) {
        const QString id = shortcutID(action, key);
        declared_.insert_or_assign(id, Target{action, key});
        actions.push_back({id, description});
    };
    add(Action::raise, std::nullopt, tr("Raise the volume of the focused application"));
    add(Action::lower, std::nullopt, tr("Lower the volume of the focused application"));
    add(Action::mute, std::nullopt, tr("Mute or unmute the focused application"));
    for (const QString& key : model_.shortcutKeys()) {
        const QString name = nameOf(key);
        for (const Action action : kActions) {
            QString description;
            switch (action) {
            case Action::raise:
                description = tr("Raise the volume of %1").arg(name);
                break;
            case Action::lower:
                description = tr("Lower the volume of %1").arg(name);
                break;
            case Action::mute:
                description = tr("Mute or unmute %1").arg(name);
                break;
            }
            add(action, key, description);
        }
    }
    portal_.declare(actions);
}

void Shortcuts::run(const QString& id) {
    const auto target = declared_.find(id);
    if (target == declared_.end()) {
        qCDebug(lcApp) << "no shortcut has the id" << id;
        return;
    }
    const Target what = target->second;
    if (what.key) {
        act(what.action, *what.key);
    } else if (const std::optional<QString> key = focusedKey()) {
        act(what.action, *key);
    }
}

// A step lands on the wheel's grid; a muted level stays as it is, as its
// slider does, and the notice says why nothing changed.
void Shortcuts::act(Action action, const QString& key) {
    const AppSetting before = model_.setting(key);
    if (action == Action::mute) {
        model_.toggleMute(key);
    } else if (!before.muted) {
        const int percent = ui::levelPercent(before.volume);
        const int stepped =
            ui::VolumeSlider::steppedPercent(percent, action == Action::raise ? 1 : -1);
        if (stepped != percent || before.isVolumeOutOfRange()) {
            model_.setVolume(stepped / 100.0, key);
        }
    }
    const QString name = nameOf(key);
    const QString level = ui::levelText(model_.setting(key));
    tell(name, level, tr("%1: %2", "an application and its level").arg(name, level));
}

std::optional<QString> Shortcuts::focusedKey() {
    const std::optional<pid_t> pid = focusedPID_ ? focusedPID_() : std::nullopt;
    if (!pid) {
        // Said once: on Wayland it stays so for the whole run.
        if (!toldUnknownFocus_) {
            toldUnknownFocus_ = true;
            const QString text = tr("No focused application is known here");
            tell(kProgram, text, text);
        }
        return std::nullopt;
    }
    std::optional<QString> key = model_.keyOfProcess(*pid);
    if (!key) {
        const QString text = tr("The focused application plays no sound");
        tell(kProgram, text, text);
    }
    return key;
}

void Shortcuts::tell(const QString& summary, const QString& body, const QString& line) {
    notice_.show(summary, body);
    emit noticed(line);
}

QString Shortcuts::nameOf(const QString& key) const {
    if (const std::optional<QString> name = model_.nameOf(key)) {
        return *name;
    }
    if (key.startsWith(QLatin1String(kProgramKeyPrefix))) {
        return key.section(QLatin1Char('/'), -1);
    }
    return key;
}

} // namespace corvalle
