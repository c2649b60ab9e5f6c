#pragma once

#include "AppSetting.h"
#include "AudioApp.h"

#include <QWidget>
#include <chrono>
#include <optional>

class QLabel;
class QMenu;

namespace corvalle {

class MixerModel;

namespace ui {

class ElidedLabel;
class LevelMeter;
class SymbolButton;
class VolumeSlider;

// One application in the panel: icon, name, live level meter (shown while it
// plays), volume level, volume slider, mute and reset. Everything it shows is read
// from its AudioApp and from the model's setting for the app's id; every control
// calls the model. The wheel changes the volume only over the slider; elsewhere it
// is left to the list. Its context menu (right click, the menu key) chooses the
// output the app plays on and whether it lowers the others while it plays. A
// small sign shows while a call lowers it, another while its call lowers the others.
//
// Children carry object names for tests and tools: "icon", "name", "meter",
// "callSign", "level", "slider", "mute", "reset". Assistive technology reads each control
// with the application's name ("Volume of Firefox", "Mute Firefox").
class AppRow final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kHeight = 36;
    static constexpr int kIconSize = 26;
    static constexpr int kMuteWidth = 24;
    static constexpr int kCallSignSize = 11;
    // A row whose application is not running draws its icon this faint.
    static constexpr double kSettingOnlyOpacity = 0.6;

    AppRow(MixerModel& model, AudioApp app, QWidget* parent = nullptr);

    const QString& appID() const { return app_.id; }
    // The context menu, not yet shown: where the application plays, its level
    // for each output, the lowering during a call and its keyboard shortcuts.
    QMenu* makeContextMenu();
    const AudioApp& app() const { return app_; }

    // Shows a fresh copy of the app; only what changed is redrawn.
    void setApp(AudioApp app);
    // Redraws from the model's current setting.
    void redraw();
    // The meter shows the loudest sample of the frame that took `sinceLastFrame`.
    void showPeak(float peak, std::chrono::milliseconds sinceLastFrame, bool limited = false);
    LevelMeter* meter() const { return meter_; }
    // The user holds the slider's handle.
    bool isDragged() const;

protected:
    void changeEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void redrawApp();
    void redrawIcon();
    void redrawCallSign(const AppSetting& setting);
    void sliderMoved(int percent);

    MixerModel& model_;
    AudioApp app_;
    QLabel* icon_ = nullptr;
    ElidedLabel* name_ = nullptr;
    LevelMeter* meter_ = nullptr;
    QLabel* callSign_ = nullptr;
    QLabel* level_ = nullptr;
    VolumeSlider* slider_ = nullptr;
    SymbolButton* mute_ = nullptr;
    SymbolButton* reset_ = nullptr;
};

// The tooltip of a row whose application is not playing right now.
QString notPlayingToolTip(const QString& name);

} // namespace ui
} // namespace corvalle
