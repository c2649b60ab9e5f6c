#pragma once

#include <QToolButton>

namespace corvalle::ui {

// A borderless button that shows one symbol and draws a ring while it has the
// keyboard focus, whatever the widget style does.
class SymbolButton final : public QToolButton {
    Q_OBJECT

public:
    explicit SymbolButton(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace corvalle::ui
