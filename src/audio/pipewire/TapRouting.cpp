// Where a tapped stream is heard. A stream that follows the default output is
// moved into the tap's main node, which plays to the device the tap was made
// for (the default output). A stream that chose an output of its own (its
// target.object or node.target, or one set in the "default" metadata by the
// user, another tool or the session manager) is moved into a lane: a second
// tap node that plays to that output, running the same IO block. When that
// choice changes, or its output goes or comes back, the stream changes lanes.
#include "HardwareImpl.h"
#include "PipeWireKeys.h"

#include <pipewire/pipewire.h>
#include <utility>

namespace corvalle {

bool PipeWireAudioHardware::Impl::ownsSink(const TapObject& tap, const std::string& sinkName) {
    if (tap.streams && tap.streams->sinkName() == sinkName) {
        return true;
    }
    for (const auto& [output, lane] : tap.lanes) {
        if (lane->sinkName() == sinkName) {
            return true;
        }
    }
    return false;
}

bool PipeWireAudioHardware::Impl::linkedToTap(const TapObject& tap, std::uint32_t nodeID) const {
    const auto& graph = connection->graph();
    if (tap.streams && graph.isLinked(nodeID, tap.streams->captureNodeID())) {
        return true;
    }
    for (const auto& [output, lane] : tap.lanes) {
        if (graph.isLinked(nodeID, lane->captureNodeID())) {
            return true;
        }
    }
    return false;
}

// The target.object a stream had before any tap of ours: the metadata's, or the
// one recorded by the tap that holds it now (a tap made again takes it over).
std::optional<std::string> PipeWireAudioHardware::Impl::foreignTarget(std::uint32_t nodeID) const {
    const auto& targets = connection->graph().targets;
    const auto target = targets.find(nodeID);
    if (target == targets.end()) {
        return std::nullopt;
    }
    if (!isOwnName(target->second)) {
        return target->second;
    }
    auto recorded = [&](const TapObject& tap) -> const std::optional<std::string>* {
        const auto it = tap.claimed.find(nodeID);
        return it != tap.claimed.end() && ownsSink(tap, target->second) ? &it->second : nullptr;
    };
    for (const auto& [id, tap] : taps) {
        if (const auto* previous = recorded(*tap)) {
            return *previous;
        }
    }
    for (const auto& tap : retiring) {
        if (const auto* previous = recorded(*tap)) {
            return *previous;
        }
    }
    return std::nullopt;
}

pw::TapNode* PipeWireAudioHardware::Impl::laneFor(TapObject& tap, const std::string& output) {
    if (const auto it = tap.lanes.find(output); it != tap.lanes.end()) {
        return it->second->playbackState() == pw::TapNode::State::failed ? nullptr
                                                                         : it->second.get();
    }
    std::string suffix(1, '-');
    suffix += std::to_string(++tap.lanesMade);
    auto lane = std::make_unique<pw::TapNode>(loop, *connection, tap.streams->sinkName() + suffix,
                                              tap.playbackDescription,
                                              std::string("corvalle-") + tap.uuid + suffix);
    const pw::NodeRecord* device = connection->graph().deviceByName(output);
    if (device == nullptr || !lane->connectCapture(pw::channelLayout(device->props)) ||
        !lane->connectPlayback(output)) {
        lane->destroy();
        return nullptr;
    }
    if (tap.block != nullptr) {
        lane->runBlock(tap.block);
    }
    pw::TapNode* made = lane.get();
    tap.lanes[output] = std::move(lane);
    return made;
}

void PipeWireAudioHardware::Impl::routeNode(TapObject& tap, std::uint32_t nodeID) {
    const auto& graph = connection->graph();
    if (!tap.streams || graph.nodes.count(nodeID) == 0) {
        return;
    }
    const bool jack = pw::GraphState::isJackNode(graph.nodes.at(nodeID));
    std::optional<std::string> output;
    if (tap.streams->hasPlayback() && !tap.overridesStreamOutputs) {
        // A JACK client chose its output by linking to it.
        output = jack ? jackRoutes.deviceOf(graph, nodeID)
                      : graph.chosenOutput(nodeID, tap.claimed[nodeID]);
        const AggregateObject* aggregate = aggregateOf(tap);
        if (jack && aggregate != nullptr && output == aggregate->description.mainSubDevice) {
            output.reset();
        }
    }
    pw::TapNode* streams = output ? laneFor(tap, *output) : nullptr;
    if (streams == nullptr) {
        // No lane could be made: the main streams at least keep the setting.
        output.reset();
        streams = tap.streams.get();
    }
    tap.waiting.erase(nodeID);
    if (output && !graph.hasOutputLink(streams->playbackNodeID())) {
        tap.waiting[nodeID] = *output;
        return;
    }
    tap.laneOf[nodeID] = output.value_or(std::string());
    const std::string& sink = streams->sinkName();
    if (jack) {
        ownTargets[nodeID] = sink;
        jackRoutes.moveInto(*connection, nodeID, streams->captureNodeID());
        return;
    }
    const auto written = ownTargets.find(nodeID);
    const auto current = graph.targets.find(nodeID);
    if (written != ownTargets.end() && written->second == sink && current != graph.targets.end() &&
        current->second == sink) {
        return;
    }
    ownTargets[nodeID] = sink;
    connection->setMetadata(nodeID, pw::keys::kTargetObject, nullptr, sink.c_str());
}

void PipeWireAudioHardware::Impl::laneLinked(TapObject& tap, std::uint32_t playbackNodeID) {
    for (const auto& [output, lane] : tap.lanes) {
        if (lane->playbackNodeID() != playbackNodeID) {
            continue;
        }
        std::vector<std::uint32_t> ready;
        for (const auto& [nodeID, waitingFor] : tap.waiting) {
            if (waitingFor == output) {
                ready.push_back(nodeID);
            }
        }
        for (const std::uint32_t nodeID : ready) {
            routeNode(tap, nodeID);
        }
        if (!ready.empty() && !retiring.empty()) {
            scheduleRelease();
        }
        return;
    }
}

// A target naming a sink of ours that is gone was left by a Corvalle that ended
// without handing its streams back (killed, crashed). The session manager sends
// such a stream to the default output, whatever it chose itself; without the
// target it goes where it would be without Corvalle.
void PipeWireAudioHardware::Impl::dropStaleTarget(std::uint32_t nodeID) {
    const auto& graph = connection->graph();
    const auto target = graph.targets.find(nodeID);
    if (!connection->isComplete() || target == graph.targets.end() || !isOwnName(target->second) ||
        graph.nodes.count(nodeID) == 0) {
        return;
    }
    for (const auto& [id, node] : graph.nodes) {
        const std::string* name = property(node.props, pw::keys::kNodeName);
        if (name != nullptr && *name == target->second) {
            return;
        }
    }
    for (const auto& [id, tap] : taps) {
        if (ownsSink(*tap, target->second)) {
            return;
        }
    }
    for (const auto& tap : retiring) {
        if (ownsSink(*tap, target->second)) {
            return;
        }
    }
    ownTargets.erase(nodeID);
    connection->setMetadata(nodeID, pw::keys::kTargetObject, nullptr, nullptr);
}

void PipeWireAudioHardware::Impl::dropStaleTargets() {
    std::vector<std::uint32_t> nodes;
    for (const auto& [nodeID, target] : connection->graph().targets) {
        nodes.push_back(nodeID);
    }
    for (const std::uint32_t nodeID : nodes) {
        dropStaleTarget(nodeID);
    }
}

void PipeWireAudioHardware::Impl::targetChanged(std::uint32_t nodeID, bool inMetadata) {
    if (inMetadata) {
        dropStaleTarget(nodeID);
    }
    for (auto& [id, tap] : taps) {
        const auto claimed = tap->claimed.find(nodeID);
        if (!tap->session.isClaiming() || claimed == tap->claimed.end()) {
            continue;
        }
        if (inMetadata) {
            // Anything but a name of ours was written by someone else: the user,
            // another tool or the session manager moved the stream. That is where
            // it goes now, and where it stays once the tap is gone.
            const auto& targets = connection->graph().targets;
            const auto target = targets.find(nodeID);
            if (target == targets.end() || !isOwnName(target->second)) {
                claimed->second = target == targets.end()
                                      ? std::nullopt
                                      : std::optional<std::string>(target->second);
                ownTargets.erase(nodeID);
            }
        }
        routeNode(*tap, nodeID);
        dropIdleLanes(*tap);
    }
}

void PipeWireAudioHardware::Impl::rerouteAll() {
    for (auto& [id, tap] : taps) {
        if (!tap->session.isClaiming()) {
            continue;
        }
        std::vector<std::uint32_t> nodes;
        for (const auto& [nodeID, previous] : tap->claimed) {
            nodes.push_back(nodeID);
        }
        for (const std::uint32_t nodeID : nodes) {
            routeNode(*tap, nodeID);
        }
        dropIdleLanes(*tap);
    }
}

// A lane that no stream is in or waiting for is taken down once the streams that
// left it have been moved on.
void PipeWireAudioHardware::Impl::dropIdleLanes(TapObject& tap) {
    for (auto it = tap.lanes.begin(); it != tap.lanes.end();) {
        bool used = false;
        for (const auto& [nodeID, output] : tap.laneOf) {
            used = used || (output == it->first && connection->graph().nodes.count(nodeID) > 0);
        }
        for (const auto& [nodeID, output] : tap.waiting) {
            used = used || output == it->first;
        }
        for (const auto& [linkID, link] : connection->graph().links) {
            used = used || link.inputNodeID == it->second->captureNodeID();
        }
        if (used) {
            ++it;
            continue;
        }
        it->second->runBlock(nullptr);
        reaper.destroyWhenSettled(std::move(it->second));
        it = tap.lanes.erase(it);
    }
}

void PipeWireAudioHardware::Impl::runBlock(TapObject& tap, const AudioDeviceIOBlock* block,
                                           const std::atomic<float>* appliedGain) {
    tap.block = block;
    if (tap.streams) {
        tap.streams->runBlock(block, appliedGain);
    }
    for (auto& [output, lane] : tap.lanes) {
        lane->runBlock(block, appliedGain);
    }
}

void PipeWireAudioHardware::Impl::destroyStreams(TapObject& tap) {
    if (tap.streams) {
        tap.streams->destroy();
    }
    destroyLanes(tap, false);
}

void PipeWireAudioHardware::Impl::destroyLanes(TapObject& tap, bool settled) {
    for (auto& [output, lane] : tap.lanes) {
        if (settled) {
            reaper.destroyWhenSettled(std::move(lane));
        } else {
            lane->destroy();
        }
    }
    tap.lanes.clear();
    tap.laneOf.clear();
    tap.waiting.clear();
}

} // namespace corvalle
