#include "PwConnection.h"

#include "DiagnosticSink.h"
#include "PipeWireKeys.h"
#include "PwLoop.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <pipewire/extensions/metadata.h>
#include <pipewire/pipewire.h>
#include <spa/param/props.h>
#include <spa/pod/builder.h>

// The interface-call macros of PipeWire cast the C way.
#pragma GCC diagnostic ignored "-Wold-style-cast"

namespace corvalle::pw {

namespace {

constexpr int kFirstBackoffMs = 100;
constexpr int kMaxBackoffMs = 2000;
constexpr int kFirstMetadataCheckMs = 250;
constexpr int kMaxMetadataCheckMs = 2000;

timespec afterMs(int ms) {
    timespec value{};
    value.tv_sec = ms / 1000;
    value.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    if (ms == 0) {
        value.tv_nsec = 1; // zero would disarm the timer
    }
    return value;
}

Properties toProperties(const spa_dict* dict) {
    Properties result;
    if (dict == nullptr) {
        return result;
    }
    const spa_dict_item* item = nullptr;
    spa_dict_for_each(item, dict) {
        if (item->key != nullptr && item->value != nullptr) {
            result[item->key] = item->value;
        }
    }
    return result;
}

std::uint32_t idFrom(const Properties& props, const char* key) {
    return parseID(findProperty(props, key)).value_or(0);
}

bool isInterface(const char* type, const char* interfaceType) {
    return type != nullptr && std::strcmp(type, interfaceType) == 0;
}

} // namespace

struct Connection::Bound {
    Connection* owner = nullptr;
    std::uint32_t id = 0;
    pw_proxy* proxy = nullptr;
    spa_hook listener{};
};

struct Connection::Hooks {
    spa_hook core{};
    spa_hook registry{};
    spa_hook metadata{};
};

Connection::Connection(ThreadLoop& loop, std::string remoteName, ConnectionEvents events)
    : loop_(loop), remoteName_(std::move(remoteName)), events_(std::move(events)),
      hooks_(std::make_unique<Hooks>()) {}

Connection::~Connection() {
    if (metadataTimer_ != nullptr) {
        pw_loop_destroy_source(loop_.loop(), metadataTimer_);
        metadataTimer_ = nullptr;
    }
    if (reconnectTimer_ != nullptr) {
        pw_loop_destroy_source(loop_.loop(), reconnectTimer_);
        reconnectTimer_ = nullptr;
    }
    disconnect();
}

void Connection::start() {
    reconnectTimer_ = pw_loop_add_timer(loop_.loop(), &Connection::onReconnectTimer, this);
    metadataTimer_ = pw_loop_add_timer(loop_.loop(), &Connection::onMetadataTimer, this);
    connect();
    if (core_ == nullptr) {
        scheduleReconnect();
    }
}

void Connection::connect() {
    pw_properties* props = nullptr;
    if (!remoteName_.empty()) {
        props = pw_properties_new(keys::kRemoteName, remoteName_.c_str(), nullptr);
    }
    core_ = pw_context_connect(loop_.context(), props, 0);
    if (core_ == nullptr) {
        return;
    }
    ++generation_;
    lost_ = false;
    backoffMs_ = 0;
    complete_ = false;
    doneSeqs_.clear();
    failedSeqs_.clear();
    static const pw_core_events coreEvents = [] {
        pw_core_events e{};
        e.version = PW_VERSION_CORE_EVENTS;
        e.done = &Connection::onCoreDone;
        e.error = &Connection::onCoreError;
        return e;
    }();
    pw_core_add_listener(core_, &hooks_->core, &coreEvents, this);
    registry_ = pw_core_get_registry(core_, PW_VERSION_REGISTRY, 0);
    static const pw_registry_events registryEvents = [] {
        pw_registry_events e{};
        e.version = PW_VERSION_REGISTRY_EVENTS;
        e.global = &Connection::onGlobal;
        e.global_remove = &Connection::onGlobalRemove;
        return e;
    }();
    pw_registry_add_listener(registry_, &hooks_->registry, &registryEvents, this);
    completeSeq_ = pw_core_sync(core_, PW_ID_CORE, 0);
}

void Connection::disconnect() {
    if (core_ == nullptr) {
        return;
    }
    if (events_.disconnected) {
        events_.disconnected();
    }
    for (auto& [id, bound] : bound_) {
        spa_hook_remove(&bound->listener);
        pw_proxy_destroy(bound->proxy);
    }
    bound_.clear();
    unbindMetadata();
    metadataID_ = 0;
    if (metadataTimer_ != nullptr) {
        timespec off{};
        pw_loop_update_timer(loop_.loop(), metadataTimer_, &off, nullptr, false);
    }
    if (registry_ != nullptr) {
        spa_hook_remove(&hooks_->registry);
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry_));
        registry_ = nullptr;
    }
    spa_hook_remove(&hooks_->core);
    pw_core_disconnect(core_);
    core_ = nullptr;
    complete_ = false;
    graph_.clear();
    changed();
}

