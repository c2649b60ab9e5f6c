#include "HardwareImpl.h"
#include "PipeWireKeys.h"

#include <algorithm>

namespace corvalle {

OSStatus PipeWireAudioHardware::Impl::setPeakMetering(AudioObjectID processObjectID, bool on) {
    if (!connection || connection->graph().clientByProcessObject(processObjectID) == nullptr) {
        return kAudioHardwareBadObjectError;
    }
    if (on) {
        meteredProcesses.insert(processObjectID);
    } else {
        meteredProcesses.erase(processObjectID);
    }
    syncPeakStreams();
    return noErr;
}

// One measuring stream for each output stream of a metered process; streams of
// nodes that went, or of processes no longer metered, are destroyed.
void PipeWireAudioHardware::Impl::syncPeakStreams() {
    if (!connection || !connection->isConnected()) {
        peakStreams.clear();
        return;
    }
    const pw::GraphState& graph = connection->graph();
    std::map<std::uint32_t, AudioObjectID> wanted;
    for (auto process = meteredProcesses.begin(); process != meteredProcesses.end();) {
        const pw::ClientRecord* client = graph.clientByProcessObject(*process);
        if (client == nullptr) {
            process = meteredProcesses.erase(process);
            continue;
        }
        for (const std::uint32_t nodeID : graph.outputStreamsOf(client->id)) {
            wanted.emplace(nodeID, *process);
        }
        ++process;
    }
    std::erase_if(peakStreams, [&](const auto& entry) { return !wanted.contains(entry.first); });
    for (const auto& [nodeID, process] : wanted) {
        if (peakStreams.contains(nodeID)) {
            continue;
        }
        const pw::NodeRecord& node = graph.nodes.at(nodeID);
        const std::string* serial = property(node.props, pw::keys::kObjectSerial);
        auto stream = std::make_unique<pw::PeakStream>(
            connection->core(), nodeID, serial != nullptr ? *serial : std::to_string(nodeID));
        if (stream->isValid()) {
            peakStreams.emplace(nodeID, MeteredStream{process, std::move(stream)});
        }
    }
}

float PipeWireAudioHardware::Impl::takeProcessPeak(AudioObjectID processObjectID) {
    float peak = 0.0F;
    for (auto& [nodeID, metered] : peakStreams) {
        if (metered.processObjectID == processObjectID) {
            peak = std::max(peak, metered.stream->takePeak());
        }
    }
    return peak;
}

} // namespace corvalle
