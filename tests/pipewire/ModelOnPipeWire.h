#pragma once

#include "CA.h"
#include "DesktopAppDirectory.h"
#include "MainThread.h"
#include "MemorySettingsStore.h"
#include "MixerModel.h"
#include "PipeWireAudioHardware.h"
#include "PwTestKit.h"
#include "TempDir.h"

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace corvalle::test {

// The test player's amplitude in startTone(): +6 dB stays below full scale, and
// 400 % has to be clipped.
inline constexpr double kToneAmplitude = 0.3;
// Below this a device's monitor counts as silent.
inline constexpr double kSilentDB = -70.0;

// The key of the row a child's program gets without a desktop entry.
inline QString keyOf(const ChildProcess& child) {
    return QString::fromStdString(programKey(child));
}

// The mixer model on the PipeWire backend in a private session of its own, with
// the main loop turned by the waits below.
class ModelOnPipeWire : public ::testing::Test {
protected:
    // `sessionEnvironment`: the variant of scripts/pw-session to start.
    explicit ModelOnPipeWire(const std::string& sessionEnvironment = "")
        : session(sessionEnvironment) {}

    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "corvalle-pipewire-test";
        static char* argv[] = {name, nullptr};
        static QCoreApplication application(argc, argv);
    }

    void SetUp() override {
        ASSERT_TRUE(session.isRunning());
        hardware = std::make_unique<PipeWireAudioHardware>(qtMainThreadPoster());
        ASSERT_TRUE(hardware->waitUntilConnected(5000));
        DesktopDirectoryOptions options;
        options.dataDirs = {QString::fromStdString(dataDir.path().string())};
        directory = std::make_unique<DesktopAppDirectory>(options);
        makeModel();
    }

    // A new model on the same backend, settings and desktop entries, as when
    // Corvalle starts again.
    void makeModel() {
        model.reset();
        MixerEnvironment env;
        env.hardware = hardware.get();
        env.store = &store;
        env.directory = directory.get();
        model = std::make_unique<MixerModel>(env);
    }

    void TearDown() override {
        model.reset();
        hardware.reset();
        QCoreApplication::processEvents();
    }

    // test::eventually, with the main loop running meanwhile.
    template <typename Condition>
    bool spinUntil(Condition condition, std::chrono::milliseconds timeout) {
        return eventually(
            [&] {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
                return condition();
            },
            timeout);
    }

    const AudioApp* row(const QString& key) const {
        const auto& apps = model->apps();
        const auto found =
            std::find_if(apps.begin(), apps.end(), [&](const AudioApp& a) { return a.id == key; });
        return found == apps.end() ? nullptr : &*found;
    }
    bool playing(const QString& key) const { return row(key) != nullptr && row(key)->isPlaying; }

    // Waits until the model lists `key` as playing, then sets it to 50 % and
    // waits for its tap.
    bool tapAtHalf(const QString& key) {
        const bool isPlaying = spinUntil([&] { return playing(key); }, std::chrono::seconds(5));
        model->setVolume(0.5, key);
        return isPlaying && spinUntil([&] { return model->hasTap(key); }, std::chrono::seconds(3));
    }

    // Records `meter` for `ms` while the main loop turns, running `action`
    // `lead` after the recording began.
    template <typename Action>
    std::vector<float> recordAround(MonitorMeter& meter, int ms, std::chrono::milliseconds lead,
                                    Action action) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        meter.startRecording(ms);
        spinUntil([] { return false; }, lead);
        action();
        spinUntil([&] { return std::chrono::steady_clock::now() >= end; },
                  std::chrono::milliseconds(ms));
        return meter.takeChannels().front();
    }

    // Runs `work` on a worker thread while the main loop turns.
    template <typename Work>
    void whileSpinning(Work work,
                       std::chrono::milliseconds timeout = std::chrono::milliseconds(20000)) {
        std::atomic<bool> done{false};
        std::thread worker([&] {
            work();
            done = true;
        });
        spinUntil([&] { return done.load(); }, timeout);
        worker.join();
    }

    // The level once `accept` takes it, measured while the main loop runs.
    Level settled(MonitorMeter& meter, const std::function<bool(const Level&)>& accept,
                  int timeoutMs = 3000) {
        Level level;
        whileSpinning([&] { level = settledLevel(meter, accept, timeoutMs); },
                      std::chrono::milliseconds(timeoutMs + 2000));
        return level;
    }
    // The level in dB once within 0.1 dB of `expectedDB`, or the last measured.
    double settledDB(MonitorMeter& meter, double expectedDB, int timeoutMs = 3000) {
        return settled(
                   meter, [&](const Level& l) { return std::fabs(l.rmsDB - expectedDB) <= 0.1; },
                   timeoutMs)
            .rmsDB;
    }
    // Every output settles at what `expected` says it carries (a level in dB, or
    // kSilentDB), without silent blocks in `recordMs` where sound is expected.
    // Prints the figures.
    void expectHeard(const std::map<std::string, double>& expected, const std::string& when,
                     int recordMs = 500) {
        for (const auto& entry : expected) {
            const std::string& device = entry.first;
            const double db = entry.second;
            const bool silence = db <= kSilentDB;
            MonitorMeter meter(device);
            const Level level = settled(meter, [&](const Level& l) {
                return silence ? l.rmsDB < kSilentDB : std::fabs(l.rmsDB - db) <= 0.1;
            });
            const int runs = silence ? 0 : silentRuns(recorded(meter, recordMs));
            if (silence) {
                EXPECT_LT(level.rmsDB, kSilentDB) << when << ": " << device;
            } else {
                EXPECT_NEAR(level.rmsDB, db, 0.1) << when << ": " << device;
                EXPECT_EQ(runs, 0) << when << ": " << device;
            }
            std::printf("%-44s %-11s %8.2f dB (expected %s), %d silent runs\n", when.c_str(),
                        device.c_str(), level.rmsDB,
                        silence ? "silence" : std::to_string(db).c_str(), runs);
        }
    }

    // cleanRecording() while the main loop runs.
    std::vector<float> recorded(MonitorMeter& meter, int ms) {
        std::vector<float> samples;
        whileSpinning([&] { samples = cleanRecording(meter, ms); });
        return samples;
    }

    // Another program makes `name` the default output.
    void makeDefault(const std::string& name) const {
        session.run("pw-metadata -n default 0 default.configured.audio.sink '{\"name\":\"" + name +
                    "\"}' Spa:String:JSON >/dev/null");
    }
    // A null sink through the PulseAudio server, and its removal (of every such
    // sink): true once the backend lists it, or no longer does.
    bool loadNullSink(const std::string& name) {
        session.run("pactl load-module module-null-sink sink_name=" + name + " >/dev/null");
        return spinUntil([&] { return deviceNamed(name) != kAudioObjectUnknown; },
                         std::chrono::seconds(5));
    }
    bool unloadNullSink(const std::string& name) {
        session.run("pactl unload-module module-null-sink");
        return spinUntil([&] { return deviceNamed(name) == kAudioObjectUnknown; },
                         std::chrono::seconds(5));
    }

    AudioObjectID deviceNamed(const std::string& uid) {
        for (const AudioObjectID id : CA::outputDevices(*hardware)) {
            if (CA::deviceUID(*hardware, id) == uid) {
                return id;
            }
        }
        return kAudioObjectUnknown;
    }

    // Starts the test player at kToneAmplitude with `arguments` in `tone`; its
    // row key.
    QString startTone(const std::vector<std::string>& arguments = {}) {
        std::vector<std::string> argv{testPlayerPath(), "--amplitude",
                                      std::to_string(kToneAmplitude)};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        tone.emplace(argv);
        return keyOf(*tone);
    }

    PipeWireSession session;
    TempDir dataDir;
    MemorySettingsStore store;
    std::unique_ptr<PipeWireAudioHardware> hardware;
    std::unique_ptr<DesktopAppDirectory> directory;
    std::unique_ptr<MixerModel> model;
    std::optional<ChildProcess> tone;
};

} // namespace corvalle::test
