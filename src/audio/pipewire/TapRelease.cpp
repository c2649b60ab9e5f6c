// A tap's release: a retired tap hands its streams back to the targets they
// had (held back while a new tap of the same process is still starting), and
// its streams are destroyed once the session manager has moved them out, or
// at the release deadline.
#include "HardwareImpl.h"
#include "PipeWireKeys.h"

#include <algorithm>
#include <cassert>
#include <pipewire/pipewire.h>
#include <utility>

// The interface-call macros of PipeWire cast the C way.
#pragma GCC diagnostic ignored "-Wold-style-cast"

namespace corvalle {

bool PipeWireAudioHardware::Impl::heldBackByPendingClaim(const TapObject& retired) const {
    if (retired.claimed.empty()) {
        return false;
    }
    for (const auto& [id, tap] : taps) {
        // Streams waiting for a lane of the new tap stay in the old one until then.
        const bool pending = tap->session.isStarting() || !tap->waiting.empty();
        if (!pending || !tap->streams ||
            tap->streams->playbackState() == pw::TapNode::State::failed) {
            continue;
        }
        for (const std::uint32_t clientID : tap->clientIDs) {
            if (retired.clientIDs.count(clientID) > 0) {
                return true;
            }
        }
    }
    return false;
}

void PipeWireAudioHardware::Impl::scheduleRelease() {
    if (releasePosted) {
        return;
    }
    releasePosted = true;
    std::weak_ptr<int> token = alive;
    auto task = [this, token] {
        if (!token.expired()) {
            releaseRetired();
        }
    };
    if (post) {
        post(task);
    } else {
        task();
    }
}

void PipeWireAudioHardware::Impl::releaseRetired() {
    pw::ThreadLoopLock lock(loop);
    releasePosted = false;
    // Aggregates whose tap lives on: that tap is muted from now on.
    for (auto& aggregate : retiredAggregates) {
        if (TapObject* tap = liveTap(aggregate->tapID); tap != nullptr && tap->streams) {
            tap->streams->destroyPlayback();
            for (auto& [output, lane] : tap->lanes) {
                lane->destroyPlayback();
            }
        }
    }
    retiredAggregates.clear();
    // A tap whose streams a newer tap is about to take over keeps them until then.
    std::vector<std::unique_ptr<TapObject>> pending;
    std::vector<std::unique_ptr<TapObject>> kept;
    for (auto& tap : retiring) {
        (heldBackByPendingClaim(*tap) ? kept : pending).push_back(std::move(tap));
    }
    retiring = std::move(kept);
    // Nothing here waits on the server: streams still linked to our sink are
    // waited for on the loop thread.
    for (auto& tap : pending) {
        if (handBack(*tap)) {
            releasing.push_back(std::move(tap));
        } else {
            release(lock, *tap, false);
        }
    }
    finishReleases();
    armReleaseWatch();
}

bool PipeWireAudioHardware::Impl::handBack(TapObject& tap) {
    if (!tap.streams) {
        return false;
    }
    tap.session.handBack(std::chrono::steady_clock::now());
    letGoAll(tap);
    if (!isCurrent(tap) || tap.claimed.empty()) {
        return false;
    }
    for (const auto& [nodeID, previous] : tap.claimed) {
        const auto target = ownTargets.find(nodeID);
        if (target == ownTargets.end() || !ownsSink(tap, target->second)) {
            continue;
        }
        ownTargets.erase(target);
        const auto node = connection->graph().nodes.find(nodeID);
        if (node == connection->graph().nodes.end()) {
            continue;
        }
        if (pw::GraphState::isJackNode(node->second)) {
            placeJackNode(nodeID);
            continue;
        }
        connection->setMetadata(nodeID, pw::keys::kTargetObject, nullptr,
                                previous ? previous->c_str() : nullptr);
    }
    return stillLinked(tap);
}

bool PipeWireAudioHardware::Impl::stillLinked(const TapObject& tap) const {
    if (!tap.streams || !connection->isConnected()) {
        return false;
    }
    for (const auto& [nodeID, previous] : tap.claimed) {
        if (linkedToTap(tap, nodeID)) {
            return true;
        }
    }
    return false;
}

void PipeWireAudioHardware::Impl::finishReleases() {
    const auto now = std::chrono::steady_clock::now();
    std::vector<std::unique_ptr<TapObject>> done;
    std::erase_if(releasing, [&](auto& tap) {
        if (stillLinked(*tap) && tap->session.deadline() && now < *tap->session.deadline()) {
            return false;
        }
        done.push_back(std::move(tap));
        return true;
    });
    for (auto& tap : done) {
        tap->claimed.clear();
        for (auto& [output, lane] : tap->lanes) {
            reaper.destroyAfterEvent(std::move(lane));
        }
        tap->lanes.clear();
        reaper.destroyAfterEvent(std::move(tap->streams));
    }
}

void PipeWireAudioHardware::Impl::armReleaseWatch() {
    if (releaseWatch == nullptr) {
        return;
    }
    std::optional<std::chrono::steady_clock::time_point> next;
    for (const auto& tap : releasing) {
        const auto deadline = tap->session.deadline();
        if (deadline && (!next || *deadline < *next)) {
            next = deadline;
        }
    }
    pw::armTimer(loop.loop(), releaseWatch, next);
}

void PipeWireAudioHardware::Impl::onReleaseWatch(void* data, std::uint64_t) {
    auto* self = static_cast<Impl*>(data);
    assert(self->loop.isLockedHere());
    self->finishReleases();
    self->armReleaseWatch();
}

void PipeWireAudioHardware::Impl::release(pw::ThreadLoopLock& lock, TapObject& tap,
                                          bool waitForRelink) {
    if (!tap.streams) {
        return;
    }
    const bool current = isCurrent(tap);
    const bool handedBack = current && !tap.claimed.empty();
    handBack(tap);
    // The metadata writes reach the server before our streams go away.
    if (handedBack && connection->sync(lock, kSyncTimeoutMs) && waitForRelink) {
        const timespec deadline = lock.deadlineIn(kRelinkTimeoutMs);
        while (stillLinked(tap)) {
            if (!lock.waitUntil(deadline)) {
                break;
            }
        }
    }
    tap.claimed.clear();
    destroyLanes(tap, current);
    if (current) {
        reaper.destroyWhenSettled(std::move(tap.streams));
    } else {
        tap.streams->destroy();
    }
    tap.streams.reset();
}

} // namespace corvalle