void Connection::scheduleReconnect() {
    if (reconnectTimer_ == nullptr) {
        return;
    }
    timespec value = afterMs(backoffMs_);
    pw_loop_update_timer(loop_.loop(), reconnectTimer_, &value, nullptr, false);
    backoffMs_ = backoffMs_ == 0 ? kFirstBackoffMs : std::min(backoffMs_ * 2, kMaxBackoffMs);
}

void Connection::onReconnectTimer(void* data, std::uint64_t) {
    auto* self = static_cast<Connection*>(data);
    if (self->lost_) {
        self->disconnect();
        self->lost_ = false;
    }
    if (self->core_ == nullptr) {
        self->connect();
        if (self->core_ == nullptr) {
            self->scheduleReconnect();
        }
    }
    pw_thread_loop_signal(self->loop_.threadLoop(), false);
}

bool Connection::sync(ThreadLoopLock& lock, int timeoutMs) {
    if (core_ == nullptr) {
        return false;
    }
    const int seq = pw_core_sync(core_, PW_ID_CORE, 0);
    const std::uint64_t generation = generation_;
    const timespec deadline = lock.deadlineIn(timeoutMs);
    for (;;) {
        if (core_ == nullptr || generation != generation_ || lost_) {
            return false;
        }
        if (doneSeqs_.erase(seq) > 0) {
            return failedSeqs_.erase(seq) == 0;
        }
        if (!lock.waitUntil(deadline)) {
            return false;
        }
    }
}

bool Connection::setMetadata(std::uint32_t subject, const char* key, const char* type,
                             const char* value) {
    if (metadata_ == nullptr) {
        return false;
    }
    auto* metadata = reinterpret_cast<pw_metadata*>(metadata_);
    return pw_metadata_set_property(metadata, subject, key, type, value) >= 0;
}

bool Connection::setSoftVolume(std::uint32_t nodeID, float gain) {
    const auto bound = bound_.find(nodeID);
    const auto node = graph_.nodes.find(nodeID);
    if (bound == bound_.end() || node == graph_.nodes.end() || !node->second.volume) {
        return false;
    }
    std::uint8_t buffer[kSoftVolumesPodSize];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    const spa_pod* props = buildSoftVolumes(builder, *node->second.volume, gain);
    if (props == nullptr || pw_node_set_param(reinterpret_cast<pw_node*>(bound->second->proxy),
                                              SPA_PARAM_Props, 0, props) < 0) {
        return false;
    }
    node->second.softSetByUs = true;
    ++node->second.softSetsUnanswered;
    return true;
}

pw_proxy* Connection::createLink(std::uint32_t outputPortID, std::uint32_t inputPortID, bool linger,
                                 bool passive) {
    const auto output = graph_.ports.find(outputPortID);
    const auto input = graph_.ports.find(inputPortID);
    if (core_ == nullptr || output == graph_.ports.end() || input == graph_.ports.end()) {
        return nullptr;
    }
    const std::string outputNode = std::to_string(output->second.nodeID);
    const std::string outputPort = std::to_string(outputPortID);
    const std::string inputNode = std::to_string(input->second.nodeID);
    const std::string inputPort = std::to_string(inputPortID);
    pw_properties* props = pw_properties_new(
        keys::kLinkOutputNode, outputNode.c_str(), keys::kLinkOutputPort, outputPort.c_str(),
        keys::kLinkInputNode, inputNode.c_str(), keys::kLinkInputPort, inputPort.c_str(),
        keys::kObjectLinger, linger ? keys::kTrue : "false", keys::kLinkPassive,
        passive ? keys::kTrue : "false", nullptr);
    auto* link = static_cast<pw_proxy*>(pw_core_create_object(
        core_, keys::kLinkFactory, PW_TYPE_INTERFACE_Link, PW_VERSION_LINK, &props->dict, 0));
    pw_properties_free(props);
    return link;
}

