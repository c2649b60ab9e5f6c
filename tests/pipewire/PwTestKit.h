#pragma once

#include "AudioHardware.h"
#include "PipeWireSession.h"

#include <cmath>
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
    // Runs every task posted so far (and those they post); the number run.
    std::size_t drain();
    // Drains repeatedly for `ms` milliseconds.
    void pump(int ms);

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
    std::size_t frames = 0;
};

double toDB(double linear);

// Records the monitor of one output device and measures what was heard.
class MonitorMeter {
public:
    explicit MonitorMeter(const std::string& deviceName);
    ~MonitorMeter();
    MonitorMeter(const MonitorMeter&) = delete;
    MonitorMeter& operator=(const MonitorMeter&) = delete;

    // The level over the next `ms` milliseconds.
    Level measure(int ms);
    // The left channel over the next `ms` milliseconds.
    std::vector<float> record(int ms);

private:
    struct State;
    static void onProcess(void* data);
    pw_thread_loop* loop_ = nullptr;
    pw_stream* stream_ = nullptr;
    std::unique_ptr<State> state_;
};

// Measures windows of `windowMs` until `accept` takes one (or `timeoutMs`
// passes) and returns the last: the graph may take a moment to settle after a
// change, and a level that never settles fails the caller's check.
Level settledLevel(MonitorMeter& meter, const std::function<bool(const Level&)>& accept,
                   int windowMs = 300, int timeoutMs = 3000);

// Paths of the programs the tests play with.
std::string testPlayerPath();
// A stereo WAV of a sine, made once per run.
std::string sineFile(const PipeWireSession& session, double amplitude, int frequency = 440);
// The amplitude of one frequency in 48 kHz samples (whole 100 ms blocks are used).
double toneAmplitude(const std::vector<float>& samples, double frequency);
// Open file descriptors and resident memory of this process.
int openFileCount();
long residentKiB();

// The ids of every node whose name begins "Corvalle-", from pw-dump.
int corvalleNodeCount(const PipeWireSession& session);
int nodeCount(const PipeWireSession& session);

} // namespace corvalle::test
