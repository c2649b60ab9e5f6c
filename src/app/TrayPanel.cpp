#include "TrayPanel.h"

#include "MixerView.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

namespace corvalle {

namespace {

constexpr int kGap = 4;

} // namespace

TrayPanel::TrayPanel(MixerModel& model, LoginItem& loginItem, std::function<void()> quit,
                     QWidget* parent)
    : QWidget(parent, Qt::Popup) {
    setObjectName(QStringLiteral("trayPanel"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSizeConstraint(QLayout::SetFixedSize);
    view_ = new ui::MixerView(model, loginItem, std::move(quit), this);
    // A frame keeps the panel apart from a window of the same colour beneath it.
    view_->setFramed(true);
    stack->addWidget(view_);
}

QPoint TrayPanel::placement(const QSize& size, const QRect& anchor, const QRect& available) {
    const bool iconInUpperHalf = anchor.center().y() < available.center().y();
    int x = anchor.center().x() - size.width() / 2;
    int y = iconInUpperHalf ? anchor.bottom() + 1 + kGap : anchor.top() - kGap - size.height();
    x = std::clamp(x, available.left(),
                   std::max(available.left(), available.right() + 1 - size.width()));
    y = std::clamp(y, available.top(),
                   std::max(available.top(), available.bottom() + 1 - size.height()));
    return {x, y};
}

void TrayPanel::popUp(const QRect& iconGeometry, const QPoint& clickPoint) {
    const QRect anchor = iconGeometry.isValid() ? iconGeometry : QRect(clickPoint, QSize(1, 1));
    QScreen* screen = QGuiApplication::screenAt(anchor.center());
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
    }
    const int room = screen ? screen->availableGeometry().height() - 2 * kGap : 0;
    view_->setHeightLimit(room);
    adjustSize();
    if (const int overflow = height() - room; room > 0 && overflow > 0) {
        view_->setHeightLimit(view_->heightLimit() - overflow);
        adjustSize();
    }
    if (screen) {
        move(placement(size(), anchor, screen->availableGeometry()));
    }
    show();
    raise();
    activateWindow();
}

void TrayPanel::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace corvalle
