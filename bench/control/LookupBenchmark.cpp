// What naming one application costs the command line, with 50,000 remembered
// settings against 30 in the same run: through FindApplications, and through the
// whole list (what an instance without FindApplications leaves to the client).
// Both go over a private session bus to a MixerService in this process. After the
// table it prints "ratio <name> <time with 50,000 / time with 30>", "ratio
// find-vs-list-50000 <find / list>" and the times in ms.
#include "ControlBus.h"
#include "DBusNames.h"
#include "FakeAppDirectory.h"
#include "MainThread.h"
#include "MemorySettingsStore.h"
#include "MixerClient.h"
#include "MixerModel.h"
#include "MixerService.h"
#include "NameMatch.h"
#include "RecordedRuns.h"
#include "RememberedWorld.h"
#include "SettingsCodec.h"
#include "SimulatedAudioHardware.h"

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
const QString kQuery = QStringLiteral("Stopped player 1");

// A mixer with `entries` remembered settings of programs that are not running,
// served on a private bus, and a client connection to it.
class World {
public:
    explicit World(int entries) {
        hardware.setDefaultOutput(hardware.addDevice({.uid = "speakers", .name = "Speakers"}));
        store.setData(
            QStringLiteral("appSettings"),
            bench::rememberedSettings(entries, QStringLiteral("exe:/opt/players/player%1")));
        model = std::make_unique<MixerModel>(bench::benchEnvironment(hardware, store, directory));
        service = std::make_unique<MixerService>(*model, nullptr);
        const auto address = QString::fromStdString(bus.address());
        serviceBus = QDBusConnection::connectToBus(address, QStringLiteral("lookup-service"));
        clientBus = QDBusConnection::connectToBus(address, QStringLiteral("lookup-client"));
        ready = bus.isRunning() && service->registerOn(serviceBus) &&
                serviceBus.registerService(QString::fromLatin1(dbus::kServiceName));
        QCoreApplication::sendPostedEvents();
    }
    ~World() {
        service.reset();
        serviceBus = QDBusConnection(QString());
        clientBus = QDBusConnection(QString());
        QDBusConnection::disconnectFromBus(QStringLiteral("lookup-service"));
        QDBusConnection::disconnectFromBus(QStringLiteral("lookup-client"));
    }
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    test::PrivateSessionBus bus;
    SimulatedAudioHardware hardware{qtMainThreadPoster()};
    MemorySettingsStore store;
    test::FakeAppDirectory directory;
    std::unique_ptr<MixerModel> model;
    std::unique_ptr<MixerService> service;
    QDBusConnection serviceBus{QString()};
    QDBusConnection clientBus{QString()};
    bool ready = false;
};

// The key as written is asked for first either way; it is not one here.
void BM_FindByName(benchmark::State& state) {
    World world(static_cast<int>(state.range(0)));
    MixerClient client(world.clientBus);
    for (auto _ : state) {
        benchmark::DoNotOptimize(client.getApplication(kQuery));
        const auto found = client.findApplications(kQuery);
        if (!world.ready || !found || found->size() != 1) {
            state.SkipWithError("FindApplications did not find the one application");
            break;
        }
    }
}

void BM_ListAndMatchByName(benchmark::State& state) {
    World world(static_cast<int>(state.range(0)));
    MixerClient client(world.clientBus);
    for (auto _ : state) {
        benchmark::DoNotOptimize(client.getApplication(kQuery));
        const auto applications = client.listApplications();
        if (!world.ready || !applications) {
            state.SkipWithError("ListApplications failed");
            break;
        }
        std::vector<NameCandidate> candidates;
        for (const auto& application : *applications) {
            candidates.push_back({application.key, application.name});
        }
        if (matchName(kQuery, candidates).kind != NameMatch::Kind::found) {
            state.SkipWithError("the name did not match one application");
            break;
        }
    }
}

BENCHMARK(BM_FindByName)
    ->Arg(kBaselineEntries)
    ->Arg(kManyEntries)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_ListAndMatchByName)
    ->Arg(kBaselineEntries)
    ->Arg(kManyEntries)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
} // namespace corvalle

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    corvalle::bench::RecordedRuns runs;
    if (!runs.run(argc, argv)) {
        return 1;
    }
    // Service and client share this process and wait for each other: wall time it is.
    const auto& seconds = runs.wallSeconds;
    corvalle::bench::printScaling(seconds, {"BM_FindByName", "BM_ListAndMatchByName"},
                                  corvalle::kManyEntries, corvalle::kBaselineEntries, "/real_time");
    const auto find = seconds.find("BM_FindByName/50000/real_time");
    const auto list = seconds.find("BM_ListAndMatchByName/50000/real_time");
    if (find != seconds.end() && list != seconds.end()) {
        std::printf("ratio find-vs-list-50000 %.4f\n", find->second / list->second);
    }
    return 0;
}
