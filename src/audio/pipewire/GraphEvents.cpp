// What the connection reports of the graph, turned into what it means for the
// taps: devices and processes that come and go, a new stream of a tapped
// process, the ports and links that let a start go on, a held stream's volume,
// and the loss of the server.
#include "HardwareImpl.h"
#include "PipeWireKeys.h"

#include <algorithm>
#include <pipewire/pipewire.h>
#include <utility>

// The interface-call macros of PipeWire cast the C way.
#pragma GCC diagnostic ignored "-Wold-style-cast"

namespace corvalle {

void PipeWireAudioHardware::Impl::summaryChanged(const pw::GraphSummary& before,
                                                 const pw::GraphSummary& after) {
    std::vector<std::pair<AudioObjectID, AudioObjectPropertySelector>> changes;
    if (before.devices != after.devices) {
        changes.emplace_back(kAudioObjectSystemObject, kAudioHardwarePropertyDevices);
        linkOutputs();
        // A stream's own output went or came back.
        rerouteAll();
        placeJackNodes();
    }
    if (before.processes != after.processes) {
        changes.emplace_back(kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList);
        if (!meteredProcesses.empty()) {
            syncPeakPorts();
        }
    }
    if (before.defaultOutput != after.defaultOutput) {
        // The server's own answer replaces any default we asked for.
        requestedDefault.reset();
        changes.emplace_back(kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice);
    }
    for (const auto& [processID, running] : after.runningOutput) {
        const auto old = before.runningOutput.find(processID);
        const bool wasRunning = old != before.runningOutput.end() && old->second;
        if (running != wasRunning) {
            changes.emplace_back(processID, kAudioProcessPropertyIsRunningOutput);
        }
    }
    for (const auto& [processID, calling] : after.runningCall) {
        const auto old = before.runningCall.find(processID);
        if (calling != (old != before.runningCall.end() && old->second)) {
            changes.emplace_back(processID, kAudioProcessPropertyIsRunningCall);
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
            if (tap->session.isClaiming() && std::to_string(clientID) == *client) {
                claimNode(*tap, nodeID);
            }
        }
    }
}

void PipeWireAudioHardware::Impl::nodeAdded(std::uint32_t nodeID) {
    for (auto& [id, tap] : taps) {
        if (tap->session.isStarting() && tap->streams && tap->streams->captureNodeID() == nodeID) {
            advanceStart(*tap);
        }
    }
}

// JACK clients wait for the ports of the sink or device they move into.
void PipeWireAudioHardware::Impl::portAdded(std::uint32_t nodeID) {
    linkOutputs();
    const auto& graph = connection->graph();
    if (const auto node = graph.nodes.find(nodeID); !clientOutputs.empty() &&
                                                    node != graph.nodes.end() &&
                                                    pw::GraphState::isDevice(node->second)) {
        placeJackNodes();
    }
    for (auto& [id, tap] : taps) {
        bool intoTap = tap->streams && nodeID == tap->streams->captureNodeID();
        for (const auto& [output, lane] : tap->lanes) {
            intoTap = intoTap || nodeID == lane->captureNodeID();
        }
        if (!intoTap || !tap->session.isClaiming()) {
            continue;
        }
        std::vector<std::uint32_t> jackNodes;
        for (const auto& [claimedID, previous] : tap->claimed) {
            const auto node = graph.nodes.find(claimedID);
            if (node != graph.nodes.end() && pw::GraphState::isJackNode(node->second)) {
                jackNodes.push_back(claimedID);
            }
        }
        for (const std::uint32_t jackNode : jackNodes) {
            routeNode(*tap, jackNode);
        }
    }
}

void PipeWireAudioHardware::Impl::linkAdded(const pw::LinkRecord& link) {
    linkOutputs();
    for (const auto& [id, tap] : taps) {
        if (tap->session.isUnanswered(link.outputNodeID)) {
            // The session manager may have restored the stream's volume meanwhile.
            if (tap->session.letGo(link.outputNodeID)) {
                holdNode(*tap, link.outputNodeID, heldGain(*tap));
            }
            armStartWatch();
        }
    }
    // A tapped JACK client that links itself to a device is moved on from there.
    const auto& graph = connection->graph();
    const auto source = graph.nodes.find(link.outputNodeID);
    const auto input = graph.nodes.find(link.inputNodeID);
    if (source != graph.nodes.end() && input != graph.nodes.end() &&
        pw::GraphState::isJackNode(source->second) && pw::GraphState::isDevice(input->second)) {
        for (auto& [id, tap] : taps) {
            if (tap->session.isClaiming() && tap->claimed.count(link.outputNodeID) > 0) {
                routeNode(*tap, link.outputNodeID);
            }
        }
        if (!clientOutputs.empty() && tapHolding(link.outputNodeID) == nullptr) {
            placeJackNode(link.outputNodeID);
        }
    }
    // Our node's outputs are linked: the tapped streams can move in without a gap.
    for (auto& [id, tap] : taps) {
        bool intoTap = tap->streams && link.inputNodeID == tap->streams->captureNodeID();
        for (const auto& [output, lane] : tap->lanes) {
            intoTap = intoTap || link.inputNodeID == lane->captureNodeID();
        }
        if (intoTap) {
            letGo(*tap, link.outputNodeID);
        }
        if (tap->session.phase() == pw::TapSession::Phase::awaitingCarry && tap->streams &&
            tap->streams->playbackNodeID() == link.outputNodeID) {
            advanceStart(*tap);
        }
        laneLinked(*tap, link.outputNodeID);
        dropIdleLanes(*tap);
    }
}

void PipeWireAudioHardware::Impl::linkRemoved() {
    linkOutputs();
    finishReleases();
}

// A node's state listener may start its tap, which can make or drop lanes:
// each node is looked up again before it is asked.
void PipeWireAudioHardware::Impl::linkOutputs() {
    std::vector<std::pair<AudioObjectID, std::string>> live;
    for (const auto& [id, tap] : taps) {
        live.emplace_back(id, std::string());
        for (const auto& [output, lane] : tap->lanes) {
            live.emplace_back(id, output);
        }
    }
    for (const auto& [id, output] : live) {
        TapObject* tap = liveTap(id);
        if (tap == nullptr) {
            continue;
        }
        const auto lane = tap->lanes.find(output);
        pw::TapNode* node = output.empty()             ? tap->streams.get()
                            : lane != tap->lanes.end() ? lane->second.get()
                                                       : nullptr;
        if (node != nullptr) {
            node->linkOutputs();
        }
    }
    // A retired tap starts nothing.
    for (const auto* group : {&retiring, &releasing}) {
        for (const auto& tap : *group) {
            if (tap->streams) {
                tap->streams->linkOutputs();
            }
            for (const auto& [output, lane] : tap->lanes) {
                lane->linkOutputs();
            }
        }
    }
}

void PipeWireAudioHardware::Impl::disconnected() {
    // Every stream of the old connection is gone with it; the taps read as dead.
    for (auto& [id, tap] : taps) {
        destroyStreams(*tap);
        tap->session.reset();
        tap->claimed.clear();
    }
    for (auto& tap : retiring) {
        destroyStreams(*tap);
        tap->claimed.clear();
    }
    for (auto& handed : releasing) {
        destroyStreams(*handed);
    }
    releasing.clear();
    reaper.destroyAll();
    jackRoutes.clear();
    ownTargets.clear();
    clientOutputs.clear();
    movedFrom.clear();
    // Process objects are new on the next connection.
    peakFilter.reset();
    meteredPorts.clear();
    meteredProcesses.clear();
}

// Keeps a stream's soft volumes where they belong: at the tap's gain times its
// own volume while held; at its own volume otherwise. While held, any set of
// someone else's is answered, even one that reports nothing new: the session
// manager restores a new stream's stored volume as it appears, which undoes
// the soft volumes without changing a value. Letting go mends soft volumes that
// an earlier run of ours left when it was killed while holding, and ours when
// a change of the stream's own volume crossed our letting go.
void PipeWireAudioHardware::Impl::streamVolumeChanged(std::uint32_t nodeID, bool byOthers) {
    const auto node = connection->graph().nodes.find(nodeID);
    if (node == connection->graph().nodes.end() || !node->second.volume) {
        return;
    }
    const pw::StreamVolume& volume = *node->second.volume;
    for (const auto& [id, tap] : taps) {
        if (tap->session.isHeld(nodeID)) {
            const float gain = std::max(heldGain(*tap), 0.0F);
            if (byOthers || !volume.isSoftAt(gain)) {
                connection->setSoftVolume(nodeID, gain);
            }
            return;
        }
    }
    const bool leftOver = node->second.softSetByUs || !volume.isSoftUntouched();
    if (leftOver && !volume.isSoftAt(1.0F)) {
        connection->setSoftVolume(nodeID, 1.0F);
    }
}

} // namespace corvalle
