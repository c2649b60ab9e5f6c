#pragma once

#include <QSlider>

namespace corvalle::ui {

// The volume slider of a row: whole percents from 0 to 400, a mark at 100 % and a
// catch around it while dragging, Home and End that stop at 100 % on their way
// to 0 % and 400 %, and the wheel in 5 % steps. It takes the wheel only when it
// is aimed at it, and keeps it (does nothing) while disabled, so that a muted
// level cannot change.
class VolumeSlider final : public QSlider {
    Q_OBJECT

public:
    static constexpr int kMaxPercent = 400;
    static constexpr int kMarkPercent = 100;
    // A drag that comes within this many percent of the mark stops on it.
    static constexpr int kCatchPercent = 3;
    // One wheel notch moves this many percent, landing on multiples of it.
    static constexpr int kWheelStepPercent = 5;

    explicit VolumeSlider(QWidget* parent = nullptr);

    // The level `steps` wheel steps from `percent` (negative: down), on the grid
    // of kWheelStepPercent and within 0 to kMaxPercent.
    static int steppedPercent(int percent, int steps);

    // The x coordinate of the handle's centre at `percent`; the 100 % mark is
    // drawn at xForPercent(kMarkPercent).
    int xForPercent(int percent) const;

    // The accessible value: "125 %".
    static QString valueText(int percent);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void catchAtMark(int action);

    // Wheel deltas smaller than a notch (touchpads) add up until they make one.
    int wheelRemainder_ = 0;
};

} // namespace corvalle::ui
