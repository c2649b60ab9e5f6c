#include "HardwareImpl.h"

#include "PipeWireKeys.h"

#include <pipewire/pipewire.h>
#include <utility>

// The interface-call macros of PipeWire cast the C way.
#pragma GCC diagnostic ignored "-Wold-style-cast"

namespace corvalle {

PipeWireAudioHardware::Impl::Impl(MainThreadPoster poster, Options options)
    : post(std::move(poster)) {
    if (!loop.isValid()) {
        return;
    }
    pw::ConnectionEvents events;
    events.summaryChanged = [this](const pw::GraphSummary& before, const pw::GraphSummary& after) {
        summaryChanged(before, after);
    };
    events.outputStreamAdded = [this](std::uint32_t nodeID) { outputStreamAdded(nodeID); };
    events.linkAdded = [this](const pw::LinkRecord& link) { linkAdded(link); };
    events.targetChanged = [this](std::uint32_t nodeID, bool inMetadata) {
        targetChanged(nodeID, inMetadata);
    };
    events.disconnected = [this] { disconnected(); };
    pw::ThreadLoopLock lock(loop);
    connection = std::make_unique<pw::Connection>(loop, options.remoteName, std::move(events));
    connection->start();
}

PipeWireAudioHardware::Impl::~Impl() {
    if (!loop.isValid()) {
        return;
    }
    {
        pw::ThreadLoopLock lock(loop);
        restoreMovedStreams(lock);
        for (auto& [id, tap] : taps) {
            retiring.push_back(std::move(tap));
        }
        taps.clear();
        for (auto& retired : retiring) {
            release(lock, *retired, true);
        }
        retiring.clear();
        peakFilter.reset();
        reaper.destroyAll();
        aggregates.clear();
        retiredAggregates.clear();
        connection.reset();
    }
    loop.stop();
}

void PipeWireAudioHardware::Impl::fire(AudioObjectID objectID,
                                       AudioObjectPropertySelector selector) {
    const auto it = listeners.find({objectID, selector});
    if (it == listeners.end()) {
        return;
    }
    const AudioObjectPropertyAddress address{selector, kAudioObjectPropertyScopeGlobal,
                                             kAudioObjectPropertyElementMain};
    // A listener may add listeners: call a copy.
    const auto blocks = it->second;
    for (const auto& block : blocks) {
        block(1, &address);
    }
}

void PipeWireAudioHardware::Impl::summaryChanged(const pw::GraphSummary& before,
                                                 const pw::GraphSummary& after) {
    std::vector<std::pair<AudioObjectID, AudioObjectPropertySelector>> changes;
    if (before.devices != after.devices) {
        changes.emplace_back(kAudioObjectSystemObject, kAudioHardwarePropertyDevices);
        // A stream's own output went or came back.
        rerouteAll();
    }
    if (before.processes != after.processes) {
        changes.emplace_back(kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList);
        if (!meteredProcesses.empty()) {
            syncPeakPorts();
        }
    }
    if (before.defaultOutput != after.defaultOutput) {
        changes.emplace_back(kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice);
    }
    for (const auto& [processID, running] : after.runningOutput) {
        const auto old = before.runningOutput.find(processID);
        const bool wasRunning = old != before.runningOutput.end() && old->second;
        if (running != wasRunning) {
            changes.emplace_back(processID, kAudioProcessPropertyIsRunningOutput);
        }
    }
    if (changes.empty() || !post) {
        return;
    }
    std::weak_ptr<int> token = alive;
    post([this, token, changes = std::move(changes)] {
        if (token.expired()) {
            return;
        }
        for (const auto& [objectID, selector] : changes) {
            fire(objectID, selector);
        }
    });
}

void PipeWireAudioHardware::Impl::outputStreamAdded(std::uint32_t nodeID) {
    const auto& graph = connection->graph();
    const auto node = graph.nodes.find(nodeID);
    if (node == graph.nodes.end()) {
        return;
    }
    const std::string* client = property(node->second.props, pw::keys::kClientID);
    if (client == nullptr) {
        return;
    }
    moveStream(nodeID);
    if (!meteredProcesses.empty()) {
        syncPeakPorts();
    }
    // A new stream of a tapped process joins its tap at once.
    for (auto& [id, tap] : taps) {
        for (const std::uint32_t clientID : tap->clientIDs) {
            if (tap->claiming && std::to_string(clientID) == *client) {
                claimNode(*tap, nodeID);
            }
        }
    }
}

void PipeWireAudioHardware::Impl::linkAdded(const pw::LinkRecord& link) {
    // Our playback stream is linked: the tapped streams can move in without a gap.
    for (auto& [id, tap] : taps) {
        if (tap->claimPending && tap->streams &&
            tap->streams->playbackNodeID() == link.outputNodeID) {
            tap->claimPending = false;
            claimAll(*tap);
            if (!retiring.empty()) {
                scheduleRelease();
            }
        }
        laneLinked(*tap, link.outputNodeID);
        dropIdleLanes(*tap);
    }
}

bool PipeWireAudioHardware::Impl::heldBackByPendingClaim(const TapObject& retired) const {
    if (retired.claimed.empty()) {
        return false;
    }
    for (const auto& [id, tap] : taps) {
        // Streams waiting for a lane of the new tap stay in the old one until then.
        const bool pending = tap->claimPending || !tap->waiting.empty();
        if (!pending || !tap->streams ||
            tap->streams->playbackState() == pw::TapStreams::State::failed) {
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

void PipeWireAudioHardware::Impl::disconnected() {
    // Every stream of the old connection is gone with it; the taps read as dead.
    for (auto& [id, tap] : taps) {
        if (tap->streams) {
            tap->streams->destroy();
        }
        destroyLanes(*tap, false);
        tap->claiming = false;
        tap->claimPending = false;
        tap->claimed.clear();
    }
    for (auto& tap : retiring) {
        if (tap->streams) {
            tap->streams->destroy();
        }
        destroyLanes(*tap, false);
        tap->claimed.clear();
    }
    reaper.destroyAll();
    ownTargets.clear();
    clientOutputs.clear();
    movedFrom.clear();
    // Process objects are new on the next connection.
    peakFilter.reset();
    meteredPorts.clear();
    meteredProcesses.clear();
}

TapObject* PipeWireAudioHardware::Impl::liveTap(AudioObjectID id) {
    const auto it = taps.find(id);
    return it == taps.end() ? nullptr : it->second.get();
}

AggregateObject* PipeWireAudioHardware::Impl::liveAggregate(AudioObjectID id) {
    const auto it = aggregates.find(id);
    return it == aggregates.end() ? nullptr : it->second.get();
}

void PipeWireAudioHardware::Impl::claimNode(TapObject& tap, std::uint32_t nodeID) {
    const auto& graph = connection->graph();
    const auto node = graph.nodes.find(nodeID);
    if (node == graph.nodes.end() || !tap.streams) {
        return;
    }
    const std::string* name = property(node->second.props, pw::keys::kNodeName);
    if (name != nullptr && isOwnName(*name)) {
        return;
    }
    if (tap.claimed.find(nodeID) == tap.claimed.end()) {
        tap.claimed[nodeID] = foreignTarget(nodeID);
    }
    routeNode(tap, nodeID);
}

void PipeWireAudioHardware::Impl::claimAll(TapObject& tap) {
    tap.claiming = true;
    for (const std::uint32_t clientID : tap.clientIDs) {
        for (const std::uint32_t nodeID : connection->graph().outputStreamsOf(clientID)) {
            claimNode(tap, nodeID);
        }
    }
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
    for (auto& tap : pending) {
        release(lock, *tap, true);
    }
}

void PipeWireAudioHardware::Impl::release(pw::ThreadLoopLock& lock, TapObject& tap,
                                          bool waitForRelink) {
    if (!tap.streams) {
        return;
    }
    tap.claiming = false;
    tap.claimPending = false;
    const bool current = tap.generation == connection->generation() && connection->isConnected();
    if (current && !tap.claimed.empty()) {
        // Hand the streams back (unless a newer tap took them over already).
        for (const auto& [nodeID, previous] : tap.claimed) {
            const auto target = ownTargets.find(nodeID);
            if (target == ownTargets.end() || !ownsSink(tap, target->second)) {
                continue;
            }
            ownTargets.erase(target);
            if (connection->graph().nodes.count(nodeID) == 0) {
                continue;
            }
            connection->setMetadata(nodeID, pw::keys::kTargetObject, nullptr,
                                    previous ? previous->c_str() : nullptr);
        }
        if (connection->sync(lock, kSyncTimeoutMs) && waitForRelink) {
            const timespec deadline = lock.deadlineIn(kRelinkTimeoutMs);
            auto stillLinked = [&] {
                for (const auto& [nodeID, previous] : tap.claimed) {
                    if (linkedToTap(tap, nodeID)) {
                        return true;
                    }
                }
                return false;
            };
            while (connection->isConnected() && stillLinked()) {
                if (!lock.waitUntil(deadline)) {
                    break;
                }
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
