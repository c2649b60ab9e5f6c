#pragma once

#include <QWidget>

class QLabel;

namespace corvalle {

// The window's own title row, for Wayland compositors that leave decorations to
// the client (weston, GNOME): Qt's stand-in decoration offers maximising even to
// a window of fixed size. Shows the title with minimise and close buttons; a
// drag on it moves the window through the compositor.
class WindowTitleRow final : public QWidget {
    Q_OBJECT

public:
    explicit WindowTitleRow(QWidget* window);

    QString title() const;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* window_;
    QLabel* title_ = nullptr;
};

} // namespace corvalle
