// A tap's start: once our sink exists and our playback stream is carried, the
// process's streams are claimed and moved in; streams that play straight to a
// device meanwhile are held at the tap's gain, and new streams of the
// PulseAudio server wait for their answer first. A start that never completes
// fails at its deadline.
#include "HardwareImpl.h"
#include "PipeWireKeys.h"

#include <algorithm>
#include <pipewire/pipewire.h>
#include <utility>

// The interface-call macros of PipeWire cast the C way.
#pragma GCC diagnostic ignored "-Wold-style-cast"

namespace corvalle {

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
    if (awaitsPulseAnswer(nodeID, std::chrono::steady_clock::now())) {
        holdNode(tap, nodeID, heldGain(tap));
        tap.unanswered.insert(nodeID);
        armStartWatch();
        return;
    }
    tap.unanswered.erase(nodeID);
    if (tap.claimed.find(nodeID) == tap.claimed.end()) {
        tap.claimed[nodeID] = foreignTarget(nodeID);
    }
    routeNode(tap, nodeID);
}

float PipeWireAudioHardware::Impl::heldGain(const TapObject& tap) const {
    const AggregateObject* aggregate = aggregateOf(tap);
    return aggregate != nullptr && aggregate->description.appliedGain != nullptr
               ? aggregate->description.appliedGain->load()
               : 1.0F;
}

bool PipeWireAudioHardware::Impl::awaitsPulseAnswer(
    std::uint32_t nodeID, std::chrono::steady_clock::time_point now) const {
    const auto node = connection->graph().nodes.find(nodeID);
    if (node == connection->graph().nodes.end() || !pw::GraphState::isPulseStream(node->second)) {
        return false;
    }
    const auto& since = node->second.deviceLinkedSince;
    return !since || now - *since < kPulseAnswerTime;
}

// Moves in the streams of the PulseAudio server that have been linked to a
// device for long enough.
void PipeWireAudioHardware::Impl::claimAnswered() {
    const auto now = std::chrono::steady_clock::now();
    for (auto& [id, tap] : taps) {
        const std::set<std::uint32_t> waiting = tap->unanswered;
        for (const std::uint32_t nodeID : waiting) {
            if (!tap->claiming || connection->graph().nodes.count(nodeID) == 0) {
                tap->unanswered.erase(nodeID);
            } else if (!awaitsPulseAnswer(nodeID, now)) {
                claimNode(*tap, nodeID);
            }
        }
    }
}

void PipeWireAudioHardware::Impl::claimAll(TapObject& tap) {
    tap.claiming = true;
    for (const std::uint32_t clientID : tap.clientIDs) {
        for (const std::uint32_t nodeID : connection->graph().outputStreamsOf(clientID)) {
            claimNode(tap, nodeID);
        }
    }
}

bool PipeWireAudioHardware::Impl::carriedByAnotherTap(const TapObject& tap) const {
    for (const std::uint32_t clientID : tap.clientIDs) {
        for (const std::uint32_t nodeID : connection->graph().outputStreamsOf(clientID)) {
            const auto target = ownTargets.find(nodeID);
            if (target != ownTargets.end() && !ownsSink(tap, target->second)) {
                return true;
            }
        }
    }
    return false;
}

bool PipeWireAudioHardware::Impl::playingStraightToDevice(const TapObject& tap) const {
    const auto& graph = connection->graph();
    const auto now = std::chrono::steady_clock::now();
    bool any = false;
    for (const std::uint32_t clientID : tap.clientIDs) {
        for (const std::uint32_t nodeID : graph.outputStreamsOf(clientID)) {
            const pw::NodeRecord& node = graph.nodes.at(nodeID);
            if (!node.running || now - node.runningSince < kPlayingAfter ||
                !graph.hasOutputLink(nodeID) || tap.held.count(nodeID) == 0) {
                return false;
            }
            any = true;
        }
    }
    return any;
}

// Moves a waiting tap's streams in once our playback stream is linked, so that
// they go on being heard. (Its node runs only once sound reaches it.)
void PipeWireAudioHardware::Impl::claimWhenCarried(TapObject& tap) {
    if (!tap.claimPending || !tap.streams ||
        !connection->graph().hasOutputLink(tap.streams->playbackNodeID())) {
        return;
    }
    tap.claimPending = false;
    moveStreamsIn(tap);
}

void PipeWireAudioHardware::Impl::moveStreamsIn(TapObject& tap) {
    tap.startRequested = false;
    claimAll(tap);
    if (!retiring.empty()) {
        scheduleRelease();
    }
}

