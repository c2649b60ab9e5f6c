#pragma once

#include "AppSetting.h"
#include "AudioApp.h"
#include "AudioHardware.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include <sys/types.h>

class QTimer;

namespace corvalle {

class AppDirectory;
class AppTap;
class SettingsStore;

// Everything the model talks to, so tests and --simulate can substitute each part.
struct MixerEnvironment {
    AudioHardware* hardware = nullptr;
    SettingsStore* store = nullptr;
    AppDirectory* directory = nullptr;
    std::function<pid_t(pid_t)> responsiblePID;     // defaults to Responsibility
    std::function<QDateTime()> now;                 // defaults to the wall clock
    std::optional<pid_t> ownPID;                    // defaults to getpid()
    std::chrono::milliseconds pollInterval{1000};
};

// The observable mixer: applications, their settings and taps, and the output
// device. Lives on the main thread; every published field emits its signal on
// every assignment, changed or not.
class MixerModel : public QObject {
    Q_OBJECT

public:
    static constexpr double maxVolume = 4.0;

    explicit MixerModel(MixerEnvironment environment, QObject* parent = nullptr);
    ~MixerModel() override;

    // Published fields.
    const std::vector<AudioApp>& apps() const { return apps_; }
    const std::map<QString, AppSetting>& settings() const { return settings_; }
    const QString& outputName() const { return outputName_; }
    AudioObjectID outputID() const { return outputID_; }
    const std::vector<OutputDevice>& outputDevices() const { return outputDevices_; }
    const std::optional<QString>& lastError() const { return lastError_; }

    // The stored setting of `key`, or the default one. Never creates an entry.
    AppSetting setting(const QString& key) const;

    void setVolume(double volume, const QString& key);
    void toggleMute(const QString& key);
    void reset(const QString& key);
    void selectOutput(AudioObjectID deviceID);
    void stopAll();
    void refresh();

    // Read-only views for tests and the control interface.
    const std::map<QString, AudioApp>& allGroups() const { return allGroups_; }
    bool hasTap(const QString& key) const;
    std::size_t tapCount() const;

signals:
    void appsChanged();
    void settingsChanged();
    void outputNameChanged();
    void outputIDChanged();
    void outputDevicesChanged();
    void lastErrorChanged();

private:
    // Implemented across the model's source files; see MixerModel.cpp.
    MixerEnvironment env_;

    std::vector<AudioApp> apps_;
    std::map<QString, AppSetting> settings_;
    QString outputName_;
    AudioObjectID outputID_ = kAudioObjectUnknown;
    std::vector<OutputDevice> outputDevices_;
    std::optional<QString> lastError_;

    std::map<QString, std::unique_ptr<AppTap>> taps_;
    std::map<QString, QDateTime> lastSeen_;
    QTimer* timer_ = nullptr;
    pid_t ownPID_ = 0;
    const QString defaultsKey_ = QStringLiteral("appSettings");
    std::map<QString, AudioApp> allGroups_;
    std::set<AudioObjectID> watched_;
};

} // namespace corvalle
