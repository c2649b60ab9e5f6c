// Reconciliation: matches the groups that play against their settings and makes,
// keeps or stops each group's tap to suit; untapped groups with an output of
// their own have their streams sent there.
#include "AppTap.h"
#include "CA.h"
#include "CAError.h"
#include "Log.h"
#include "MixerModel.h"

#include <QPointer>
#include <algorithm>
#include <exception>
#include <set>
#include <utility>

namespace corvalle {

namespace {

bool sameProcessSet(std::vector<AudioObjectID> a, std::vector<AudioObjectID> b) {
    std::sort(a.begin(), a.end());
    a.erase(std::unique(a.begin(), a.end()), a.end());
    std::sort(b.begin(), b.end());
    b.erase(std::unique(b.begin(), b.end()), b.end());
    return a == b;
}

} // namespace

void MixerModel::stopAll() {
    for (auto& [key, tap] : taps_) {
        tap->stop();
    }
    taps_.clear();
}

void MixerModel::reconcile() {
    updateLowering();
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
            group != allGroups_.end() && needsTap(key, current) &&
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
        if (!needsTap(key, current)) {
            continue;
        }
        const float gain = gainOf(key, current);
        if (const auto tap = taps_.find(key); tap != taps_.end()) {
            tap->second->setGain(gain);
            continue;
        }
        std::optional<QString> failure;
        try {
            const auto [output, overrides] = tapOutput(current);
            auto tap = std::make_unique<AppTap>(hardware, group.processObjects, output,
                                                group.name.toStdString(), gain, overrides);
            tap->setLimiterOn(limiterOn_);
            watchTap(key, tap->aggregateID());
            taps_.emplace(key, std::move(tap));
            qCDebug(lcModel) << "tapped" << key << "at gain" << gain << "to" << outputUID->c_str();
        } catch (const CAError& error) {
            failure =
                group.name + QStringLiteral(": ") + QString::fromStdString(error.description());
        } catch (const std::exception& error) {
            failure = group.name + QStringLiteral(": ") + QString::fromUtf8(error.what());
        }
        if (failure) {
            qCWarning(lcModel).noquote() << "could not tap" << key << "-" << *failure;
        }
        // A tap made clears a tap's failure.
        setTapFailure(std::move(failure));
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
        const bool stays = group != allGroups_.end() && !needsTap(it->first, current) &&
                           current.output && current.output->toStdString() == it->second.second &&
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
        if (needsTap(key, current) || !current.output || sentTo_.contains(key)) {
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
    QString failure =
        name + QStringLiteral(": ") +
        QString::fromStdString(
            CAError(AppTap::kStartDeviceStep, kAudioHardwareNotRunningError).description());
    qCWarning(lcModel).noquote() << "could not tap" << key << "-" << failure;
    setTapFailure(std::move(failure));
}

} // namespace corvalle
