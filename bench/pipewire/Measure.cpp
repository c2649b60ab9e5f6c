// Measurements of the PipeWire backend, run inside a private session:
//
//   scripts/pw-session run -- pipewire-measure latency QUANTUM
//       Added latency of a tapped stream, in samples: a clicker and a recorder of
//       the device monitor share one graph clock; the click's travel time is
//       compared with and without a tap (gain 1) on the clicker.
//   scripts/pw-session run -- pipewire-measure setvolume
//       Time from setVolume on an untapped, playing player to the first cycle
//       heard at the new level, against the same change made with PipeWire's
//       own stream volume in the same session; and how many of the changes
//       left a moment of silence at the device.
//   scripts/pw-session run -- pipewire-measure cpu [PLAYERS] [SECONDS]
//       CPU time of this process (model and backend, realtime callbacks
//       included) with that many tapped players.
//   scripts/pw-session run -- pipewire-measure stall [slow]
//       The worst main-thread stall over 100 mixed volume, mute, reset and
//       output changes on a tapped player: the longest model call and the
//       longest turn of the event loop between them. With "slow" the session
//       manager is stopped (SIGSTOP) meanwhile, as a busy one would answer late.
//   scripts/pw-session run -- pipewire-measure startheard [STARTS]
//       Start to first sample heard of untapped players (pw-play, paplay).
//   scripts/pw-session run -- pipewire-measure cpucompare [SECONDS]
//       20 players, 10 of them at 50 %: CPU and context switches of Corvalle and
//       the server (the players apart) with Corvalle's taps and with PipeWire's
//       own stream volume, three turns each; then through PipeWire's own
//       loopbacks, one per attenuated player; then through a sink per attenuated
//       player made in the server and one filter node of this process for all.
//       A phase in which the players, whose work never changes, cost over a
//       quarter more than at their cheapest is marked disturbed, and the ratios
//       are given again from the quiet turns alone.
#include "AppTap.h"
#include "CA.h"
#include "DesktopAppDirectory.h"
#include "MainThread.h"
#include "MemorySettingsStore.h"
#include "MixerModel.h"
#include "PipeWireAudioHardware.h"
#include "PipeWireKeys.h"
#include "ProcessTime.h"
#include "PwConnection.h"
#include "PwLoop.h"
#include "PwTestKit.h"
#include "SinkFilterRig.h"
#include "StartShape.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <pipewire/pipewire.h>
#include <spa/node/io.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

// The interface-call macros of PipeWire cast the C way.
#pragma GCC diagnostic ignored "-Wold-style-cast"

namespace corvalle {
namespace {

using namespace std::chrono_literals;

constexpr int kCycleBetweenClicks = 24;

// A clicker and a recorder of the speakers' monitor on one connection. Both read
// the graph position of the cycle they run in.
class ClickRig {
public:
    ClickRig() {
        loop_ = pw_thread_loop_new("click-rig", nullptr);
        pw_thread_loop_lock(loop_);
        pw_thread_loop_start(loop_);
        static const pw_stream_events clickEvents = events<&ClickRig::onClick, true>();
        static const pw_stream_events recordEvents = events<&ClickRig::onRecord, false>();
        clicker_ = pw_stream_new_simple(
            pw_thread_loop_get_loop(loop_), "clicker",
            pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback",
                              PW_KEY_APP_NAME, "clicker", PW_KEY_NODE_NAME, "clicker", nullptr),
            &clickEvents, this);
        recorder_ = pw_stream_new_simple(
            pw_thread_loop_get_loop(loop_), "recorder",
            pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture",
                              PW_KEY_TARGET_OBJECT, "speakers", PW_KEY_STREAM_CAPTURE_SINK, "true",
                              PW_KEY_NODE_NAME, "recorder", nullptr),
            &recordEvents, this);
        constexpr std::uint32_t kFlags =
            PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS;
        test::connectStereo(clicker_, false, kFlags);
        test::connectStereo(recorder_, true, kFlags);
        pw_thread_loop_unlock(loop_);
    }

