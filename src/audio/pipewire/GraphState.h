#pragma once

#include "AudioFormat.h"
#include "AudioTypes.h"
#include "StreamVolume.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace corvalle::pw {

using Properties = std::map<std::string, std::string>;

// The value of `key` in `props`, or nullptr.
const std::string* findProperty(const Properties& props, const char* key);
// All of `text` as an id: none for no text, or for anything but digits that fit.
std::optional<std::uint32_t> parseID(const std::string* text);

// Values copied from the server; nothing here refers to a PipeWire object.
struct NodeRecord {
    std::uint32_t id = 0;
    Properties props; // the global's properties, then the node info's on top
    bool running = false;
    std::chrono::steady_clock::time_point runningSince{}; // when `running` last became true
    // When a link of this node into a device first appeared.
    std::optional<std::chrono::steady_clock::time_point> deviceLinkedSince{};
    // A JACK client's node plays only once it has an audio output port.
    bool hasAudioOutputPort = false;
    // A stream's Props, once they arrived; whether we set its soft part, and
    // how many of our sets have not come back as Props yet.
    std::optional<StreamVolume> volume{};
    bool softSetByUs = false;
    int softSetsUnanswered = 0;
};

struct ClientRecord {
    std::uint32_t id = 0;
    AudioObjectID processObjectID = kAudioObjectUnknown; // fresh for every appearance
    Properties props;
};

struct PortRecord {
    std::uint32_t id = 0;
    std::uint32_t nodeID = 0;
    std::string name;
    bool isOutput = false;
    std::string channel; // audio.channel, where the port carries one
    bool isAudio = true; // false for MIDI and other control ports
};

struct LinkRecord {
    std::uint32_t id = 0;
    std::uint32_t outputNodeID = 0;
    std::uint32_t inputNodeID = 0;
    std::uint32_t outputPortID = 0;
    std::uint32_t inputPortID = 0;
};

// What the listeners watch; a change of any part fires the matching selector.
struct GraphSummary {
    std::vector<AudioObjectID> devices;
    std::vector<AudioObjectID> processes;
    AudioObjectID defaultOutput = kAudioObjectUnknown;
    std::map<AudioObjectID, bool> runningOutput;
    std::map<AudioObjectID, bool> runningCall;

    friend bool operator==(const GraphSummary&, const GraphSummary&) = default;
};

// The registry view: every node, client, port and link of the server by global
// id, and the "default" metadata. Ids are dropped on removal, since the server
// reuses them.
class GraphState {
public:
    std::map<std::uint32_t, NodeRecord> nodes;
    std::map<std::uint32_t, ClientRecord> clients;
    std::map<std::uint32_t, PortRecord> ports;
    // Counts ports added and removed, so that their users can tell a change.
    std::uint64_t portChanges = 0;
    std::map<std::uint32_t, LinkRecord> links;
    std::optional<std::string> defaultSinkName;
    // target.object of the "default" metadata, by subject (a node id).
    std::map<std::uint32_t, std::string> targets;
    // target.node of the "default" metadata (older tools, the PulseAudio server).
    std::map<std::uint32_t, std::string> targetNodes;

    static bool isDevice(const NodeRecord& node);
    static bool isAudioStream(const NodeRecord& node);
    // A client of PipeWire's JACK library: no media.class, links of its own.
    static bool isJackNode(const NodeRecord& node);
    static bool isOutputStream(const NodeRecord& node);
    // A stream that the PulseAudio compatibility server plays for its client.
    static bool isPulseStream(const NodeRecord& node);

    // Audio/Sink and Audio/Duplex nodes, in registry order.
    std::vector<AudioObjectID> deviceIDs() const;
    // One object per client that owns audio stream nodes, in registry order.
    std::vector<AudioObjectID> processObjectIDs() const;
    AudioObjectID defaultOutputID() const;
    const NodeRecord* deviceByName(const std::string& name) const;
    const ClientRecord* clientByProcessObject(AudioObjectID processObjectID) const;
    // The output streams of one client.
    std::vector<std::uint32_t> outputStreamsOf(std::uint32_t clientID) const;
    bool isRunningOutput(const ClientRecord& client) const;
    // Whether a running output stream of the client carries a call: its
    // media.role is Communication or Phone, in any case.
    bool isRunningCall(const ClientRecord& client) const;
    // The node.name of the output device that stream `nodeID` chose for itself,
    // as the session manager reads it: `objectTarget` (its target.object in the
    // metadata, given apart since a tap overwrites it), else its target.node in
    // the metadata, else target.object or node.target of its own properties. The
    // first one present decides. Nothing when it follows the default output: no
    // choice, "-1", or a device that is not there (the session manager's fallback).
    std::optional<std::string> chosenOutput(std::uint32_t nodeID,
                                            const std::optional<std::string>& objectTarget) const;
    // Whether any link runs from `outputNodeID` to `inputNodeID`.
    bool isLinked(std::uint32_t outputNodeID, std::uint32_t inputNodeID) const;
    // Whether any link starts at `outputNodeID`.
    bool hasOutputLink(std::uint32_t outputNodeID) const;
    // The audio input port of `nodeID` for sound of `channel`: the port of that
    // channel; where the sound or the node's ports name no channel, the port at
    // `place` among the node's inputs (counted round). None when the node names
    // channels but not this one.
    std::optional<std::uint32_t> inputPortFor(std::uint32_t nodeID, const std::string& channel,
                                              std::size_t place) const;

    GraphSummary summary() const;
    void clear();
};

// The channels of a device in the order its ports carry them, from
// audio.position ("[ FL FR ]" or "FL,FR"); stereo when it names none, or a
// channel PipeWire does not know, or more than a format can carry.
ChannelLayout channelLayout(const Properties& deviceProps);

// The name of a device: node.description, else node.nick, else node.name.
std::optional<std::string> deviceDescription(const Properties& props);

// The process that a client speaks for: the server-verified pipewire.sec.pid,
// except for clients of the PulseAudio compatibility server (whose sec.pid is
// the server's own), which carry their own application.process.id. `processName`
// tells the command name of a PID. Returns -1 when unknown.
pid_t clientPID(const Properties& props,
                const std::function<std::optional<std::string>(pid_t)>& processName);
// The command name of a process from /proc, or nothing.
std::optional<std::string> procCommandName(pid_t pid);

// The application identity: the sandbox (portal) app id, else application.id.
std::optional<std::string> clientBundleID(const Properties& props);

// A hint from the first of `nodeProps` (the client's first output stream) and
// then `clientProps` that has `key`.
std::optional<std::string> hint(const Properties* nodeProps, const Properties& clientProps,
                                const char* key);

// The name an application gave, from its first output stream, else its client:
// application.name, with the wrapper's name taken off where a PipeWire plugin
// ("PipeWire ALSA [aplay]") speaks for a program that does not name itself.
std::optional<std::string> applicationName(const Properties* nodeProps,
                                           const Properties& clientProps);

// Parses "{"name": "..."}" as the "default" metadata holds it.
std::optional<std::string> nameFromJSON(const std::string& json);
// Makes {"name":"..."} with the name escaped.
std::string jsonWithName(const std::string& name);

} // namespace corvalle::pw
