#include "PipeWireAudioHardware.h"

#include "GraphState.h"
#include "PipeWireKeys.h"
#include "PwConnection.h"
#include "PwLoop.h"
#include "TapStreams.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <pipewire/pipewire.h>
#include <set>
#include <utility>

// The interface-call macros of PipeWire cast the C way.
#pragma GCC diagnostic ignored "-Wold-style-cast"

namespace corvalle {

namespace {

constexpr AudioObjectID kFirstOwnObjectID = 0x40000000;
constexpr int kSyncTimeoutMs = 1000;
constexpr int kStreamReadyTimeoutMs = 2000;
constexpr int kRelinkTimeoutMs = 1000;
constexpr int kDefaultChangeTimeoutMs = 1000;
constexpr const char* kOwnPrefix = "Corvalle-";

bool isOwnName(const std::string& name) {
    return name.rfind(kOwnPrefix, 0) == 0;
}

const std::string* property(const pw::Properties& props, const char* key) {
    const auto it = props.find(key);
    return it == props.end() ? nullptr : &it->second;
}

OSStatus writeIDs(const std::vector<AudioObjectID>& ids, std::uint32_t* ioDataSize, void* outData) {
    const std::size_t fits = std::min<std::size_t>(*ioDataSize / sizeof(AudioObjectID), ids.size());
    if (fits > 0) {
        std::memcpy(outData, ids.data(), fits * sizeof(AudioObjectID));
    }
    *ioDataSize = static_cast<std::uint32_t>(fits * sizeof(AudioObjectID));
    return noErr;
}

template <typename T> OSStatus writeValue(T value, std::uint32_t* ioDataSize, void* outData) {
    if (*ioDataSize < sizeof(T)) {
        return kAudioHardwareBadPropertySizeError;
    }
    std::memcpy(outData, &value, sizeof(T));
    *ioDataSize = sizeof(T);
    return noErr;
}

OSStatus writeString(const std::optional<std::string>& value, std::uint32_t* ioDataSize,
                     void* outData) {
    if (*ioDataSize < sizeof(AudioStringRef)) {
        return kAudioHardwareBadPropertySizeError;
    }
    AudioStringRef string = value ? new std::string(*value) : nullptr;
    std::memcpy(outData, &string, sizeof(string));
    *ioDataSize = sizeof(AudioStringRef);
    return noErr;
}

// The answer to one property read, before it is copied out.
struct Answer {
    OSStatus status = noErr;
    enum class Kind { ids, u32, i32, string } kind = Kind::u32;
    std::vector<AudioObjectID> ids;
    std::uint32_t u32 = 0;
    std::int32_t i32 = 0;
    std::optional<std::string> string;

    static Answer failure(OSStatus status) {
        Answer a;
        a.status = status;
        return a;
    }
    static Answer list(std::vector<AudioObjectID> ids) {
        Answer a;
        a.kind = Kind::ids;
        a.ids = std::move(ids);
        return a;
    }
    static Answer unsigned32(std::uint32_t value) {
        Answer a;
        a.u32 = value;
        return a;
    }
    static Answer signed32(std::int32_t value) {
        Answer a;
        a.kind = Kind::i32;
        a.i32 = value;
        return a;
    }
    static Answer text(std::optional<std::string> value) {
        Answer a;
        a.kind = Kind::string;
        a.string = std::move(value);
        return a;
    }
    std::uint32_t size() const {
        switch (kind) {
        case Kind::ids:
            return static_cast<std::uint32_t>(ids.size() * sizeof(AudioObjectID));
        case Kind::u32:
        case Kind::i32:
            return 4;
        case Kind::string:
            return sizeof(AudioStringRef);
        }
        return 0;
    }
};

} // namespace

struct IOProcRecord {
    AudioObjectID deviceID = kAudioObjectUnknown;
    AudioDeviceIOBlock block;
    bool started = false;
};

// A process tap: our sink and the streams moved into it.
struct TapObject {
    AudioObjectID id = kAudioObjectUnknown;
    std::string uuid;
    std::uint64_t generation = 0;
    std::set<std::uint32_t> clientIDs;
    std::unique_ptr<pw::TapStreams> streams;
    // Moved stream node -> the target it had before (restored on release).
    std::map<std::uint32_t, std::optional<std::string>> claimed;
    bool claiming = false;
};

struct AggregateObject {
    AudioObjectID id = kAudioObjectUnknown;
    AggregateDeviceDescription description;
    AudioObjectID tapID = kAudioObjectUnknown;
    std::vector<std::unique_ptr<IOProcRecord>> ioProcs;
};

class PipeWireAudioHardware::Impl {
public:
    Impl(MainThreadPoster post, Options options);
    ~Impl();

