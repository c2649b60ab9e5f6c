#include "AppDelegate.h"

#include "LoginItem.h"
#include "MainWindow.h"
#include "MixerModel.h"
#include "Symbols.h"
#include "TrayPanel.h"
#include "WindowActivation.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <algorithm>

namespace corvalle {

namespace {

bool onWayland() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

} // namespace

AppDelegate::AppDelegate(Backend& backend, Options options, QObject* parent)
    : QObject(parent), backend_(backend), options_(options) {
    trayGoneTimer_ = new QTimer(this);
    trayGoneTimer_->setSingleShot(true);
    trayGoneTimer_->setInterval(options_.trayGoneGraceMs);
    connect(trayGoneTimer_, &QTimer::timeout, this, &AppDelegate::trayGone);
    noticeTimer_ = new QTimer(this);
    noticeTimer_->setSingleShot(true);
    noticeTimer_->setInterval(options_.noticeShownMs);
    connect(noticeTimer_, &QTimer::timeout, this, [this] {
        notice_.clear();
        updateToolTip();
    });
}

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
        QTimer::singleShot(options_.windowDelayMs, this, [this] { showWindow(); });
    } else if (!options_.withTray) {
        // Without a tray icon nothing else would lead to the running program:
        // the window waits, minimised, in the task bar.
        QTimer::singleShot(options_.windowDelayMs, this, &AppDelegate::showWindowMinimised);
    }
}

MainWindow& AppDelegate::ensureWindow() {
    if (!window_) {
        window_ = new MainWindow(
            model(), *backend_.loginItem, [this] { quit(); }, options_.withTray);
        connect(window_, &MainWindow::closeRequested, this, &AppDelegate::quit);
        connect(window_, &MainWindow::restored, this, [this] { windowWaitsForTray_ = false; });
        window_->adjustSize();
        QScreen* screen = QGuiApplication::primaryScreen();
        // A Wayland client cannot place its window; the compositor centres it or
        // tiles it as it places every new window.
        if (screen && !onWayland()) {
            const QRect available = screen->availableGeometry();
            window_->move(window_->centredIn(available));
        }
    }
    return *window_;
}

void AppDelegate::showWindow(const ActivationRequest& request) {
    windowWaitsForTray_ = false;
    bringToUser(ensureWindow(), request);
    emit windowShown();
}

void AppDelegate::showWindowMinimised() {
    MainWindow& window = ensureWindow();
    if (window.isVisible()) {
        return;
    }
    // Mapped minimised from the start (the initial state of the first map), not
    // shown and then minimised: window managers that place and focus a new
    // window may ignore a request to minimise that arrives while they do.
    window.showMinimized();
    windowWaitsForTray_ = true;
}

void AppDelegate::setTrayAvailable(bool available) {
    if (available) {
        trayGoneTimer_->stop();
        options_.withTray = true;
        if (!tray_ && model_) {
            createTray();
        }
        if (window_) {
            window_->setWithTray(true);
            // Only stood in for the missing tray; the user never opened it. (Where
            // the desktop cannot minimise, as on sway, it is on screen.)
            if (windowWaitsForTray_) {
                window_->hide();
            }
        }
        windowWaitsForTray_ = false;
        return;
    }
    if (!options_.withTray) {
        return;
    }
    removeTray();
    trayGoneTimer_->start();
}

void AppDelegate::trayGone() {
    options_.withTray = false;
    if (window_) {
        window_->setWithTray(false);
    }
    if (model_) {
        showWindowMinimised();
    }
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

void AppDelegate::removeTray() {
    if (trayPanel_) {
        trayPanel_->close();
    }
    delete tray_;
    tray_ = nullptr;
    delete trayMenu_;
    trayMenu_ = nullptr;
}

// Made only once a tray is known to be there: Qt picks the kind of icon
// (StatusNotifierItem or XEmbed) when the first one is made and keeps that
// choice for the life of the process.
void AppDelegate::createTray() {
    tray_ = new QSystemTrayIcon(this);
    // The panel's colours are unknown (light and dark ones are both common): a
    // middle grey reads on either.
    tray_->setIcon(ui::symbolIcon(ui::Symbol::sliderVertical3, QColor(0x8E, 0x8E, 0x93)));
    updateToolTip();
    connect(&model(), &MixerModel::appsChanged, tray_, [this] { updateToolTip(); });
    // Some tray hosts show only a menu on any click; it leads to the same places.
    trayMenu_ = new QMenu;
    trayMenu_->addAction(tr("Open Corvalle"), this, [this] { showWindow(); });
    trayMenu_->addSeparator();
    trayMenu_->addAction(tr("Quit"), this, &AppDelegate::quit);
    tray_->setContextMenu(trayMenu_);
    connect(tray_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { trayActivated(reason); });
    tray_->show();
}

QString AppDelegate::trayToolTip(const std::vector<AudioApp>& apps) {
    const auto playing =
        std::ranges::count_if(apps, [](const AudioApp& app) { return app.isPlaying; });
    if (playing == 0) {
        return tr("Corvalle");
    }
    return tr("Corvalle\n%n app(s) playing", "tray icon tooltip", static_cast<int>(playing));
}

void AppDelegate::showNotice(const QString& text) {
    notice_ = text;
    noticeTimer_->start();
    updateToolTip();
}

void AppDelegate::updateToolTip() {
    if (tray_) {
        const QString counted = trayToolTip(model().apps());
        tray_->setToolTip(notice_.isEmpty() ? counted : counted + QLatin1Char('\n') + notice_);
    }
}

void AppDelegate::trayActivated(int reason) {
    if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::MiddleClick) {
        return;
    }
    if (onWayland()) {
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
