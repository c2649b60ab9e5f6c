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

private:
    struct State;
    static void onProcess(void* data);
    pw_thread_loop* loop_ = nullptr;
    pw_stream* stream_ = nullptr;
    std::unique_ptr<State> state_;
};

// Paths of the programs the tests play with.
std::string testPlayerPath();
std::string sineFile(double amplitude); // a 440 Hz stereo WAV, made once per run

// The ids of every node whose name begins "Corvalle-", from pw-dump.
int corvalleNodeCount(const PipeWireSession& session);
int nodeCount(const PipeWireSession& session);

} // namespace corvalle::test
