#include "UiStyle.h"

#include <QApplication>
#include <QFrame>
#include <QPalette>
#include <QWidget>

namespace corvalle::ui {

namespace {

// Sizes of the named styles relative to the body text (13 on the reference
// desktop, where 1 point is 1 pixel).
constexpr double kBodySize = 13.0;

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

QColor secondaryColor(const QPalette& palette) {
    return palette.color(QPalette::Active, QPalette::PlaceholderText);
}

QColor redColor() {
    return QColor(0xFF, 0x3B, 0x30);
}

QColor greenColor() {
    return QColor(0x34, 0xC7, 0x59);
}

QColor orangeColor() {
    return QColor(0xFF, 0x95, 0x00);
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