void Connection::destroyObject(std::uint32_t id) {
    if (registry_ != nullptr) {
        pw_registry_destroy(registry_, id);
    }
}

void Connection::changed() {
    GraphSummary now = graph_.summary();
    // The default device went away; its successor may never be announced.
    if (now.defaultOutput == kAudioObjectUnknown && summary_.defaultOutput != kAudioObjectUnknown &&
        metadata_ != nullptr) {
        metadataRetryMs_ = kFirstMetadataCheckMs;
        scheduleMetadataCheck();
    }
    if (!(now == summary_)) {
        GraphSummary before = std::move(summary_);
        summary_ = std::move(now);
        if (events_.summaryChanged) {
            events_.summaryChanged(before, summary_);
        }
    }
    pw_thread_loop_signal(loop_.threadLoop(), false);
}

void Connection::onCoreDone(void* data, std::uint32_t id, int seq) {
    auto* self = static_cast<Connection*>(data);
    if (id != PW_ID_CORE) {
        return;
    }
    if (seq == self->completeSeq_) {
        self->complete_ = true;
        self->completeSeq_ = -1;
        if (self->events_.completed) {
            self->events_.completed();
        }
    } else {
        self->doneSeqs_.insert(seq);
    }
    pw_thread_loop_signal(self->loop_.threadLoop(), false);
}

void Connection::onCoreError(void* data, std::uint32_t id, int seq, int res, const char* message) {
    auto* self = static_cast<Connection*>(data);
    diagnostics::report("PipeWire error on object " + std::to_string(id) + ": " +
                        (message != nullptr ? message : "") + " (" + std::to_string(res) + ")");
    if (id == PW_ID_CORE && res == -EPIPE) {
        self->lost_ = true;
        self->backoffMs_ = 0;
        self->scheduleReconnect();
    } else {
        self->failedSeqs_.insert(seq);
    }
    pw_thread_loop_signal(self->loop_.threadLoop(), false);
}

void Connection::onGlobal(void* data, std::uint32_t id, std::uint32_t, const char* type,
                          std::uint32_t version, const spa_dict* props) {
    auto* self = static_cast<Connection*>(data);
    self->addGlobal(id, type, props);
    self->bind(id, type, version);
    self->changed();
}

void Connection::onGlobalRemove(void* data, std::uint32_t id) {
    auto* self = static_cast<Connection*>(data);
    self->removeGlobal(id);
    self->changed();
}