    ~ClickRig() {
        pw_thread_loop_lock(loop_);
        pw_stream_destroy(clicker_);
        pw_stream_destroy(recorder_);
        pw_thread_loop_unlock(loop_);
        pw_thread_loop_stop(loop_);
        pw_thread_loop_destroy(loop_);
    }

    // Latencies (samples) of the next `count` clicks.
    std::vector<long> measure(int count) {
        std::vector<long> result;
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        std::uint64_t seen = arrivals_.load();
        while (static_cast<int>(result.size()) < count &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(5ms);
            if (arrivals_.load() != seen) {
                seen = arrivals_.load();
                result.push_back(static_cast<long>(lastArrival_.load()) -
                                 static_cast<long>(lastEmission_.load()));
            }
        }
        return result;
    }

private:
    // Both streams read the graph position of the cycle they run in.
    template <void (*Process)(void*), bool Clicker> static pw_stream_events events() {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.process = Process;
        e.io_changed = [](void* data, std::uint32_t id, void* area, std::uint32_t) {
            if (id == SPA_IO_Position) {
                auto* self = static_cast<ClickRig*>(data);
                (Clicker ? self->clickPosition_ : self->recordPosition_) =
                    static_cast<spa_io_position*>(area);
            }
        };
        return e;
    }

    static void onClick(void* data) {
        // Realtime thread: no allocation, lock, logging or blocking call in here.
        auto* self = static_cast<ClickRig*>(data);
        pw_buffer* buffer = pw_stream_dequeue_buffer(self->clicker_);
        if (buffer == nullptr || self->clickPosition_ == nullptr) {
            if (buffer != nullptr) {
                pw_stream_queue_buffer(self->clicker_, buffer);
            }
            return;
        }
        spa_data& d = buffer->buffer->datas[0];
        auto* out = static_cast<float*>(d.data);
        std::uint32_t frames = static_cast<std::uint32_t>(self->clickPosition_->clock.duration);
        frames = std::min(frames, d.maxsize / 8);
        std::fill(out, out + frames * 2, 0.0F);
        if (++self->cycle_ % kCycleBetweenClicks == 0 && frames > 0) {
            out[0] = 0.9F;
            out[1] = 0.9F;
            self->lastEmission_.store(self->clickPosition_->clock.position);
        }
        d.chunk->offset = 0;
        d.chunk->stride = 8;
        d.chunk->size = frames * 8;
        pw_stream_queue_buffer(self->clicker_, buffer);
    }

    static void onRecord(void* data) {
        // Realtime thread: no allocation, lock, logging or blocking call in here.
        auto* self = static_cast<ClickRig*>(data);
        pw_buffer* buffer = pw_stream_dequeue_buffer(self->recorder_);
        if (buffer == nullptr) {
            return;
        }
        spa_data& d = buffer->buffer->datas[0];
        if (self->recordPosition_ != nullptr && d.data != nullptr) {
            const auto* in = reinterpret_cast<const float*>(
                static_cast<const std::uint8_t*>(d.data) + d.chunk->offset);
            const std::uint32_t frames = d.chunk->size / 8;
            for (std::uint32_t i = 0; i < frames; ++i) {
                if (in[2 * i] > 0.5F) {
                    self->lastArrival_.store(self->recordPosition_->clock.position + i);
                    self->arrivals_.fetch_add(1);
                    break;
                }
            }
        }
        pw_stream_queue_buffer(self->recorder_, buffer);
    }

    pw_thread_loop* loop_ = nullptr;
    pw_stream* clicker_ = nullptr;
    pw_stream* recorder_ = nullptr;
    spa_io_position* clickPosition_ = nullptr;
    spa_io_position* recordPosition_ = nullptr;
    std::uint64_t cycle_ = 0;
    std::atomic<std::uint64_t> lastEmission_{0};
    std::atomic<std::uint64_t> lastArrival_{0};
    std::atomic<std::uint64_t> arrivals_{0};
};

