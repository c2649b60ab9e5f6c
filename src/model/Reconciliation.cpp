#include "AppDirectory.h"
#include "AppTap.h"
#include "CA.h"
#include "CAError.h"
#include "Log.h"
#include "MixerModel.h"
#include "SettingsCodec.h"
#include "SettingsStore.h"

#include <QPointer>
#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <set>
#include <utility>

namespace corvalle {

namespace {

// Where unreadable stored settings are kept before the first save replaces them.
const QString kUnreadableSuffix = QStringLiteral(".unreadable");

bool sameProcessSet(std::vector<AudioObjectID> a, std::vector<AudioObjectID> b) {
    std::sort(a.begin(), a.end());
    a.erase(std::unique(a.begin(), a.end()), a.end());
    std::sort(b.begin(), b.end());
    b.erase(std::unique(b.begin(), b.end()), b.end());
    return a == b;
}

} // namespace

AppSetting MixerModel::setting(const QString& key) const {
    const auto it = settings_.find(key);
    return it == settings_.end() ? AppSetting{} : it->second;
}

void MixerModel::loadSettings() {
    if (env_.store == nullptr) {
        return;
    }
    const std::optional<QByteArray> bytes = env_.store->data(defaultsKey_);
    if (!bytes) {
        // Another kind of value (a plain string written by hand) is not ours to
        // read, but it is the user's: keep it like unreadable bytes.
        unreadableSettings_ = env_.store->foreignData(defaultsKey_);
        return;
    }
    if (auto decoded = SettingsCodec::decode(*bytes)) {
        forgetEndedProcesses(*decoded);
        settings_ = std::move(*decoded);
        ++settingsRevision_;
        emit settingsChanged();
        return;
    }
    unreadableSettings_ = *bytes;
}

// A "pid:" key names one process. Once that process has ended the setting can
// never apply again, and the PID may already belong to another program that must
// not inherit it. The stored text keeps them until the next save.
void MixerModel::forgetEndedProcesses(std::map<QString, AppSetting>& settings) const {
    const QString prefix = QLatin1String(kPIDKeyPrefix);
    auto it = settings.lower_bound(prefix);
    while (it != settings.end() && it->first.startsWith(prefix)) {
        // Only the form discovery writes ("pid:812", not "pid:0812") can ever match.
        const QString digits = it->first.mid(prefix.size());
        bool isNumber = false;
        const qlonglong pid = digits.toLongLong(&isNumber);
        const bool ended = !isNumber || pid < 1 || pid > std::numeric_limits<pid_t>::max() ||
                           QString::number(pid) != digits ||
                           !env_.processExists(static_cast<pid_t>(pid));
        if (ended) {
            qCInfo(lcModel) << "forgetting the setting of ended process" << it->first;
            it = settings.erase(it);
        } else {
            ++it;
        }
    }
}

// Copies a stored value that could not be read to "<key>.unreadable" (or
// ".unreadable.2", ".3", ... when an earlier, different copy is there) so that
// saving over it loses nothing.
StoreWrite MixerModel::keepUnreadableSettings() {
    if (!unreadableSettings_) {
        return {};
    }
    const QString base = defaultsKey_ + kUnreadableSuffix;
    for (int attempt = 1;; ++attempt) {
        const QString key =
            attempt == 1 ? base : base + QLatin1Char('.') + QString::number(attempt);
        const auto kept = env_.store->data(key);
        if (kept == unreadableSettings_) {
            break;
        }
        if (!kept && !env_.store->foreignData(key)) {
            if (StoreWrite write = env_.store->setData(key, *unreadableSettings_); !write.stored) {
                return write;
            }
            break;
        }
    }
    unreadableSettings_.reset();
    return {};
}

void MixerModel::saveSettings() {
    if (env_.store == nullptr) {
        return;
    }
    // The value in the store is replaced only once any unreadable one is safe.
    StoreWrite write = keepUnreadableSettings();
    if (write.stored) {
        write = env_.store->setData(defaultsKey_, SettingsCodec::encode(settings_));
    }
    const std::optional<QString> previous = std::exchange(saveFailure_, std::nullopt);
    if (write.stored) {
        if (previous && lastError_ == previous) {
            lastError_ = std::nullopt;
            emit lastErrorChanged();
        }
        return;
    }
    saveFailure_ = tr("Settings could not be saved: %1. Changes apply until Corvalle quits.")
                       .arg(write.failure);
    lastError_ = saveFailure_;
    emit lastErrorChanged();
}

void MixerModel::update(const AppSetting& setting, const QString& key) {
    std::optional<QString> name;
    const auto row = std::ranges::find(apps_, key, &AudioApp::id);
    const bool isRow = row != apps_.end();
    if (isRow) {
        name = row->name;
    } else if (const auto stored = settings_.find(key); stored != settings_.end()) {
        name = stored->second.name;
    } else if (const auto installed = installedApplication(key)) {
        // An installed application set before it ever ran is remembered by the
        // name its menu entry gives it.
        name = installed->displayName;
    }

    if (setting.isDefault()) {
        settingsRevision_ += settings_.erase(key);
    } else {
        // Members written by a newer version or another tool stay with the entry.
        QByteArray otherMembers;
        if (const auto stored = settings_.find(key); stored != settings_.end()) {
            otherMembers = stored->second.otherMembers;
        }
        AppSetting updated{setting.volume, setting.muted, name, std::move(otherMembers),
                           setting.output};
        if (const auto stored = settings_.find(key);
            stored == settings_.end() || stored->second != updated) {
            settings_.insert_or_assign(key, std::move(updated));
            ++settingsRevision_;
        }
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
    const AppSetting current = setting(key);
    update(AppSetting{Volume::clamped(volume), current.muted, std::nullopt, {}, current.output},
           key);
}

void MixerModel::toggleMute(const QString& key) {
    const AppSetting current = setting(key);
    update(AppSetting{current.volume, !current.muted, std::nullopt, {}, current.output}, key);
}

void MixerModel::setOutput(const std::optional<QString>& outputUID, const QString& key) {
    const AppSetting current = setting(key);
    std::optional<QString> output = outputUID;
    if (output && output->isEmpty()) {
        output.reset();
    }
    update(AppSetting{current.volume, current.muted, std::nullopt, {}, output}, key);
}

void MixerModel::reset(const QString& key) {
    update(AppSetting{}, key);
}

void MixerModel::stopAll() {
    for (auto& [key, tap] : taps_) {
        tap->stop();
    }
    taps_.clear();
}

void MixerModel::reconcile() {
    sendUntappedStreams();
    AudioHardware& hardware = *env_.hardware;
    const std::optional<std::string> outputUID =
        CA::deviceUID(hardware, CA::defaultOutputDevice(hardware));
    if (!outputUID) {
        return;
    }

    // The output a group's tap plays to. With an output chosen for it, every stream
    // goes there, or to the default output while that device is away (as untapped
    // streams sent there do). Without, the default output, and each stream that
    // chose an output of its own is heard there.
    // Read only when a tapped group has an output of its own.
    std::optional<std::set<std::string>> present;
    auto isPresent = [&](const std::string& uid) {
        if (!present) {
            present.emplace();
            for (const AudioObjectID device : CA::outputDevices(hardware)) {
                if (auto deviceUID = CA::deviceUID(hardware, device)) {
                    present->insert(std::move(*deviceUID));
                }
            }
        }
        return present->contains(uid);
    };
    auto tapOutput = [&](const AppSetting& current) -> std::pair<std::string, bool> {
        if (!current.output) {
            return {*outputUID, false};
        }
        const std::string chosen = current.output->toStdString();
        return {isPresent(chosen) ? chosen : *outputUID, true};
    };

    std::erase_if(taps_, [&](auto& entry) {
        auto& [key, tap] = entry;
        const auto group = allGroups_.find(key);
        const AppSetting current = setting(key);
        const bool keep =
            group != allGroups_.end() && current.needsTap() &&
            std::pair(tap->outputUID(), tap->overridesStreamOutputs()) == tapOutput(current) &&
            sameProcessSet(tap->processObjects(), group->second.processObjects);
        if (!keep) {
            qCDebug(lcModel) << "stopping the tap of" << key;
            tap->stop();
        }
        return !keep;
    });

    for (const auto& [key, group] : allGroups_) {
        const AppSetting current = setting(key);
        if (!current.needsTap()) {
            continue;
        }
        const float gain = current.effectiveGain();
        if (const auto tap = taps_.find(key); tap != taps_.end()) {
            tap->second->setGain(gain);
            continue;
        }
        try {
            const auto [output, overrides] = tapOutput(current);
            auto tap = std::make_unique<AppTap>(hardware, group.processObjects, output,
                                                group.name.toStdString(), gain, overrides);
            watchTap(key, tap->aggregateID());
            taps_.emplace(key, std::move(tap));
            qCDebug(lcModel) << "tapped" << key << "at gain" << gain << "to" << outputUID->c_str();
            // A tap made clears a tap's failure, not a save's that still stands.
            lastError_ = saveFailure_;
        } catch (const CAError& error) {
            lastError_ =
                group.name + QStringLiteral(": ") + QString::fromStdString(error.description());
        } catch (const std::exception& error) {
            lastError_ = group.name + QStringLiteral(": ") + QString::fromUtf8(error.what());
        }
        if (lastError_) {
            qCWarning(lcModel).noquote() << "could not tap" << key << "-" << *lastError_;
        }
        emit lastErrorChanged();
    }
}

// An untapped group with an output of its own has its streams sent there; the
// audio system keeps that choice while the device is away. Anything else is left
// where it plays by itself. A send the audio system refused (while it restarts,
// say) is tried again at the next refresh.
void MixerModel::sendUntappedStreams() {
    AudioHardware& hardware = *env_.hardware;
    auto send = [&](const std::vector<AudioObjectID>& processes, const std::string& uid) {
        std::string text = uid;
        AudioStringRef ref = &text;
        bool sent = true;
        for (const AudioObjectID process : processes) {
            const OSStatus status =
                hardware.setPropertyData(process, CA::address(kAudioProcessPropertyOutputDevice),
                                         sizeof(AudioStringRef), &ref);
            if (status != noErr) {
                qCDebug(lcModel) << "could not send process" << process << "to" << uid.c_str()
                                 << "-" << status;
                sent = false;
            }
        }
        return sent;
    };
    for (auto it = sentTo_.begin(); it != sentTo_.end();) {
        const auto group = allGroups_.find(it->first);
        const AppSetting current = setting(it->first);
        const bool stays = group != allGroups_.end() && !current.needsTap() && current.output &&
                           current.output->toStdString() == it->second.second &&
                           sameProcessSet(group->second.processObjects, it->second.first);
        if (stays) {
            ++it;
            continue;
        }
        if (group != allGroups_.end()) {
            send(it->second.first, std::string());
        }
        it = sentTo_.erase(it);
    }
    for (const auto& [key, group] : allGroups_) {
        const AppSetting current = setting(key);
        if (current.needsTap() || !current.output || sentTo_.contains(key)) {
            continue;
        }
        const std::string uid = current.output->toStdString();
        if (send(group.processObjects, uid)) {
            sentTo_[key] = {group.processObjects, uid};
        }
    }
}

// A tap counts as made once the audio system took it; a server that gives up
// on starting it later says so through its aggregate device.
void MixerModel::watchTap(const QString& key, AudioObjectID aggregateID) {
    env_.hardware->addPropertyListener(aggregateID, CA::address(kAudioDevicePropertyDeviceIsAlive),
                                       [model = QPointer<MixerModel>(this), key, aggregateID](
                                           std::uint32_t, const AudioObjectPropertyAddress*) {
                                           if (model) {
                                               model->tapFailed(key, aggregateID);
                                           }
                                       });
}

void MixerModel::tapFailed(const QString& key, AudioObjectID aggregateID) {
    const auto tap = taps_.find(key);
    if (tap == taps_.end() || tap->second->aggregateID() != aggregateID) {
        return;
    }
    tap->second->stop();
    taps_.erase(tap);
    const auto group = allGroups_.find(key);
    const QString name = group != allGroups_.end() ? group->second.name : key;
    lastError_ =
        name + QStringLiteral(": ") +
        QString::fromStdString(
            CAError(AppTap::kStartDeviceStep, kAudioHardwareNotRunningError).description());
    qCWarning(lcModel).noquote() << "could not tap" << key << "-" << *lastError_;
    emit lastErrorChanged();
}

} // namespace corvalle
