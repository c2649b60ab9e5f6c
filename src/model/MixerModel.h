#pragma once

#include "AppDirectory.h"
#include "AppSetting.h"
#include "AudioApp.h"
#include "AudioHardware.h"
#include "EncodedSettings.h"
#include "Lowering.h"
#include "SettingsStore.h"

#include <QByteArray>
#include <QCollator>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sys/types.h>
#include <vector>

class QTimer;

namespace corvalle {

class AppTap;
class LevelMonitor;

// Everything the model talks to, so tests and --simulate can substitute each part.
struct MixerEnvironment {
    AudioHardware* hardware = nullptr;
    SettingsStore* store = nullptr;
    AppDirectory* directory = nullptr;
    std::function<pid_t(pid_t)> responsiblePID; // defaults to Responsibility
    std::function<bool(pid_t)> processExists;   // defaults to a look in /proc
    std::function<QDateTime()> now;             // defaults to the wall clock
    std::function<SteadyTime()> clock;          // times fades; defaults to the steady clock
    std::optional<pid_t> ownPID;                // defaults to getpid()
    std::chrono::milliseconds pollInterval{1000};
};

// The observable mixer: applications, their settings and taps, and the output
// device. Lives on the main thread; every published field emits its signal on
// every assignment, changed or not.
class MixerModel : public QObject {
    Q_OBJECT

public:
    static constexpr double maxVolume = Volume::kMax;

    explicit MixerModel(MixerEnvironment environment, QObject* parent = nullptr);
    ~MixerModel() override;

    // Published fields.
    const std::vector<AudioApp>& apps() const { return apps_; }
    const std::map<QString, AppSetting>& settings() const { return settings_; }
    // Goes up by one whenever `settings` changes, so observers can tell a change
    // without comparing the whole map.
    std::uint64_t settingsRevision() const { return settingsRevision_; }
    // The keys whose settings changed since `revision`, or nothing when that is
    // not known (the settings were loaded since, or too many changed).
    std::optional<std::set<QString>> settingsChangedSince(std::uint64_t revision) const;
    // The same for `apps`: up by one with every appsChanged.
    std::uint64_t appsRevision() const { return appsRevision_; }
    const QString& outputName() const { return outputName_; }
    AudioObjectID outputID() const { return outputID_; }
    const std::vector<OutputDevice>& outputDevices() const { return outputDevices_; }
    // The later told of a tap's failure and a save's failure; once it clears, the
    // other shows again while it stands.
    const std::optional<QString>& lastError() const { return lastError_; }
    // Why the latest save of the settings failed; nothing once one succeeds. The
    // settings in memory stay in force either way, and every change saves anew.
    const std::optional<QString>& saveFailure() const { return saveFailure_; }

    // The name `key` is shown by: its row's, its stored one, or its installed
    // application's; nothing when none is known.
    std::optional<QString> nameOf(const QString& key) const;
    // The stored setting of `key`, or the default one. Never creates an entry.
    AppSetting setting(const QString& key) const;

    void setVolume(double volume, const QString& key);
    void toggleMute(const QString& key);
    void reset(const QString& key);
    // Plays the application on the output device `outputUID` (a tap's sound or,
    // untapped, its streams), or with nothing where it chooses itself. Stored
    // with its setting; while that device is away it follows the default output.
    void setOutput(const std::optional<QString>& outputUID, const QString& key);
    // Whether `key`, while it plays, lowers the other applications as a call
    // does. Sound shorter than kShortestCall lowers nothing.
    void setLowersOthers(bool on, const QString& key);
    // Whether `key` remembers a volume and mute for each output device it is heard
    // on. On, its level follows the device within one refresh, with the same ramp
    // as a slider move; off, the one level it has now holds everywhere.
    void setLevelPerOutput(bool on, const QString& key);
    // Asks the audio system for `deviceID` as the default output and refreshes;
    // the audio system's status: noErr when it took the request.
    OSStatus selectOutput(AudioObjectID deviceID);
    void stopAll();
    void refresh();

    // The installed application whose bundle identifier is `key`: one that can be
    // given a setting before it ever runs. Nothing for program and PID keys.
    std::optional<InstalledApplication> installedApplication(const QString& key) const;
    // Every installed application a menu shows, by bundle identifier.
    std::vector<std::pair<QString, InstalledApplication>> installedApplications() const;