    MainThreadPoster post;
    pw::ThreadLoop loop{"corvalle-pw"};
    std::unique_ptr<pw::Connection> connection;
    std::shared_ptr<int> alive = std::make_shared<int>(0);

    // Main thread only.
    std::map<std::pair<AudioObjectID, AudioObjectPropertySelector>,
             std::vector<AudioObjectPropertyListenerBlock>>
        listeners;
    // Under the loop's lock.
    std::map<AudioObjectID, std::unique_ptr<TapObject>> taps;
    std::map<AudioObjectID, std::unique_ptr<AggregateObject>> aggregates;
    std::vector<std::unique_ptr<TapObject>> retiring;
    std::vector<std::unique_ptr<AggregateObject>> retiredAggregates;
    // What we last wrote as target.object of each stream node. The metadata
    // belongs to the session manager, whose echo of our writes can trail them.
    std::map<std::uint32_t, std::string> ownTargets;
    bool releasePosted = false;
    AudioObjectID nextOwnID = kFirstOwnObjectID;

    void fire(AudioObjectID objectID, AudioObjectPropertySelector selector);
    void summaryChanged(const pw::GraphSummary& before, const pw::GraphSummary& after);
    void outputStreamAdded(std::uint32_t nodeID);
    void disconnected();

    Answer answer(AudioObjectID objectID, const AudioObjectPropertyAddress& address);
    OSStatus setDefaultOutput(pw::ThreadLoopLock& lock, AudioObjectID deviceID);

