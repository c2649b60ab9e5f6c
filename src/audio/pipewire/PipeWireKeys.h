#pragma once

// Every PipeWire property, metadata key and value that the backend reads or
// writes, defined once. Native PipeWire keys are hyphenated where PipeWire
// hyphenates them (application.icon-name).
namespace corvalle::pw::keys {

// Objects of the registry.
inline constexpr const char* kMediaClass = "media.class";
inline constexpr const char* kMediaName = "media.name";
inline constexpr const char* kMediaType = "media.type";
inline constexpr const char* kMediaCategory = "media.category";
inline constexpr const char* kMediaRole = "media.role";
inline constexpr const char* kNodeName = "node.name";
inline constexpr const char* kNodeDescription = "node.description";
inline constexpr const char* kNodeNick = "node.nick";
inline constexpr const char* kNodeGroup = "node.group";
inline constexpr const char* kNodeLinkGroup = "node.link-group";
inline constexpr const char* kNodePassive = "node.passive";
// node.passive for the links of the output ports only (PipeWire 1.x).
inline constexpr const char* kPassiveOutputs = "out";
inline constexpr const char* kNodeDontReconnect = "node.dont-reconnect";
inline constexpr const char* kNodeVirtual = "node.virtual";
inline constexpr const char* kNodeLatency = "node.latency";
inline constexpr const char* kNodeAutoconnect = "node.autoconnect";
inline constexpr const char* kNodeAlwaysProcess = "node.always-process";
inline constexpr const char* kPrioritySession = "priority.session";
inline constexpr const char* kClientID = "client.id";
inline constexpr const char* kClientAPI = "client.api";
inline constexpr const char* kObjectSerial = "object.serial";
inline constexpr const char* kTargetObject = "target.object";
// A stream's output by global id: a node property of older clients, and a key of
// the "default" metadata that the PulseAudio server and session manager write.
inline constexpr const char* kTargetNode = "target.node";
inline constexpr const char* kNodeTarget = "node.target";
inline constexpr const char* kObjectPath = "object.path";
inline constexpr const char* kStreamCaptureSink = "stream.capture.sink";
inline constexpr const char* kPortName = "port.name";
inline constexpr const char* kPortDirection = "port.direction";
inline constexpr const char* kFormatDSP = "format.dsp";
inline constexpr const char* kAudioChannel = "audio.channel";
inline constexpr const char* kLinkOutputPort = "link.output.port";
inline constexpr const char* kLinkInputPort = "link.input.port";
inline constexpr const char* kLinkPassive = "link.passive";
inline constexpr const char* kObjectLinger = "object.linger";
inline constexpr const char* kSecPID = "pipewire.sec.pid";
inline constexpr const char* kPortalAppID = "pipewire.access.portal.app_id";
inline constexpr const char* kAppName = "application.name";
inline constexpr const char* kAppID = "application.id";
inline constexpr const char* kAppIconName = "application.icon-name";
inline constexpr const char* kAppProcessID = "application.process.id";
inline constexpr const char* kAppProcessBinary = "application.process.binary";
inline constexpr const char* kLinkOutputNode = "link.output.node";
inline constexpr const char* kLinkInputNode = "link.input.node";
inline constexpr const char* kMetadataName = "metadata.name";
inline constexpr const char* kRemoteName = "remote.name";
inline constexpr const char* kAudioPosition = "audio.position";

// Values of those properties.
inline constexpr const char* kClassAudioSink = "Audio/Sink";
// Our capture side. The session manager links streams to any class that names a
// sink, but elects defaults among, and the PulseAudio server lists as sinks, only
// nodes of class Audio/Sink or Audio/Duplex: a class of our own keeps the tap
// out of both (WirePlumber 0.4 and 0.5, pipewire-pulse 0.3 and 1.x alike).
inline constexpr const char* kClassOurSink = "Audio/Sink/Internal";
inline constexpr const char* kClassAudioDuplex = "Audio/Duplex";
inline constexpr const char* kClassStreamOutputAudio = "Stream/Output/Audio";
inline constexpr const char* kClassStreamInputAudio = "Stream/Input/Audio";
inline constexpr const char* kClientAPIPulse = "pipewire-pulse";
inline constexpr const char* kClientAPIJack = "jack";
inline constexpr const char* kMediaTypeAudio = "Audio";
inline constexpr const char* kMediaCategoryPlayback = "Playback";
inline constexpr const char* kMediaCategoryCapture = "Capture";
inline constexpr const char* kMediaCategoryDuplex = "Duplex";
inline constexpr const char* kMediaRoleDSP = "DSP";
// Roles of a stream that carries a call; the PulseAudio server turns "phone"
// into Communication.
inline constexpr const char* kMediaRoleCommunication = "Communication";
inline constexpr const char* kMediaRolePhone = "Phone";
inline constexpr const char* kTrue = "true";
// A stream target that means "follow the default output".
inline constexpr const char* kFollowDefault = "-1";
inline constexpr const char* kPortDirectionOut = "out";
inline constexpr const char* kDSPMonoFloat = "32 bit float mono audio";
// The server's factory of links between ports.
inline constexpr const char* kLinkFactory = "link-factory";
// The session manager remembers volumes per media.name: ours never changes.
inline constexpr const char* kOurMediaName = "Corvalle";
inline constexpr const char* kOurAppName = "Corvalle";
// node.name of the node that measures levels.
inline constexpr const char* kLevelNodeName = "Corvalle-levels";

// The "default" metadata object and its keys.
inline constexpr const char* kMetadataDefault = "default";
inline constexpr const char* kDefaultAudioSink = "default.audio.sink";
inline constexpr const char* kDefaultConfiguredAudioSink = "default.configured.audio.sink";
inline constexpr const char* kJSONType = "Spa:String:JSON";
inline constexpr const char* kJSONNameMember = "name";

// Processes whose connections the PulseAudio compatibility server makes: their
// pipewire.sec.pid is that server's, so the client's own claim is used.
inline constexpr const char* kPulseServerProcessNames[] = {"pipewire-pulse", "pipewire"};

} // namespace corvalle::pw::keys