    // Read-only views for tests and the control interface.
    const std::map<QString, AudioApp>& allGroups() const { return allGroups_; }
    const std::map<QString, QDateTime>& lastSeen() const { return lastSeen_; }
    bool hasTap(const QString& key) const;
    std::size_t tapCount() const;
    // The gain the running tap of `key` applies, or nothing without a tap.
    std::optional<float> tapGain(const QString& key) const;
    // The loudest sample the tap of `key` played since the last call, or nothing
    // without a tap.
    std::optional<float> takeTapPeak(const QString& key);
    // The lowest gain the limiter of `key`'s tap applied since the last call (1
    // when it did not work), or nothing without a tap.
    std::optional<float> takeTapLimit(const QString& key);
    // The rows' levels, measured while a view watches.
    LevelMonitor& levels() { return *levels_; }

    // Whether sound a boost would take past full scale is lowered smoothly (on,
    // the default) or clipped, for every application ("Hard limit, as loud as
    // possible" is off). Stored at once; a failed save shows as saveFailure.
    bool limiterOn() const { return limiterOn_; }
    void setLimiterOn(bool on);

    // A call plays: a running group with a stream that says it carries one, or a
    // group marked to lower the others that has played for kShortestCall. While
    // one plays, and for a while after, every other group that plays (or has a
    // tap) is lowered, by tapping it where it has no tap. The lowering is a factor
    // on the tap's gain, never stored: the settings stay as they are.
    static constexpr std::chrono::milliseconds kShortestCall{500};
    const std::set<QString>& callingKeys() const { return callers_; }
    const std::set<QString>& loweredKeys() const { return lowered_; }
    // The factor on the lowered groups' gains now: 1 unless lowered.
    double loweringFactor() const;
    // The level the others go to while a call plays, from 0 to 1 (0.3 unless
    // set). Stored at once; a failed save shows as saveFailure.
    double loweredLevel() const { return lowering_.level(); }
    void setLoweredLevel(double level);

    // The applications given keyboard shortcuts of their own (raise, lower, mute),
    // by key. Stored at once beside the settings; a failed save shows as
    // saveFailure. The focused application's shortcuts need no choice.
    const std::set<QString>& shortcutKeys() const { return shortcutKeys_; }
    void setHasShortcuts(bool on, const QString& key);
    // The key of the running group that `pid` belongs to: a process of the group,
    // or one the same process is responsible for. Nothing for any other PID.
    std::optional<QString> keyOfProcess(pid_t pid) const;

signals:
    void appsChanged();
    void settingsChanged();
    void outputNameChanged();
    void outputIDChanged();
    void outputDevicesChanged();
    void lastErrorChanged();
    void limiterChanged();
    // callingKeys or loweredKeys changed.
    void loweringChanged();
    void loweredLevelChanged();
    void shortcutKeysChanged();

private:
    // Construction, listeners and the poll timer: MixerModel.cpp.
    void addListener(AudioObjectPropertySelector selector);
    void watchOutput(AudioObjectID processObject);
    void postRefresh();
    void runningOutputChanged(AudioObjectID processObject);

    // Output fields: OutputTracking.cpp.
    void refreshOutput();
    // Whether `deviceIDs` are the outputs listed now, in the same order.
    bool knowsOutputs(const std::vector<AudioObjectID>& deviceIDs) const;

    // Grouping and rows: Discovery.cpp.
    std::map<QString, AudioApp> buildGroups();
    std::vector<AudioApp> settingOnlyRows(const std::map<QString, AudioApp>& groups) const;
    void sortByName(std::vector<AudioApp>& rows) const;
    bool collatesBefore(const AudioApp& a, const AudioApp& b) const;
    // Publishes `rows` of running groups among the rows of settings alone.
    void listRows(std::vector<AudioApp> rows, const std::map<QString, AudioApp>& groups);

    // Loading and saving the settings: SettingsPersistence.cpp.
    void loadSettings();
    void forgetEndedProcesses(std::map<QString, AppSetting>& settings) const;
    void saveSettings();
    StoreWrite keepUnreadableSettings();

    // The limiter's and the lowering's preferences: Preferences.cpp.
    void loadPreferences();
    // The text stored under `key`, also when written by hand, trimmed.
    std::optional<QByteArray> storedPreference(const QString& key) const;
    void storePreference(const QString& key, const QByteArray& text);
    // The applications with shortcuts of their own: ShortcutChoices.cpp.
    void loadShortcutKeys();

    // Lowering the others while a call plays: CallLowering.cpp.
    // Follows the calls of allGroups_ to the clock's time and sets the timer for
    // the next step of a fade; reconcile() runs it first.
    void updateLowering();
    // What the timer runs while a fade, a hold or a marked sound goes on.
    void stepLowering();
    bool isMarkedToLower(const QString& key) const;
    bool needsTap(const QString& key, const AppSetting& setting) const;
    // The gain the tap of `key` applies: its setting's, lowered while a call plays.
    float gainOf(const QString& key, const AppSetting& setting) const;