    TapObject* liveTap(AudioObjectID id);
    AggregateObject* liveAggregate(AudioObjectID id);
    void claimNode(TapObject& tap, std::uint32_t nodeID);
    void claimAll(TapObject& tap);
    void scheduleRelease();
    void releaseRetired();
    void release(pw::ThreadLoopLock& lock, TapObject& tap, bool waitForRelink);
};

PipeWireAudioHardware::Impl::Impl(MainThreadPoster poster, Options options)
    : post(std::move(poster)) {
    if (!loop.isValid()) {
        return;
    }
    pw::ConnectionEvents events;
    events.summaryChanged = [this](const pw::GraphSummary& before, const pw::GraphSummary& after) {
        summaryChanged(before, after);
    };
    events.outputStreamAdded = [this](std::uint32_t nodeID) { outputStreamAdded(nodeID); };
    events.disconnected = [this] { disconnected(); };
    pw::ThreadLoopLock lock(loop);
    connection = std::make_unique<pw::Connection>(loop, options.remoteName, std::move(events));
    connection->start();
}

PipeWireAudioHardware::Impl::~Impl() {
    if (!loop.isValid()) {
        return;
    }
    {
        pw::ThreadLoopLock lock(loop);
        for (auto& [id, tap] : taps) {
            retiring.push_back(std::move(tap));
        }
        taps.clear();
        for (auto& retired : retiring) {
            release(lock, *retired, true);
        }
        retiring.clear();
        aggregates.clear();
        retiredAggregates.clear();
        connection.reset();
    }
    loop.stop();
}

void PipeWireAudioHardware::Impl::fire(AudioObjectID objectID,
                                       AudioObjectPropertySelector selector) {
    const auto it = listeners.find({objectID, selector});
    if (it == listeners.end()) {
        return;
    }
    const AudioObjectPropertyAddress address{selector, kAudioObjectPropertyScopeGlobal,
                                             kAudioObjectPropertyElementMain};
    // A listener may add listeners: call a copy.
    const auto blocks = it->second;
    for (const auto& block : blocks) {
        block(1, &address);
    }
}

void PipeWireAudioHardware::Impl::summaryChanged(const pw::GraphSummary& before,
                                                 const pw::GraphSummary& after) {
    std::vector<std::pair<AudioObjectID, AudioObjectPropertySelector>> changes;
    if (before.devices != after.devices) {
        changes.emplace_back(kAudioObjectSystemObject, kAudioHardwarePropertyDevices);
    }
    if (before.processes != after.processes) {
        changes.emplace_back(kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList);
    }
    if (before.defaultOutput != after.defaultOutput) {
        changes.emplace_back(kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice);
    }
    for (const auto& [processID, running] : after.runningOutput) {
        const auto old = before.runningOutput.find(processID);
        const bool wasRunning = old != before.runningOutput.end() && old->second;
        if (running != wasRunning) {
            changes.emplace_back(processID, kAudioProcessPropertyIsRunningOutput);
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
    // A new stream of a tapped process joins its tap at once.
    for (auto& [id, tap] : taps) {
        for (const std::uint32_t clientID : tap->clientIDs) {
            if (tap->claiming && std::to_string(clientID) == *client) {
                claimNode(*tap, nodeID);
            }
        }
    }
}

void PipeWireAudioHardware::Impl::disconnected() {
    // Every stream of the old connection is gone with it; the taps read as dead.
    for (auto& [id, tap] : taps) {
        if (tap->streams) {
            tap->streams->destroy();
        }
        tap->claiming = false;
        tap->claimed.clear();
    }
    for (auto& tap : retiring) {
        if (tap->streams) {
            tap->streams->destroy();
        }
        tap->claimed.clear();
    }
    ownTargets.clear();
}

TapObject* PipeWireAudioHardware::Impl::liveTap(AudioObjectID id) {
    const auto it = taps.find(id);
    return it == taps.end() ? nullptr : it->second.get();
}

AggregateObject* PipeWireAudioHardware::Impl::liveAggregate(AudioObjectID id) {
    const auto it = aggregates.find(id);
    return it == aggregates.end() ? nullptr : it->second.get();
}

void PipeWireAudioHardware::Impl::claimNode(TapObject& tap, std::uint32_t nodeID) {
    const auto& graph = connection->graph();
    const auto node = graph.nodes.find(nodeID);
    if (node == graph.nodes.end() || !tap.streams) {
        return;
    }
    const std::string* name = property(node->second.props, pw::keys::kNodeName);
    if (name != nullptr && isOwnName(*name)) {
        return;
    }
    if (tap.claimed.find(nodeID) == tap.claimed.end()) {
        std::optional<std::string> previous;
        if (const auto target = graph.targets.find(nodeID); target != graph.targets.end()) {
            if (!isOwnName(target->second)) {
                previous = target->second;
            }
        }
        tap.claimed[nodeID] = previous;
    }
    ownTargets[nodeID] = tap.streams->sinkName();
    connection->setMetadata(nodeID, pw::keys::kTargetObject, nullptr,
                            tap.streams->sinkName().c_str());
}

void PipeWireAudioHardware::Impl::claimAll(TapObject& tap) {
    tap.claiming = true;
    for (const std::uint32_t clientID : tap.clientIDs) {
        for (const std::uint32_t nodeID : connection->graph().outputStreamsOf(clientID)) {
            claimNode(tap, nodeID);
        }
    }
}

void PipeWireAudioHardware::Impl::scheduleRelease() {
    if (releasePosted) {
        return;
    }
    releasePosted = true;
    std::weak_ptr<int> token = alive;
    auto task = [this, token] {
        if (!token.expired()) {
            releaseRetired();
        }
    };
    if (post) {
        post(task);
    } else {
        task();
    }
}

void PipeWireAudioHardware::Impl::releaseRetired() {
    pw::ThreadLoopLock lock(loop);
    releasePosted = false;
    // Aggregates whose tap lives on: that tap is muted from now on.
    for (auto& aggregate : retiredAggregates) {
        if (TapObject* tap = liveTap(aggregate->tapID); tap != nullptr && tap->streams) {
            tap->streams->destroyPlayback();
        }
    }
    retiredAggregates.clear();
    auto pending = std::move(retiring);
    retiring.clear();
    for (auto& tap : pending) {
        release(lock, *tap, true);
    }
}

void PipeWireAudioHardware::Impl::release(pw::ThreadLoopLock& lock, TapObject& tap,
                                          bool waitForRelink) {
    if (!tap.streams) {
        return;
    }
    tap.claiming = false;
    const std::string sink = tap.streams->sinkName();
    const bool current = tap.generation == connection->generation() && connection->isConnected();
    if (current && !tap.claimed.empty()) {
        // Hand the streams back (unless a newer tap took them over already).
        for (const auto& [nodeID, previous] : tap.claimed) {
            const auto target = ownTargets.find(nodeID);
            if (target == ownTargets.end() || target->second != sink) {
                continue;
            }
            ownTargets.erase(target);
            if (connection->graph().nodes.count(nodeID) == 0) {
                continue;
            }
            connection->setMetadata(nodeID, pw::keys::kTargetObject, nullptr,
                                    previous ? previous->c_str() : nullptr);
        }
        if (connection->sync(lock, kSyncTimeoutMs) && waitForRelink) {
            const std::uint32_t sinkNode = tap.streams->captureNodeID();
            const timespec deadline = lock.deadlineIn(kRelinkTimeoutMs);
            auto stillLinked = [&] {
                for (const auto& [nodeID, previous] : tap.claimed) {
                    if (connection->graph().isLinked(nodeID, sinkNode)) {
                        return true;
                    }
                }
                return false;
            };
            while (connection->isConnected() && stillLinked()) {
                if (!lock.waitUntil(deadline)) {
                    break;
                }
            }
        }
    }
    tap.claimed.clear();
    tap.streams->destroy();
    tap.streams.reset();
}

Answer PipeWireAudioHardware::Impl::answer(AudioObjectID objectID,
                                           const AudioObjectPropertyAddress& address) {
    if (!connection) {
        return Answer::failure(kAudioHardwareNotRunningError);
    }
    const pw::GraphState& graph = connection->graph();
    const AudioObjectPropertySelector selector = address.selector;
    if (objectID == kAudioObjectSystemObject) {
        switch (selector) {
        case kAudioHardwarePropertyDevices:
            return Answer::list(graph.deviceIDs());
        case kAudioHardwarePropertyProcessObjectList:
            return Answer::list(graph.processObjectIDs());
        case kAudioHardwarePropertyDefaultOutputDevice: {
            const AudioObjectID id = graph.defaultOutputID();
            return id == kAudioObjectUnknown ? Answer::failure(kAudioHardwareUnspecifiedError)
                                             : Answer::unsigned32(id);
        }
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
        case kPipeWireProcessPropertyName:
            return Answer::text(pw::hint(nodeProps, client->props, pw::keys::kAppName));
        case kPipeWireProcessPropertyIconName:
            return Answer::text(pw::hint(nodeProps, client->props, pw::keys::kAppIconName));
        default:
            return Answer::failure(kAudioHardwareUnknownPropertyError);
        }
    }
    if (TapObject* tap = liveTap(objectID)) {
        if (selector == kAudioDevicePropertyDeviceUID) {
            return Answer::text(tap->streams ? std::optional(tap->streams->sinkName())
                                             : std::nullopt);
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
        return Answer::failure(kAudioHardwareUnknownPropertyError);
    }
    return Answer::failure(kAudioHardwareBadObjectError);
}

OSStatus PipeWireAudioHardware::Impl::setDefaultOutput(pw::ThreadLoopLock& lock,
                                                       AudioObjectID deviceID) {
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
    if (!connection->sync(lock, kSyncTimeoutMs)) {
        return kAudioHardwareUnspecifiedError;
    }
    // The session manager makes it the default; a reader right after us should see it.
    const std::string wanted = *name;
    const timespec deadline = lock.deadlineIn(kDefaultChangeTimeoutMs);
    while (connection->isConnected() && connection->graph().defaultSinkName != wanted) {
        if (!lock.waitUntil(deadline)) {
            break;
        }
    }
    return noErr;
}

// --- AudioHardware ----------------------------------------------------------

PipeWireAudioHardware::PipeWireAudioHardware(MainThreadPoster post, Options options)
    : impl_(std::make_unique<Impl>(std::move(post), std::move(options))) {}

PipeWireAudioHardware::~PipeWireAudioHardware() = default;

bool PipeWireAudioHardware::isConnected() const {
    if (!impl_->loop.isValid()) {
        return false;
    }
    pw::ThreadLoopLock lock(impl_->loop);
    return impl_->connection && impl_->connection->isConnected();
}

bool PipeWireAudioHardware::waitUntilConnected(int timeoutMs) {
    if (!impl_->loop.isValid()) {
        return false;
    }
    pw::ThreadLoopLock lock(impl_->loop);
    const timespec deadline = lock.deadlineIn(timeoutMs);
    while (!(impl_->connection->isComplete() && impl_->connection->hasMetadata())) {
        if (!lock.waitUntil(deadline)) {
            return false;
        }
    }
    // Node and client details arrive after the globals: one more round trip.
    return impl_->connection->sync(lock, timeoutMs);
}

OSStatus PipeWireAudioHardware::getPropertyDataSize(AudioObjectID objectID,
                                                    const AudioObjectPropertyAddress& address,
                                                    std::uint32_t* outDataSize) {
    if (outDataSize == nullptr) {
        return kAudioParamError;
    }
    if (!impl_->loop.isValid()) {
        return kAudioHardwareNotRunningError;
    }
    pw::ThreadLoopLock lock(impl_->loop);
    const Answer a = impl_->answer(objectID, address);
    if (a.status != noErr) {
        return a.status;
    }
    *outDataSize = a.size();
    return noErr;
}

OSStatus PipeWireAudioHardware::getPropertyData(AudioObjectID objectID,
                                                const AudioObjectPropertyAddress& address,
                                                std::uint32_t* ioDataSize, void* outData) {
    if (ioDataSize == nullptr || outData == nullptr) {
        return kAudioParamError;
    }
    if (!impl_->loop.isValid()) {
        return kAudioHardwareNotRunningError;
    }
    Answer a;
    {
        pw::ThreadLoopLock lock(impl_->loop);
        a = impl_->answer(objectID, address);
    }
    if (a.status != noErr) {
        return a.status;
    }
    switch (a.kind) {
    case Answer::Kind::ids:
        return writeIDs(a.ids, ioDataSize, outData);
    case Answer::Kind::u32:
        return writeValue(a.u32, ioDataSize, outData);
    case Answer::Kind::i32:
        return writeValue(a.i32, ioDataSize, outData);
    case Answer::Kind::string:
        return writeString(a.string, ioDataSize, outData);
    }
    return kAudioHardwareUnspecifiedError;
}

OSStatus PipeWireAudioHardware::setPropertyData(AudioObjectID objectID,
                                                const AudioObjectPropertyAddress& address,
                                                std::uint32_t dataSize, const void* data) {
    if (objectID != kAudioObjectSystemObject ||
        address.selector != kAudioHardwarePropertyDefaultOutputDevice) {
        return kAudioHardwareUnknownPropertyError;
    }
    if (data == nullptr || dataSize != sizeof(AudioObjectID)) {
        return kAudioHardwareBadPropertySizeError;
    }
    if (!impl_->loop.isValid()) {
        return kAudioHardwareNotRunningError;
    }
    AudioObjectID deviceID = kAudioObjectUnknown;
    std::memcpy(&deviceID, data, sizeof(deviceID));
    pw::ThreadLoopLock lock(impl_->loop);
    if (!impl_->connection->isConnected()) {
        return kAudioHardwareNotRunningError;
    }
    return impl_->setDefaultOutput(lock, deviceID);
}

OSStatus PipeWireAudioHardware::addPropertyListener(AudioObjectID objectID,
                                                    const AudioObjectPropertyAddress& address,
                                                    AudioObjectPropertyListenerBlock listener) {
    if (!listener) {
        return kAudioParamError;
    }
    impl_->listeners[{objectID, address.selector}].push_back(std::move(listener));
    return noErr;
}

OSStatus PipeWireAudioHardware::createProcessTap(const TapDescription& description,
                                                 AudioObjectID* outTapID) {
    if (outTapID == nullptr || description.uuid.empty()) {
        return kAudioParamError;
    }
    if (!impl_->loop.isValid()) {
        return kAudioHardwareNotRunningError;
    }
    pw::ThreadLoopLock lock(impl_->loop);
    pw::Connection& connection = *impl_->connection;
    if (!connection.isConnected()) {
        return kAudioHardwareNotRunningError;
    }
    auto tap = std::make_unique<TapObject>();
    tap->id = impl_->nextOwnID++;
    tap->uuid = description.uuid;
    tap->generation = connection.generation();
    // Processes that ended meanwhile are left out; the model rebuilds the tap
    // when its process set changes.
    for (const AudioObjectID processID : description.processes) {
        if (const pw::ClientRecord* client = connection.graph().clientByProcessObject(processID)) {
            tap->clientIDs.insert(client->id);
        }
    }
    tap->streams = std::make_unique<pw::TapStreams>(impl_->loop, connection.core(),
                                                    kOwnPrefix + description.uuid, description.name,
                                                    std::string("corvalle-") + description.uuid);
    if (!tap->streams->connectCapture()) {
        tap->streams->destroy();
        return kAudioHardwareUnspecifiedError;
    }
    *outTapID = tap->id;
    impl_->taps[tap->id] = std::move(tap);
    return noErr;
}

OSStatus PipeWireAudioHardware::destroyProcessTap(AudioObjectID tapID) {
    if (!impl_->loop.isValid()) {
        return kAudioHardwareNotRunningError;
    }
    pw::ThreadLoopLock lock(impl_->loop);
    const auto it = impl_->taps.find(tapID);
    if (it == impl_->taps.end()) {
        return kAudioHardwareBadObjectError;
    }
    // Released on the next turn of the main loop, so that a tap that replaces
    // this one in the same pass takes its streams over without a detour.
    impl_->retiring.push_back(std::move(it->second));
    impl_->taps.erase(it);
    for (auto& [id, aggregate] : impl_->aggregates) {
        if (aggregate->tapID == tapID) {
            aggregate->tapID = kAudioObjectUnknown;
        }
    }
    impl_->scheduleRelease();
    return noErr;
}

OSStatus PipeWireAudioHardware::createAggregateDevice(const AggregateDeviceDescription& description,
                                                      AudioObjectID* outDeviceID) {
    if (outDeviceID == nullptr || description.taps.empty()) {
        return kAudioParamError;
    }
    if (!impl_->loop.isValid()) {
        return kAudioHardwareNotRunningError;
    }
    pw::ThreadLoopLock lock(impl_->loop);
    pw::Connection& connection = *impl_->connection;
    if (!connection.isConnected()) {
        return kAudioHardwareNotRunningError;
    }
    TapObject* tap = nullptr;
    for (auto& [id, candidate] : impl_->taps) {
        if (candidate->uuid == description.taps.front().uid) {
            tap = candidate.get();
        }
    }
    if (tap == nullptr || !tap->streams || tap->streams->hasPlayback() ||
        tap->generation != connection.generation()) {
        return kAudioHardwareBadObjectError;
    }
    if (isOwnName(description.mainSubDevice) ||
        connection.graph().deviceByName(description.mainSubDevice) == nullptr) {
        return kAudioHardwareBadObjectError;
    }
    if (!tap->streams->connectPlayback(description.mainSubDevice, description.uid,
                                       description.name)) {
        tap->streams->destroyPlayback();
        return kAudioHardwareUnspecifiedError;
    }
    auto aggregate = std::make_unique<AggregateObject>();
    aggregate->id = impl_->nextOwnID++;
    aggregate->description = description;
    aggregate->tapID = tap->id;
    *outDeviceID = aggregate->id;
    impl_->aggregates[aggregate->id] = std::move(aggregate);
    return noErr;
}

OSStatus PipeWireAudioHardware::destroyAggregateDevice(AudioObjectID deviceID) {
    if (!impl_->loop.isValid()) {
        return kAudioHardwareNotRunningError;
    }
    pw::ThreadLoopLock lock(impl_->loop);
    const auto it = impl_->aggregates.find(deviceID);
    if (it == impl_->aggregates.end()) {
        return kAudioHardwareBadObjectError;
    }
    for (auto& proc : it->second->ioProcs) {
        if (proc->started) {
            if (TapObject* tap = impl_->liveTap(it->second->tapID); tap && tap->streams) {
                tap->streams->runBlock(nullptr);
            }
        }
    }
    impl_->retiredAggregates.push_back(std::move(it->second));
    impl_->aggregates.erase(it);
    impl_->scheduleRelease();
    return noErr;
}

OSStatus PipeWireAudioHardware::createIOProcIDWithBlock(AudioObjectID deviceID,
                                                        AudioDeviceIOBlock block,
                                                        AudioDeviceIOProcID* outIOProcID) {
    if (outIOProcID == nullptr || !block) {
        return kAudioParamError;
    }
    if (!impl_->loop.isValid()) {
        return kAudioHardwareNotRunningError;
    }
    pw::ThreadLoopLock lock(impl_->loop);
    AggregateObject* aggregate = impl_->liveAggregate(deviceID);
    if (aggregate == nullptr) {
        return kAudioHardwareBadObjectError;
    }
    auto proc = std::make_unique<IOProcRecord>();
    proc->deviceID = deviceID;
    proc->block = std::move(block);
    *outIOProcID = reinterpret_cast<AudioDeviceIOProcID>(proc.get());
    aggregate->ioProcs.push_back(std::move(proc));
    return noErr;
}

OSStatus PipeWireAudioHardware::destroyIOProcID(AudioObjectID deviceID,
                                                AudioDeviceIOProcID ioProcID) {
    if (!impl_->loop.isValid()) {
        return kAudioHardwareNotRunningError;
    }
    pw::ThreadLoopLock lock(impl_->loop);
    AggregateObject* aggregate = impl_->liveAggregate(deviceID);
    if (aggregate == nullptr) {
        return kAudioHardwareBadObjectError;
    }
    auto& procs = aggregate->ioProcs;
    const auto it = std::find_if(procs.begin(), procs.end(), [&](const auto& proc) {
        return reinterpret_cast<AudioDeviceIOProcID>(proc.get()) == ioProcID;
    });
    if (it == procs.end()) {
        return kAudioHardwareBadObjectError;
    }
    if ((*it)->started) {
        if (TapObject* tap = impl_->liveTap(aggregate->tapID); tap && tap->streams) {
            tap->streams->runBlock(nullptr);
        }
    }
    procs.erase(it);
    return noErr;
}

OSStatus PipeWireAudioHardware::deviceStart(AudioObjectID deviceID, AudioDeviceIOProcID ioProcID) {
    if (!impl_->loop.isValid()) {
        return kAudioHardwareNotRunningError;
    }
    pw::ThreadLoopLock lock(impl_->loop);
    AggregateObject* aggregate = impl_->liveAggregate(deviceID);
    if (aggregate == nullptr) {
        return kAudioHardwareBadObjectError;
    }
    IOProcRecord* proc = nullptr;
    for (auto& candidate : aggregate->ioProcs) {
        if (reinterpret_cast<AudioDeviceIOProcID>(candidate.get()) == ioProcID) {
            proc = candidate.get();
        }
    }
    TapObject* tap = impl_->liveTap(aggregate->tapID);
    if (proc == nullptr || tap == nullptr || !tap->streams) {
        return kAudioHardwareBadObjectError;
    }
    pw::Connection& connection = *impl_->connection;
    pw::TapStreams& streams = *tap->streams;
    // Both nodes must exist before streams are moved to ours.
    const timespec deadline = lock.deadlineIn(kStreamReadyTimeoutMs);
    auto ready = [&] {
        return streams.captureState() == pw::TapStreams::State::ready &&
               streams.playbackState() == pw::TapStreams::State::ready &&
               connection.graph().nodes.count(streams.captureNodeID()) > 0;
    };
    auto failed = [&] {
        return streams.captureState() == pw::TapStreams::State::failed ||
               streams.playbackState() == pw::TapStreams::State::failed ||
               tap->generation != connection.generation();
    };
    while (!ready()) {
        if (failed() || !lock.waitUntil(deadline)) {
            return kAudioHardwareNotRunningError;
        }
    }
    if (!proc->started) {
        streams.runBlock(&proc->block);
        proc->started = true;
    }
    impl_->claimAll(*tap);
    connection.sync(lock, kSyncTimeoutMs);
    return noErr;
}

OSStatus PipeWireAudioHardware::deviceStop(AudioObjectID deviceID, AudioDeviceIOProcID ioProcID) {
    if (!impl_->loop.isValid()) {
        return kAudioHardwareNotRunningError;
    }
    pw::ThreadLoopLock lock(impl_->loop);
    AggregateObject* aggregate = impl_->liveAggregate(deviceID);
    if (aggregate == nullptr) {
        return kAudioHardwareBadObjectError;
    }
    for (auto& proc : aggregate->ioProcs) {
        if (reinterpret_cast<AudioDeviceIOProcID>(proc.get()) == ioProcID) {
            if (proc->started) {
                if (TapObject* tap = impl_->liveTap(aggregate->tapID); tap && tap->streams) {
                    tap->streams->runBlock(nullptr);
                }
                proc->started = false;
            }
            return noErr;
        }
    }
    return kAudioHardwareBadObjectError;
}

} // namespace corvalle
