#include "LevelMonitor.h"

#include "AudioHardware.h"
#include "MixerModel.h"

#include <QTimer>
#include <algorithm>
#include <cmath>
#include <iterator>

namespace corvalle {

namespace {

constexpr AudioObjectPropertyAddress kMetering{kAudioProcessPropertyPeakMetering,
                                               kAudioObjectPropertyScopeGlobal,
                                               kAudioObjectPropertyElementMain};
constexpr AudioObjectPropertyAddress kPeakPeriod{kAudioHardwarePropertyPeakPeriod,
                                                 kAudioObjectPropertyScopeGlobal,
                                                 kAudioObjectPropertyElementMain};
constexpr AudioObjectPropertyAddress kPeak{kAudioProcessPropertyOutputPeak,
                                           kAudioObjectPropertyScopeGlobal,
                                           kAudioObjectPropertyElementMain};

// A peak as the rows may show it: a number in [0, 1], whatever the audio system said.
float heardPeak(float peak) {
    return std::isfinite(peak) ? std::clamp(peak, 0.0F, 1.0F) : 0.0F;
}

} // namespace

LevelMonitor::LevelMonitor(MixerModel& model, AudioHardware& hardware, QObject* parent)
    : QObject(parent), model_(model), hardware_(hardware),
      clock_([] { return std::chrono::steady_clock::now(); }) {
    const auto stale = [this] { meteringStale_ = true; };
    connect(&model_, &MixerModel::appsChanged, this, stale);
    connect(&model_, &MixerModel::settingsChanged, this, stale);
}

LevelMonitor::~LevelMonitor() {
    for (const AudioObjectID process : metered_) {
        setMetering(process, false);
    }
}

void LevelMonitor::watch(const void* viewer, std::chrono::milliseconds frameTime,
                         std::optional<std::set<QString>> shownRows) {
    viewers_.insert_or_assign(
        viewer, Viewer{std::max(frameTime, std::chrono::milliseconds{1}), std::move(shownRows)});
    restart();
}

void LevelMonitor::setShownRows(const void* viewer, std::set<QString> keys) {
    const auto it = viewers_.find(viewer);
    if (it == viewers_.end() || it->second.shownRows == keys) {
        return;
    }
    it->second.shownRows = std::move(keys);
    meteringStale_ = true;
}

bool LevelMonitor::isShown(const QString& key) const {
    return std::ranges::any_of(viewers_, [&](const auto& entry) {
        const std::optional<std::set<QString>>& shown = entry.second.shownRows;
        return !shown || shown->contains(key);
    });
}

void LevelMonitor::unwatch(const void* viewer) {
    if (viewers_.erase(viewer) > 0) {
        restart();
    }
}

bool LevelMonitor::isRunning() const {
    return timer_ != nullptr && timer_->isActive();
}

std::chrono::milliseconds LevelMonitor::frameTime() const {
    return timer_ != nullptr ? timer_->intervalAsDuration() : std::chrono::milliseconds{0};
}

float LevelMonitor::peak(const QString& key) const {
    const auto it = peaks_.find(key);
    return it == peaks_.end() ? 0.0F : it->second;
}

bool LevelMonitor::isLimited(const QString& key) const {
    return limited_.contains(key);
}

void LevelMonitor::restart() {
    if (viewers_.empty()) {
        // Nothing shows levels: no timer, nothing measured, nothing kept.
        delete timer_;
        timer_ = nullptr;
        for (const AudioObjectID process : metered_) {
            setMetering(process, false);
        }
        metered_.clear();
        peaks_.clear();
        limited_.clear();
        return;
    }
    displayFrameTime_ = viewers_.begin()->second.frameTime;
    for (const auto& [key, viewer] : viewers_) {
        displayFrameTime_ = std::min(displayFrameTime_, viewer.frameTime);
    }
    if (timer_ == nullptr) {
        timer_ = new QTimer(this);
        timer_->setTimerType(Qt::PreciseTimer);
        connect(timer_, &QTimer::timeout, this, &LevelMonitor::takeFrame);
        lastFrame_ = clock_();
        lastPeriodCheck_ = lastFrame_;
        lastSound_ = lastFrame_;
        cyclePeriod_ = {};
    }
    // A view that came or went may show rows no other shows.
    syncMetering();
    pace();
}

// A frame between two audio cycles would only show the last level again.
void LevelMonitor::pace() {
    const auto wanted = std::max(
        displayFrameTime_, std::min(cyclePeriod_, std::max(kSlowestFrame, displayFrameTime_)));
    if (timer_->intervalAsDuration() != wanted || !timer_->isActive()) {
        timer_->start(wanted);
    }
}

void LevelMonitor::setMetering(AudioObjectID processObject, bool on) {
    const std::uint32_t value = on ? 1U : 0U;
    static_cast<void>(hardware_.setPropertyData(processObject, kMetering, sizeof(value), &value));
}

// Measured by the audio system: the processes of shown playing rows that have
// no tap, whose tap measures them after the gain instead.
void LevelMonitor::syncMetering() {
    std::set<AudioObjectID> wanted;
    for (const AudioApp& app : model_.apps()) {
        if (app.isPlaying && !model_.hasTap(app.id) && isShown(app.id)) {
            wanted.insert(app.processObjects.begin(), app.processObjects.end());
        }
    }
    for (const AudioObjectID process : metered_) {
        if (!wanted.contains(process)) {
            setMetering(process, false);
        }
    }
    for (const AudioObjectID process : wanted) {
        if (!metered_.contains(process)) {
            setMetering(process, true);
        }
    }
    metered_ = std::move(wanted);
    // What each frame reads: only the shown rows, and of them only measured processes.
    readings_.clear();
    for (const AudioApp& app : model_.apps()) {
        if (!isShown(app.id)) {
            continue;
        }
        Reading reading{app.id, {}};
        std::ranges::copy_if(app.processObjects, std::back_inserter(reading.processes),
                             [&](AudioObjectID process) { return metered_.contains(process); });
        readings_.push_back(std::move(reading));
    }
    // Rows that went or are not shown keep no level.
    std::erase_if(peaks_, [&](const auto& entry) {
        return !isShown(entry.first) ||
               std::ranges::none_of(model_.apps(),
                                    [&](const AudioApp& app) { return app.id == entry.first; });
    });
    meteringStale_ = false;
}

float LevelMonitor::processPeak(AudioObjectID processObject) {
    float peak = 0.0F;
    std::uint32_t size = sizeof(peak);
    if (hardware_.getPropertyData(processObject, kPeak, &size, &peak) != noErr ||
        size != sizeof(peak)) {
        return 0.0F;
    }
    return heardPeak(peak);
}

void LevelMonitor::takeFrame() {
    if (viewers_.empty()) {
        return;
    }
    const auto now = clock_();
    sinceLastFrame_ = std::chrono::duration_cast<std::chrono::milliseconds>(now - lastFrame_);
    lastFrame_ = now;
    // Taps come and go with the settings, processes with the applications.
    if (meteringStale_) {
        syncMetering();
    }
    if (now - lastPeriodCheck_ >= kPeriodCheck) {
        lastPeriodCheck_ = now;
        std::uint32_t microseconds = 0;
        std::uint32_t size = sizeof(microseconds);
        if (hardware_.getPropertyData(kAudioObjectSystemObject, kPeakPeriod, &size,
                                      &microseconds) != noErr ||
            size != sizeof(microseconds)) {
            microseconds = 0;
        }
        // Rounded up: every frame then holds at least one new cycle.
        cyclePeriod_ =
            std::chrono::ceil<std::chrono::milliseconds>(std::chrono::microseconds(microseconds));
        pace();
    }
    bool sounding = false;
    limited_.clear();
    for (const Reading& reading : readings_) {
        float peak = 0.0F;
        if (const std::optional<float> tapPeak = model_.takeTapPeak(reading.key)) {
            peak = heardPeak(*tapPeak);
            if (model_.takeTapLimit(reading.key).value_or(1.0F) < 1.0F) {
                limited_.insert(reading.key);
            }
        } else {
            for (const AudioObjectID process : reading.processes) {
                peak = std::max(peak, processPeak(process));
            }
        }
        sounding = sounding || peak > 0.0F;
        peaks_.insert_or_assign(reading.key, peak);
    }
    // Once every shown meter has fallen silent, silent frames change nothing.
    if (sounding) {
        lastSound_ = now;
    } else if (now - lastSound_ > kQuietAfter) {
        return;
    }
    emit levelsChanged();
}

} // namespace corvalle