void Connection::addGlobal(std::uint32_t id, const char* type, const spa_dict* dict) {
    Properties props = toProperties(dict);
    if (isInterface(type, PW_TYPE_INTERFACE_Node)) {
        NodeRecord node;
        node.id = id;
        node.props = std::move(props);
        // A client's ports can reach the registry before its node.
        for (const auto& [portID, port] : graph_.ports) {
            node.hasAudioOutputPort =
                node.hasAudioOutputPort || (port.nodeID == id && port.isOutput && port.isAudio);
        }
        const bool isOutputStream = GraphState::isOutputStream(node);
        graph_.nodes[id] = std::move(node);
        if (events_.nodeAdded) {
            events_.nodeAdded(id);
        }
        if (isOutputStream && events_.outputStreamAdded) {
            events_.outputStreamAdded(id);
        }
    } else if (isInterface(type, PW_TYPE_INTERFACE_Client)) {
        ClientRecord client;
        client.id = id;
        client.processObjectID = nextProcessObjectID_++;
        if (nextProcessObjectID_ >= 0x40000000) {
            nextProcessObjectID_ = 0x10000000;
        }
        client.props = std::move(props);
        graph_.clients[id] = std::move(client);
    } else if (isInterface(type, PW_TYPE_INTERFACE_Port)) {
        ++graph_.portChanges;
        const auto text = [&](const char* key) {
            const auto it = props.find(key);
            return it == props.end() ? std::string() : it->second;
        };
        const std::string format = text(keys::kFormatDSP);
        const PortRecord port{id,
                              idFrom(props, PW_KEY_NODE_ID),
                              text(keys::kPortName),
                              text(keys::kPortDirection) == keys::kPortDirectionOut,
                              text(keys::kAudioChannel),
                              format.empty() || format.find("audio") != std::string::npos};
        graph_.ports[id] = port;
        // A JACK client's node is a playing stream from its first audio output port.
        const auto node = graph_.nodes.find(port.nodeID);
        if (node != graph_.nodes.end() && port.isOutput && port.isAudio &&
            !node->second.hasAudioOutputPort && GraphState::isJackNode(node->second)) {
            node->second.hasAudioOutputPort = true;
            if (events_.outputStreamAdded) {
                events_.outputStreamAdded(port.nodeID);
            }
        }
        if (events_.portAdded) {
            events_.portAdded(port.nodeID);
        }
    } else if (isInterface(type, PW_TYPE_INTERFACE_Link)) {
        const LinkRecord link{
            id, idFrom(props, keys::kLinkOutputNode), idFrom(props, keys::kLinkInputNode),
            idFrom(props, keys::kLinkOutputPort), idFrom(props, keys::kLinkInputPort)};
        graph_.links[id] = link;
        const auto input = graph_.nodes.find(link.inputNodeID);
        const auto output = graph_.nodes.find(link.outputNodeID);
        if (input != graph_.nodes.end() && output != graph_.nodes.end() &&
            GraphState::isDevice(input->second) && !output->second.deviceLinkedSince) {
            output->second.deviceLinkedSince = std::chrono::steady_clock::now();
        }
        if (events_.linkAdded) {
            events_.linkAdded(link);
        }
    } else if (isInterface(type, PW_TYPE_INTERFACE_Metadata)) {
        const auto name = props.find(keys::kMetadataName);
        if (name != props.end() && name->second == keys::kMetadataDefault && metadata_ == nullptr) {
            bindMetadata(id);
            metadataRetryMs_ = kFirstMetadataCheckMs;
            scheduleMetadataCheck();
        }
    }
}

void Connection::bindMetadata(std::uint32_t id) {
    metadata_ = static_cast<pw_proxy*>(
        pw_registry_bind(registry_, id, PW_TYPE_INTERFACE_Metadata, PW_VERSION_METADATA, 0));
    if (metadata_ == nullptr) {
        return;
    }
    metadataID_ = id;
    static const pw_metadata_events metadataEvents = [] {
        pw_metadata_events e{};
        e.version = PW_VERSION_METADATA_EVENTS;
        e.property = &Connection::onMetadataProperty;
        return e;
    }();
    pw_metadata_add_listener(reinterpret_cast<pw_metadata*>(metadata_), &hooks_->metadata,
                             &metadataEvents, this);
}

void Connection::unbindMetadata() {
    if (metadata_ == nullptr) {
        return;
    }
    spa_hook_remove(&hooks_->metadata);
    pw_proxy_destroy(metadata_);
    metadata_ = nullptr;
}

void Connection::scheduleMetadataCheck() {
    if (metadataTimer_ == nullptr) {
        return;
    }
    timespec value = afterMs(metadataRetryMs_);
    pw_loop_update_timer(loop_.loop(), metadataTimer_, &value, nullptr, false);
}

