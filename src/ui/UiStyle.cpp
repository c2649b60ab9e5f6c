#include "UiStyle.h"

#include <QApplication>
#include <QFrame>
#include <QPainter>
#include <QPalette>
#include <QWidget>
#include <cmath>

namespace corvalle::ui {

namespace {

// Sizes of the named styles relative to the body text (13 on the reference
// desktop, where 1 point is 1 pixel).
constexpr double kBodySize = 13.0;
constexpr int kFocusRingWidth = 2;

double scaleOf(TextStyle style) {
    switch (style) {
    case TextStyle::headline:
        return 13.0 / kBodySize;
    case TextStyle::callout:
        return 12.0 / kBodySize;
    case TextStyle::caption:
        return 10.5 / kBodySize;
    case TextStyle::caption2:
        return 10.0 / kBodySize;
    }
    return 1.0;
}

double linear(double channel) {
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

// The system hues the named colours start from.
const QColor kRed(0xFF, 0x3B, 0x30);
const QColor kGreen(0x34, 0xC7, 0x59);
const QColor kOrange(0xFF, 0x95, 0x00);

} // namespace

QFont styleFont(TextStyle style) {
    return styleFont(style, QApplication::font());
}

QFont styleFont(TextStyle style, const QFont& base) {
    QFont result = base;
    const double scale = scaleOf(style);
    if (base.pixelSize() > 0) {
        result.setPixelSize(std::max(9, static_cast<int>(std::lround(base.pixelSize() * scale))));
    } else {
        result.setPointSizeF(std::max(7.0, base.pointSizeF() * scale));
    }
    if (style == TextStyle::headline) {
        result.setWeight(QFont::DemiBold);
    }
    return result;
}

double relativeLuminance(const QColor& colour) {
    const QColor rgb = colour.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) +
           0.0722 * linear(rgb.blueF());
}

double contrastRatio(const QColor& a, const QColor& b) {
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor readableOn(const QColor& wanted, const QColor& background, double minRatio) {
    // A translucent colour (some themes dim placeholder text that way) is seen
    // as it is drawn: over the background.
    const QColor rgb = wanted.toRgb();
    const QColor under = background.toRgb();
    const float alpha = rgb.alphaF();
    const QColor opaque = QColor::fromRgbF(rgb.redF() * alpha + under.redF() * (1.0F - alpha),
                                           rgb.greenF() * alpha + under.greenF() * (1.0F - alpha),
                                           rgb.blueF() * alpha + under.blueF() * (1.0F - alpha));
    if (contrastRatio(opaque, background) >= minRatio) {
        return opaque;
    }
    // Move the lightness away from the background's, in small steps, so that the
    // colour changes no more than the contrast asks.
    const bool darken = relativeLuminance(background) > 0.18;
    const QColor hsl = opaque.toHsl();
    for (int step = 1; step <= 100; ++step) {
        const float fraction = static_cast<float>(step) / 100.0F;
        const float lightness = darken ? hsl.lightnessF() * (1.0F - fraction)
                                       : hsl.lightnessF() + (1.0F - hsl.lightnessF()) * fraction;
        const QColor candidate =
            QColor::fromHslF(hsl.hslHueF(), hsl.hslSaturationF(), lightness).toRgb();
        if (contrastRatio(candidate, background) >= minRatio) {
            return candidate;
        }
    }
    return darken ? QColor(Qt::black) : QColor(Qt::white);
}

QColor backgroundColor(const QPalette& palette) {
    return palette.color(QPalette::Active, QPalette::Window);
}

QColor secondaryColor(const QPalette& palette) {
    // Many palettes (Qt's dark ones among them) give placeholder text far too
    // little contrast for a line that carries information.
    return readableOn(palette.color(QPalette::Active, QPalette::PlaceholderText),
                      backgroundColor(palette), kTextContrast);
}

QColor redColor(const QPalette& palette) {
    return readableOn(kRed, backgroundColor(palette), kTextContrast);
}

QColor greenColor(const QPalette& palette) {
    return readableOn(kGreen, backgroundColor(palette), kTextContrast);
}

QColor orangeColor(const QPalette& palette) {
    return readableOn(kOrange, backgroundColor(palette), kTextContrast);
}

QColor lineColor(const QPalette& palette) {
    return readableOn(palette.color(QPalette::Active, QPalette::Mid), backgroundColor(palette),
                      kGraphicContrast);
}

QColor focusColor(const QPalette& palette) {
    return readableOn(palette.color(QPalette::Active, QPalette::Highlight),
                      backgroundColor(palette), kGraphicContrast);
}

void setTextColor(QWidget& widget, const QColor& colour) {
    QPalette palette = widget.palette();
    if (palette.color(QPalette::WindowText) == colour &&
        palette.color(QPalette::ButtonText) == colour) {
        return;
    }
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::WindowText, colour);
        palette.setColor(group, QPalette::ButtonText, colour);
        palette.setColor(group, QPalette::Text, colour);
    }
    widget.setPalette(palette);
}

QColor textColor(const QWidget& widget) {
    return widget.palette().color(QPalette::Active, QPalette::WindowText);
}

void paintFocusRing(QPainter& painter, const QRect& rect, const QPalette& palette) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(focusColor(palette), kFocusRingWidth));
    const double inset = kFocusRingWidth / 2.0;
    painter.drawRoundedRect(QRectF(rect).adjusted(inset, inset, -inset, -inset), 4, 4);
    painter.restore();
}

QFrame* dividerLine(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setFixedHeight(1);
    QPalette palette = line->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::Mid));
    line->setPalette(palette);
    return line;
}

} // namespace corvalle::ui
