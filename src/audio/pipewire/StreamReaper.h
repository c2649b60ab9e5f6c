#pragma once

#include "TapNode.h"

#include <chrono>
#include <memory>
#include <vector>

struct spa_source;

namespace corvalle::pw {

class ThreadLoop;

// Destroys tap nodes once the server is done setting them up. Taken down in
// their first tens of milliseconds, while the server still hands them the
// activations of new peers, nodes leave those eventfds open in this process
// (libpipewire 0.3.65), so young nodes are kept, unclaimed, until they are
// old enough. Every member is used with the loop's lock held.
class StreamReaper {
public:
    static constexpr std::chrono::milliseconds kSettleAge{250};
    static constexpr std::chrono::milliseconds kGiveUpAge{2000};

    explicit StreamReaper(ThreadLoop& loop);
    ~StreamReaper();
    StreamReaper(const StreamReaper&) = delete;
    StreamReaper& operator=(const StreamReaper&) = delete;

    // Destroys `streams` now if they have settled, else once they have.
    void destroyWhenSettled(std::unique_ptr<TapNode> streams);
    // The same, but never before the loop's next turn: for callers inside one
    // of the server's events, which must not take streams down under it.
    void destroyAfterEvent(std::unique_ptr<TapNode> streams);
    // Destroys every kept stream now; safe to repeat.
    void destroyAll();

private:
    static void onTimer(void* data, std::uint64_t expirations);
    void reap();
    void arm();

    ThreadLoop& loop_;
    spa_source* timer_ = nullptr;
    std::vector<std::unique_ptr<TapNode>> pending_;
};

} // namespace corvalle::pw
