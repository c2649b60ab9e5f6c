#include "HardwareImpl.h"

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
    syncPeakPorts();
    return noErr;
}

// Measures every output port of every output stream of the metered processes,
// and nothing else; with nothing to measure the measuring node goes too.
void PipeWireAudioHardware::Impl::syncPeakPorts() {
    if (!connection || !connection->isConnected()) {
        peakFilter.reset();
        meteredPorts.clear();
        return;
    }
    const pw::GraphState& graph = connection->graph();
    peakSyncPortChanges = graph.portChanges;
    std::map<std::uint32_t, AudioObjectID> wanted;
    std::map<std::uint32_t, std::uint32_t> nodeOf;
    for (auto process = meteredProcesses.begin(); process != meteredProcesses.end();) {
        const pw::ClientRecord* client = graph.clientByProcessObject(*process);
        if (client == nullptr) {
            process = meteredProcesses.erase(process);
            continue;
        }
        for (const std::uint32_t nodeID : graph.outputStreamsOf(client->id)) {
            for (const auto& [portID, port] : graph.ports) {
                if (port.nodeID == nodeID && port.isOutput) {
                    wanted.emplace(portID, *process);
                    nodeOf.emplace(portID, nodeID);
                }
            }
        }
        ++process;
    }
    if (meteredProcesses.empty()) {
        peakFilter.reset();
        meteredPorts.clear();
        return;
    }
    if (!peakFilter) {
        peakFilter = std::make_unique<pw::PeakFilter>(loop, connection->core());
    }
    std::vector<std::uint32_t> unwanted;
    peakFilter->forEachMeasured([&](std::uint32_t portID) {
        if (!wanted.contains(portID)) {
            unwanted.push_back(portID);
        }
    });
    for (const std::uint32_t portID : unwanted) {
        peakFilter->forget(portID);
    }
    meteredPorts.clear();
    for (const auto& [portID, process] : wanted) {
        peakFilter->measure(portID, nodeOf.at(portID));
        if (peakFilter->measures(portID)) {
            meteredPorts[process].push_back(portID);
        }
    }
    peakFilter->link(graph);
}

float PipeWireAudioHardware::Impl::takeProcessPeak(AudioObjectID processObjectID) {
    if (!peakFilter) {
        return 0.0F;
    }
    // Ports of a measured stream appear after its node, and our own input ports
    // after we add them: both are taken up at the next read.
    if (connection->graph().portChanges != peakSyncPortChanges) {
        syncPeakPorts();
    }
    float peak = 0.0F;
    if (const auto ports = meteredPorts.find(processObjectID); ports != meteredPorts.end()) {
        for (const std::uint32_t portID : ports->second) {
            peak = std::max(peak, peakFilter->takePeak(portID));
        }
    }
    return peak;
}

} // namespace corvalle
