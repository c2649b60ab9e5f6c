// refresh() with 200 process objects in 60 applications and 30 settings, on the
// simulated audio system, the applications found by DesktopAppDirectory among 500
// generated desktop entries. Baseline, in the same run: reading the three
// properties of every process object that any refresh must read.
#include "CA.h"
#include "DesktopAppDirectory.h"
#include "DesktopFixture.h"
#include "FakeAppDirectory.h"
#include "MainThread.h"
#include "MemorySettingsStore.h"
#include "MixerModel.h"
#include "RecordedRuns.h"
#include "SimulatedAudioHardware.h"
#include "TempDir.h"

#include <QCoreApplication>
#include <QLocale>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <memory>

namespace corvalle {
namespace {

constexpr int kEntries = 500;
constexpr int kApplications = 60;
constexpr int kProcesses = 200;
constexpr int kSettings = 30;
constexpr int kSettingsOfRunningApps = 20;

QString entryID(int entry) {
    return QStringLiteral("app-%1").arg(entry, 3, 10, QLatin1Char('0'));
}

// The world every benchmark shares: built once.
struct World {
    World() {
        test::writeDesktopEntries(dir.path() / "share" / "applications", kEntries);
        const auto procRoot = dir.path() / "proc";

        // Applications 0-19 have four helpers, 20-39 one, 40-59 two: 140 helpers.
        int processes = 0;
        for (int app = 0; app < kApplications; ++app) {
            const int entry = app * 8;
            const std::string exe = "/usr/bin/" + entryID(entry).toStdString();
            const pid_t main = 20000 + app * 10;
            const int helpers = app < 20 ? 4 : (app < 40 ? 1 : 2);
            for (int k = 0; k <= helpers; ++k) {
                test::FakeProcess process;
                process.pid = main + k;
                process.ppid = k == 0 ? 1 : main;
                process.comm = entryID(entry).toStdString();
                process.exe = exe;
                test::writeProcEntry(procRoot, process);
                responsible[process.pid] = main;
                hardware.addProcess({process.pid, std::nullopt, processes % 3 == 0});
                ++processes;
            }
        }
        if (processes != kProcesses) {
            std::fprintf(stderr, "expected %d processes, made %d\n", kProcesses, processes);
        }
        const AudioObjectID speakers = hardware.addDevice({.uid = "speakers", .name = "Speakers"});
        hardware.addDevice({.uid = "usb", .name = "USB Audio"});
        hardware.setDefaultOutput(speakers);

        // 20 settings of running applications, 10 of installed ones not running.
        std::map<QString, AppSetting> settings;
        for (int i = 0; i < kSettings; ++i) {
            const int entry = i < kSettingsOfRunningApps ? i * 8 * 3 % (kApplications * 8)
                                                         : 480 + i - kSettingsOfRunningApps;
            settings[entryID(entry)] = AppSetting{0.5, i % 4 == 0, std::nullopt};
        }
        QByteArray json("{");
        for (const auto& [key, setting] : settings) {
            json += (json.size() > 1 ? "," : "") + QByteArray("\"") + key.toUtf8() +
                    "\":{\"volume\":0.5,\"muted\":" + (setting.muted ? "true" : "false") + "}";
        }
        json += "}";
        store.setData(QStringLiteral("appSettings"), json);

        DesktopDirectoryOptions options;
        options.dataDirs = {QString::fromStdString((dir.path() / "share").string())};
        options.procRoot = QString::fromStdString(procRoot.string());
        options.locales = {QStringLiteral("en_US")};
        directory = std::make_unique<DesktopAppDirectory>(options);
    }

    MixerEnvironment environment(AppDirectory* appDirectory) {
        MixerEnvironment environment;
        environment.hardware = &hardware;
        environment.store = &store;
        environment.directory = appDirectory;
        environment.responsiblePID = [this](pid_t pid) {
            const auto it = responsible.find(pid);
            return it == responsible.end() ? pid : it->second;
        };
        environment.ownPID = 1;
        environment.pollInterval = std::chrono::hours(1);
        return environment;
    }

    test::TempDir dir;
    SimulatedAudioHardware hardware{qtMainThreadPoster()};
    MemorySettingsStore store;
    std::map<pid_t, pid_t> responsible;
    std::unique_ptr<DesktopAppDirectory> directory;
};

World* world = nullptr;

void checkShape(benchmark::State& state, const MixerModel& model) {
    if (model.allGroups().size() != kApplications) {
        state.SkipWithError("the applications were not grouped as built");
    }
    state.counters["rows"] = static_cast<double>(model.apps().size());
    state.counters["taps"] = static_cast<double>(model.tapCount());
}

void BM_ReadProcessProperties(benchmark::State& state) {
    AudioHardware& hardware = world->hardware;
    for (auto _ : state) {
        for (const AudioObjectID object :
             CA::objectList(hardware, CA::system, kAudioHardwarePropertyProcessObjectList)) {
            benchmark::DoNotOptimize(
                CA::get<std::int32_t>(hardware, object, kAudioProcessPropertyPID, -1));
            benchmark::DoNotOptimize(CA::string(hardware, object, kAudioProcessPropertyBundleID));
            benchmark::DoNotOptimize(
                CA::get<std::uint32_t>(hardware, object, kAudioProcessPropertyIsRunningOutput, 0));
        }
        world->hardware.clearCalls();
    }
}

void BM_Refresh(benchmark::State& state) {
    MixerModel model(world->environment(world->directory.get()));
    checkShape(state, model);
    for (auto _ : state) {
        model.refresh();
        world->hardware.clearCalls(); // the call log would otherwise grow without end
    }
}

// The same refresh with the directory's answers already in memory: the model's own share.
void BM_RefreshWithMemoryDirectory(benchmark::State& state) {
    test::FakeAppDirectory memory;
    for (const auto& [pid, main] : world->responsible) {
        if (auto application = world->directory->runningApplication(pid)) {
            memory.running[pid] = *application;
        }
    }
    for (int entry = 0; entry < kEntries; ++entry) {
        if (auto installed = world->directory->installedApplication(entryID(entry))) {
            memory.installed[entryID(entry)] = *installed;
        }
    }
    MixerModel model(world->environment(&memory));
    checkShape(state, model);
    for (auto _ : state) {
        model.refresh();
        world->hardware.clearCalls();
    }
}

BENCHMARK(BM_ReadProcessProperties)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Refresh)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RefreshWithMemoryDirectory)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace corvalle

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    corvalle::World world;
    corvalle::world = &world;
    QCoreApplication::processEvents();

    corvalle::bench::RecordedRuns runs;
    if (!runs.run(argc, argv)) {
        return 1;
    }
    QCoreApplication::processEvents();

    // refresh() runs on one thread and never waits, so its CPU time is the
    // figure; wall time on a shared machine adds whatever other processes take.
    const auto& cpu = runs.cpuSeconds;
    const auto refresh = cpu.find("BM_Refresh");
    const auto baseline = cpu.find("BM_ReadProcessProperties");
    const auto memory = cpu.find("BM_RefreshWithMemoryDirectory");
    if (refresh == cpu.end() || baseline == cpu.end()) {
        std::printf("refresh_us nan\n");
        return 1;
    }
    std::printf("refresh_vs_property_reads %.2f\n", refresh->second / baseline->second);
    if (memory != cpu.end()) {
        std::printf("refresh_memory_directory_us %.1f\n", memory->second * 1e6);
    }
    std::printf("refresh_wall_us %.1f\n", runs.wallSeconds.at("BM_Refresh") * 1e6);
    std::printf("refresh_us %.1f\n", refresh->second * 1e6);
    return 0;
}
