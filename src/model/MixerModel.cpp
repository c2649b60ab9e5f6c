#include "MixerModel.h"

#include "AppTap.h"
#include "CA.h"
#include "LevelMonitor.h"
#include "Log.h"
#include "ProcessIdentity.h"
#include "Responsibility.h"

#include <QLocale>
#include <QMetaObject>
#include <QPointer>
#include <QTimer>
#include <unistd.h>

namespace corvalle {

MixerModel::MixerModel(MixerEnvironment environment, QObject* parent)
    : QObject(parent), env_(std::move(environment)) {
    Q_ASSERT(env_.hardware != nullptr);
    if (!env_.responsiblePID) {
        env_.responsiblePID = [](pid_t pid) { return Responsibility::responsiblePID(pid); };
    }
    if (!env_.processExists) {
        env_.processExists = [](pid_t pid) {
            return process::processStamp("/proc", pid).has_value();
        };
    }
    if (!env_.now) {
        env_.now = [] { return QDateTime::currentDateTimeUtc(); };
    }
    if (!env_.clock) {
        env_.clock = [] { return std::chrono::steady_clock::now(); };
    }
    ownPID_ = env_.ownPID.value_or(getpid());
    // The C locale collates by code point, ignoring case and numbers; its users
    // get the neutral English rules instead.
    if (collator_.locale().language() == QLocale::C) {
        collator_.setLocale(QLocale(QLocale::English));
    }
    collator_.setCaseSensitivity(Qt::CaseInsensitive);
    // "Player 7" comes before "Player 10".
    collator_.setNumericMode(true);

    loadSettings();
    loadPreferences();
    addListener(kAudioHardwarePropertyProcessObjectList);
    addListener(kAudioHardwarePropertyDefaultOutputDevice);
    // A chosen output that goes or comes back moves its taps at once. Our own
    // aggregates come and go on that list too: they change no output.
    env_.hardware->addPropertyListener(
        CA::system, CA::address(kAudioHardwarePropertyDevices),
        [model = QPointer<MixerModel>(this)](std::uint32_t, const AudioObjectPropertyAddress*) {
            if (model && !model->knowsOutputs(CA::outputDevices(*model->env_.hardware))) {
                model->postRefresh();
            }
        });

    timer_ = new QTimer(this);
    timer_->setInterval(env_.pollInterval);
    connect(timer_, &QTimer::timeout, this, &MixerModel::postRefresh);
    timer_->start();
    loweringTimer_ = new QTimer(this);
    loweringTimer_->setSingleShot(true);
    loweringTimer_->setTimerType(Qt::PreciseTimer);
    connect(loweringTimer_, &QTimer::timeout, this, &MixerModel::stepLowering);

    refresh();
    levels_ = std::make_unique<LevelMonitor>(*this, *env_.hardware);
}

MixerModel::~MixerModel() = default;

void MixerModel::refresh() {
    refreshOutput();
    followOutputs();

    std::map<QString, AudioApp> groups = buildGroups();
    for (const auto& [key, group] : groups) {
        for (const AudioObjectID object : group.processObjects) {
            watchOutput(object);
        }
    }

    const QDateTime now = env_.now();
    for (const auto& [key, group] : groups) {
        if (group.isPlaying) {
            lastSeen_.insert_or_assign(key, now);
        }
    }
    std::erase_if(lastSeen_, [&](const auto& entry) { return !groups.contains(entry.first); });

    std::vector<AudioApp> rows;
    for (const auto& [key, group] : groups) {
        if (lastSeen_.contains(key) || settings_.contains(key) || taps_.contains(key)) {
            rows.push_back(group);
        }
    }
    listRows(std::move(rows), groups);
    allGroups_ = std::move(groups);
    reconcile();
}

// Each trigger gets its own queued refresh; the model is held weakly so a trigger
// that outlives it does nothing.
void MixerModel::postRefresh() {
    QMetaObject::invokeMethod(
        this,
        [model = QPointer<MixerModel>(this)] {
            if (model) {
                model->refresh();
            }
        },
        Qt::QueuedConnection);
}

void MixerModel::addListener(AudioObjectPropertySelector selector) {
    env_.hardware->addPropertyListener(
        CA::system, CA::address(selector),
        [model = QPointer<MixerModel>(this)](std::uint32_t, const AudioObjectPropertyAddress*) {
            if (model) {
                model->postRefresh();
            }
        });
}

void MixerModel::watchOutput(AudioObjectID processObject) {
    if (!watched_.insert(processObject).second) {
        return;
    }
    // A call that starts or stops within a running stream counts as a change too.
    for (const AudioObjectPropertySelector selector :
         {kAudioProcessPropertyIsRunningOutput, kAudioProcessPropertyIsRunningCall}) {
        env_.hardware->addPropertyListener(
            processObject, CA::address(selector),
            [model = QPointer<MixerModel>(this), processObject](std::uint32_t,
                                                                const AudioObjectPropertyAddress*) {
                if (!model) {
                    return;
                }
                QMetaObject::invokeMethod(
                    model.data(),
                    [model, processObject] {
                        if (model) {
                            model->runningOutputChanged(processObject);
                        }
                    },
                    Qt::QueuedConnection);
            });
    }
}

void MixerModel::runningOutputChanged(AudioObjectID processObject) {
    const auto running = CA::get<std::uint32_t>(*env_.hardware, processObject,
                                                kAudioProcessPropertyIsRunningOutput, 0);
    if (running != 0) {
        for (const auto& [key, group] : allGroups_) {
            if (std::ranges::find(group.processObjects, processObject) !=
                group.processObjects.end()) {
                lastSeen_.insert_or_assign(key, env_.now());
                break;
            }
        }
    }
    refresh();
}

OSStatus MixerModel::selectOutput(AudioObjectID deviceID) {
    const OSStatus status = CA::setDefaultOutputDevice(*env_.hardware, deviceID);
    if (status == noErr) {
        qCInfo(lcModel) << "asked for output device" << deviceID;
    } else {
        qCWarning(lcModel) << "the audio system refused output device" << deviceID << "(OSStatus"
                           << status << ")";
    }
    refresh();
    return status;
}

void MixerModel::setTapFailure(std::optional<QString> failure) {
    tapFailure_ = std::move(failure);
    lastError_ = tapFailure_ ? tapFailure_ : saveFailure_;
    emit lastErrorChanged();
}

void MixerModel::setSaveFailure(std::optional<QString> failure) {
    const bool shown = saveFailure_ && lastError_ == saveFailure_;
    saveFailure_ = std::move(failure);
    if (saveFailure_) {
        lastError_ = saveFailure_;
    } else if (shown) {
        lastError_ = tapFailure_;
    } else {
        return;
    }
    emit lastErrorChanged();
}

bool MixerModel::hasTap(const QString& key) const {
    return taps_.contains(key);
}

std::size_t MixerModel::tapCount() const {
    return taps_.size();
}

AppTap* MixerModel::findTap(const QString& key) const {
    const auto it = taps_.find(key);
    return it == taps_.end() ? nullptr : it->second.get();
}

std::optional<float> MixerModel::tapGain(const QString& key) const {
    const AppTap* tap = findTap(key);
    return tap != nullptr ? std::optional(tap->gain()) : std::nullopt;
}

std::optional<float> MixerModel::takeTapPeak(const QString& key) {
    AppTap* tap = findTap(key);
    return tap != nullptr ? std::optional(tap->takePeak()) : std::nullopt;
}

std::optional<float> MixerModel::takeTapLimit(const QString& key) {
    AppTap* tap = findTap(key);
    return tap != nullptr ? std::optional(tap->takeLimit()) : std::nullopt;
}

} // namespace corvalle
