// Untapped streams of a process sent to an output chosen in Corvalle. The choice
// is written as each stream's target.object in the "default" metadata, by the
// device's node.name: the session manager plays the stream on its fallback while
// that device is away and moves it back when it returns. Cleared (or when
// Corvalle quits) each stream gets back the target it had before.
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

void PipeWireAudioHardware::Impl::moveStream(std::uint32_t nodeID) {
    const auto& graph = connection->graph();
    const auto node = graph.nodes.find(nodeID);
    if (node == graph.nodes.end()) {
        return;
    }
    TapObject* holder = nullptr;
    for (const auto& [id, tap] : taps) {
        holder = tap->claimed.count(nodeID) > 0 ? tap.get() : holder;
    }
    for (const auto& tap : retiring) {
        holder = holder == nullptr && tap->claimed.count(nodeID) > 0 ? tap.get() : holder;
    }
    const std::string* client = property(node->second.props, pw::keys::kClientID);
    std::optional<std::string> output;
    for (const auto& [clientID, name] : clientOutputs) {
        if (client != nullptr && std::to_string(clientID) == *client) {
            output = name;
        }
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
    if (movedFrom.empty() || !connection || !connection->isConnected()) {
        return;
    }
    clientOutputs.clear();
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
