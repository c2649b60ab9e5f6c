// Setting changes: the volume, mute, output or reset asked for an application,
// running or only installed. Each change is saved and then reconciled.
#include "AppDirectory.h"
#include "MixerModel.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace corvalle {

AppSetting MixerModel::setting(const QString& key) const {
    const auto it = settings_.find(key);
    return it == settings_.end() ? AppSetting{} : it->second;
}

std::optional<QString> MixerModel::nameOf(const QString& key) const {
    if (const auto row = std::ranges::find(apps_, key, &AudioApp::id); row != apps_.end()) {
        return row->name;
    }
    if (const auto stored = settings_.find(key); stored != settings_.end()) {
        return stored->second.name;
    }
    // An installed application set before it ever ran is remembered by the name
    // its menu entry gives it.
    if (const auto installed = installedApplication(key)) {
        return installed->displayName;
    }
    return std::nullopt;
}

void MixerModel::update(const AppSetting& setting, const QString& key) {
    const std::optional<QString> name = nameOf(key);
    const bool isRow = std::ranges::find(apps_, key, &AudioApp::id) != apps_.end();

    const std::uint64_t revisionBefore = settingsRevision_;
    if (setting.isDefault()) {
        const std::size_t erased = settings_.erase(key);
        settingsRevision_ += erased;
        settingRowsRevision_ += erased;
    } else {
        // Members written by a newer version or another tool stay with the entry.
        QByteArray otherMembers;
        if (const auto stored = settings_.find(key); stored != settings_.end()) {
            otherMembers = stored->second.otherMembers;
        }
        AppSetting updated = setting;
        updated.name = name;
        updated.otherMembers = std::move(otherMembers);
        if (const auto stored = settings_.find(key);
            stored == settings_.end() || stored->second != updated) {
            // Rows of settings alone show the keys and their names, nothing else.
            if (stored == settings_.end() || stored->second.name != updated.name) {
                ++settingRowsRevision_;
            }
            settings_.insert_or_assign(key, std::move(updated));
            ++settingsRevision_;
        }
    }
    if (settingsRevision_ != revisionBefore) {
        noteSettingChange(key);
    }
    emit settingsChanged();
    saveSettings();
    reconcile();
    if (!isRow && settings_.contains(key)) {
        // A setting made for an application that has no row yet (one that is
        // installed but not running) is shown as a setting-only row right away,
        // not at the next tick.
        postRefresh();
    }
}

void MixerModel::noteSettingChange(const QString& key) {
    settingChanges_.emplace_back(settingsRevision_, key);
    if (settingChanges_.size() > kSettingChangesKept) {
        settingChangesFrom_ = settingChanges_.front().first;
        settingChanges_.pop_front();
    }
}

std::optional<std::set<QString>> MixerModel::settingsChangedSince(std::uint64_t revision) const {
    if (revision < settingChangesFrom_ || revision > settingsRevision_) {
        return std::nullopt;
    }
    std::set<QString> keys;
    for (const auto& [changedAt, key] : settingChanges_) {
        if (changedAt > revision) {
            keys.insert(key);
        }
    }
    return keys;
}

std::optional<InstalledApplication> MixerModel::installedApplication(const QString& key) const {
    if (env_.directory == nullptr || key.isEmpty() ||
        key.startsWith(QLatin1String(kProgramKeyPrefix)) ||
        key.startsWith(QLatin1String(kPIDKeyPrefix))) {
        return std::nullopt;
    }
    return env_.directory->installedApplication(key);
}

std::vector<std::pair<QString, InstalledApplication>> MixerModel::installedApplications() const {
    if (env_.directory == nullptr) {
        return {};
    }
    return env_.directory->installedApplications();
}

void MixerModel::setVolume(double volume, const QString& key) {
    // A NaN request carries no level at all; it must neither reach a tap nor be
    // stored, where it would make the whole stored value unreadable.
    if (std::isnan(volume)) {
        return;
    }
    AppSetting changed = setting(key);
    changed.volume = Volume::clamped(volume);
    update(changed, key);
}

void MixerModel::toggleMute(const QString& key) {
    AppSetting changed = setting(key);
    changed.muted = !changed.muted;
    update(changed, key);
}

void MixerModel::setOutput(const std::optional<QString>& outputUID, const QString& key) {
    AppSetting changed = setting(key);
    changed.output = outputUID;
    if (changed.output && changed.output->isEmpty()) {
        changed.output.reset();
    }
    if (const auto heard = heardOutputUID(changed)) {
        changed.switchLevelTo(*heard);
    }
    update(changed, key);
}

void MixerModel::setLowersOthers(bool on, const QString& key) {
    AppSetting changed = setting(key);
    changed.lowersOthers = on;
    update(changed, key);
}

void MixerModel::reset(const QString& key) {
    setHasShortcuts(false, key);
    update(AppSetting{}, key);
}

} // namespace corvalle
