// Lowering the others while a call plays: who calls, who is lowered, by how much
// at this moment, and the one preference of how low, stored beside the
// applications' settings under its own key as the limiter's is.
#include "Log.h"
#include "MixerModel.h"
#include "SettingsStore.h"

#include <QTimer>
#include <algorithm>
#include <cmath>

namespace corvalle {

namespace {

const QString kLoweredLevelKey = QStringLiteral("loweredLevel");

} // namespace

void MixerModel::loadLoweredLevel() {
    if (env_.store == nullptr) {
        return;
    }
    std::optional<QByteArray> stored = env_.store->data(kLoweredLevelKey);
    if (!stored) {
        stored = env_.store->foreignData(kLoweredLevelKey);
    }
    if (!stored) {
        return;
    }
    // A percentage; anything else (or a hand-written level past 100) leaves the
    // default or the nearest end, never a level above the applications' own.
    bool ok = false;
    const double percent = QString::fromUtf8(stored->trimmed()).toDouble(&ok);
    if (ok && std::isfinite(percent)) {
        lowering_.setLevel(percent / 100.0, env_.clock());
    }
}

void MixerModel::setLoweredLevel(double level) {
    if (std::isnan(level)) {
        return;
    }
    const double before = lowering_.level();
    lowering_.setLevel(level, env_.clock());
    if (lowering_.level() != before) {
        emit loweredLevelChanged();
        reconcile();
    }
    if (env_.store == nullptr) {
        return;
    }
    tellSave(env_.store->setData(
        kLoweredLevelKey, QByteArray::number(std::round(lowering_.level() * 1000.0) / 10.0)));
}

double MixerModel::loweringFactor() const {
    return lowering_.factor(env_.clock());
}

bool MixerModel::needsTap(const QString& key, const AppSetting& setting) const {
    return setting.needsTap() || lowered_.contains(key);
}

float MixerModel::gainOf(const QString& key, const AppSetting& setting) const {
    const float gain = setting.effectiveGain();
    return lowered_.contains(key) ? gain * static_cast<float>(lowering_.factor(env_.clock()))
                                  : gain;
}

void MixerModel::updateLowering() {
    const SteadyTime now = env_.clock();
    std::erase_if(playingSince_, [&](const auto& entry) {
        const auto group = allGroups_.find(entry.first);
        return group == allGroups_.end() || !group->second.isPlaying ||
               !setting(entry.first).lowersOthers;
    });
    std::set<QString> callers;
    std::optional<SteadyTime> next;
    auto wakeAt = [&](SteadyTime at) { next = next ? std::min(*next, at) : at; };
    for (const auto& [key, group] : allGroups_) {
        if (group.isCalling) {
            callers.insert(key);
            continue;
        }
        if (!group.isPlaying || !setting(key).lowersOthers) {
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
