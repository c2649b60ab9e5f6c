// A level for each output device: an application opted in plays, on each device
// it is heard on, at the volume and mute last set while it was heard there.
#include "MixerModel.h"

#include <algorithm>

namespace corvalle {

bool AppSetting::switchLevelTo(const QString& outputUID) {
    if (!levelPerOutput || levelOutput == outputUID) {
        return false;
    }
    if (levelOutput) {
        outputLevels.insert_or_assign(*levelOutput, OutputLevel{volume, muted});
    }
    if (const auto known = outputLevels.find(outputUID); known != outputLevels.end()) {
        volume = known->second.volume;
        muted = known->second.muted;
        outputLevels.erase(known);
    }
    levelOutput = outputUID;
    return true;
}

std::optional<QString> MixerModel::heardOutputUID(const AppSetting& setting) const {
    const auto present = [this](const QString& uid) {
        return std::ranges::any_of(outputDevices_,
                                   [&](const OutputDevice& device) { return device.uid == uid; });
    };
    // Where reconcile() sends it: the chosen device while it is there, else the default.
    if (setting.output && present(*setting.output)) {
        return setting.output;
    }
    const auto device = std::ranges::find(outputDevices_, outputID_, &OutputDevice::id);
    if (device == outputDevices_.end() || device->uid.isEmpty()) {
        return std::nullopt;
    }
    return device->uid;
}

void MixerModel::followOutputs() {
    // Only a change of the default or of the devices present moves a level;
    // choosing an output or opting in follows at once where it is asked.
    const auto device = std::ranges::find(outputDevices_, outputID_, &OutputDevice::id);
    const QString defaultUID = device == outputDevices_.end() ? QString() : device->uid;
    const bool followed =
        followedOutputs_.size() == outputDevices_.size() + 1 && followedOutputs_[0] == defaultUID &&
        std::equal(
            outputDevices_.begin(), outputDevices_.end(), followedOutputs_.begin() + 1,
            [](const OutputDevice& present, const QString& uid) { return present.uid == uid; });
    if (followed) {
        return;
    }
    followedOutputs_.clear();
    followedOutputs_.push_back(defaultUID);
    for (const OutputDevice& present : outputDevices_) {
        followedOutputs_.push_back(present.uid);
    }

    bool changed = false;
    for (auto& [key, setting] : settings_) {
        if (!setting.levelPerOutput) {
            continue;
        }
        if (const auto uid = heardOutputUID(setting); uid && setting.switchLevelTo(*uid)) {
            ++settingsRevision_;
            noteSettingChange(key);
            changed = true;
        }
    }
    if (changed) {
        emit settingsChanged();
        saveSettings();
    }
}

void MixerModel::setLevelPerOutput(bool on, const QString& key) {
    AppSetting changed = setting(key);
    if (changed.levelPerOutput != on) {
        changed.levelPerOutput = on;
        changed.outputLevels.clear();
        changed.levelOutput = on ? heardOutputUID(changed) : std::nullopt;
    }
    update(changed, key);
}

} // namespace corvalle
