#pragma once

#include <QColor>
#include <QFont>

class QPainter;
class QFrame;
class QPalette;
class QRect;
class QWidget;

namespace corvalle::ui {

// Named text styles of the panel, scaled from the application font so that the
// user's font settings carry through.
enum class TextStyle { headline, callout, caption, caption2 };

QFont styleFont(TextStyle style);
QFont styleFont(TextStyle style, const QFont& base);

// The least contrast against the background: text and small symbols, and large
// symbols, frames and marks.
inline constexpr double kTextContrast = 4.5;
inline constexpr double kGraphicContrast = 3.0;

// WCAG relative luminance and contrast ratio (1 to 21) of two opaque colours.
double relativeLuminance(const QColor& colour);
double contrastRatio(const QColor& a, const QColor& b);
// `wanted`, made darker or lighter just enough to reach `minRatio` against
// `background` (black or white when even that is not enough). Keeps its hue.
QColor readableOn(const QColor& wanted, const QColor& background, double minRatio);

// The colour the panel is drawn on.
QColor backgroundColor(const QPalette& palette);

// Named colours, each readable on the palette's background: "secondary" is the
// palette's dimmed text colour, red, green and orange their system hues darkened
// on light and brightened on dark backgrounds as far as the contrast needs.
QColor secondaryColor(const QPalette& palette);
QColor redColor(const QPalette& palette);
QColor greenColor(const QPalette& palette);
QColor orangeColor(const QPalette& palette);
// Frames, scroll bar handles and the 100 % mark.
QColor lineColor(const QPalette& palette);
// The keyboard focus ring.
QColor focusColor(const QPalette& palette);

// A one-pixel horizontal line in the palette's mid colour, between sections.
QFrame* dividerLine(QWidget* parent);

// Sets the colour in which a label or button draws its text.
void setTextColor(QWidget& widget, const QColor& colour);
QColor textColor(const QWidget& widget);

// A ring around `rect` that shows which control has the keyboard focus.
void paintFocusRing(QPainter& painter, const QRect& rect, const QPalette& palette);

} // namespace corvalle::ui
