#include "MainWindow.h"

#include "MixerView.h"
#include "Symbols.h"
#include "UiStyle.h"
#include "WindowTitleRow.h"
#include "X11Desktop.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

namespace corvalle {

namespace {

constexpr int kHintPadding = 12;
constexpr int kHintSymbolSize = 14;
// The window manager's frame around the window, until the real one is known.
constexpr int kFrameAllowance = 40;

} // namespace

MainWindow::MainWindow(MixerModel& model, LoginItem& loginItem, std::function<void()> quit,
                       bool withTray, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::WindowMinimizeButtonHint | Qt::CustomizeWindowHint),
      withTray_(withTray) {
    setWindowTitle(tr("Corvalle"));
    setObjectName(QStringLiteral("mainWindow"));

    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    // The window takes the content's size and keeps the user from changing it.
    stack->setSizeConstraint(QLayout::SetFixedSize);

    titleRow_ = new WindowTitleRow(this);
    titleRow_->hide();
    stack->addWidget(titleRow_);

    view_ = new ui::MixerView(model, loginItem, std::move(quit), this);
    stack->addWidget(view_);

    stack->addWidget(ui::dividerLine(this));

    auto* hint = new QWidget(this);
    hint->setObjectName(QStringLiteral("hint"));
    hint->setFixedWidth(ui::MixerView::kWidth);
    auto* hintRow = new QHBoxLayout(hint);
    hintRow->setContentsMargins(kHintPadding, kHintPadding, kHintPadding, kHintPadding);
    hintRow->setSpacing(6);
    // The tray's own symbol, so that the user knows the icon to look for.
    auto* symbol = new QLabel(hint);
    symbol->setObjectName(QStringLiteral("hintSymbol"));
    symbol->setProperty(ui::kSymbolProperty, ui::symbolName(ui::Symbol::sliderVertical3));
    hintRow->addWidget(symbol, 0, Qt::AlignTop);
    auto* text = new QLabel(hint);
    text->setObjectName(QStringLiteral("hintText"));
    text->setTextFormat(Qt::PlainText);
    text->setWordWrap(true);
    text->setFont(ui::styleFont(ui::TextStyle::caption));
    text->setText(hintFor(withTray));
    hintRow->addWidget(text, 1);
    stack->addWidget(hint);
    redrawHintColours();
    fitToScreen();
}

void MainWindow::redrawHintColours() {
    const QColor secondary = ui::secondaryColor(palette());
    if (auto* symbol = findChild<QLabel*>(QStringLiteral("hintSymbol"))) {
        symbol->setPixmap(
            ui::symbolIcon(ui::Symbol::sliderVertical3, secondary)
                .pixmap(QSize(kHintSymbolSize, kHintSymbolSize), devicePixelRatioF()));
    }
    if (auto* text = findChild<QLabel*>(QStringLiteral("hintText"))) {
        ui::setTextColor(*text, secondary);
    }
}

int MainWindow::frameHeight() const {
    const int frame = frameGeometry().height() - height();
    return isVisible() && frame > 0 ? frame : kFrameAllowance;
}

void MainWindow::fitToScreen() {
    const QScreen* shownOn = screen();
    if (!shownOn) {
        return;
    }
    // Everything but the list has its natural height; the list gets what the
    // screen leaves, frame included.
    const int room = shownOn->availableGeometry().height() - frameHeight();
    const int around = sizeHint().height() - view_->sizeHint().height();
    view_->setHeightLimit(room - around);
    adjustSize();
    // The wrapped hint is taller at its real width than its size hint says;
    // what still sticks out comes off the list.
    if (const int overflow = height() - room; overflow > 0) {
        view_->setHeightLimit(view_->heightLimit() - overflow);
        adjustSize();
    }
}

QPoint MainWindow::centredIn(const QRect& available) const {
    // Centred, unless the frame would then reach past the bottom; never above the top.
    const int x = available.center().x() - width() / 2;
    int y = available.center().y() - height() / 2;
    y = std::min(y, available.bottom() + 1 - height() - frameHeight());
    return {std::max(available.left(), x), std::max(available.top(), y)};
}

QString MainWindow::hintFor(bool withTray) {
    return withTray
               ? tr("Corvalle also lives in your system tray — click its slider icon to open "
                    "the mixer.")
               : tr("Your desktop shows no tray icons, so Corvalle lives in this window. Closing "
                    "it quits Corvalle and returns every app to its own volume.");
}

void MainWindow::setWithTray(bool withTray) {
    withTray_ = withTray;
    if (auto* text = findChild<QLabel*>(QStringLiteral("hintText"))) {
        text->setText(hintFor(withTray));
    }
    fitToScreen();
}

QString MainWindow::hintText() const {
    const auto* text = findChild<QLabel*>(QStringLiteral("hintText"));
    return text ? text->text() : QString();
}

MainWindow::~MainWindow() = default;

void MainWindow::closeEvent(QCloseEvent* event) {
    // With a tray icon the window only hides; it comes back, where it was, on
    // the next showWindow().
    event->accept();
    if (!withTray_) {
        emit closeRequested();
    }
}

void MainWindow::useOwnTitleRow() {
    if (titleRow_->isVisible() || (windowFlags() & Qt::FramelessWindowHint)) {
        return;
    }
    const bool wasVisible = isVisible();
    // Changing the flags takes the window off the screen; it comes back at once.
    // (Button hints would make Qt drop the frameless hint again.)
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    titleRow_->show();
    fitToScreen();
    if (wasVisible) {
        show();
        activateWindow();
    }
}

void MainWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (windowHandle() && !screenWatched_) {
        screenWatched_ = true;
        connect(windowHandle(), &QWindow::screenChanged, this, [this] { fitToScreen(); });
    }
    // New window flags make a new native window.
    if (windowHandle() && (!coverWatch_ || coverWatch_->windowID() != winId())) {
        coverWatch_ = X11CoverWatch::create(*windowHandle());
        view_->setCovered(false);
        if (coverWatch_) {
            connect(coverWatch_.get(), &X11CoverWatch::coveredChanged, view_,
                    &ui::MixerView::setCovered);
        }
    }
    fitToScreen();
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland")) ||
        (windowFlags() & Qt::FramelessWindowHint)) {
        return;
    }
    // On Wayland a frame with margins is one Qt draws itself (the compositor
    // offers no server-side decorations); its maximise button cannot be hidden.
    // The frame is made once the show has been handled.
    QTimer::singleShot(0, this, [this] {
        if (isVisible() && windowHandle() && windowHandle()->frameMargins().top() > 0) {
            useOwnTitleRow();
        }
    });
}

void MainWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) {
        redrawHintColours();
    }
    if (event->type() == QEvent::WindowStateChange &&
        (static_cast<QWindowStateChangeEvent*>(event)->oldState() & Qt::WindowMinimized) &&
        !(windowState() & Qt::WindowMinimized)) {
        emit restored();
    }
    QWidget::changeEvent(event);
}

} // namespace corvalle
