#include "HardwareImpl.h"
#include "PipeWireKeys.h"

// The interface-call macros of PipeWire cast the C way.
#pragma GCC diagnostic ignored "-Wold-style-cast"

namespace corvalle {

Answer PipeWireAudioHardware::Impl::answer(AudioObjectID objectID,
                                           const AudioObjectPropertyAddress& address) {
    if (!connection) {
        return Answer::failure(kAudioHardwareNotRunningError);
    }
    const pw::GraphState& graph = connection->graph();
    const AudioObjectPropertySelector selector = address.selector;
    if (objectID == kAudioObjectSystemObject) {
        switch (selector) {
        case kAudioHardwarePropertyDevices: {
            // Our aggregates too, after the server's devices, as they were made.
            std::vector<AudioObjectID> ids = graph.deviceIDs();
            for (const auto& entry : aggregates) {
                ids.push_back(entry.first);
            }
            return Answer::list(std::move(ids));
        }
        case kAudioHardwarePropertyProcessObjectList:
            return Answer::list(graph.processObjectIDs());
        case kAudioHardwarePropertyDefaultOutputDevice:
            // kAudioObjectUnknown while there is no output at all.
            return Answer::unsigned32(defaultOutputID());
        case kAudioHardwarePropertyPeakPeriod:
            return Answer::unsigned32(peakFilter ? peakFilter->cyclePeriod() : 0U);
        default:
            return Answer::failure(kAudioHardwareUnknownPropertyError);
        }
    }
    if (const auto node = graph.nodes.find(objectID);
        node != graph.nodes.end() && pw::GraphState::isDevice(node->second)) {
        const pw::Properties& props = node->second.props;
        switch (selector) {
        case kAudioDevicePropertyDeviceUID: {
            const std::string* name = property(props, pw::keys::kNodeName);
            return Answer::text(name == nullptr ? std::nullopt : std::optional(*name));
        }
        case kAudioObjectPropertyName:
            return Answer::text(pw::deviceDescription(props));
        case kAudioDevicePropertyStreams: {
            const std::string* mediaClass = property(props, pw::keys::kMediaClass);
            const bool duplex = mediaClass != nullptr && *mediaClass == pw::keys::kClassAudioDuplex;
            if (address.scope == kAudioObjectPropertyScopeInput && !duplex) {
                return Answer::list({});
            }
            return Answer::list({objectID});
        }
        default:
            return Answer::failure(kAudioHardwareUnknownPropertyError);
        }
    }
    if (const pw::ClientRecord* client = graph.clientByProcessObject(objectID)) {
        const pw::NodeRecord* firstStream = nullptr;
        for (const std::uint32_t nodeID : graph.outputStreamsOf(client->id)) {
            firstStream = &graph.nodes.at(nodeID);
            break;
        }
        const pw::Properties* nodeProps = firstStream == nullptr ? nullptr : &firstStream->props;
        switch (selector) {
        case kAudioProcessPropertyPID:
            return Answer::signed32(pw::clientPID(client->props, &pw::procCommandName));
        case kAudioProcessPropertyBundleID:
            return Answer::text(pw::clientBundleID(client->props));
        case kAudioProcessPropertyIsRunningOutput:
            return Answer::unsigned32(graph.isRunningOutput(*client) ? 1U : 0U);
        case kAudioProcessPropertyIsRunningCall:
            return Answer::unsigned32(graph.isRunningCall(*client) ? 1U : 0U);
        case kAudioObjectPropertyName:
            return Answer::text(pw::applicationName(nodeProps, client->props));
        case kAudioProcessPropertyIconHint:
            return Answer::text(pw::hint(nodeProps, client->props, pw::keys::kAppIconName));
        default:
            return Answer::failure(kAudioHardwareUnknownPropertyError);
        }
    }
    if (TapObject* tap = liveTap(objectID)) {
        // Aggregates name a tap by its UUID; our sink's name stays the server's business.
        if (selector == kAudioDevicePropertyDeviceUID) {
            return Answer::text(tap->uuid);
        }
        return Answer::failure(kAudioHardwareUnknownPropertyError);
    }
    if (AggregateObject* aggregate = liveAggregate(objectID)) {
        if (selector == kAudioDevicePropertyDeviceUID) {
            return Answer::text(aggregate->description.uid);
        }
        if (selector == kAudioObjectPropertyName) {
            return Answer::text(aggregate->description.name);
        }
        // One output stream, to its main sub-device.
        if (selector == kAudioDevicePropertyStreams) {
            return Answer::list(address.scope == kAudioObjectPropertyScopeInput
                                    ? std::vector<AudioObjectID>{}
                                    : std::vector<AudioObjectID>{objectID});
        }
        return Answer::failure(kAudioHardwareUnknownPropertyError);
    }
    return Answer::failure(kAudioHardwareBadObjectError);
}

// Measured processes first: a level is read for every row in every frame.
bool PipeWireAudioHardware::Impl::isProcess(AudioObjectID objectID) const {
    return meteredPorts.contains(objectID) ||
           (connection && connection->graph().clientByProcessObject(objectID) != nullptr);
}

OSStatus PipeWireAudioHardware::Impl::setDefaultOutput(AudioObjectID deviceID) {
    const pw::GraphState& graph = connection->graph();
    const auto node = graph.nodes.find(deviceID);
    if (node == graph.nodes.end() || !pw::GraphState::isDevice(node->second)) {
        return kAudioHardwareBadObjectError;
    }
    const std::string* name = property(node->second.props, pw::keys::kNodeName);
    if (name == nullptr || isOwnName(*name)) {
        return kAudioHardwareIllegalOperationError;
    }
    const std::string value = pw::jsonWithName(*name);
    if (!connection->setMetadata(0, pw::keys::kDefaultConfiguredAudioSink, pw::keys::kJSONType,
                                 value.c_str())) {
        return kAudioHardwareUnspecifiedError;
    }
    // The session manager makes it the default a moment later; until it says
    // so, a reader right after us is told the device asked for, and nobody waits.
    requestedDefault = *name;
    requestedDefaultUntil = std::chrono::steady_clock::now() + kRequestedDefaultTimeout;
    return noErr;
}

AudioObjectID PipeWireAudioHardware::Impl::defaultOutputID() {
    const pw::GraphState& graph = connection->graph();
    if (requestedDefault) {
        const pw::NodeRecord* device = graph.deviceByName(*requestedDefault);
        if (device != nullptr && std::chrono::steady_clock::now() < requestedDefaultUntil &&
            graph.defaultSinkName != requestedDefault) {
            return device->id;
        }
        requestedDefault.reset();
    }
    return graph.defaultOutputID();
}

} // namespace corvalle
