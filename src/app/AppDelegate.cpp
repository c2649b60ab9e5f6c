#include "AppDelegate.h"

#include "LoginItem.h"
#include "MainWindow.h"
#include "MixerModel.h"
#include "Symbols.h"
#include "TrayPanel.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>

namespace corvalle {

AppDelegate::AppDelegate(Backend& backend, Options options, QObject* parent)
    : QObject(parent), backend_(backend), options_(options) {}

AppDelegate::~AppDelegate() {
    // Views first: they hold the model by reference.
    delete trayPanel_;
    delete window_;
    delete tray_;
    delete trayMenu_;
    applicationWillTerminate();
    model_.reset();
}

MixerModel& AppDelegate::model() {
    if (!model_) {
        model_ = std::make_unique<MixerModel>(backend_.environment());
    }
    return *model_;
}

void AppDelegate::applicationDidFinishLaunching(bool loginItemLaunch) {
    model();
    if (options_.withTray) {
        createTray();
    }
    if (!loginItemLaunch) {
        QTimer::singleShot(options_.windowDelayMs, this, &AppDelegate::showWindow);
    } else if (!options_.withTray) {
        // Without a tray icon nothing else would lead to the running program:
        // the window waits, minimised, in the task bar.
        QTimer::singleShot(options_.windowDelayMs, this, [this] {
            showWindow();
            window_->showMinimized();
        });
    }
}

void AppDelegate::showWindow() {
    if (!window_) {
        window_ = new MainWindow(
            model(), *backend_.loginItem, [this] { quit(); }, options_.withTray);
        connect(window_, &MainWindow::closeRequested, this, &AppDelegate::quit);
        window_->adjustSize();
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect available = screen->availableGeometry();
            window_->move(available.center() - QPoint(window_->width() / 2, window_->height() / 2));
        }
    }
    if (window_->isMinimized()) {
        window_->showNormal();
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
    emit windowShown();
}

void AppDelegate::applicationWillTerminate() {
    if (terminated_ || !model_) {
        return;
    }
    terminated_ = true;
    model_->stopAll();
}

void AppDelegate::quit() {
    if (trayPanel_) {
        trayPanel_->close();
    }
    QCoreApplication::quit();
}

void AppDelegate::createTray() {
    tray_ = new QSystemTrayIcon(this);
    // The panel's colours are unknown (light and dark ones are both common): a
    // middle grey reads on either.
    tray_->setIcon(ui::bundledSymbolIcon(ui::Symbol::sliderVertical3, QColor(0x8E, 0x8E, 0x93)));
    tray_->setToolTip(tr("Corvalle"));
    // Some tray hosts show only a menu on any click; it leads to the same places.
    trayMenu_ = new QMenu;
    trayMenu_->addAction(tr("Open Corvalle"), this, &AppDelegate::showWindow);
    trayMenu_->addSeparator();
    trayMenu_->addAction(tr("Quit"), this, &AppDelegate::quit);
    tray_->setContextMenu(trayMenu_);
    connect(tray_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { trayActivated(reason); });
    tray_->show();
}

void AppDelegate::trayActivated(int reason) {
    if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::MiddleClick) {
        return;
    }
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        // A Wayland client can neither place a panel next to the icon nor open a
        // popup without a window of its own to hang it on: the window stands in.
        showWindow();
        return;
    }
    if (trayPanel_ && trayPanel_->isVisible()) {
        trayPanel_->close();
        return;
    }
    if (!trayPanel_) {
        trayPanel_ = new TrayPanel(model(), *backend_.loginItem, [this] { quit(); });
    }
    trayPanel_->popUp(tray_->geometry(), QCursor::pos());
}

} // namespace corvalle
