#include "JackRoutes.h"

#include "GraphState.h"
#include "PipeWireKeys.h"
#include "PwConnection.h"

#include <algorithm>
#include <fstream>
#include <pipewire/pipewire.h>

namespace corvalle::pw {

namespace {

// Where `devicePort` sits among its node's audio inputs.
std::size_t placeOf(const GraphState& graph, const PortRecord& devicePort) {
    std::size_t place = 0;
    for (const auto& [id, port] : graph.ports) {
        if (id == devicePort.id) {
            break;
        }
        place += port.nodeID == devicePort.nodeID && !port.isOutput && port.isAudio ? 1 : 0;
    }
    return place;
}

// "node.name:port.name" of a port, empty when either is unknown or could not
// be read back from a line of the record.
std::string portName(const GraphState& graph, std::uint32_t portID) {
    const auto port = graph.ports.find(portID);
    const auto node =
        port == graph.ports.end() ? graph.nodes.end() : graph.nodes.find(port->second.nodeID);
    if (node == graph.nodes.end()) {
        return {};
    }
    const auto name = node->second.props.find(keys::kNodeName);
    if (name == node->second.props.end() || port->second.name.empty()) {
        return {};
    }
    std::string full = name->second + ":" + port->second.name;
    return full.find_first_of("\t\n") == std::string::npos ? full : std::string();
}

std::optional<std::uint32_t> portNamed(const GraphState& graph, const std::string& full,
                                       bool isOutput) {
    for (const auto& [id, port] : graph.ports) {
        if (port.isOutput == isOutput && portName(graph, id) == full) {
            return id;
        }
    }
    return std::nullopt;
}

} // namespace

JackRoutes::~JackRoutes() {
    clear();
}

void JackRoutes::drop(Move& move) {
    if (move.ours != nullptr) {
        pw_proxy_destroy(move.ours);
        move.ours = nullptr;
    }
}

void JackRoutes::moveInto(Connection& connection, std::uint32_t nodeID,
                          std::uint32_t targetNodeID) {
    const GraphState& graph = connection.graph();
    auto& moves = moved_[nodeID];
    // Moves of ports that are gone, and ours into another target, are done with.
    std::erase_if(moves, [&](Move& move) {
        if (graph.ports.count(move.outputPortID) == 0) {
            drop(move);
            return true;
        }
        return false;
    });
    for (Move& move : moves) {
        if (move.targetNodeID != targetNodeID) {
            drop(move);
        }
    }
    std::vector<LinkRecord> deviceLinks;
    for (const auto& entry : graph.links) {
        const LinkRecord& link = entry.second;
        const auto input = graph.nodes.find(link.inputNodeID);
        const bool ours = std::any_of(moves.begin(), moves.end(), [&](const Move& move) {
            return move.outputPortID == link.outputPortID && move.targetPortID == link.inputPortID;
        });
        if (link.outputNodeID == nodeID && input != graph.nodes.end() &&
            GraphState::isDevice(input->second) && link.inputNodeID != targetNodeID && !ours) {
            deviceLinks.push_back(link);
        }
    }
    for (const LinkRecord& link : deviceLinks) {
        const auto known = std::find_if(moves.begin(), moves.end(), [&](const Move& move) {
            return move.outputPortID == link.outputPortID && move.devicePortID == link.inputPortID;
        });
        if (known == moves.end()) {
            moves.push_back(Move{link.outputPortID, link.inputPortID, link.inputNodeID, 0, 0,
                                 nullptr, portName(graph, link.outputPortID),
                                 portName(graph, link.inputPortID)});
        }
    }
    for (Move& move : moves) {
        if (move.ours != nullptr) {
            continue;
        }
        const auto devicePort = graph.ports.find(move.devicePortID);
        const std::optional<std::uint32_t> targetPort =
            devicePort == graph.ports.end()
                ? std::nullopt
                : graph.inputPortFor(targetNodeID, devicePort->second.channel,
                                     placeOf(graph, devicePort->second));
        if (!targetPort) {
            continue;
        }
        // The device link goes first: a moment of silence rather than one heard twice.
        for (const LinkRecord& link : deviceLinks) {
            if (link.outputPortID == move.outputPortID && link.inputPortID == move.devicePortID) {
                connection.destroyObject(link.id);
            }
        }
        move.ours = connection.createLink(move.outputPortID, *targetPort, false);
        move.targetNodeID = targetNodeID;
        move.targetPortID = *targetPort;
    }
    // A device link that is still there was not moved: it is not ours to put back.
    std::erase_if(moves, [&](const Move& move) {
        if (move.ours != nullptr) {
            return false;
        }
        return std::any_of(deviceLinks.begin(), deviceLinks.end(), [&](const LinkRecord& link) {
            return link.outputPortID == move.outputPortID && link.inputPortID == move.devicePortID;
        });
    });
    if (moves.empty()) {
        moved_.erase(nodeID);
    }
    saveRecord();
}

void JackRoutes::restore(Connection& connection, std::uint32_t nodeID) {
    const auto it = moved_.find(nodeID);
    if (it == moved_.end()) {
        return;
    }
    for (Move& move : it->second) {
        drop(move);
        const GraphState& graph = connection.graph();
        if (graph.ports.count(move.outputPortID) == 0 ||
            graph.ports.count(move.devicePortID) == 0) {
            continue;
        }
        if (pw_proxy* link = connection.createLink(move.outputPortID, move.devicePortID, true)) {
            // Lingering: the link stays on the server without its proxy.
            pw_proxy_destroy(link);
        }
    }
    moved_.erase(it);
    saveRecord();
}

std::optional<std::string> JackRoutes::deviceOf(const GraphState& graph,
                                                std::uint32_t nodeID) const {
    std::optional<std::uint32_t> deviceID;
    if (const auto it = moved_.find(nodeID); it != moved_.end() && !it->second.empty()) {
        deviceID = it->second.front().deviceNodeID;
    }
    for (const auto& [linkID, link] : graph.links) {
        const auto input = graph.nodes.find(link.inputNodeID);
        if (!deviceID && link.outputNodeID == nodeID && input != graph.nodes.end() &&
            GraphState::isDevice(input->second)) {
            deviceID = link.inputNodeID;
        }
    }
    const auto device = deviceID ? graph.nodes.find(*deviceID) : graph.nodes.end();
    if (device == graph.nodes.end()) {
        return std::nullopt;
    }
    const auto name = device->second.props.find(keys::kNodeName);
    return name == device->second.props.end() ? std::nullopt
                                              : std::optional<std::string>(name->second);
}

void JackRoutes::clear() {
    for (auto& [nodeID, moves] : moved_) {
        for (Move& move : moves) {
            drop(move);
        }
    }
    moved_.clear();
}

// One line per move: the output port and the device port, tab apart. Written
// to a new file that then replaces the old, so that a kill never leaves half.
void JackRoutes::saveRecord() {
    if (recordFile_.empty()) {
        return;
    }
    std::string text;
    for (const auto& [nodeID, moves] : moved_) {
        for (const Move& move : moves) {
            if (!move.outputName.empty() && !move.deviceName.empty()) {
                text += move.outputName + "\t" + move.deviceName + "\n";
            }
        }
    }
    // Moves are checked again on every port and link of a tapped client; most
    // change nothing.
    if (text == recorded_) {
        return;
    }
    recorded_ = text;
    std::error_code error;
    if (text.empty()) {
        std::filesystem::remove(recordFile_, error);
        return;
    }
    std::filesystem::path next = recordFile_;
    next += ".new";
    std::ofstream out(next, std::ios::trunc);
    out << text;
    out.close();
    if (out) {
        std::filesystem::rename(next, recordFile_, error);
    }
}

void JackRoutes::restoreRecorded(Connection& connection) {
    std::ifstream in(recordFile_);
    if (recordFile_.empty() || !in) {
        return;
    }
    const GraphState& graph = connection.graph();
    std::string line;
    while (std::getline(in, line)) {
        const auto tab = line.find('\t');
        if (tab == std::string::npos) {
            continue;
        }
        const auto output = portNamed(graph, line.substr(0, tab), true);
        const auto device = portNamed(graph, line.substr(tab + 1), false);
        // A port linked anywhere now was linked again by its client or the user.
        const bool linked =
            output && std::any_of(graph.links.begin(), graph.links.end(), [&](const auto& entry) {
                return entry.second.outputPortID == *output;
            });
        if (output && device && !linked) {
            if (pw_proxy* link = connection.createLink(*output, *device, true)) {
                pw_proxy_destroy(link);
            }
        }
    }
    std::error_code error;
    std::filesystem::remove(recordFile_, error);
    recorded_.clear();
}

} // namespace corvalle::pw