void PipeWireAudioHardware::Impl::advanceStart(TapObject& tap) {
    if (tap.claimPending) {
        claimWhenCarried(tap);
        return;
    }
    if (!tap.startRequested || tap.claiming || !tap.streams) {
        return;
    }
    pw::TapStreams& streams = *tap.streams;
    if (streams.captureState() == pw::TapStreams::State::failed ||
        streams.playbackState() == pw::TapStreams::State::failed ||
        tap.generation != connection->generation()) {
        failStart(tap);
        return;
    }
    if (streams.captureState() != pw::TapStreams::State::ready ||
        connection->graph().nodes.count(streams.captureNodeID()) == 0) {
        return;
    }
    // Streams that are starting move in at once: until our playback stream is
    // linked they are held silent, never heard at their own level for longer
    // than it takes. Streams another tap of ours carries, and streams playing
    // straight to their device at their own volume held at the gain, wait for
    // it, so that they go on being heard at their setting. (New streams of the
    // PulseAudio server first wait for their device: see claimNode.)
    if (carriedByAnotherTap(tap) || playingStraightToDevice(tap)) {
        tap.claimPending = true;
        claimWhenCarried(tap);
        return;
    }
    moveStreamsIn(tap);
}

// A stream that plays straight to its device is heard at its own level until
// the session manager has moved it into our sink; its soft volumes, set now,
// hold it at the tap's gain from its next cycle on. Its own volume stays as it
// was: the session manager stores that per application, for every stream
// that shares the key, and would keep our gain after us.
void PipeWireAudioHardware::Impl::holdAtGain(TapObject& tap, float gain) {
    if (!(gain < 1.0F) || !tap.streams) {
        return;
    }
    for (const std::uint32_t clientID : tap.clientIDs) {
        for (const std::uint32_t nodeID : connection->graph().outputStreamsOf(clientID)) {
            holdNode(tap, nodeID, gain);
        }
    }
}

// A stream whose Props have not arrived yet is held once they do
// (streamVolumeChanged).
void PipeWireAudioHardware::Impl::holdNode(TapObject& tap, std::uint32_t nodeID, float gain) {
    const auto node = connection->graph().nodes.find(nodeID);
    // A JACK client's node has no volume of its own to hold.
    if (!(gain < 1.0F) || tap.held.count(nodeID) > 0 || ownTargets.count(nodeID) > 0 ||
        node == connection->graph().nodes.end() || !pw::GraphState::isAudioStream(node->second) ||
        linkedToTap(tap, nodeID)) {
        return;
    }
    tap.held.insert(nodeID);
    connection->setSoftVolume(nodeID, std::max(gain, 0.0F));
}

void PipeWireAudioHardware::Impl::letGo(TapObject& tap, std::uint32_t nodeID) {
    if (tap.held.erase(nodeID) > 0) {
        connection->setSoftVolume(nodeID, 1.0F);
    }
}

void PipeWireAudioHardware::Impl::letGoAll(TapObject& tap) {
    const bool current = tap.generation == connection->generation() && connection->isConnected();
    for (const std::uint32_t nodeID : tap.held) {
        if (current) {
            connection->setSoftVolume(nodeID, 1.0F);
        }
    }
    tap.held.clear();
}

void PipeWireAudioHardware::Impl::failStart(TapObject& tap) {
    tap.startRequested = false;
    tap.unanswered.clear();
    letGoAll(tap);
    const AggregateObject* aggregate = aggregateOf(tap);
    if (aggregate == nullptr || !post) {
        return;
    }
    const AudioObjectID aggregateID = aggregate->id;
    std::weak_ptr<int> token = alive;
    post([this, token, aggregateID] {
        if (!token.expired()) {
            fire(aggregateID, kAudioDevicePropertyDeviceIsAlive);
        }
    });
}

void PipeWireAudioHardware::Impl::armStartWatch() {
    if (startWatch == nullptr) {
        return;
    }
    std::optional<std::chrono::steady_clock::time_point> next;
    const auto sooner = [&](std::chrono::steady_clock::time_point at) {
        if (!next || at < *next) {
            next = at;
        }
    };
    for (const auto& [id, tap] : taps) {
        if (tap->startRequested) {
            sooner(tap->startDeadline);
        }
        for (const std::uint32_t nodeID : tap->unanswered) {
            const auto node = connection->graph().nodes.find(nodeID);
            if (node != connection->graph().nodes.end() && node->second.deviceLinkedSince) {
                sooner(*node->second.deviceLinkedSince + kPulseAnswerTime);
            }
        }
    }
    pw::armTimer(loop.loop(), startWatch, next);
}

void PipeWireAudioHardware::Impl::onStartWatch(void* data, std::uint64_t) {
    auto* self = static_cast<Impl*>(data);
    const auto now = std::chrono::steady_clock::now();
    for (auto& [id, tap] : self->taps) {
        if (tap->startRequested && now >= tap->startDeadline) {
            self->failStart(*tap);
        }
    }
    self->claimAnswered();
    self->armStartWatch();
}

} // namespace corvalle
