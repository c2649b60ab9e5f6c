// Untapped streams of a process sent to an output chosen in Corvalle. The choice
// is written as each stream's target.object in the "default" metadata, by the
// device's node.name: the session manager plays the stream on its fallback while
// that device is away and moves it back when it returns. Cleared (or when
// Corvalle quits) each stream gets back the target it had before.
//
// JACK clients follow no target: their links to a device are moved to the chosen
// one by us, and back to the device they linked themselves to while it is away,
// when the choice is cleared and when Corvalle quits.
#include "HardwareImpl.h"
#include "PipeWireKeys.h"

namespace corvalle {

OSStatus PipeWireAudioHardware::Impl::setProcessOutput(AudioObjectID processObjectID,
                                                       const std::string& deviceUID) {
    if (!connection->isConnected()) {
        return kAudioHardwareNotRunningError;
    }
    const auto& graph = connection->graph();
    const pw::ClientRecord* client = graph.clientByProcessObject(processObjectID);
    if (client == nullptr) {
        return kAudioHardwareBadObjectError;
    }
    // A name of ours would send the streams into a tap's sink.
    if (isOwnName(deviceUID)) {
        return kAudioHardwareIllegalOperationError;
    }
    if (deviceUID.empty()) {
        clientOutputs.erase(client->id);
    } else {
        clientOutputs[client->id] = deviceUID;
    }
    for (const std::uint32_t nodeID : graph.outputStreamsOf(client->id)) {
        moveStream(nodeID);
    }
    return noErr;
}

TapObject* PipeWireAudioHardware::Impl::tapHolding(std::uint32_t nodeID) const {
    for (const auto& [id, tap] : taps) {
        if (tap->claimed.count(nodeID) > 0) {
            return tap.get();
        }
    }
    for (const auto& tap : retiring) {
        if (tap->claimed.count(nodeID) > 0) {
            return tap.get();
        }
    }
    return nullptr;
}

std::optional<std::string>
PipeWireAudioHardware::Impl::outputChosenFor(std::uint32_t nodeID) const {
    const auto node = connection->graph().nodes.find(nodeID);
    const std::string* client = node == connection->graph().nodes.end()
                                    ? nullptr
                                    : property(node->second.props, pw::keys::kClientID);
    for (const auto& [clientID, name] : clientOutputs) {
        if (client != nullptr && std::to_string(clientID) == *client) {
            return name;
        }
    }
    return std::nullopt;
}

void PipeWireAudioHardware::Impl::placeJackNode(std::uint32_t nodeID) {
    const auto& graph = connection->graph();
    const std::optional<std::string> output = outputChosenFor(nodeID);
    std::optional<std::uint32_t> device;
    for (const auto& [id, node] : graph.nodes) {
        const std::string* name = property(node.props, pw::keys::kNodeName);
        if (output && name != nullptr && *name == *output && pw::GraphState::isDevice(node)) {
            device = id;
        }
    }
    if (!device || output == jackRoutes.deviceOf(graph, nodeID)) {
        jackRoutes.restore(*connection, nodeID);
        return;
    }
    jackRoutes.moveInto(*connection, nodeID, *device);
}

void PipeWireAudioHardware::Impl::placeJackNodes() {
    if (clientOutputs.empty() && !jackRoutes.hasMoves()) {
        return;
    }
    for (const auto& [nodeID, node] : connection->graph().nodes) {
        if (pw::GraphState::isJackNode(node) && tapHolding(nodeID) == nullptr) {
            placeJackNode(nodeID);
        }
    }
}

void PipeWireAudioHardware::Impl::moveStream(std::uint32_t nodeID) {
    const auto& graph = connection->graph();
    const auto node = graph.nodes.find(nodeID);
    if (node == graph.nodes.end()) {
        return;
    }
    TapObject* holder = tapHolding(nodeID);
    const std::optional<std::string> output = outputChosenFor(nodeID);
    if (holder == nullptr && pw::GraphState::isJackNode(node->second)) {
        placeJackNode(nodeID);
        return;
    }
    const auto moved = movedFrom.find(nodeID);
    if (holder != nullptr) {
        // A tap decides where the stream is heard; what changes is where it is
        // left when the tap lets go of it.
        std::optional<std::string>& previous = holder->claimed[nodeID];
        if (output) {
            movedFrom.try_emplace(nodeID, previous);
            previous = output;
        } else if (moved != movedFrom.end()) {
            previous = moved->second;
            movedFrom.erase(moved);
        }
        return;
    }
    if (!output) {
        if (moved != movedFrom.end()) {
            connection->setMetadata(nodeID, pw::keys::kTargetObject, nullptr,
                                    moved->second ? moved->second->c_str() : nullptr);
            movedFrom.erase(moved);
        }
        return;
    }
    if (moved == movedFrom.end()) {
        movedFrom[nodeID] = foreignTarget(nodeID);
    }
    const auto current = graph.targets.find(nodeID);
    if (current == graph.targets.end() || current->second != *output) {
        connection->setMetadata(nodeID, pw::keys::kTargetObject, nullptr, output->c_str());
    }
}

void PipeWireAudioHardware::Impl::restoreMovedStreams(pw::ThreadLoopLock& lock) {
    if (!connection || !connection->isConnected()) {
        return;
    }
    clientOutputs.clear();
    const bool jackMoved = jackRoutes.hasMoves();
    // Tapped JACK clients go back with their tap.
    placeJackNodes();
    if (movedFrom.empty() && !jackMoved) {
        return;
    }
    for (const auto& [nodeID, previous] : movedFrom) {
        if (connection->graph().nodes.count(nodeID) > 0) {
            connection->setMetadata(nodeID, pw::keys::kTargetObject, nullptr,
                                    previous ? previous->c_str() : nullptr);
        }
    }
    movedFrom.clear();
    connection->sync(lock, kSyncTimeoutMs);
}

} // namespace corvalle