// The "default" metadata is the session manager's; the server passes its
// changes on to every client that bound it. While any client's bind of it waits
// for the session manager's pong, PipeWire's metadata module forwards changes
// only to that newcomer and drops them for everyone bound before
// (module-metadata/metadata.c, metadata_property(), from 0.3.65 up to at least
// 1.6). A new default picked just as another program binds the metadata (pw-cli,
// pw-metadata and every PulseAudio client of pipewire-pulse do) thus never
// reaches us, and neither may the first default after a server restart, when
// every client binds at once. A client that disconnects before that answer even
// leaves every later change withheld from all (global_unbind() never counts its
// bind off); re-reading mends that only while the default is gone. Without a
// default device no tap is ever rebuilt. A fresh bind replays every key.
void Connection::onMetadataTimer(void* data, std::uint64_t) {
    auto* self = static_cast<Connection*>(data);
    if (self->core_ == nullptr || self->metadata_ == nullptr ||
        self->graph_.defaultOutputID() != kAudioObjectUnknown) {
        return;
    }
    const std::uint32_t id = self->metadataID_;
    self->unbindMetadata();
    self->graph_.targets.clear();
    self->graph_.targetNodes.clear();
    self->bindMetadata(id);
    self->metadataRetryMs_ = std::min(self->metadataRetryMs_ * 2, kMaxMetadataCheckMs);
    self->scheduleMetadataCheck();
    self->changed();
}

void Connection::bind(std::uint32_t id, const char* type, std::uint32_t) {
    const bool isNode = isInterface(type, PW_TYPE_INTERFACE_Node);
    const bool isClient = isInterface(type, PW_TYPE_INTERFACE_Client);
    if (!isNode && !isClient) {
        return;
    }
    if (isNode) {
        const NodeRecord& node = graph_.nodes.at(id);
        if (!GraphState::isDevice(node) && !GraphState::isAudioStream(node) &&
            !GraphState::isJackNode(node)) {
            return;
        }
    }
    auto bound = std::make_unique<Bound>();
    bound->owner = this;
    bound->id = id;
    if (isNode) {
        bound->proxy = static_cast<pw_proxy*>(
            pw_registry_bind(registry_, id, PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, 0));
        static const pw_node_events nodeEvents = [] {
            pw_node_events e{};
            e.version = PW_VERSION_NODE_EVENTS;
            e.info = &Connection::onNodeInfo;
            e.param = &Connection::onNodeParam;
            return e;
        }();
        if (bound->proxy != nullptr) {
            auto* proxy = reinterpret_cast<pw_node*>(bound->proxy);
            pw_node_add_listener(proxy, &bound->listener, &nodeEvents, bound.get());
            // A stream's volume is watched so that a tap can hold it (setSoftVolume).
            if (GraphState::isAudioStream(graph_.nodes.at(id))) {
                std::uint32_t props = SPA_PARAM_Props;
                pw_node_subscribe_params(proxy, &props, 1);
            }
        }
    } else {
        bound->proxy = static_cast<pw_proxy*>(
            pw_registry_bind(registry_, id, PW_TYPE_INTERFACE_Client, PW_VERSION_CLIENT, 0));
        static const pw_client_events clientEvents = [] {
            pw_client_events e{};
            e.version = PW_VERSION_CLIENT_EVENTS;
            e.info = &Connection::onClientInfo;
            return e;
        }();
        if (bound->proxy != nullptr) {
            pw_client_add_listener(reinterpret_cast<pw_client*>(bound->proxy), &bound->listener,
                                   &clientEvents, bound.get());
        }
    }
    if (bound->proxy != nullptr) {
        bound_[id] = std::move(bound);
    }
}

void Connection::removeGlobal(std::uint32_t id) {
    if (auto it = bound_.find(id); it != bound_.end()) {
        spa_hook_remove(&it->second->listener);
        pw_proxy_destroy(it->second->proxy);
        bound_.erase(it);
    }
    graph_.nodes.erase(id);
    graph_.clients.erase(id);
    graph_.portChanges += graph_.ports.erase(id);
    const bool wasLink = graph_.links.erase(id) > 0;
    graph_.targets.erase(id);
    graph_.targetNodes.erase(id);
    if (metadata_ != nullptr && id == metadataID_) {
        unbindMetadata();
        metadataID_ = 0;
        graph_.defaultSinkName.reset();
        graph_.targets.clear();
        graph_.targetNodes.clear();
    }
    if (wasLink && events_.linkRemoved) {
        events_.linkRemoved();
    }
}

void Connection::onNodeInfo(void* data, const pw_node_info* info) {
    auto* bound = static_cast<Bound*>(data);
    bound->owner->nodeInfo(bound->id, info->props, info->state == PW_NODE_STATE_RUNNING);
}

