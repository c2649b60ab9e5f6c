#pragma once

#include "AudioTypes.h"

#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <vector>

class QTimer;

namespace corvalle {

class AudioHardware;
class MixerModel;

// The level each row's application is heard at, measured only while some view
// shows it. A view that becomes visible watches with its display's frame time
// and unwatches when hidden; while nothing watches there is no timer and no
// measuring at all. Once a frame it takes every row's peak: a tapped
// application's from its tap (after the gain, silent while muted), any other
// playing one's from the audio system, which measures only the processes of
// playing rows without a tap. A view may say which rows it shows (the others
// are scrolled out): rows no view shows are neither measured nor read.
class LevelMonitor final : public QObject {
    Q_OBJECT

public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    LevelMonitor(MixerModel& model, AudioHardware& hardware, QObject* parent = nullptr);
    ~LevelMonitor() override;
    LevelMonitor(const LevelMonitor&) = delete;
    LevelMonitor& operator=(const LevelMonitor&) = delete;

    // Frames come at the shortest frame time of the watching views, but no
    // faster than the audio cycles that measure new levels (nor slower than
    // kSlowestFrame for that). A view may
    // say which rows it shows (the others are scrolled out); it shows every row
    // until it says.
    void watch(const void* viewer, std::chrono::milliseconds frameTime,
               std::optional<std::set<QString>> shownRows = std::nullopt);
    void unwatch(const void* viewer);
    // The rows a watching `viewer` shows now.
    void setShownRows(const void* viewer, std::set<QString> keys);
    static constexpr std::chrono::milliseconds kSlowestFrame{50};
    // How often the cycle period is asked for again: it changes with the streams.
    static constexpr std::chrono::seconds kPeriodCheck{1};
    // Longer than any meter takes to fall to silence: after this much silence
    // frames are no longer handed on.
    static constexpr std::chrono::seconds kQuietAfter{3};

    bool isRunning() const;
    std::chrono::milliseconds frameTime() const;
    // The processes whose level the audio system measures now.
    const std::set<AudioObjectID>& meteredProcesses() const { return metered_; }

    // The loudest sample of `key` in the last frame: 0 (silence) to 1 (full scale).
    float peak(const QString& key) const;
    // Whether the limiter lowered `key` in the last frame.
    bool isLimited(const QString& key) const;
    // The time between the last two frames.
    std::chrono::milliseconds sinceLastFrame() const { return sinceLastFrame_; }

    // Takes one frame's levels now; the timer calls it.
    void takeFrame();
    void setClock(Clock clock) { clock_ = std::move(clock); }

signals:
    void levelsChanged();

private:
    void restart();
    void syncMetering();
    void setMetering(AudioObjectID processObject, bool on);
    float processPeak(AudioObjectID processObject);
    bool isShown(const QString& key) const;
    void pace();

    struct Reading {
        QString key;
        std::vector<AudioObjectID> processes;
    };
    struct Viewer {
        std::chrono::milliseconds frameTime{0};
        std::optional<std::set<QString>> shownRows;
    };

    MixerModel& model_;
    AudioHardware& hardware_;
    QTimer* timer_ = nullptr;
    Clock clock_;
    std::map<const void*, Viewer> viewers_;
    std::set<AudioObjectID> metered_;
    std::map<QString, float> peaks_;
    std::set<QString> limited_;
    std::vector<Reading> readings_;
    std::chrono::steady_clock::time_point lastSound_;
    std::chrono::steady_clock::time_point lastFrame_;
    std::chrono::milliseconds sinceLastFrame_{0};
    std::chrono::steady_clock::time_point lastPeriodCheck_;
    std::chrono::milliseconds displayFrameTime_{0};
    std::chrono::milliseconds cyclePeriod_{0};
    // The rows or their settings (and so the taps) changed since the last sync.
    bool meteringStale_ = true;
};

} // namespace corvalle
