// What many stored settings cost: one change (saved to a real settings file, the
// taps reconciled) and one idle refresh with the D-Bus service following the
// model, each with 50,000 stored settings against the same with 30 in the same
// run. The stored entries are applications that are not running, which is what
// accumulates over months of use; each is listed as a row of its own. After the
// table it prints "ratio <name> <time with 50,000 / time with 30>" and the times
// in ms.
#include "ApplicationList.h"
#include "FakeAppDirectory.h"
#include "MainThread.h"
#include "MixerModel.h"
#include "MixerService.h"
#include "QSettingsStore.h"
#include "RecordedRuns.h"
#include "RememberedWorld.h"
#include "SettingsCodec.h"
#include "SimulatedAudioHardware.h"
#include "TempDir.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

namespace corvalle {
namespace {

constexpr int kBaselineEntries = 30;
constexpr int kManyEntries = 50000;
const QString kKey = QStringLiteral("appSettings");

// A running application and `entries` remembered settings in a settings file.
class World {
public:
    explicit World(int entries) {
        hardware.setDefaultOutput(hardware.addDevice({.uid = "speakers", .name = "Speakers"}));
        for (int app = 0; app < 3; ++app) {
            const pid_t pid = 20000 + app;
            const auto bundleID = QStringLiteral("org.example.app%1").arg(app);
            directory.running[pid] = RunningApplication{bundleID, bundleID, std::nullopt};
            hardware.addProcess({pid, std::nullopt, true});
        }
        const QString file = QString::fromStdString((dir.path() / "Corvalle.conf").string());
        store = std::make_unique<QSettingsStore>(file);
        store->setData(kKey,
                       bench::rememberedSettings(entries, QStringLiteral("org.example.stopped%1")));
        store = std::make_unique<QSettingsStore>(file);

        model = std::make_unique<MixerModel>(bench::benchEnvironment(hardware, *store, directory));
        service = std::make_unique<MixerService>(*model, nullptr);
        QCoreApplication::sendPostedEvents();
    }

    test::TempDir dir;
    SimulatedAudioHardware hardware{qtMainThreadPoster()};
    test::FakeAppDirectory directory;
    std::unique_ptr<QSettingsStore> store;
    std::unique_ptr<MixerModel> model;
    std::unique_ptr<MixerService> service;
};

void check(benchmark::State& state, const World& world, int entries) {
    // A change adds the changed application's own entry.
    if (world.model->settings().size() < static_cast<std::size_t>(entries)) {
        state.SkipWithError("the stored settings were not loaded");
    }
    if (world.model->saveFailure()) {
        state.SkipWithError(world.model->saveFailure()->toStdString().c_str());
    }
}

// A slider step on a running application: saved, reconciled, published.
void BM_Change(benchmark::State& state) {
    const int entries = static_cast<int>(state.range(0));
    World world(entries);
    const QString key = QStringLiteral("org.example.app1");
    double volume = 0.5;
    for (auto _ : state) {
        volume = volume == 0.5 ? 0.6 : 0.5;
        world.model->setVolume(volume, key);
        QCoreApplication::sendPostedEvents();
        world.hardware.clearCalls();
    }
    check(state, world, entries);
}

// The once-a-second refresh when nothing has changed, and the service's look at it.
void BM_IdleRefresh(benchmark::State& state) {
    const int entries = static_cast<int>(state.range(0));
    World world(entries);
    for (auto _ : state) {
        world.model->refresh();
        QCoreApplication::sendPostedEvents();
        world.hardware.clearCalls();
    }
    check(state, world, entries);
}

// What `corvalle list` asks the instance for.
void BM_ListApplications(benchmark::State& state) {
    const int entries = static_cast<int>(state.range(0));
    World world(entries);
    for (auto _ : state) {
        benchmark::DoNotOptimize(applicationStates(*world.model));
    }
    check(state, world, entries);
}

BENCHMARK(BM_Change)->Arg(kBaselineEntries)->Arg(kManyEntries)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdleRefresh)->Arg(kBaselineEntries)->Arg(kManyEntries)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ListApplications)
    ->Arg(kBaselineEntries)
    ->Arg(kManyEntries)
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace corvalle

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    corvalle::bench::RecordedRuns runs;
    if (!runs.run(argc, argv)) {
        return 1;
    }
    // A change waits for the disk, so its wall time is the figure there; the
    // others never wait and are measured in CPU time.
    using corvalle::bench::printScaling;
    printScaling(runs.wallSeconds, {"BM_Change"}, corvalle::kManyEntries,
                 corvalle::kBaselineEntries);
    printScaling(runs.cpuSeconds, {"BM_IdleRefresh", "BM_ListApplications"}, corvalle::kManyEntries,
                 corvalle::kBaselineEntries);
    return 0;
}
