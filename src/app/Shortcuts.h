#pragma once

#include "GlobalShortcuts.h"
#include "LevelNotice.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <optional>
#include <sys/types.h>

namespace corvalle {

class MixerModel;

// The keyboard shortcuts: raise, lower and mute the focused application, and
// the same for each application chosen in its row's menu. Declares them through
// the desktop's portal whenever the choice changes, runs what a pressed key
// asks on the model, and confirms each change in a notice; noticed() carries
// the same text for the tray icon. The model must outlive it.
class Shortcuts final : public QObject {
    Q_OBJECT

public:
    enum class Action { raise, lower, mute };

    // `focusedPID` tells the process of the focused window, or nothing where
    // that cannot be known.
    Shortcuts(MixerModel& model, const QDBusConnection& bus,
              std::function<std::optional<pid_t>()> focusedPID, QObject* parent = nullptr);

    // The id declared for `action` of the application `key`, or of the focused
    // application without one: what the desktop remembers the bound key by, so
    // the same for every run. Keys are percent-encoded into it.
    static QString shortcutID(Action action, const std::optional<QString>& key);

    // Does what the shortcut `id` asks; an id not declared now does nothing.
    void run(const QString& id);

    const GlobalShortcuts& portal() const { return portal_; }

signals:
    // A key changed a level, or could not: the text that says so, in one line.
    void noticed(const QString& text);

private:
    struct Target {
        Action action = Action::raise;
        std::optional<QString> key; // none: the focused application
    };

    void declare();
    void act(Action action, const QString& key);
    std::optional<QString> focusedKey();
    // Shows the notice and hands `line`, the same in one line, to noticed().
    void tell(const QString& summary, const QString& body, const QString& line);
    QString nameOf(const QString& key) const;

    MixerModel& model_;
    std::function<std::optional<pid_t>()> focusedPID_;
    GlobalShortcuts portal_;
    LevelNotice notice_;
    std::map<QString, Target> declared_;
    bool toldUnknownFocus_ = false;
};

} // namespace corvalle
