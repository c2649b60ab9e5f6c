#pragma once

#include <chrono>
#include <ctime>
#include <optional>

struct pw_context;
struct pw_data_loop;
struct pw_loop;
struct pw_thread_loop;
struct spa_source;

namespace corvalle::pw {

// Arms `timer` of `loop` to fire once at `when`, at once where that has passed;
// without a time it disarms it.
void armTimer(pw_loop* loop, spa_source* timer,
              std::optional<std::chrono::steady_clock::time_point> when);

// The PipeWire library, a thread loop and a context on it. The loop thread runs
// from construction to destruction.
class ThreadLoop {
public:
    explicit ThreadLoop(const char* name);
    ~ThreadLoop();
    ThreadLoop(const ThreadLoop&) = delete;
    ThreadLoop& operator=(const ThreadLoop&) = delete;

    bool isValid() const { return loop_ != nullptr && context_ != nullptr; }
    pw_thread_loop* threadLoop() const { return loop_; }
    pw_loop* loop() const;
    pw_context* context() const { return context_; }
    pw_data_loop* dataLoop() const;

    // Stops the loop thread; later calls do nothing. Callbacks no longer run.
    void stop();
    // Whether the calling thread may touch what the lock guards: it is the loop
    // thread, which holds the lock while it runs callbacks, or it holds a
    // ThreadLoopLock of this loop.
    bool isLockedHere() const;

private:
    pw_thread_loop* loop_ = nullptr;
    pw_context* context_ = nullptr;
    bool running_ = false;
};

// Holds the loop's lock for its lifetime; the loop thread holds it while it
// runs callbacks, so everything the callbacks touch is safe to use under it.
class ThreadLoopLock {
public:
    explicit ThreadLoopLock(const ThreadLoop& loop);
    ~ThreadLoopLock();
    ThreadLoopLock(const ThreadLoopLock&) = delete;
    ThreadLoopLock& operator=(const ThreadLoopLock&) = delete;

    // The point in time `timeoutMs` from now, for waitUntil.
    timespec deadlineIn(int timeoutMs) const;
    // Releases the lock until the loop thread signals or the deadline passes;
    // false when the deadline has passed.
    bool waitUntil(const timespec& deadline);

private:
    pw_thread_loop* loop_;
};

} // namespace corvalle::pw
