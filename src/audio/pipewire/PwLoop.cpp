#include "PwLoop.h"

#include <algorithm>
#include <malloc.h>
#include <pipewire/pipewire.h>

// The interface-call macros of PipeWire cast the C way.
#pragma GCC diagnostic ignored "-Wold-style-cast"

namespace corvalle::pw {

namespace {
constexpr int kMmapThresholdBytes = 256 * 1024;
// The loop whose lock this thread holds through ThreadLoopLock, and how often.
thread_local const pw_thread_loop* lockedLoop = nullptr;
thread_local int lockDepth = 0;
} // namespace

void armTimer(pw_loop* loop, spa_source* timer,
              std::optional<std::chrono::steady_clock::time_point> when) {
    // A zero value would disarm it, so a time passed is a nanosecond from now.
    timespec value{};
    if (when) {
        const auto wait = std::max<std::chrono::nanoseconds>(
            *when - std::chrono::steady_clock::now(), std::chrono::nanoseconds(1));
        value.tv_sec = static_cast<time_t>(wait.count() / 1'000'000'000);
        value.tv_nsec = static_cast<long>(wait.count() % 1'000'000'000);
    }
    pw_loop_update_timer(loop, timer, &value, nullptr, false);
}

ThreadLoop::ThreadLoop(const char* name) {
    // Every stream's converter takes a block of over a megabyte when it starts.
    // With glibc's sliding threshold those blocks soon come from the heap of the
    // loop thread's arena, which then only grows as taps come and go; a fixed
    // threshold keeps them mapped on their own and handed back when freed.
    mallopt(M_MMAP_THRESHOLD, kMmapThresholdBytes);
    pw_init(nullptr, nullptr);
    loop_ = pw_thread_loop_new(name, nullptr);
    if (loop_ == nullptr) {
        return;
    }
    context_ = pw_context_new(pw_thread_loop_get_loop(loop_), nullptr, 0);
    if (context_ == nullptr) {
        return;
    }
    running_ = pw_thread_loop_start(loop_) == 0;
}

ThreadLoop::~ThreadLoop() {
    stop();
    if (context_ != nullptr) {
        pw_context_destroy(context_);
        context_ = nullptr;
    }
    if (loop_ != nullptr) {
        pw_thread_loop_destroy(loop_);
        loop_ = nullptr;
    }
    pw_deinit();
}

pw_loop* ThreadLoop::loop() const {
    return loop_ == nullptr ? nullptr : pw_thread_loop_get_loop(loop_);
}

pw_data_loop* ThreadLoop::dataLoop() const {
    return context_ == nullptr ? nullptr : pw_context_get_data_loop(context_);
}

void ThreadLoop::stop() {
    if (running_) {
        pw_thread_loop_stop(loop_);
        running_ = false;
    }
}

bool ThreadLoop::isLockedHere() const {
    return loop_ != nullptr &&
           (pw_thread_loop_in_thread(loop_) || (lockDepth > 0 && lockedLoop == loop_));
}

ThreadLoopLock::ThreadLoopLock(const ThreadLoop& loop) : loop_(loop.threadLoop()) {
    pw_thread_loop_lock(loop_);
    if (lockDepth++ == 0) {
        lockedLoop = loop_;
    }
}

ThreadLoopLock::~ThreadLoopLock() {
    if (--lockDepth == 0) {
        lockedLoop = nullptr;
    }
    pw_thread_loop_unlock(loop_);
}

timespec ThreadLoopLock::deadlineIn(int timeoutMs) const {
    timespec deadline{};
    pw_thread_loop_get_time(loop_, &deadline, static_cast<int64_t>(timeoutMs) * SPA_NSEC_PER_MSEC);
    return deadline;
}

bool ThreadLoopLock::waitUntil(const timespec& deadline) {
    timespec copy = deadline;
    return pw_thread_loop_timed_wait_full(loop_, &copy) == 0;
}

} // namespace corvalle::pw
