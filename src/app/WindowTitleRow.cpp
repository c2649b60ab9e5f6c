#include "WindowTitleRow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QToolButton>
#include <QWindow>

namespace corvalle {

namespace {

constexpr int kHeight = 30;
constexpr int kPadding = 8;

QToolButton* titleButton(QWidget* parent, QStyle::StandardPixmap pixmap, const QString& name,
                         const QString& tip) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setIcon(parent->style()->standardIcon(pixmap, nullptr, parent));
    button->setAutoRaise(true);
    button->setToolTip(tip);
    button->setAccessibleName(tip);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

} // namespace

WindowTitleRow::WindowTitleRow(QWidget* window) : QWidget(window), window_(window) {
    setObjectName(QStringLiteral("titleRow"));
    setFixedHeight(kHeight);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(kPadding, 0, kPadding / 2, 0);
    row->setSpacing(2);
    title_ = new QLabel(window->windowTitle(), this);
    title_->setTextFormat(Qt::PlainText);
    QFont bold = title_->font();
    bold.setBold(true);
    title_->setFont(bold);
    row->addWidget(title_, 1);
    auto* minimise =
        titleButton(this, QStyle::SP_TitleBarMinButton, QStringLiteral("minimise"), tr("Minimise"));
    auto* close =
        titleButton(this, QStyle::SP_TitleBarCloseButton, QStringLiteral("close"), tr("Close"));
    connect(minimise, &QToolButton::clicked, window, &QWidget::showMinimized);
    connect(close, &QToolButton::clicked, window, &QWidget::close);
    row->addWidget(minimise);
    row->addWidget(close);
}

QString WindowTitleRow::title() const {
    return title_->text();
}

void WindowTitleRow::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && window_->windowHandle() &&
        window_->windowHandle()->startSystemMove()) {
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void WindowTitleRow::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window).darker(106));
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawLine(rect().bottomLeft(), rect().bottomRight());
}

} // namespace corvalle
