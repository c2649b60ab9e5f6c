// What the live level meters cost, measured inside a private session:
//
//   scripts/pw-session run -- pipewire-meter-cost [PLAYERS] [SECONDS] [TAPPED]
//
// Starts PLAYERS test players (TAPPED of them at 50 %, so through a tap) and the
// mixer view on the offscreen platform, painted as on a screen. It then
// alternates the view hidden and shown, SECONDS each, five phases starting and
// ending hidden, and prints the CPU time of this process and of the session's
// audio daemons (pipewire, wireplumber, pipewire-pulse) per phase, in percent
// of one core, and the difference of the shown phases from the hidden ones.
#include "DesktopAppDirectory.h"
#include "LevelMonitor.h"
#include "MainThread.h"
#include "MemorySettingsStore.h"
#include "MixerModel.h"
#include "MixerView.h"
#include "PipeWireAudioHardware.h"
#include "ProcessTime.h"
#include "PwTestKit.h"
#include "UiFakes.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace corvalle {
namespace {

double ownCPUSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::vector<pid_t> daemonPIDs() {
    std::vector<pid_t> pids;
    const char* session = std::getenv("CORVALLE_PW_SESSION");
    if (session == nullptr) {
        return pids;
    }
    for (const char* name : {"pipewire", "wireplumber", "pipewire-pulse"}) {
        std::ifstream file(std::string(session) + "/" + name + ".pid");
        pid_t pid = 0;
        if (file >> pid) {
            pids.push_back(pid);
        }
    }
    return pids;
}

double daemonCPUSeconds(const std::vector<pid_t>& pids) {
    double total = 0.0;
    for (const pid_t pid : pids) {
        total += bench::processCPUSeconds(pid);
    }
    return total;
}

int run(int players, int seconds, int tapped) {
    PipeWireAudioHardware hardware{qtMainThreadPoster()};
    if (!hardware.waitUntilConnected(5000)) {
        std::fprintf(stderr, "no PipeWire session\n");
        return 1;
    }
    MemorySettingsStore store;
    DesktopAppDirectory directory;
    MixerEnvironment env;
    env.hardware = &hardware;
    env.store = &store;
    env.directory = &directory;
    MixerModel model(env);
    const auto appID = [](int i) { return "org.example.Player" + std::to_string(i); };
    std::vector<std::unique_ptr<test::ChildProcess>> children;
    children.reserve(static_cast<std::size_t>(std::max(players, 0)));
    for (int i = 0; i < players; ++i) {
        children.push_back(std::make_unique<test::ChildProcess>(
            std::vector<std::string>{test::testPlayerPath(), "--amplitude", "0.05", "--frequency",
                                     std::to_string(300 + 50 * i), "--app-id", appID(i)}));
    }
    bench::runEventLoop(std::chrono::seconds(2));
    for (int i = 0; i < tapped; ++i) {
        model.setVolume(0.5, QString::fromStdString(appID(i)));
    }
    test::FakeLoginItem loginItem;
    ui::MixerView view(model, loginItem, [] {});
    bench::runEventLoop(std::chrono::seconds(1));

    const std::vector<pid_t> daemons = daemonPIDs();
    double hiddenOwn = 0.0;
    double hiddenServer = 0.0;
    double shownOwn = 0.0;
    double shownServer = 0.0;
    for (int phase = 0; phase < 5; ++phase) {
        const bool shown = phase % 2 == 1;
        view.setVisible(shown);
        bench::runEventLoop(std::chrono::milliseconds(500)); // streams made or gone
        const double ownBefore = ownCPUSeconds();
        const double serverBefore = daemonCPUSeconds(daemons);
        const auto started = std::chrono::steady_clock::now();
        bench::runEventLoop(std::chrono::seconds(seconds));
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const double own = 100.0 * (ownCPUSeconds() - ownBefore) / wall;
        const double server = 100.0 * (daemonCPUSeconds(daemons) - serverBefore) / wall;
        std::printf("phase %d, view %s: Corvalle %.2f %%, server %.2f %%, together %.2f %% "
                    "(%zu processes metered, %zu taps, frame %lld ms)\n",
                    phase, shown ? "shown " : "hidden", own, server, own + server,
                    model.levels().meteredProcesses().size(), model.tapCount(),
                    static_cast<long long>(model.levels().frameTime().count()));
        (shown ? shownOwn : hiddenOwn) += own / (shown ? 2 : 3);
        (shown ? shownServer : hiddenServer) += server / (shown ? 2 : 3);
    }
    std::printf("%d players (%d tapped): hidden %.2f %% (Corvalle %.2f + server %.2f), shown "
                "%.2f %% (Corvalle %.2f + server %.2f): the meters cost %.2f %% of one core\n",
                players, tapped, hiddenOwn + hiddenServer, hiddenOwn, hiddenServer,
                shownOwn + shownServer, shownOwn, shownServer,
                shownOwn + shownServer - hiddenOwn - hiddenServer);
    return 0;
}

} // namespace
} // namespace corvalle

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    const int players = argc > 1 ? std::atoi(argv[1]) : 20;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
    const int tapped = argc > 3 ? std::atoi(argv[3]) : 0;
    return corvalle::run(players, seconds, tapped);
}