void Connection::nodeInfo(std::uint32_t id, const spa_dict* props, bool running) {
    auto it = graph_.nodes.find(id);
    if (it == graph_.nodes.end()) {
        return;
    }
    const std::uint32_t clientBefore = idFrom(it->second.props, keys::kClientID);
    auto chosen = [&] {
        const Properties& p = it->second.props;
        const auto object = p.find(keys::kTargetObject);
        const auto legacy = p.find(keys::kNodeTarget);
        return std::pair{object == p.end() ? std::string() : object->second,
                         legacy == p.end() ? std::string() : legacy->second};
    };
    const auto chosenBefore = chosen();
    for (auto& [key, value] : toProperties(props)) {
        it->second.props[key] = std::move(value);
    }
    if (chosen() != chosenBefore && GraphState::isOutputStream(it->second) &&
        events_.targetChanged) {
        events_.targetChanged(id, false);
    }
    if (running && !it->second.running) {
        it->second.runningSince = std::chrono::steady_clock::now();
    }
    it->second.running = running;
    const std::uint32_t clientAfter = idFrom(it->second.props, keys::kClientID);
    if (clientBefore != clientAfter && GraphState::isOutputStream(it->second) &&
        events_.outputStreamAdded) {
        events_.outputStreamAdded(id);
    }
    changed();
}

void Connection::onNodeParam(void* data, int, std::uint32_t id, std::uint32_t, std::uint32_t,
                             const spa_pod* param) {
    if (id == SPA_PARAM_Props) {
        auto* bound = static_cast<Bound*>(data);
        bound->owner->nodeProps(bound->id, param);
    }
}

void Connection::nodeProps(std::uint32_t id, const spa_pod* param) {
    const auto it = graph_.nodes.find(id);
    std::optional<StreamVolume> volume = readStreamVolume(param);
    // A node may answer with several Props objects; only the one with the volume counts.
    if (it == graph_.nodes.end() || !volume || volume->channelVolumes.empty()) {
        return;
    }
    it->second.volume = std::move(volume);
    // Each set comes back as one Props event, in order with everyone else's.
    const bool byOthers = it->second.softSetsUnanswered == 0;
    it->second.softSetsUnanswered -= byOthers ? 0 : 1;
    if (events_.streamVolumeChanged) {
        events_.streamVolumeChanged(id, byOthers);
    }
}

void Connection::onClientInfo(void* data, const pw_client_info* info) {
    auto* bound = static_cast<Bound*>(data);
    bound->owner->clientInfo(bound->id, info->props);
}

void Connection::clientInfo(std::uint32_t id, const spa_dict* props) {
    auto it = graph_.clients.find(id);
    if (it == graph_.clients.end()) {
        return;
    }
    for (auto& [key, value] : toProperties(props)) {
        it->second.props[key] = std::move(value);
    }
    changed();
}

int Connection::onMetadataProperty(void* data, std::uint32_t subject, const char* key, const char*,
                                   const char* value) {
    auto* self = static_cast<Connection*>(data);
    self->metadataProperty(subject, key, value);
    self->changed();
    return 0;
}

void Connection::metadataProperty(std::uint32_t subject, const char* key, const char* value) {
    if (key == nullptr) {
        // Every key of the subject was removed.
        if (subject == PW_ID_CORE) {
            graph_.defaultSinkName.reset();
        }
        graph_.targets.erase(subject);
        graph_.targetNodes.erase(subject);
        notifyTarget(subject);
        return;
    }
    if (subject == PW_ID_CORE && std::strcmp(key, keys::kDefaultAudioSink) == 0) {
        graph_.defaultSinkName = value == nullptr ? std::nullopt : nameFromJSON(std::string(value));
    } else if (std::strcmp(key, keys::kTargetObject) == 0 ||
               std::strcmp(key, keys::kTargetNode) == 0) {
        auto& targets =
            std::strcmp(key, keys::kTargetObject) == 0 ? graph_.targets : graph_.targetNodes;
        if (value == nullptr) {
            targets.erase(subject);
        } else {
            targets[subject] = value;
        }
        notifyTarget(subject);
    }
}

void Connection::notifyTarget(std::uint32_t subject) {
    if (subject != PW_ID_CORE && events_.targetChanged) {
        events_.targetChanged(subject, true);
    }
}

} // namespace corvalle::pw
