#pragma once

#include "AudioFormat.h"
#include "AudioHardware.h"
#include "PipeWireSession.h"

#include <cmath>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct pw_thread_loop;
struct pw_stream;

namespace corvalle::test {

// Stands in for the main thread's event loop in backend tests: posted tasks
// wait here until drain() runs them on the calling thread.
class TaskQueue {
public:
    MainThreadPoster poster();
    void drain();

private:
    struct Shared {
        std::mutex mutex;
        std::deque<std::function<void()>> tasks;
    };
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
};

struct Level {
    double rmsDB = -200.0;
    double peak = 0.0;
};

double toDB(double linear);
Level levelOf(const std::vector<float>& samples);
// Connects a stream for 48 kHz stereo float samples.
void connectStereo(pw_stream* stream, bool input, std::uint32_t flags);

// Records one output device's monitor in `layout`: the first channel, or each.
class MonitorMeter {
public:
    explicit MonitorMeter(const std::string& deviceName,
                          const pw::ChannelLayout& layout = pw::stereoLayout());
    ~MonitorMeter();
    MonitorMeter(const MonitorMeter&) = delete;
    MonitorMeter& operator=(const MonitorMeter&) = delete;

    std::vector<float> record(int ms) { return std::move(recordChannels(ms).front()); }
    std::vector<std::vector<float>> recordChannels(int ms);
    Level measure(int ms) { return levelOf(record(ms)); }
    // record() in two halves, so that several meters can record the same moment.
    void startRecording(int ms);
    std::vector<std::vector<float>> takeChannels();

private:
    struct State;
    static void onProcess(void* data);
    pw_thread_loop* loop_ = nullptr;
    pw_stream* stream_ = nullptr;
    std::unique_ptr<State> state_;
};

// The first channel of each meter over the same `ms`.
std::vector<std::vector<float>> recordAll(const std::vector<MonitorMeter*>& meters, int ms);
// Measures 300 ms windows of every meter at once until `accept` takes each
// meter's level (or `timeoutMs` passes) and returns the last, whose samples go
// to `lastWindow`: the graph may take a moment to settle after a change.
std::vector<Level> settledLevels(const std::vector<MonitorMeter*>& meters,
                                 const std::function<bool(std::size_t, const Level&)>& accept,
                                 int timeoutMs = 3000,
                                 std::vector<std::vector<float>>* lastWindow = nullptr);
Level settledLevel(MonitorMeter& meter, const std::function<bool(const Level&)>& accept,
                   int timeoutMs = 3000);
// settledLevel() until the level is within `toleranceDB` of `db`, with `meanwhile`
// run before each check.
Level settledAt(MonitorMeter& meter, double db, double toleranceDB,
                const std::function<void()>& meanwhile = {}, int timeoutMs = 3000);

// The process object of `pid`, or kAudioObjectUnknown while the backend lists none.
AudioObjectID processObjectOf(AudioHardware& hardware, pid_t pid);

std::string testPlayerPath();
// tools/JackPlayer.cpp, empty where it was not built (no JACK headers).
std::string jackPlayerPath();
// The LD_LIBRARY_PATH entry that runs a JACK program on PipeWire's JACK library
// of the stack under test, as pw-jack does.
std::string jackLibraryEnvironment();
// tools/PulsePlayer.cpp: a PulseAudio client that asks for its stream only once
// a file exists; empty when built without libpulse.
std::string pulsePlayerPath();
// A stereo WAV of a sine, made once per session.
std::string sineFile(const PipeWireSession& session, double amplitude, int frequency = 440);
// The amplitude of one frequency in 48 kHz samples (whole 100 ms blocks are used).
double toneAmplitude(const std::vector<float>& samples, double frequency);
// Runs of at least `minSamples` exactly silent samples: a tone has none, a block
// that went missing on its way to the device is one.
int silentRuns(const std::vector<float>& samples, std::size_t minSamples = 32);
// Nodes whose pw-cli listing line matches `pattern` (grep).
int nodeCount(const PipeWireSession& session,
              const std::string& pattern = "type PipeWire:Interface:Node");
inline int corvalleNodeCount(const PipeWireSession& session) {
    return nodeCount(session, "node.name = \"Corvalle-");
}

} // namespace corvalle::test
