#pragma once

#include "AudioApp.h"
#include "Backend.h"
#include "SingleInstance.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <vector>

class QSystemTrayIcon;
class QMenu;
class QTimer;

namespace corvalle {

class MainWindow;
class TrayPanel;

// The program's top: owns the one MixerModel, the tray icon with its panel and
// the window, opens the window after an ordinary launch and on every reopen, and
// stops every tap when the program ends.
class AppDelegate final : public QObject {
    Q_OBJECT

public:
    struct Options {
        // Whether a tray is there at start; without one the window is the way in.
        // Later changes arrive through setTrayAvailable().
        bool withTray = true;
        // Delay between the end of start-up and the window of an ordinary launch.
        int windowDelayMs = 300;
        // How long a tray may be gone (a panel restarting) before the window
        // takes over as the way in.
        int trayGoneGraceMs = 3000;
        // How long the tooltip tells what a keyboard shortcut just changed.
        int noticeShownMs = 10000;
    };

    AppDelegate(Backend& backend, Options options, QObject* parent = nullptr);
    ~AppDelegate() override;

    // The one model; made on the first call.
    MixerModel& model();

    // Start-up work once the application object exists: makes the model, the
    // tray icon, and for an ordinary launch schedules the window.
    void applicationDidFinishLaunching(bool loginItemLaunch);
    // Makes the window on the first call (centred, except on Wayland, where the
    // compositor places it), then brings it to the user; `request` carries the
    // activation token of the user action that asked for it.
    void showWindow(const ActivationRequest& request = {});
    // A tray appeared (the icon goes there, closing the window hides it) or went
    // away (after a grace period the window is the way in again).
    void setTrayAvailable(bool available);
    // Stops every tap; runs once as the event loop ends.
    void applicationWillTerminate();
    // Asks the event loop to end; the teardown above follows.
    void quit();

    // The tray icon's tooltip: the program, and how many applications play.
    static QString trayToolTip(const std::vector<AudioApp>& apps);
    // Adds `text` (what a key just changed) to the tray icon's tooltip for a while.
    void showNotice(const QString& text);

    MainWindow* window() const { return window_; }
    TrayPanel* trayPanel() const { return trayPanel_; }
    QSystemTrayIcon* trayIcon() const { return tray_; }
    bool hasTray() const { return options_.withTray; }

signals:
    void windowShown();

private:
    void createTray();
    void removeTray();
    void trayGone();
    void trayActivated(int reason);
    void showWindowMinimised();
    void updateToolTip();
    MainWindow& ensureWindow();

    Backend& backend_;
    Options options_;
    std::unique_ptr<MixerModel> model_;
    QSystemTrayIcon* tray_ = nullptr;
    QMenu* trayMenu_ = nullptr;
    TrayPanel* trayPanel_ = nullptr;
    MainWindow* window_ = nullptr;
    QTimer* trayGoneTimer_ = nullptr;
    QTimer* noticeTimer_ = nullptr;
    QString notice_;
    // The window was shown minimised because there was no tray, not by the user.
    bool windowWaitsForTray_ = false;
    bool terminated_ = false;
};

} // namespace corvalle