long median(std::vector<long> values) {
    if (values.empty()) {
        return -1;
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int latency(int quantum) {
    const std::string force =
        "pw-metadata -n settings 0 clock.force-quantum " + std::to_string(quantum) + " >/dev/null";
    if (std::system(force.c_str()) != 0) {
        return 1;
    }
    test::TaskQueue queue;
    PipeWireAudioHardware hardware(queue.poster());
    if (!hardware.waitUntilConnected(5000)) {
        return 1;
    }
    ClickRig rig;
    std::this_thread::sleep_for(1s);
    const std::vector<long> direct = rig.measure(8);

    AudioObjectID clicker = kAudioObjectUnknown;
    for (const AudioObjectID id :
         CA::objectList(hardware, CA::system, kAudioHardwarePropertyProcessObjectList)) {
        if (CA::string(hardware, id, kAudioObjectPropertyName) == "clicker") {
            clicker = id;
        }
    }
    if (clicker == kAudioObjectUnknown) {
        std::fprintf(stderr, "no clicker process\n");
        return 1;
    }
    AppTap tap(hardware, {clicker}, "speakers", "clicker", 1.0F);
    std::this_thread::sleep_for(1s);
    queue.drain();
    // The click must travel through the tap, not beside it.
    const int throughTap =
        std::system("pw-link -l | grep -A1 '^clicker:output_FL' | grep -q Corvalle-");
    if (throughTap != 0) {
        std::fprintf(stderr, "the clicker was not moved into the tap\n");
        return 1;
    }
    const std::vector<long> tapped = rig.measure(8);
    tap.stop();
    queue.drain();
    std::printf("quantum %d: untapped %ld samples, tapped %ld samples, added %ld\n", quantum,
                median(direct), median(tapped), median(tapped) - median(direct));
    return 0;
}

// The model on the backend, put together as the application does it.
struct ModelRig {
    PipeWireAudioHardware hardware{qtMainThreadPoster()};
    MemorySettingsStore store;
    DesktopAppDirectory directory;
    std::unique_ptr<MixerModel> model;

    bool start() {
        if (!hardware.waitUntilConnected(5000)) {
            return false;
        }
        MixerEnvironment env;
        env.hardware = &hardware;
        env.store = &store;
        env.directory = &directory;
        model = std::make_unique<MixerModel>(env);
        return true;
    }
};

// Microseconds from `change` until a short recording of the speakers' monitor
// first peaks at `peak`, or -1 after 3 s.
long timeToHear(test::MonitorMeter& meter, float peak, const std::function<void()>& change) {
    std::atomic<bool> found{false};
    std::atomic<long> foundAt{-1};
    const auto start = std::chrono::steady_clock::now();
    std::thread watcher([&] {
        while (!found && std::chrono::steady_clock::now() - start < 3s) {
            const std::vector<float> samples = meter.record(5);
            float loudest = 0.0F;
            for (const float s : samples) {
                loudest = std::max(loudest, std::fabs(s));
            }
            if (!samples.empty() && std::fabs(loudest - peak) < 0.01F) {
                foundAt = std::chrono::duration_cast<std::chrono::microseconds>(
                              std::chrono::steady_clock::now() - start)
                              .count();
                found = true;
            }
        }
    });
    change();
    while (!found && std::chrono::steady_clock::now() - start < 3s) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    }
    watcher.join();
    return foundAt;
}

int setVolume() {
    ModelRig rig;
    if (!rig.start()) {
        return 1;
    }
    MixerModel& model = *rig.model;
    test::ChildProcess player({test::testPlayerPath(), "--amplitude", "0.5"});
    const QString key = QString::fromStdString(test::programKey(player));
    const auto spin = bench::runEventLoop;
    spin(1500ms);
    test::MonitorMeter meter("speakers");
    spin(500ms);
    // Each change lands at its own place in the graph cycle; enough of them make
    // the median stable from one run of the tool to the next.
    constexpr int kChanges = 15;
    std::vector<long> corvalle;
    // A second recorder of the same monitor: the change must not leave a gap.
    test::MonitorMeter gapMeter("speakers");
    int gaps = 0;
    std::size_t longestGap = 0; // interleaved stereo samples
    for (int run = 0; run < kChanges; ++run) {
        std::vector<float> samples;
        std::thread recorder([&] { samples = gapMeter.record(600); });
        spin(200ms);
        corvalle.push_back(timeToHear(meter, 0.25F, [&] { model.setVolume(0.5, key); }));
        recorder.join();
        gaps += test::silentRuns(samples) > 0 ? 1 : 0;
        std::size_t silent = 0;
        for (const float x : samples) {
            silent = x == 0.0F ? silent + 1 : 0;
            longestGap = std::max(longestGap, silent);
        }
        model.reset(key);
        spin(700ms);
    }
    std::printf("changes with a silent gap: %d of %d, the longest %.1f ms\n", gaps, kChanges,
                static_cast<double>(longestGap) / 96.0);

    // The baseline, in the same session: PipeWire's own volume on the same
    // stream, set through a connection of its own.
    pw::ThreadLoop loop("pipewire-measure");
    auto owned = std::make_unique<pw::Connection>(loop, "", pw::ConnectionEvents{});
    pw::Connection& connection = *owned;
    std::uint32_t nodeID = SPA_ID_INVALID;
    {
        pw::ThreadLoopLock lock(loop);
        connection.start();
    }
    const auto searchEnd = std::chrono::steady_clock::now() + 5s;
    while (nodeID == SPA_ID_INVALID && std::chrono::steady_clock::now() < searchEnd) {
        std::this_thread::sleep_for(20ms);
        pw::ThreadLoopLock lock(loop);
        for (const auto& [clientID, client] : connection.graph().clients) {
            const auto pid = client.props.find(pw::keys::kAppProcessID);
            const auto streams = connection.graph().outputStreamsOf(clientID);
            // Its volume is set once its Props are known.
            if (pid != client.props.end() && pid->second == std::to_string(player.pid()) &&
                !streams.empty() && connection.graph().nodes.at(streams.front()).volume) {
                nodeID = streams.front();
            }
        }
    }
    std::vector<long> own;
    const auto setOwnVolume = [&](float volume) {
        pw::ThreadLoopLock lock(loop);
        connection.setSoftVolume(nodeID, volume);
    };
    for (int run = 0; nodeID != SPA_ID_INVALID && run < kChanges; ++run) {
        own.push_back(timeToHear(meter, 0.25F, [&] { setOwnVolume(0.5F); }));
        setOwnVolume(1.0F);
        spin(700ms);
    }
    {
        // The connection is the loop thread's to use: it goes while that waits.
        pw::ThreadLoopLock lock(loop);
        owned.reset();
    }
    const auto milliseconds = [](const std::vector<long>& runs) {
        std::ostringstream text;
        for (const long micros : runs) {
            text << ' ' << micros / 1000;
        }
        return text.str();
    };
    std::printf("Corvalle (ms):%s\nPipeWire stream volume (ms):%s\n",
                milliseconds(corvalle).c_str(), milliseconds(own).c_str());
    if (own.empty()) {
        return 1;
    }
    const double ours = static_cast<double>(median(corvalle)) / 1000.0;
    const double theirs = static_cast<double>(median(own)) / 1000.0;
    std::printf("setVolume to heard, median of %d (5 ms windows): Corvalle %.1f ms, PipeWire's "
                "stream volume %.1f ms; ratio %.2f\n",
                kChanges, ours, theirs, ours / theirs);
    return 0;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int cpu(int players, int seconds) {
    ModelRig rig;
    if (!rig.start()) {
        return 1;
    }
    MixerModel& model = *rig.model;
    // Runs of one program are one application; an id each makes them as many.
    const auto appID = [](int i) { return "org.example.Player" + std::to_string(i); };
    std::vector<std::unique_ptr<test::ChildProcess>> children;
    for (int i = 0; i < players; ++i) {
        children.push_back(std::make_unique<test::ChildProcess>(
            std::vector<std::string>{test::testPlayerPath(), "--amplitude", "0.05", "--frequency",
                                     std::to_string(300 + 50 * i), "--app-id", appID(i)}));
    }
    const auto spin = bench::runEventLoop;
    spin(2s);
    for (int i = 0; i < players; ++i) {
        model.setVolume(0.5, QString::fromStdString(appID(i)));
    }
    spin(1s);
    const double before = cpuSeconds();
    const auto started = std::chrono::steady_clock::now();
    spin(std::chrono::seconds(seconds));
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("%zu taps on %d players, %d s: CPU %.2f %% of one core\n", model.tapCount(),
                players, seconds, 100.0 * (cpuSeconds() - before) / wall);
    return 0;
}

double millisSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

int stall(bool slow) {
    ModelRig rig;
    if (!rig.start()) {
        return 1;
    }
    MixerModel& model = *rig.model;
    test::ChildProcess player({test::testPlayerPath(), "--amplitude", "0.2"});
    const QString key = QString::fromStdString(test::programKey(player));
    double longestTurn = 0.0;
    auto spin = [&](std::chrono::milliseconds time) {
        const auto end = std::chrono::steady_clock::now() + time;
        while (std::chrono::steady_clock::now() < end) {
            const auto turn = std::chrono::steady_clock::now();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
            longestTurn = std::max(longestTurn, millisSince(turn));
        }
    };
    spin(1500ms);
    std::vector<AudioObjectID> outputs;
    for (const OutputDevice& device : model.outputDevices()) {
        outputs.push_back(device.id);
    }
    pid_t sessionManager = 0;
    if (const char* session = std::getenv("CORVALLE_PW_SESSION"); slow && session != nullptr) {
        std::ifstream(std::string(session) + "/wireplumber.pid") >> sessionManager;
        if (sessionManager > 0) {
            kill(sessionManager, SIGSTOP);
        }
    }
    longestTurn = 0.0;
    double longestCall = 0.0;
    const char* longestKind = "";
    for (int i = 0; i < 100; ++i) {
        const auto called = std::chrono::steady_clock::now();
        const char* kind = "";
        switch (i % 5) {
        case 0:
        case 1:
            kind = "set";
            model.setVolume(0.25 + 0.05 * (i % 7), key);
            break;
        case 2:
            kind = "mute";
            model.toggleMute(key);
            break;
        case 3:
            kind = "reset";
            model.reset(key);
            break;
        default:
            kind = "output";
            if (!outputs.empty()) {
                model.selectOutput(outputs[static_cast<std::size_t>(i / 5) % outputs.size()]);
            }
            break;
        }
        const double took = millisSince(called);
        if (took > longestCall) {
            longestCall = took;
            longestKind = kind;
        }
        spin(30ms);
    }
    if (sessionManager > 0) {
        kill(sessionManager, SIGCONT);
    }
    spin(1500ms);
    std::printf("100 changes: longest model call %.1f ms (%s), longest event-loop turn %.1f ms; "
                "worst main-thread stall %.1f ms; last error: %s\n",
                longestCall, longestKind, longestTurn, std::max(longestCall, longestTurn),
                model.lastError().value_or(QStringLiteral("none")).toStdString().c_str());
    return 0;
}

int startHeard(int starts) {
    const char* session = std::getenv("CORVALLE_PW_SESSION");
    if (session == nullptr) {
        return 1;
    }
    const std::string file = std::string(session) + "/level.wav";
    if (!test::writeConstantWav(file, 0.4F, 0.3)) {
        return 1;
    }
    test::MonitorMeter meter("speakers");
    std::this_thread::sleep_for(300ms);
    for (const char* program : {"pw-play", "paplay"}) {
        std::vector<double> heard;
        for (int i = 0; i < starts; ++i) {
            std::vector<float> samples;
            std::chrono::steady_clock::time_point recording;
            std::thread recorder([&] {
                recording = std::chrono::steady_clock::now();
                samples = meter.record(800);
            });
            std::this_thread::sleep_for(40ms);
            const auto started = std::chrono::steady_clock::now();
            test::ChildProcess player({program, file});
            recorder.join();
            const test::StartShape shape = test::startShape(samples, 0.4);
            if (shape.heard) {
                heard.push_back(
                    shape.firstHeardMs -
                    std::chrono::duration<double, std::milli>(started - recording).count());
            }
            player.wait(3s);
        }
        std::sort(heard.begin(), heard.end());
        if (!heard.empty()) {
            std::printf("%s untapped, %zu of %d starts heard: start to first sample median %.0f "
                        "ms, fastest %.0f ms, slowest %.0f ms\n",
                        program, heard.size(), starts, heard[heard.size() / 2], heard.front(),
                        heard.back());
        }
    }
    return 0;
}

int cpuCompare(int seconds) {
    const char* session = std::getenv("CORVALLE_PW_SESSION");
    if (session == nullptr) {
        return 1;
    }
    pid_t server = 0;
    std::ifstream(std::string(session) + "/pipewire.pid") >> server;
    ModelRig rig;
    if (!rig.start()) {
        return 1;
    }
    MixerModel& model = *rig.model;
    constexpr int kPlayers = 20;
    constexpr int kAttenuated = 10;
    const auto appID = [](int i) { return "org.example.Player" + std::to_string(i); };
    std::vector<std::unique_ptr<test::ChildProcess>> children;
    for (int i = 0; i < kPlayers; ++i) {
        children.push_back(std::make_unique<test::ChildProcess>(
            std::vector<std::string>{test::testPlayerPath(), "--amplitude", "0.02", "--frequency",
                                     std::to_string(300 + 25 * i), "--app-id", appID(i)}));
    }
    const auto spin = bench::runEventLoop;
    struct Share {
        double corvalle = 0;
        double server = 0;
        double players = 0;
        // Context switches of Corvalle (and the other mixers), and of the server.
        double ownSwitches = 0;
        double serverSwitches = 0;
        // What the mixing costs: the players do the same work either way.
        double mixing() const { return corvalle + server; }
    };
    // The processes that mix besides Corvalle (PipeWire's own loopbacks below).
    std::vector<std::unique_ptr<test::ChildProcess>> mixers;
    auto sample = [&] {
        Share share{cpuSeconds(), bench::processCPUSeconds(server), 0,
                    bench::processContextSwitches(getpid()), bench::processContextSwitches(server)};
        for (const auto& mixer : mixers) {
            share.corvalle += bench::processCPUSeconds(mixer->pid());
            share.ownSwitches += bench::processContextSwitches(mixer->pid());
        }
        for (const auto& child : children) {
            share.players += bench::processCPUSeconds(child->pid());
        }
        return share;
    };
    // Per cent of one core, per process group.
    auto measure = [&] {
        spin(1s);
        const Share before = sample();
        const auto started = std::chrono::steady_clock::now();
        spin(std::chrono::seconds(seconds));
        const Share after = sample();
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        return Share{100.0 * (after.corvalle - before.corvalle) / wall,
                     100.0 * (after.server - before.server) / wall,
                     100.0 * (after.players - before.players) / wall,
                     (after.ownSwitches - before.ownSwitches) / wall,
                     (after.serverSwitches - before.serverSwitches) / wall};
    };
    // PipeWire's own volume on the same streams: each player's node, by its pid.
    // The stream nodes of player i. A node names its client; the client carries
    // the process id.
    const auto streamNodesOf = [&](int i) {
        const std::string command =
            "pw-dump 2>/dev/null | jq -r --arg pid " +
            std::to_string(children[static_cast<std::size_t>(i)]->pid()) +
            R"( '(map(select(.type == "PipeWire:Interface:Client" and )"
            R"(((.info.props."application.process.id" // "") | tostring) == $pid) )"
            R"(| .id | tostring)) as $c | .[] | select(.type == "PipeWire:Interface:Node" and )"
            R"((((.info.props."client.id" // "") | tostring) as $x | $c | index($x))) | .id')";
        std::vector<std::string> ids;
        if (FILE* pipe = popen(command.c_str(), "r")) {
            std::array<char, 32> line{};
            while (std::fgets(line.data(), line.size(), pipe) != nullptr) {
                ids.emplace_back(line.data(), std::strcspn(line.data(), "\n"));
            }
            pclose(pipe);
        }
        return ids;
    };
    // Runs `action` on each stream node of the attenuated players (with $0 set
    // to the node and $1 to the player's number); how many nodes it reached.
    const auto forAttenuatedStreams = [&](const std::string& action) {
        int reached = 0;
        for (int i = 0; i < kAttenuated; ++i) {
            for (const std::string& id : streamNodesOf(i)) {
                const std::string command =
                    "sh -c '" + action + " >/dev/null' " + id + " " + std::to_string(i);
                reached += std::system(command.c_str()) == 0 ? 1 : 0;
            }
        }
        return reached;
    };
    // Taps and PipeWire's own stream volume take turns, so that both see the
    // same moods of a noisy machine; each turn is reported.
    constexpr int kTurns = 3;
    std::vector<Share> tappedTurns;
    std::vector<Share> ownTurns;
    std::size_t taps = 0;
    int attenuated = 0;
    spin(2s);
    for (int turn = 0; turn < kTurns; ++turn) {
        for (int i = 0; i < kAttenuated; ++i) {
            model.setVolume(0.5, QString::fromStdString(appID(i)));
        }
        tappedTurns.push_back(measure());
        taps = model.tapCount();
        for (int i = 0; i < kAttenuated; ++i) {
            model.reset(QString::fromStdString(appID(i)));
        }
        spin(1500ms);
        attenuated =
            forAttenuatedStreams(R"(pw-cli s $0 Props "{ channelVolumes: [ 0.5, 0.5 ] }")");
        ownTurns.push_back(measure());
        forAttenuatedStreams(R"(pw-cli s $0 Props "{ channelVolumes: [ 1.0, 1.0 ] }")");
    }
    // PipeWire's own loopback (module-loopback, the base of filter-chain), one per
    // player: a sink and a playback stream per application, as a tap has.
    for (int i = 0; i < kAttenuated; ++i) {
        const std::string name = "loopback-" + std::to_string(i);
        mixers.push_back(std::make_unique<test::ChildProcess>(std::vector<std::string>{
            "pw-loopback", "--capture-props=media.class=Audio/Sink node.name=" + name,
            "--playback-props=node.name=" + name + "-out"}));
    }
    spin(1500ms);
    const int moved = forAttenuatedStreams("pw-metadata $0 target.object loopback-$1");
    const Share loopback = measure();
    mixers.clear();
    // The other design a mixer could take: a sink per application inside the
    // server and one filter node of this process for all of them, linked to the
    // session's speakers.
    bench::SinkFilterRig sinkFilterRig(kAttenuated, 0.5F);
    spin(1500ms);
    const int movedToSinks = forAttenuatedStreams(std::string("pw-metadata $0 target.object ") +
                                                  bench::SinkFilterRig::kSinkNamePrefix + "$1");
    int linked = 0;
    for (int i = 0; i < kAttenuated; ++i) {
        for (const char* channel : {"FL", "FR"}) {
            const std::string in =
                bench::SinkFilterRig::filterName() + ":in_" + std::to_string(i) + "_" + channel;
            const std::string command =
                "pw-link " + bench::SinkFilterRig::sinkName(static_cast<std::size_t>(i)) +
                ":monitor_" + channel + " " + in + " && pw-link " +
                bench::SinkFilterRig::filterName() + ":out_" + std::to_string(i) + "_" + channel +
                " speakers:playback_" + channel;
            linked += sinkFilterRig.isValid() && std::system(command.c_str()) == 0 ? 1 : 0;
        }
    }
    const Share sinkFilter = measure();
    // The players do the same work in every phase: where they cost clearly more
    // than at their cheapest, the machine was slow then, and so was everything else.
    double cheapestPlayers = std::min(loopback.players, sinkFilter.players);
    for (std::size_t turn = 0; turn < tappedTurns.size(); ++turn) {
        cheapestPlayers =
            std::min({cheapestPlayers, tappedTurns[turn].players, ownTurns[turn].players});
    }
    constexpr double kDisturbed = 1.25;
    const auto quiet = [&](const Share& share) {
        return share.players <= kDisturbed * cheapestPlayers;
    };
    const auto line = [&](const std::string& what, const Share& share) {
        std::printf("  %-28s %5.2f = %5.2f + %5.2f (+ %5.2f), %5.0f = %5.0f + %5.0f switches/s%s\n",
                    what.c_str(), share.mixing(), share.corvalle, share.server, share.players,
                    share.ownSwitches + share.serverSwitches, share.ownSwitches,
                    share.serverSwitches, quiet(share) ? "" : " (disturbed)");
    };
    std::printf("20 players, 10 at 50 %%, %% of one core: Corvalle + server (+ players), and "
                "their context switches a second (Corvalle + server)\n");
    std::vector<double> ratios;
    std::vector<double> mixing;
    for (std::size_t turn = 0; turn < tappedTurns.size(); ++turn) {
        line(std::to_string(taps) + " Corvalle taps, turn " + std::to_string(turn + 1),
             tappedTurns[turn]);
        line("PipeWire stream volume, turn " + std::to_string(turn + 1), ownTurns[turn]);
        ratios.push_back(tappedTurns[turn].mixing() / ownTurns[turn].mixing());
        mixing.push_back(tappedTurns[turn].mixing());
    }
    line("10 pw-loopbacks", loopback);
    line("10 sinks + 1 filter", sinkFilter);
    const auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values.empty() ? 0.0 : values[values.size() / 2];
    };
    std::printf("taps: %.2f x stream volume (median of the turns; %.2f to %.2f), %.2f x the "
                "loopbacks; loopbacks %.2f x, sinks + filter %.2f x the last stream volume\n"
                "(%d streams at PipeWire's own volume 0.5, %d moved into a loopback, %d into a "
                "server-side sink, %d of 20 channels through the filter)\n",
                median(ratios), *std::min_element(ratios.begin(), ratios.end()),
                *std::max_element(ratios.begin(), ratios.end()), median(mixing) / loopback.mixing(),
                loopback.mixing() / ownTurns.back().mixing(),
                sinkFilter.mixing() / ownTurns.back().mixing(), attenuated, moved, movedToSinks,
                linked);
    std::vector<double> quietTapped;
    std::vector<double> quietOwn;
    for (std::size_t turn = 0; turn < tappedTurns.size(); ++turn) {
        if (quiet(tappedTurns[turn])) {
            quietTapped.push_back(tappedTurns[turn].mixing());
        }
        if (quiet(ownTurns[turn])) {
            quietOwn.push_back(ownTurns[turn].mixing());
        }
    }
    if (quietTapped.empty() || quietOwn.empty()) {
        std::printf("quiet turns only: too few (taps %zu, stream volume %zu of %d)\n",
                    quietTapped.size(), quietOwn.size(), kTurns);
    } else {
        std::printf("quiet turns only (players within %.0f %% of their cheapest): taps %.2f x "
                    "stream volume (medians of %zu and %zu of %d turns)",
                    100.0 * (kDisturbed - 1.0), median(quietTapped) / median(quietOwn),
                    quietTapped.size(), quietOwn.size(), kTurns);
        if (quiet(loopback)) {
            std::printf(", %.2f x the loopbacks", median(quietTapped) / loopback.mixing());
        }
        std::printf("\n");
    }
    return 0;
}

} // namespace
} // namespace corvalle

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    int qtArgc = 1;
    QCoreApplication application(qtArgc, argv);
    if (what == "latency") {
        return corvalle::latency(argc > 2 ? std::atoi(argv[2]) : 1024);
    }
    if (what == "setvolume") {
        return corvalle::setVolume();
    }
    if (what == "cpu") {
        return corvalle::cpu(argc > 2 ? std::atoi(argv[2]) : 10,
                             argc > 3 ? std::atoi(argv[3]) : 30);
    }
    if (what == "stall") {
        return corvalle::stall(argc > 2 && std::string(argv[2]) == "slow");
    }
    if (what == "startheard") {
        return corvalle::startHeard(argc > 2 ? std::atoi(argv[2]) : 20);
    }
    if (what == "cpucompare") {
        return corvalle::cpuCompare(argc > 2 ? std::atoi(argv[2]) : 10);
    }
    std::fprintf(stderr, "usage: pipewire-measure latency QUANTUM | setvolume | cpu [N] [S] | "
                         "stall | startheard [N] | cpucompare [S]\n");
    return 2;
}
