#pragma once

#include "AudioApp.h"

#include <QWidget>
#include <optional>

class QLabel;
class QSlider;
class QToolButton;

namespace corvalle {

class MixerModel;

namespace ui {

class ElidedLabel;

// One application in the panel: icon, name, playing sign, level, volume slider,
// mute and reset. Everything it shows is read from its AudioApp and from the
// model's setting for the app's id; every control calls the model.
//
// Children carry object names for tests and tools: "icon", "name", "waveform",
// "level", "slider", "mute", "reset".
class AppRow final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kHeight = 36;
    static constexpr int kIconSize = 26;
    static constexpr int kMuteWidth = 18;
    // One wheel notch changes the volume by this much.
    static constexpr double kWheelStep = 0.05;

    AppRow(MixerModel& model, AudioApp app, QWidget* parent = nullptr);

    const QString& appID() const { return app_.id; }
    const AudioApp& app() const { return app_; }

    // Shows a fresh copy of the app; only what changed is redrawn.
    void setApp(AudioApp app);
    // Redraws from the model's current setting.
    void redraw();

protected:
    void wheelEvent(QWheelEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void redrawApp();
    void handleWheel(QWheelEvent& event);
    void sliderMoved(int position);

    MixerModel& model_;
    AudioApp app_;
    QLabel* icon_ = nullptr;
    ElidedLabel* name_ = nullptr;
    QLabel* waveform_ = nullptr;
    QLabel* level_ = nullptr;
    QSlider* slider_ = nullptr;
    QToolButton* mute_ = nullptr;
    QToolButton* reset_ = nullptr;
    // Wheel deltas smaller than a notch (touchpads) add up until they make one.
    int wheelRemainder_ = 0;
};

// The tooltip of a row whose application is not playing right now.
QString notPlayingToolTip(const QString& name);

} // namespace ui
} // namespace corvalle
