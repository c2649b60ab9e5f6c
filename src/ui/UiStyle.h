#pragma once

#include <QColor>
#include <QFont>

class QFrame;
class QPalette;
class QWidget;

namespace corvalle::ui {

// Named text styles of the panel, scaled from the application font so that the
// user's font settings carry through.
enum class TextStyle { headline, callout, caption, caption2 };

QFont styleFont(TextStyle style);
QFont styleFont(TextStyle style, const QFont& base);

// Named colours. Red, green and orange read well on light and dark palettes;
// "secondary" is the palette's own dimmed text colour.
QColor secondaryColor(const QPalette& palette);
QColor redColor();
QColor greenColor();
QColor orangeColor();

// A one-pixel horizontal line in the palette's mid colour, between sections.
QFrame* dividerLine(QWidget* parent);

// Sets the colour in which a label or button draws its text.
void setTextColor(QWidget& widget, const QColor& colour);
QColor textColor(const QWidget& widget);

} // namespace corvalle::ui
