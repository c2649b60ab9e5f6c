#pragma once

#include <QWidget>
#include <functional>

namespace corvalle {

class LoginItem;
class MixerModel;

namespace ui {
class MixerView;
}

// The panel that drops down from the tray icon: the mixer in a popup that
// closes on a click elsewhere or Escape.
class TrayPanel final : public QWidget {
    Q_OBJECT

public:
    TrayPanel(MixerModel& model, LoginItem& loginItem, std::function<void()> quit,
              QWidget* parent = nullptr);

    ui::MixerView* mixerView() const { return view_; }

    // Shows the panel next to the tray icon: `iconGeometry` when the tray tells
    // it, else the point that was clicked. Kept on the screen, below the icon when
    // it sits at the top, above it when at the bottom.
    void popUp(const QRect& iconGeometry, const QPoint& clickPoint);

    // Where a panel of `size` goes for an icon at `anchor` on a screen with
    // `available` space.
    static QPoint placement(const QSize& size, const QRect& anchor, const QRect& available);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    ui::MixerView* view_ = nullptr;
};

} // namespace corvalle
