// A tap's start: once our sink exists and its outputs are linked, the
// process's streams are claimed and moved in; streams that play straight to a
// device meanwhile are held at the tap's gain, and new streams of the
// PulseAudio server wait for their answer first. A start that never completes
// fails at its deadline.
#include "HardwareImpl.h"
#include "PipeWireKeys.h"

#include <algorithm>
#include <cassert>
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
    if (tap.session.keepUnanswered(graph, nodeID, std::chrono::steady_clock::now())) {
        holdNode(tap, nodeID, heldGain(tap));
        armStartWatch();
        return;
    }
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

// Moves in the streams of the PulseAudio server that have been linked to a
// device for long enough.
void PipeWireAudioHardware::Impl::claimAnswered() {
    const auto now = std::chrono::steady_clock::now();
    for (auto& [id, tap] : taps) {
        for (const std::uint32_t nodeID : tap->session.takeAnswered(connection->graph(), now)) {
            claimNode(*tap, nodeID);
        }
    }
}

void PipeWireAudioHardware::Impl::claimAll(TapObject& tap) {
    for (const std::uint32_t nodeID : outputStreamsOf(tap)) {
        claimNode(tap, nodeID);
    }
}

std::vector<std::uint32_t>
PipeWireAudioHardware::Impl::outputStreamsOf(const TapObject& tap) const {
    std::vector<std::uint32_t> nodes;
    for (const std::uint32_t clientID : tap.clientIDs) {
        const auto ofClient = connection->graph().outputStreamsOf(clientID);
        nodes.insert(nodes.end(), ofClient.begin(), ofClient.end());
    }
    return nodes;
}

bool PipeWireAudioHardware::Impl::carriedByAnotherTap(const TapObject& tap) const {
    for (const std::uint32_t nodeID : outputStreamsOf(tap)) {
        const auto target = ownTargets.find(nodeID);
        if (target != ownTargets.end() && !ownsSink(tap, target->second)) {
            return true;
        }
    }
    return false;
}

void PipeWireAudioHardware::Impl::moveStreamsIn(TapObject& tap) {
    claimAll(tap);
    if (!retiring.empty()) {
        scheduleRelease();
    }
}

// New streams of the PulseAudio server first wait for their device: see
// claimNode. Our node's output links, not its state, tell that it is carried.
void PipeWireAudioHardware::Impl::advanceStart(TapObject& tap) {
    if (!tap.session.isStarting() || !tap.streams) {
        return;
    }
    const pw::TapNode& streams = *tap.streams;
    const auto& graph = connection->graph();
    const pw::StartFacts facts{
        .streamsFailed = streams.captureState() == pw::TapNode::State::failed ||
                         streams.playbackState() == pw::TapNode::State::failed ||
                         tap.generation != connection->generation(),
        .sinkReady = streams.captureState() == pw::TapNode::State::ready &&
                     graph.nodes.count(streams.captureNodeID()) > 0,
        .playbackLinked = graph.hasOutputLink(streams.playbackNodeID()),
        .carriedByAnotherTap = carriedByAnotherTap(tap),
    };
    switch (
        tap.session.advance(facts, graph, outputStreamsOf(tap), std::chrono::steady_clock::now())) {
    case pw::TapSession::Step::none:
        return;
    case pw::TapSession::Step::failed:
        failStart(tap);
        return;
    case pw::TapSession::Step::claim:
        moveStreamsIn(tap);
        return;
    }
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
    for (const std::uint32_t nodeID : outputStreamsOf(tap)) {
        holdNode(tap, nodeID, gain);
    }
}

// A stream whose Props have not arrived yet is held once they do
// (streamVolumeChanged).
void PipeWireAudioHardware::Impl::holdNode(TapObject& tap, std::uint32_t nodeID, float gain) {
    const auto node = connection->graph().nodes.find(nodeID);
    // A JACK client's node has no volume of its own to hold.
    if (!(gain < 1.0F) || tap.session.isHeld(nodeID) || ownTargets.count(nodeID) > 0 ||
        node == connection->graph().nodes.end() || !pw::GraphState::isAudioStream(node->second) ||
        linkedToTap(tap, nodeID)) {
        return;
    }
    tap.session.hold(nodeID);
    connection->setSoftVolume(nodeID, std::max(gain, 0.0F));
}

void PipeWireAudioHardware::Impl::letGo(TapObject& tap, std::uint32_t nodeID) {
    if (tap.session.letGo(nodeID)) {
        connection->setSoftVolume(nodeID, 1.0F);
    }
}

void PipeWireAudioHardware::Impl::letGoAll(TapObject& tap) {
    const bool current = isCurrent(tap);
    for (const std::uint32_t nodeID : tap.session.takeHeld()) {
        if (current) {
            connection->setSoftVolume(nodeID, 1.0F);
        }
    }
}

// The session has failed the start: its held streams are let go, and the
// aggregate reads as dead.
void PipeWireAudioHardware::Impl::failStart(TapObject& tap) {
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
    for (const auto& [id, tap] : taps) {
        const auto wake = tap->session.nextWake(connection->graph());
        if (wake && (!next || *wake < *next)) {
            next = wake;
        }
    }
    pw::armTimer(loop.loop(), startWatch, next);
}

void PipeWireAudioHardware::Impl::onStartWatch(void* data, std::uint64_t) {
    auto* self = static_cast<Impl*>(data);
    assert(self->loop.isLockedHere());
    const auto now = std::chrono::steady_clock::now();
    for (auto& [id, tap] : self->taps) {
        if (tap->session.expireStart(now)) {
            self->failStart(*tap);
        }
    }
    self->claimAnswered();
    self->armStartWatch();
}

} // namespace corvalle
