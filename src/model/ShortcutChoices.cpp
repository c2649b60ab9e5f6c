// Which applications have keyboard shortcuts of their own, and which group a
// process belongs to, for the shortcuts of the focused application. The choice
// is a preference beside the settings, as a JSON array of keys, so that the
// settings' own format stays as it is.
#include "CA.h"
#include "Log.h"
#include "MixerModel.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace corvalle {

namespace {

const QString kShortcutAppsKey = QStringLiteral("shortcutApps");

// The keys of a stored array; anything that is not an array gives none, and
// members that are not keys are passed over.
std::set<QString> readKeys(const QByteArray& text) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    std::set<QString> keys;
    if (error.error != QJsonParseError::NoError || !document.isArray()) {
        qCInfo(lcModel) << "the stored shortcut applications are not a list of keys; none is taken";
        return keys;
    }
    const QJsonArray array = document.array();
    for (const QJsonValue value : array) {
        if (value.isString() && !value.toString().isEmpty()) {
            keys.insert(value.toString());
        }
    }
    return keys;
}

} // namespace

void MixerModel::loadShortcutKeys() {
    const std::optional<QByteArray> stored = storedPreference(kShortcutAppsKey);
    shortcutKeys_ = stored ? readKeys(*stored) : std::set<QString>{};
}

void MixerModel::setHasShortcuts(bool on, const QString& key) {
    if (key.isEmpty() || shortcutKeys_.contains(key) == on) {
        return;
    }
    if (on) {
        shortcutKeys_.insert(key);
    } else {
        shortcutKeys_.erase(key);
    }
    QJsonArray keys;
    for (const QString& each : shortcutKeys_) {
        keys.append(each);
    }
    storePreference(kShortcutAppsKey, QJsonDocument(keys).toJson(QJsonDocument::Compact));
    emit shortcutKeysChanged();
}

std::optional<QString> MixerModel::keyOfProcess(pid_t pid) const {
    if (pid < 1 || pid == ownPID_) {
        return std::nullopt;
    }
    // A window usually belongs to the application's main process, its sound to a
    // helper; both lead to the same responsible process.
    const pid_t responsible = env_.responsiblePID(pid);
    for (const auto& [key, group] : allGroups_) {
        for (const AudioObjectID object : group.processObjects) {
            const pid_t member =
                CA::get<std::int32_t>(*env_.hardware, object, kAudioProcessPropertyPID, -1);
            if (member == pid || member == responsible ||
                (member > 0 && env_.responsiblePID(member) == responsible)) {
                return key;
            }
        }
    }
    return std::nullopt;
}

} // namespace corvalle
