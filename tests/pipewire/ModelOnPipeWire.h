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
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <thread>

namespace corvalle::test {

// The test player's amplitude in startTone(): +6 dB stays below full scale, and
// 400 % has to be clipped.
inline constexpr double kToneAmplitude = 0.3;
// Its level alone and at 50 %.
inline const double kToneDB = toDB(kToneAmplitude / std::sqrt(2.0));
inline const double kHalfToneDB = kToneDB + toDB(0.5);
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
    void spinFor(std::chrono::milliseconds time) {
        spinUntil([] { return false; }, time);
    }

    const AudioApp* row(const QString& key) const {
        const auto found = std::ranges::find(model->apps(), key, &AudioApp::id);
        return found == model->apps().end() ? nullptr : &*found;
    }
    bool playing(const QString& key) const { return row(key) != nullptr && row(key)->isPlaying; }

    // Waits until the model lists `key` as playing, then sets it to 50 % and
    // waits for its tap.
    bool tapAtHalf(const QString& key) {
        const bool isPlaying = spinUntil([&] { return playing(key); }, std::chrono::seconds(5));
        model->setVolume(0.5, key);
        return isPlaying && spinUntil([&] { return model->hasTap(key); }, std::chrono::seconds(3));
    }
    // Whether the model's output becomes `uid` within `timeout`.
    bool outputBecomes(const std::string& uid,
                       std::chrono::milliseconds timeout = std::chrono::seconds(3)) {
        return spinUntil([&] { return model->outputID() == deviceNamed(uid); }, timeout);
    }

    // Records `meter` for `ms` while the main loop turns, running each action
    // at its time after the recording began.
    std::vector<float> recordAround(
        MonitorMeter& meter, int ms,
        const std::vector<std::pair<std::chrono::milliseconds, std::function<void()>>>& actions) {
        const auto begin = std::chrono::steady_clock::now();
        const auto past = [&](std::chrono::milliseconds at) {
            spinUntil([&] { return std::chrono::steady_clock::now() - begin >= at; }, at);
        };
        meter.startRecording(ms);
        for (const auto& [at, action] : actions) {
            past(at);
            action();
        }
        past(std::chrono::milliseconds(ms));
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
        whileSpinning([&] { level = settledLevel(meter, accept, timeoutMs); });
        return level;
    }
    // The level in dB once within 0.1 dB of `expectedDB`, or the last measured.
    double settledDB(MonitorMeter& meter, double expectedDB, int timeoutMs = 3000) {
        const auto near = [&](const Level& l) { return std::fabs(l.rmsDB - expectedDB) <= 0.1; };
        return settled(meter, near, timeoutMs).rmsDB;
    }
    // Every output settles at what `expected` says it carries (a level in dB, or
    // kSilentDB), all measured at the same moments, and carries it without
    // silent blocks: in the settled window, else in the first of three
    // recordings of 500 ms without any; or, with `recordMs`, in the first of
    // three recordings that long.
    void expectHeard(const std::map<std::string, double>& expected, const std::string& when,
                     int recordMs = 0) {
        std::vector<std::unique_ptr<MonitorMeter>> owned;
        std::vector<MonitorMeter*> meters;
        std::vector<double> dbs;
        // Silent runs per output, -1 until counted; a silent output has none to count.
        std::vector<int> runs;
        for (const auto& [device, db] : expected) {
            meters.push_back(owned.emplace_back(std::make_unique<MonitorMeter>(device)).get());
            dbs.push_back(db);
            runs.push_back(db <= kSilentDB ? 0 : -1);
        }
        const auto countRuns = [&](const std::vector<std::vector<float>>& samples) {
            for (std::size_t i = 0; i < runs.size(); ++i) {
                runs[i] = runs[i] == 0 ? 0 : silentRuns(samples[i]);
            }
        };
        const auto accept = [&](std::size_t i, const Level& l) {
            return dbs[i] <= kSilentDB ? l.rmsDB < kSilentDB : std::fabs(l.rmsDB - dbs[i]) <= 0.1;
        };
        std::vector<Level> levels;
        whileSpinning([&] {
            std::vector<std::vector<float>> window;
            levels = settledLevels(meters, accept, 3000, &window);
            if (recordMs == 0) {
                countRuns(window);
            }
            for (int attempt = 0; attempt < 3 && std::ranges::any_of(runs, [](int r) { return r; });
                 ++attempt) {
                countRuns(recordAll(meters, recordMs == 0 ? 500 : recordMs));
            }
        });
        std::size_t i = 0;
        for (const auto& [device, db] : expected) {
            EXPECT_TRUE(accept(i, levels[i]))
                << when << ": " << device << " at " << levels[i].rmsDB << " dB";
            EXPECT_EQ(runs[i], 0) << when << ": " << device;
            ++i;
        }
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
        const auto devices = CA::outputDevices(*hardware);
        const auto found = std::ranges::find_if(
            devices, [&](AudioObjectID id) { return CA::deviceUID(*hardware, id) == uid; });
        return found == devices.end() ? kAudioObjectUnknown : *found;
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
    // The JACK test player at kToneAmplitude in `tone`, linked to the ports
    // `ports` matches; false when it was not built.
    bool startJackTone(const std::string& ports) {
        if (jackPlayerPath().empty()) {
            return false;
        }
        tone.emplace(std::vector<std::string>{jackPlayerPath(), "--amplitude",
                                              std::to_string(kToneAmplitude), "--ports", ports},
                     std::vector<std::string>{jackLibraryEnvironment()});
        return true;
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
