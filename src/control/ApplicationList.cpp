#include "ApplicationList.h"

#include "MixerModel.h"

#include <algorithm>
#include <unordered_set>

namespace corvalle {

namespace {

// The chosen output, named as the output list names it.
void addOutput(ApplicationState& state, const MixerModel& model, const AppSetting& setting) {
    if (!setting.output) {
        return;
    }
    state.output = *setting.output;
    state.outputName = *setting.output;
    for (const OutputDevice& device : model.outputDevices()) {
        if (device.uid == *setting.output) {
            state.outputName = device.name;
        }
    }
}

ApplicationState stateOfRow(const MixerModel& model, const AudioApp& app) {
    const auto setting = model.setting(app.id);
    ApplicationState state;
    state.key = app.id;
    state.name = app.name;
    state.playing = app.isPlaying;
    state.volume = setting.appliedVolume();
    state.volumeOutOfRange = setting.isVolumeOutOfRange();
    state.muted = setting.muted;
    state.hasProcesses = !app.processObjects.empty();
    state.hasSetting = model.settings().contains(app.id);
    state.listed = true;
    state.lowersOthers = setting.lowersOthers;
    state.levelPerOutput = setting.levelPerOutput;
    state.calling = model.callingKeys().contains(app.id);
    state.lowered = model.loweredKeys().contains(app.id);
    state.shortcuts = model.shortcutKeys().contains(app.id);
    addOutput(state, model, setting);
    return state;
}

ApplicationState stateOfSetting(const QString& key, const AppSetting& setting) {
    ApplicationState state;
    state.key = key;
    state.name = setting.name.value_or(key);
    state.volume = setting.appliedVolume();
    state.volumeOutOfRange = setting.isVolumeOutOfRange();
    state.muted = setting.muted;
    state.lowersOthers = setting.lowersOthers;
    state.levelPerOutput = setting.levelPerOutput;
    state.hasSetting = true;
    return state;
}

// An installed application that is neither running nor remembered: at the
// default, until a change gives it a setting.
ApplicationState stateOfInstalled(const QString& key, const InstalledApplication& installed) {
    ApplicationState state;
    state.key = key;
    state.name = installed.displayName;
    return state;
}

const AudioApp* findRow(const MixerModel& model, const QString& key) {
    const auto& apps = model.apps();
    const auto row =
        std::find_if(apps.begin(), apps.end(), [&](const AudioApp& app) { return app.id == key; });
    return row == apps.end() ? nullptr : &*row;
}

} // namespace

std::vector<ApplicationState> listedApplicationStates(const MixerModel& model) {
    std::vector<ApplicationState> states;
    states.reserve(model.apps().size());
    for (const auto& app : model.apps()) {
        states.push_back(stateOfRow(model, app));
    }
    return states;
}

std::vector<ApplicationState> applicationStates(const MixerModel& model) {
    std::vector<ApplicationState> states = listedApplicationStates(model);
    // Looked up once per setting, and there may be many of them.
    std::unordered_set<QString> listed;
    listed.reserve(model.apps().size());
    for (const auto& app : model.apps()) {
        listed.insert(app.id);
    }
    for (const auto& [key, setting] : model.settings()) {
        if (!listed.contains(key)) {
            states.push_back(stateOfSetting(key, setting));
            states.back().shortcuts = model.shortcutKeys().contains(key);
            addOutput(states.back(), model, setting);
        }
    }
    return states;
}

std::optional<ApplicationState> applicationState(const MixerModel& model, const QString& key) {
    if (const auto* row = findRow(model, key)) {
        return stateOfRow(model, *row);
    }
    const auto& settings = model.settings();
    if (const auto entry = settings.find(key); entry != settings.end()) {
        auto state = stateOfSetting(key, entry->second);
        addOutput(state, model, entry->second);
        state.shortcuts = model.shortcutKeys().contains(key);
        return state;
    }
    std::optional<ApplicationState> state;
    if (const auto installed = model.installedApplication(key)) {
        state = stateOfInstalled(key, *installed);
    } else if (model.shortcutKeys().contains(key)) {
        // Chosen for shortcuts while it ran, at the default setting: still
        // addressable, so that the choice can be taken back.
        state = ApplicationState{};
        state->key = key;
        state->name = key;
    }
    if (state) {
        state->shortcuts = model.shortcutKeys().contains(key);
    }
    return state;
}

std::vector<ApplicationState> installedApplicationStates(const MixerModel& model) {
    std::vector<ApplicationState> states;
    for (const auto& [key, installed] : model.installedApplications()) {
        states.push_back(stateOfInstalled(key, installed));
    }
    return states;
}

} // namespace corvalle
