#include "LevelMeter.h"

#include "LevelMonitor.h"
#include "UiStyle.h"

#include <QLocale>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace corvalle::ui {

// The monitor stops handing on silent frames once every meter can have fallen.
static_assert(LevelMeter::kHold +
                  std::chrono::milliseconds(static_cast<int>(-LevelMeter::kFloorDecibels /
                                                             LevelMeter::kDecayPerSecond * 1000)) <
              LevelMonitor::kQuietAfter);

namespace {

// A peak this close to full scale is the limit the gain procedure holds to.
constexpr float kLimitPeak = 0.999F;

double decibelsOf(float peak) {
    if (!(peak > 0.0F)) {
        return LevelMeter::kFloorDecibels;
    }
    return std::clamp(20.0 * std::log10(static_cast<double>(peak)), LevelMeter::kFloorDecibels,
                      0.0);
}

} // namespace

LevelMeter::LevelMeter(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

QSize LevelMeter::sizeHint() const {
    return {kWidth, kBarHeight + 2};
}

double LevelMeter::fill() const {
    return (decibels_ - kFloorDecibels) / -kFloorDecibels;
}

QString LevelMeter::valueText() const {
    if (decibels_ <= kFloorDecibels) {
        return tr("Silent");
    }
    const QString level = QLocale().toString(std::lround(decibels_));
    return limited_ ? tr("%1 dB, limited").arg(level) : tr("%1 dB").arg(level);
}

int LevelMeter::barLength(double decibels) const {
    return static_cast<int>(
        std::lround((decibels - kFloorDecibels) / -kFloorDecibels * width() * pixelRatio_));
}

void LevelMeter::showPeak(float peak, std::chrono::milliseconds sinceLastFrame, bool limited) {
    const double incoming = decibelsOf(peak);
    double next = incoming;
    if (incoming < decibels_) {
        // Only the part of this frame past the hold falls.
        const auto before = held_;
        held_ += sinceLastFrame;
        const auto falling = std::max(held_ - kHold, std::chrono::milliseconds{0}) -
                             std::max(before - kHold, std::chrono::milliseconds{0});
        const double fallen =
            decibels_ - kDecayPerSecond * std::chrono::duration<double>(falling).count();
        next = std::max(incoming, std::max(fallen, kFloorDecibels));
    } else {
        held_ = std::chrono::milliseconds{0};
    }
    const bool atLimit = limited || peak >= kLimitPeak;
    const bool redraw = barLength(next) != barLength(decibels_) || atLimit != atLimit_;
    decibels_ = next;
    atLimit_ = atLimit;
    limited_ = limited;
    if (redraw) {
        update();
    }
}

void LevelMeter::clear() {
    showPeak(0.0F, std::chrono::hours(1));
}

void LevelMeter::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    pixelRatio_ = painter.device()->devicePixelRatioF();
    const QPalette& colours = palette();
    const int top = (height() - kBarHeight) / 2;
    const QRectF track(0, top, width(), kBarHeight);
    painter.setRenderHint(QPainter::Antialiasing, false);
    QColor trackColour = lineColor(colours);
    trackColour.setAlphaF(0.35F);
    painter.fillRect(track, trackColour);
    const double length = fill() * width();
    if (length > 0.0) {
        const QColor bar = atLimit_ ? orangeColor(colours) : greenColor(colours);
        painter.fillRect(QRectF(0, top, length, kBarHeight), bar);
    }
}

} // namespace corvalle::ui