    // Changing one setting: SettingChanges.cpp.
    void update(const AppSetting& setting, const QString& key);
    // Records that `key` made the present settingsRevision_.
    void noteSettingChange(const QString& key);

    // A level for each output: OutputLevels.cpp.
    // The UID of the device `setting`'s application is heard on, as reconcile()
    // routes it; nothing while no output is known.
    std::optional<QString> heardOutputUID(const AppSetting& setting) const;
    // Moves the levels of those opted in to the devices they are heard on now.
    void followOutputs();

    // What lastError shows of the two failures: MixerModel.cpp. Each call emits
    // lastErrorChanged, except a cleared save failure that was not shown.
    void setTapFailure(std::optional<QString> failure);
    void setSaveFailure(std::optional<QString> failure);
    // Shows the outcome of a write to the store as saveFailure: SettingsPersistence.cpp.
    void tellSave(const StoreWrite& write);
    // The running tap of `key`, or null: MixerModel.cpp.
    AppTap* findTap(const QString& key) const;

    // Taps to suit the settings: Reconciliation.cpp.
    void reconcile();
    void sendUntappedStreams();
    void watchTap(const QString& key, AudioObjectID aggregateID);
    void tapFailed(const QString& key, AudioObjectID aggregateID);

    MixerEnvironment env_;

    std::vector<AudioApp> apps_;
    std::map<QString, AppSetting> settings_;
    QString outputName_;
    AudioObjectID outputID_ = kAudioObjectUnknown;
    std::vector<OutputDevice> outputDevices_;
    std::optional<QString> lastError_;

    std::map<QString, std::unique_ptr<AppTap>> taps_;
    // Untapped groups whose streams were sent to a chosen output: their processes
    // and that output's UID.
    std::map<QString, std::pair<std::vector<AudioObjectID>, std::string>> sentTo_;
    std::map<QString, QDateTime> lastSeen_;
    QTimer* timer_ = nullptr;
    pid_t ownPID_ = 0;
    const QString defaultsKey_ = QStringLiteral("appSettings");
    std::map<QString, AudioApp> allGroups_;
    std::set<AudioObjectID> watched_;

    QCollator collator_;
    // Stored bytes that could not be read, kept aside before the first save
    // replaces them.
    std::optional<QByteArray> unreadableSettings_;
    // The settings as last saved, and the revision they are of (none before the
    // first save).
    EncodedSettings encodedSettings_;
    std::optional<std::uint64_t> encodedRevision_;
    // Why the latest tap tried could not be made, until one is.
    std::optional<QString> tapFailure_;
    std::optional<QString> saveFailure_;
    std::uint64_t settingsRevision_ = 0;
    std::uint64_t appsRevision_ = 0;
    // The latest changes of settings: the revision each made, and its key. Every
    // change after settingChangesFrom_ is here.
    std::deque<std::pair<std::uint64_t, QString>> settingChanges_;
    std::uint64_t settingChangesFrom_ = 0;
    static constexpr std::size_t kSettingChangesKept = 64;
    // Goes up whenever a setting's key or stored name comes, goes or changes:
    // all that the rows of settings alone show.
    std::uint64_t settingRowsRevision_ = 0;
    // The rows of settings whose application is not running, sorted, and what
    // they were made from. Most refreshes find nothing changed and reuse them;
    // they are made anew at least every kSettingRowsLifetime, as installed
    // applications that name them may come and go.
    static constexpr std::chrono::milliseconds kSettingRowsLifetime{60000};
    struct SettingRows {
        std::vector<AudioApp> rows;
        std::uint64_t revision = 0;
        std::vector<QString> groupKeys;
        QDateTime madeAt;
        bool valid = false;
    };
    SettingRows settingRows_;
    // The rows of running groups as last listed, sorted, and where each is in apps_.
    std::vector<AudioApp> groupRows_;
    std::vector<std::size_t> groupRowPositions_;
    bool limiterOn_ = true;
    // The default output's UID and every present one's, as followOutputs() last
    // followed them.
    std::vector<QString> followedOutputs_;
    Lowering lowering_;
    QTimer* loweringTimer_ = nullptr;
    // Marked groups playing now, since when; the groups whose call lowers the
    // others, and the groups it lowers.
    std::map<QString, SteadyTime> playingSince_;
    std::set<QString> callers_;
    std::set<QString> lowered_;
    // Groups tapped only for a lowering that is over, which keep their tap while
    // they play on: leaving it moves their streams, a gap heard at full level.
    std::set<QString> keptAfterLowering_;
    std::set<QString> shortcutKeys_;
    // Last: it turns off what it measures before the taps go.
    std::unique_ptr<LevelMonitor> levels_;
};

} // namespace corvalle
