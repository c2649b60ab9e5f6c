// What remembered applications cost the panel: the time from constructing the
// MixerView to its first paint, and the heap it holds once painted, with 50,000
// remembered applications (settings of applications that are not running, each
// listed as a row of its own) against 30 in the same run. After the table it
// prints "ratio FirstPaint <time with 50,000 / time with 30>" and
// "ratio PanelMemory <heap with 50,000 / heap with 30>", then the figures in ms
// and MB. It runs on Qt's offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include "FakeAppDirectory.h"
#include "MainThread.h"
#include "MemorySettingsStore.h"
#include "MixerModel.h"
#include "MixerView.h"
#include "RecordedRuns.h"
#include "RememberedWorld.h"
#include "SettingsCodec.h"
#include "SimulatedAudioHardware.h"
#include "UiFakes.h"

#include <QApplication>
#include <QEvent>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <malloc.h>
#include <map>
#include <memory>
#include <string>

namespace corvalle {
namespace {

constexpr int kBaselineEntries = 30;
constexpr int kManyEntries = 50000;
constexpr double kMegabyte = 1024.0 * 1024.0;
const char* const kMemoryCounter = "heapMB";

// Three running applications and `entries` remembered settings.
class World {
public:
    explicit World(int entries) {
        hardware.setDefaultOutput(hardware.addDevice({.uid = "speakers", .name = "Speakers"}));
        for (int app = 0; app < 3; ++app) {
            const pid_t pid = 20000 + app;
            const auto bundleID = QStringLiteral("org.example.app%1").arg(app);
            directory.running[pid] =
                RunningApplication{bundleID, QStringLiteral("Player %1").arg(app), std::nullopt};
            hardware.addProcess({pid, std::nullopt, true});
        }
        store.setData(QStringLiteral("appSettings"),
                      bench::rememberedSettings(entries, QStringLiteral("org.example.stopped%1")));

        model = std::make_unique<MixerModel>(bench::benchEnvironment(hardware, store, directory));
        QCoreApplication::sendPostedEvents();
    }

    SimulatedAudioHardware hardware{qtMainThreadPoster()};
    test::FakeAppDirectory directory;
    MemorySettingsStore store;
    test::FakeLoginItem loginItem;
    std::unique_ptr<MixerModel> model;
};

// Notes the first paint event of the widget it watches.
class PaintWatch final : public QObject {
public:
    bool painted = false;

    bool eventFilter(QObject* watched, QEvent* event) override {
        painted = painted || event->type() == QEvent::Paint;
        return QObject::eventFilter(watched, event);
    }
};

// Heap blocks in use, with the large ones that malloc maps on their own.
std::size_t heapInUse() {
    const struct mallinfo2 heap = mallinfo2();
    return heap.uordblks + heap.hblkhd;
}

// Constructs and shows the panel, then runs the event loop until it has painted.
std::unique_ptr<ui::MixerView> showPanel(World& world) {
    auto view = std::make_unique<ui::MixerView>(*world.model, world.loginItem, [] {});
    PaintWatch watch;
    view->installEventFilter(&watch);
    view->show();
    // Far more rounds than the expose and the paint that follows it take.
    constexpr int kMaxRounds = 1000;
    for (int round = 0; round < kMaxRounds && !watch.painted; ++round) {
        QApplication::processEvents();
    }
    view->removeEventFilter(&watch);
    return watch.painted ? std::move(view) : nullptr;
}

void BM_FirstPaint(benchmark::State& state) {
    const int entries = static_cast<int>(state.range(0));
    World world(entries);
    if (world.model->apps().size() < static_cast<std::size_t>(entries)) {
        state.SkipWithError("the remembered applications are not listed");
        return;
    }
    double heldBytes = 0;
    for (auto _ : state) {
        const std::size_t before = heapInUse();
        auto view = showPanel(world);
        const std::size_t after = heapInUse();
        state.PauseTiming();
        if (!view) {
            state.SkipWithError("the panel never painted");
            break;
        }
        heldBytes += static_cast<double>(after) - static_cast<double>(before);
        view.reset();
        QApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters[kMemoryCounter] =
        benchmark::Counter(heldBytes / kMegabyte / static_cast<double>(state.iterations()));
}

BENCHMARK(BM_FirstPaint)
    ->Arg(kBaselineEntries)
    ->Arg(kManyEntries)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The console report, the times, and the panel's heap of each run in MB.
class PanelRuns final : public bench::RecordedRuns {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        RecordedRuns::ReportRuns(runs);
        for (const Run& r : runs) {
            if (const auto held = r.counters.find(kMemoryCounter);
                !bench::runFailed(r) && held != r.counters.end()) {
                heapMB[r.benchmark_name()] = held->second.value;
            }
        }
    }

    std::map<std::string, double> heapMB;
};

// What the first panel pays once, for the fonts, the style and the icons, so
// that neither run measures it.
void warmUp() {
    World world(kBaselineEntries);
    showPanel(world);
}

} // namespace
} // namespace corvalle

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    corvalle::warmUp();
    corvalle::PanelRuns runs;
    if (!runs.run(argc, argv)) {
        return 1;
    }
    using corvalle::kBaselineEntries;
    using corvalle::kManyEntries;
    corvalle::bench::printScaling(runs.wallSeconds, {"BM_FirstPaint"}, kManyEntries,
                                  kBaselineEntries, "/real_time");
    const auto many =
        runs.heapMB.find("BM_FirstPaint/" + std::to_string(kManyEntries) + "/real_time");
    const auto few =
        runs.heapMB.find("BM_FirstPaint/" + std::to_string(kBaselineEntries) + "/real_time");
    if (many != runs.heapMB.end() && few != runs.heapMB.end()) {
        std::printf("ratio PanelMemory %.2f\n", many->second / few->second);
        std::printf("MB PanelMemory-%d %.3f\n", kManyEntries, many->second);
        std::printf("MB PanelMemory-%d %.3f\n", kBaselineEntries, few->second);
    }
    return 0;
}
