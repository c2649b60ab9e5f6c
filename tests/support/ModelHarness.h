#pragma once

#include "FakeAppDirectory.h"
#include "MainThread.h"
#include "MemorySettingsStore.h"
#include "MixerModel.h"
#include "SimulatedAudioHardware.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimeZone>
#include <algorithm>
#include <cstddef>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <ostream>
#include <set>

// Readable failure messages for the model's strings and stored values.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QByteArray& bytes, std::ostream* out) {
    *out << '"' << bytes.toStdString() << '"';
}

namespace corvalle::test {

// Counts the events delivered in the main thread while it is installed.
class DeliveredEvents : public QObject {
public:
    DeliveredEvents() { QCoreApplication::instance()->installEventFilter(this); }
    ~DeliveredEvents() override { QCoreApplication::instance()->removeEventFilter(this); }
    DeliveredEvents(const DeliveredEvents&) = delete;
    DeliveredEvents& operator=(const DeliveredEvents&) = delete;

    bool eventFilter(QObject* /*watched*/, QEvent* /*event*/) override {
        ++count;
        return false;
    }

    std::size_t count = 0;
};

// Runs every queued task, including the ones those tasks queue in turn: delivers
// the posted events until a round finds none left.
inline void drainEvents() {
    const DeliveredEvents delivered;
    // Far more rounds than any chain of tasks the model queues; reaching it means
    // a task that queues itself forever.
    constexpr int kMaxRounds = 1000;
    for (int round = 0; round < kMaxRounds; ++round) {
        const std::size_t before = delivered.count;
        QCoreApplication::sendPostedEvents();
        if (delivered.count == before) {
            return;
        }
    }
    ADD_FAILURE() << "posted events never ran out";
}

// A simulated audio system with one output device, an in-memory store, a fake
// application directory and a responsible-process table; the model is made on
// demand. PIDs are only looked up in the table, never on this machine.
class ModelHarness {
public:
    static constexpr pid_t kOwnPID = 7000;

    ModelHarness() {
        speakers = hardware.addDevice({.uid = "speakers", .name = "Speakers"});
        hardware.setDefaultOutput(speakers);
        drainEvents();
    }

    MixerEnvironment environment() {
        MixerEnvironment environment;
        environment.hardware = &hardware;
        environment.store = &store;
        environment.directory = &directory;
        environment.responsiblePID = [this](pid_t pid) {
            const auto it = responsible.find(pid);
            return it == responsible.end() ? pid : it->second;
        };
        environment.processExists = [this](pid_t pid) { return !endedPIDs.contains(pid); };
        environment.now = [this] { return clock; };
        environment.clock = [this] { return steady; };
        environment.ownPID = kOwnPID;
        environment.pollInterval = std::chrono::hours(1);
        return environment;
    }

    MixerModel& start() {
        model = std::make_unique<MixerModel>(environment());
        drainEvents();
        return *model;
    }

    // A process with its own bundle-ID property.
    AudioObjectID addProcess(pid_t pid, std::optional<std::string> bundleID, bool playing) {
        return hardware.addProcess({pid, std::move(bundleID), playing});
    }

    // A process of an application the desktop knows by `bundleID` and `name`.
    AudioObjectID addApp(pid_t pid, const QString& bundleID, const QString& name, bool playing) {
        directory.running[pid] = RunningApplication{bundleID, name, QStringLiteral("icon-") + name};
        return hardware.addProcess({pid, std::nullopt, playing});
    }

    // `count` playing applications keyed org.app0, org.app1, ... and named "App 0", ...
    void addApps(int count) {
        for (int i = 0; i < count; ++i) {
            addApp(300 + i, QStringLiteral("org.app%1").arg(i), QStringLiteral("App %1").arg(i),
                   true);
        }
    }

    // Settles the queued notifications and refreshes once more.
    void refresh() {
        drainEvents();
        model->refresh();
    }

    const AudioApp* row(const QString& key) const {
        const auto& apps = model->apps();
        const auto it = std::ranges::find(apps, key, &AudioApp::id);
        return it == apps.end() ? nullptr : &*it;
    }

    SimulatedAudioHardware hardware{qtMainThreadPoster()};
    MemorySettingsStore store;
    FakeAppDirectory directory;
    std::map<pid_t, pid_t> responsible;
    // PIDs of processes that have ended; every other one counts as running.
    std::set<pid_t> endedPIDs;
    QDateTime clock{QDate(2026, 1, 1), QTime(12, 0), QTimeZone::utc()};
    // The clock of fades; moves only when a test moves it.
    SteadyTime steady = SteadyTime{} + std::chrono::hours(1);
    AudioObjectID speakers = kAudioObjectUnknown;
    // Last, so it goes first: its taps are stopped while the hardware exists.
    std::unique_ptr<MixerModel> model;
};

} // namespace corvalle::test
