#include "VolumeSlider.h"

#include "Accessibility.h"
#include "UiStyle.h"

#include <QKeyEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QWheelEvent>
#include <cmath>

namespace corvalle::ui {

namespace {

constexpr int kWheelNotch = 120;
constexpr int kHeight = 22;
constexpr int kMarkLength = 4;

} // namespace

VolumeSlider::VolumeSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setRange(0, kMaxPercent);
    setSingleStep(1);
    setPageStep(10);
    setFixedHeight(kHeight);
    setFocusPolicy(Qt::StrongFocus);
    installAccessibleInterfaces();
    connect(this, &QAbstractSlider::actionTriggered, this, &VolumeSlider::catchAtMark);
}

QString VolumeSlider::valueText(int percent) {
    return tr("%1 %").arg(percent);
}

void VolumeSlider::catchAtMark(int action) {
    // Only a drag is caught: keys and the wheel must be able to land on 98 %.
    if (action != QAbstractSlider::SliderMove) {
        return;
    }
    const int position = sliderPosition();
    if (position != kMarkPercent && std::abs(position - kMarkPercent) <= kCatchPercent) {
        setSliderPosition(kMarkPercent);
    }
}

bool VolumeSlider::event(QEvent* event) {
    // A disabled widget hands the wheel on to its parent, which would scroll
    // the list under a pointer that is aimed at this slider.
    if (event->type() == QEvent::Wheel && !isEnabled()) {
        event->accept();
        return true;
    }
    return QSlider::event(event);
}

void VolumeSlider::keyPressEvent(QKeyEvent* event) {
    // Home and End stop at 100 % first: one key press never jumps from a normal
    // level to four times as loud.
    if (event->modifiers() == Qt::NoModifier &&
        (event->key() == Qt::Key_Home || event->key() == Qt::Key_End)) {
        const bool up = event->key() == Qt::Key_End;
        const int target = up ? (value() < kMarkPercent ? kMarkPercent : maximum())
                              : (value() > kMarkPercent ? kMarkPercent : minimum());
        setValue(target);
        event->accept();
        return;
    }
    QSlider::keyPressEvent(event);
}

void VolumeSlider::wheelEvent(QWheelEvent* event) {
    event->accept();
    const QPoint angle = event->angleDelta();
    int delta = angle.y() != 0 ? angle.y() : -angle.x();
    if (event->inverted()) {
        delta = -delta;
    }
    wheelRemainder_ += delta;
    const int notches = wheelRemainder_ / kWheelNotch;
    wheelRemainder_ -= notches * kWheelNotch;
    if (notches == 0) {
        return;
    }
    setValue(std::clamp(steppedPercent(value(), notches), minimum(), maximum()));
}

int VolumeSlider::steppedPercent(int percent, int steps) {
    // Steps land on the 5 % grid: 73 % goes up to 75 %, down to 70 %.
    const int current = std::clamp(percent, 0, kMaxPercent);
    if (steps == 0) {
        return current;
    }
    const int base =
        steps > 0 ? current / kWheelStepPercent * kWheelStepPercent
                  : (current + kWheelStepPercent - 1) / kWheelStepPercent * kWheelStepPercent;
    return std::clamp(base + steps * kWheelStepPercent, 0, kMaxPercent);
}

int VolumeSlider::xForPercent(int percent) const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect groove =
        style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const QRect handle =
        style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    const int span = groove.width() - handle.width();
    const int offset =
        QStyle::sliderPositionFromValue(minimum(), maximum(), percent, span, option.upsideDown);
    return groove.left() + offset + handle.width() / 2;
}

void VolumeSlider::paintEvent(QPaintEvent* event) {
    {
        // The mark sits above and below the groove, where the handle covers it
        // only when the level is on it.
        QPainter painter(this);
        QColor mark = lineColor(palette());
        if (!isEnabled()) {
            mark.setAlphaF(0.6F);
        }
        painter.setPen(QPen(mark, 2));
        const int x = xForPercent(kMarkPercent);
        painter.drawLine(x, 0, x, kMarkLength);
        painter.drawLine(x, height() - 1 - kMarkLength, x, height() - 1);
    }
    QSlider::paintEvent(event);
    if (hasFocus()) {
        QPainter painter(this);
        paintFocusRing(painter, rect(), palette());
    }
}

} // namespace corvalle::ui
