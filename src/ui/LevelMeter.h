#pragma once

#include <QWidget>
#include <chrono>

namespace corvalle::ui {

// A row's live level: a thin bar whose length is the peak in decibels from
// −60 dB (empty) to 0 dB (full), green, and orange at the limit or while the
// limiter lowers the sound. A louder peak
// shows at once; the bar holds for kHold, longer than an audio cycle (so frames
// between two cycles do not flicker it), then falls at kDecayPerSecond, so short
// peaks stay readable. It repaints only when the bar's length changes.
class LevelMeter final : public QWidget {
    Q_OBJECT

public:
    static constexpr double kFloorDecibels = -60.0;
    static constexpr double kDecayPerSecond = 30.0; // decibels
    static constexpr std::chrono::milliseconds kHold{50};
    static constexpr int kWidth = 44;
    static constexpr int kBarHeight = 4;

    explicit LevelMeter(QWidget* parent = nullptr);

    // The loudest sample (0 to 1) of the frame that took `sinceLastFrame`;
    // `limited` when the limiter lowered the sound in it, which shows as the limit.
    void showPeak(float peak, std::chrono::milliseconds sinceLastFrame, bool limited = false);
    // Empties the bar at once.
    void clear();

    // The level shown, in decibels, kFloorDecibels for silence.
    double decibels() const { return decibels_; }
    // How much of the bar is filled: 0 to 1.
    double fill() const;
    // The level in words for assistive technology: "−12 dB", "Silent", and
    // "−1 dB, limited" while the limiter works.
    QString valueText() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int barLength(double decibels) const;

    double decibels_ = kFloorDecibels;
    bool atLimit_ = false;
    bool limited_ = false;
    // How long the bar has stood at or above every peak since it was set.
    std::chrono::milliseconds held_{0};
    // The pixel ratio it was last painted at: asking the screen for every peak
    // would cost more than the meter itself.
    double pixelRatio_ = 1.0;
};

} // namespace corvalle::ui
