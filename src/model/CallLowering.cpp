// Lowering the others while a call plays: who calls, who is lowered, and by how
// much at this moment.
#include "AppTap.h"
#include "Log.h"
#include "MixerModel.h"

#include <QTimer>
#include <algorithm>
#include <cmath>

namespace corvalle {

double MixerModel::loweringFactor() const {
    return lowering_.factor(env_.clock());
}

bool MixerModel::needsTap(const QString& key, const AppSetting& setting) const {
    return setting.needsTap() || lowered_.contains(key) || keptAfterLowering_.contains(key);
}

float MixerModel::gainOf(const QString& key, const AppSetting& setting) const {
    const float gain = setting.effectiveGain();
    return lowered_.contains(key) ? gain * static_cast<float>(lowering_.factor(env_.clock()))
                                  : gain;
}

bool MixerModel::isMarkedToLower(const QString& key) const {
    const auto it = settings_.find(key);
    return it != settings_.end() && it->second.lowersOthers;
}

// A step of a fade only moves the lowered taps' gains on; a change of who is
// lowered (the fade is over, a marked application's sound became a call) needs
// the taps reconciled.
void MixerModel::stepLowering() {
    const std::set<QString> before = lowered_;
    updateLowering();
    if (lowered_ != before) {
        reconcile();
        return;
    }
    for (const QString& key : lowered_) {
        if (AppTap* tap = findTap(key)) {
            tap->setGain(gainOf(key, setting(key)));
        }
    }
}

void MixerModel::updateLowering() {
    const SteadyTime now = env_.clock();
    std::erase_if(playingSince_, [&](const auto& entry) {
        const auto group = allGroups_.find(entry.first);
        return group == allGroups_.end() || !group->second.isPlaying ||
               !isMarkedToLower(entry.first);
    });
    std::set<QString> callers;
    std::optional<SteadyTime> next;
    auto wakeAt = [&](SteadyTime at) { next = next ? std::min(*next, at) : at; };
    for (const auto& [key, group] : allGroups_) {
        if (group.isCalling) {
            callers.insert(key);
            continue;
        }
        if (!group.isPlaying || !isMarkedToLower(key)) {
            continue;
        }
        // A marked application's short sounds (a message's chime) are not calls.
        const SteadyTime since = playingSince_.try_emplace(key, now).first->second;
        if (now - since >= kShortestCall) {
            callers.insert(key);
        } else {
            wakeAt(since + kShortestCall);
        }
    }

    lowering_.update(!callers.empty(), now);
    std::set<QString> lowered;
    if (lowering_.isActive()) {
        for (const auto& [key, group] : allGroups_) {
            if (!callers.contains(key) && (group.isPlaying || taps_.contains(key))) {
                lowered.insert(key);
            }
        }
    }
    if (const auto step = lowering_.nextStep(now)) {
        wakeAt(*step);
    }
    if (next) {
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - now);
        loweringTimer_->start(std::max(wait, std::chrono::milliseconds(0)));
    } else {
        loweringTimer_->stop();
    }

    for (const QString& key : lowered_) {
        if (!lowered.contains(key) && taps_.contains(key) && !setting(key).needsTap()) {
            keptAfterLowering_.insert(key);
        }
    }
    std::erase_if(keptAfterLowering_, [&](const QString& key) {
        const auto group = allGroups_.find(key);
        return group == allGroups_.end() || !group->second.isPlaying || lowered.contains(key);
    });

    if (callers != callers_ || lowered != lowered_) {
        if (lowered.empty() != lowered_.empty()) {
            qCInfo(lcModel) << (lowered.empty() ? "no call plays: the others are back"
                                                : "a call plays: lowering the others");
        }
        callers_ = std::move(callers);
        lowered_ = std::move(lowered);
        emit loweringChanged();
    }
}

} // namespace corvalle
