#include "StreamReaper.h"

#include "PwLoop.h"

#include <algorithm>
#include <pipewire/pipewire.h>

namespace corvalle::pw {

namespace {

// How often streams still being set up are looked at again.
constexpr std::chrono::milliseconds kRecheck{10};

// Old enough, and no longer being set up by the server (a stream that never
// gets there is taken down after kGiveUpAge).
bool settled(const TapNode& streams, std::chrono::steady_clock::time_point now) {
    const auto age = now - streams.createdAt();
    const bool settingUp =
        streams.captureState() == TapNode::State::connecting ||
        (streams.hasPlayback() && streams.playbackState() == TapNode::State::connecting);
    return age >= StreamReaper::kGiveUpAge || (age >= StreamReaper::kSettleAge && !settingUp);
}

} // namespace

StreamReaper::StreamReaper(ThreadLoop& loop) : loop_(loop) {
    if (loop_.loop() != nullptr) {
        timer_ = pw_loop_add_timer(loop_.loop(), &StreamReaper::onTimer, this);
    }
}

StreamReaper::~StreamReaper() {
    destroyAll();
    if (timer_ != nullptr) {
        pw_loop_destroy_source(loop_.loop(), timer_);
        timer_ = nullptr;
    }
}

void StreamReaper::destroyWhenSettled(std::unique_ptr<TapNode> streams) {
    if (!streams) {
        return;
    }
    if (timer_ == nullptr || settled(*streams, std::chrono::steady_clock::now())) {
        streams->destroy();
        return;
    }
    pending_.push_back(std::move(streams));
    arm();
}

void StreamReaper::destroyAfterEvent(std::unique_ptr<TapNode> streams) {
    if (!streams) {
        return;
    }
    if (timer_ == nullptr) {
        streams->destroy();
        return;
    }
    pending_.push_back(std::move(streams));
    arm();
}

void StreamReaper::destroyAll() {
    auto pending = std::move(pending_);
    pending_.clear();
    for (auto& streams : pending) {
        streams->destroy();
    }
}

void StreamReaper::onTimer(void* data, std::uint64_t) {
    static_cast<StreamReaper*>(data)->reap();
}

void StreamReaper::reap() {
    const auto now = std::chrono::steady_clock::now();
    const auto ripe = std::stable_partition(pending_.begin(), pending_.end(),
                                            [&](const auto& s) { return !settled(*s, now); });
    std::vector<std::unique_ptr<TapNode>> done(std::make_move_iterator(ripe),
                                               std::make_move_iterator(pending_.end()));
    pending_.erase(ripe, pending_.end());
    for (auto& streams : done) {
        streams->destroy();
    }
    arm();
}

void StreamReaper::arm() {
    if (pending_.empty() || timer_ == nullptr) {
        return;
    }
    auto oldest = pending_.front()->createdAt();
    for (const auto& streams : pending_) {
        oldest = std::min(oldest, streams->createdAt());
    }
    armTimer(loop_.loop(), timer_,
             std::max(oldest + kSettleAge, std::chrono::steady_clock::now() + kRecheck));
}

} // namespace corvalle::pw
