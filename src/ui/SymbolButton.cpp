#include "SymbolButton.h"

#include "UiStyle.h"

#include <QPainter>

namespace corvalle::ui {

SymbolButton::SymbolButton(QWidget* parent) : QToolButton(parent) {
    setAutoRaise(true);
    setFocusPolicy(Qt::StrongFocus);
    setToolButtonStyle(Qt::ToolButtonIconOnly);
}

void SymbolButton::paintEvent(QPaintEvent* event) {
    QToolButton::paintEvent(event);
    if (hasFocus()) {
        QPainter painter(this);
        paintFocusRing(painter, rect(), palette());
    }
}

} // namespace corvalle::ui
