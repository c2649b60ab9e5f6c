#include "OwnNode.h"

#include <algorithm>
#include <cerrno>
#include <pipewire/pipewire.h>
#include <spa/debug/types.h>
#include <spa/node/io.h>
#include <spa/node/node.h>
#include <spa/node/utils.h>
#include <spa/param/audio/type-info.h>
#include <spa/pod/filter.h>
#include <string>
#include <sys/mman.h>
#include <vector>

// The interface-call and event macros of SPA and PipeWire cast the C way.
#pragma GCC diagnostic ignored "-Wold-style-cast"

namespace corvalle::pw {

namespace {

// The longest graph cycle a port carries (PipeWire's default quantum limit).
constexpr std::uint32_t kMaxFrames = 8192;
constexpr std::uint32_t kMaxBuffers = 16;
constexpr std::uint32_t kSampleBytes = sizeof(float);
constexpr std::uint64_t kAllPortChanges =
    SPA_PORT_CHANGE_MASK_FLAGS | SPA_PORT_CHANGE_MASK_PROPS | SPA_PORT_CHANGE_MASK_PARAMS;

struct Port {
    bool exists = false;
    std::string name;
    std::string channel;
    std::array<spa_dict_item, 3> items{};
    spa_dict dict{};
    std::array<spa_param_info, 4> params{};
    spa_port_info info{};
    bool hasFormat = false;
    spa_io_buffers* io = nullptr;
    std::array<spa_buffer*, kMaxBuffers> buffers{};
    // Our own mapping of a buffer's memory, where the server gave only its fd:
    // the mapping, its length and the samples in it.
    struct Mapping {
        void* base = nullptr;
        std::size_t bytes = 0;
        void* samples = nullptr;
    };
    std::array<Mapping, kMaxBuffers> mapped{};
    std::uint32_t bufferCount = 0;
    std::uint32_t nextOutput = 0;
};

enum PortParam : std::size_t { enumFormat, format, buffers, io };

spa_param_info paramInfo(std::uint32_t id, std::uint32_t flags) {
    spa_param_info info{};
    info.id = id;
    info.flags = flags;
    return info;
}

const char* channelName(std::uint32_t position) {
    const char* name = spa_debug_type_find_short_name(spa_type_audio_channel, position);
    return name != nullptr ? name : "UNK";
}

// The sample memory of buffer `index` (< bufferCount), or null. Read where the
// buffer points now: an input's mixer may hand over a peer's buffer in place of
// ours.
void* samplesOf(const Port& port, std::uint32_t index) {
    const spa_data& data = port.buffers[index]->datas[0];
    return data.data != nullptr ? data.data : port.mapped[index].samples;
}

// Forgets the buffers; their structs may be gone already, our mappings are not.
void unmapBuffers(Port& port) {
    for (auto& mapping : port.mapped) {
        if (mapping.base != nullptr) {
            munmap(mapping.base, mapping.bytes);
        }
        mapping = Port::Mapping{};
    }
    port.buffers.fill(nullptr);
    port.bufferCount = 0;
    port.nextOutput = 0;
}

// Emits `param`, the one param of its id, when asked for from the start and it
// passes `filter`.
int emitParam(spa_hook_list& hooks, int seq, std::uint32_t id, std::uint32_t start,
              const spa_pod* param, const spa_pod* filter) {
    if (start > 0 || param == nullptr) {
        return 0;
    }
    std::array<std::uint8_t, 1024> filtered{};
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, filtered.data(), filtered.size());
    spa_result_node_params result{};
    result.id = id;
    result.index = 0;
    result.next = 1;
    if (spa_pod_filter(&builder, &result.param, param, filter) < 0) {
        return 0;
    }
    spa_node_emit_result(&hooks, seq, 0, SPA_RESULT_TYPE_NODE_PARAMS, &result);
    return 0;
}

} // namespace

struct OwnNode::Impl {
    OwnNode* owner = nullptr;
    Process process = nullptr;
    void* user = nullptr;
    std::uint32_t channels = 0;
    spa_node node{};
    spa_hook_list hooks{};
    spa_node_info info{};
    std::array<spa_param_info, 4> params{};
    spa_io_position* position = nullptr;
    std::vector<Port> inputs;
    std::vector<Port> outputs;
    bool configured = false;
    pw_proxy* proxy = nullptr;
    spa_hook proxyListener{};

    Port* portOf(spa_direction direction, std::uint32_t portID) {
        if (portID >= channels) {
            return nullptr;
        }
        Port& port = direction == SPA_DIRECTION_INPUT ? inputs[portID] : outputs[portID];
        return port.exists ? &port : nullptr;
    }
    void emitPort(spa_direction direction, std::uint32_t portID, std::uint64_t changes) {
        Port& port = direction == SPA_DIRECTION_INPUT ? inputs[portID] : outputs[portID];
        port.info.change_mask = changes;
        spa_node_emit_port_info(&hooks, direction, portID, &port.info);
        port.info.change_mask = 0;
    }
    void makePorts(const ChannelLayout& layout);
    void emitAll();
};

namespace {

int addListener(void* object, spa_hook* listener, const spa_node_events* events, void* data) {
    auto& impl = *static_cast<OwnNode::Impl*>(object);
    spa_hook_list save{};
    spa_hook_list_isolate(&impl.hooks, &save, listener, events, data);
    impl.emitAll();
    spa_hook_list_join(&impl.hooks, &save);
    return 0;
}

int setCallbacks(void*, const spa_node_callbacks*, void*) {
    return 0;
}

int sync(void* object, int seq) {
    spa_node_emit_result(&static_cast<OwnNode::Impl*>(object)->hooks, seq, 0, 0, nullptr);
    return 0;
}

int enumParams(void* object, int seq, std::uint32_t id, std::uint32_t start, std::uint32_t,
               const spa_pod* filter) {
    auto& impl = *static_cast<OwnNode::Impl*>(object);
    if (id != SPA_PARAM_EnumFormat) {
        return 0;
    }
    std::array<std::uint8_t, 1024> buffer{};
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, buffer.data(), buffer.size());
    return emitParam(impl.hooks, seq, id, start, audioFormat(&builder, impl.owner->layout()),
                     filter);
}

// The session manager asks for the ports with PortConfig, as of an adapter, and
// waits for them to appear; our ports are always DSP ones of our own layout.
int setParam(void* object, std::uint32_t id, std::uint32_t, const spa_pod*) {
    auto& impl = *static_cast<OwnNode::Impl*>(object);
    switch (id) {
    case SPA_PARAM_PortConfig:
        if (!impl.configured) {
            impl.makePorts(impl.owner->layout());
        }
        return 0;
    case SPA_PARAM_Format:
    case SPA_PARAM_Props:
        return 0;
    default:
        return -ENOENT;
    }
}

int setIO(void* object, std::uint32_t id, void* data, std::size_t size) {
    auto& impl = *static_cast<OwnNode::Impl*>(object);
    if (id == SPA_IO_Position) {
        impl.position = data != nullptr && size >= sizeof(spa_io_position)
                            ? static_cast<spa_io_position*>(data)
                            : nullptr;
    }
    return 0;
}

int sendCommand(void*, const spa_command*) {
    return 0;
}

int addPort(void*, spa_direction, std::uint32_t, const spa_dict*) {
    return -ENOTSUP;
}

int removePort(void*, spa_direction, std::uint32_t) {
    return -ENOTSUP;
}

int portEnumParams(void* object, int seq, spa_direction direction, std::uint32_t portID,
                   std::uint32_t id, std::uint32_t start, std::uint32_t, const spa_pod* filter) {
    auto& impl = *static_cast<OwnNode::Impl*>(object);
    const Port* port = impl.portOf(direction, portID);
    if (port == nullptr) {
        return -EINVAL;
    }
    std::array<std::uint8_t, 1024> buffer{};
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, buffer.data(), buffer.size());
    const void* param = nullptr;
    switch (id) {
    case SPA_PARAM_EnumFormat:
    case SPA_PARAM_Format:
        if (id == SPA_PARAM_EnumFormat || port->hasFormat) {
            param = spa_pod_builder_add_object(
                &builder, SPA_TYPE_OBJECT_Format, id, SPA_FORMAT_mediaType,
                SPA_POD_Id(SPA_MEDIA_TYPE_audio), SPA_FORMAT_mediaSubtype,
                SPA_POD_Id(SPA_MEDIA_SUBTYPE_dsp), SPA_FORMAT_AUDIO_format,
                SPA_POD_Id(SPA_AUDIO_FORMAT_DSP_F32));
        }
        break;
    case SPA_PARAM_Buffers:
        if (port->hasFormat) {
            param = spa_pod_builder_add_object(
                &builder, SPA_TYPE_OBJECT_ParamBuffers, id, SPA_PARAM_BUFFERS_buffers,
                SPA_POD_CHOICE_RANGE_Int(1, 1, static_cast<int>(kMaxBuffers)),
                SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1), SPA_PARAM_BUFFERS_size,
                SPA_POD_CHOICE_STEP_Int(
                    static_cast<int>(kMaxFrames * kSampleBytes), static_cast<int>(kSampleBytes),
                    static_cast<int>(kMaxFrames * kSampleBytes), static_cast<int>(kSampleBytes)),
                SPA_PARAM_BUFFERS_stride, SPA_POD_Int(static_cast<int>(kSampleBytes)));
        }
        break;
    case SPA_PARAM_IO:
        param = spa_pod_builder_add_object(&builder, SPA_TYPE_OBJECT_ParamIO, id, SPA_PARAM_IO_id,
                                           SPA_POD_Id(SPA_IO_Buffers), SPA_PARAM_IO_size,
                                           SPA_POD_Int(static_cast<int>(sizeof(spa_io_buffers))));
        break;
    default:
        break;
    }
    return emitParam(impl.hooks, seq, id, start, static_cast<const spa_pod*>(param), filter);
}

int portSetParam(void* object, spa_direction direction, std::uint32_t portID, std::uint32_t id,
                 std::uint32_t, const spa_pod* param) {
    auto& impl = *static_cast<OwnNode::Impl*>(object);
    Port* port = impl.portOf(direction, portID);
    if (port == nullptr) {
        return -EINVAL;
    }
    if (id == SPA_PARAM_Latency) {
        return 0;
    }
    if (id != SPA_PARAM_Format) {
        return -ENOENT;
    }
    port->hasFormat = param != nullptr;
    if (!port->hasFormat) {
        unmapBuffers(*port);
    }
    port->params[PortParam::format] = paramInfo(
        SPA_PARAM_Format, port->hasFormat ? SPA_PARAM_INFO_READWRITE : SPA_PARAM_INFO_WRITE);
    port->params[PortParam::buffers] =
        paramInfo(SPA_PARAM_Buffers, port->hasFormat ? SPA_PARAM_INFO_READ : 0U);
    impl.emitPort(direction, portID, SPA_PORT_CHANGE_MASK_PARAMS);
    return 0;
}

int portUseBuffers(void* object, spa_direction direction, std::uint32_t portID, std::uint32_t,
                   spa_buffer** buffers, std::uint32_t count) {
    auto& impl = *static_cast<OwnNode::Impl*>(object);
    Port* port = impl.portOf(direction, portID);
    if (port == nullptr) {
        return -EINVAL;
    }
    unmapBuffers(*port);
    if (count > kMaxBuffers) {
        return -ENOSPC;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        if (buffers[i] == nullptr || buffers[i]->n_datas < 1) {
            unmapBuffers(*port);
            return -EINVAL;
        }
        const spa_data& data = buffers[i]->datas[0];
        port->buffers[i] = buffers[i];
        port->bufferCount = i + 1;
        if (data.data == nullptr && (data.type == SPA_DATA_MemFd || data.type == SPA_DATA_DmaBuf)) {
            const std::size_t bytes = std::size_t{data.mapoffset} + data.maxsize;
            void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED,
                                static_cast<int>(data.fd), 0);
            if (memory == MAP_FAILED) {
                const int error = errno;
                unmapBuffers(*port);
                return -error;
            }
            port->mapped[i] =
                Port::Mapping{memory, bytes, static_cast<std::uint8_t*>(memory) + data.mapoffset};
        }
    }
    return 0;
}

int portSetIO(void* object, spa_direction direction, std::uint32_t portID, std::uint32_t id,
              void* data, std::size_t size) {
    auto& impl = *static_cast<OwnNode::Impl*>(object);
    Port* port = impl.portOf(direction, portID);
    if (port == nullptr) {
        return -EINVAL;
    }
    if (id == SPA_IO_Buffers) {
        port->io = data != nullptr && size >= sizeof(spa_io_buffers)
                       ? static_cast<spa_io_buffers*>(data)
                       : nullptr;
    }
    return 0;
}

int portReuseBuffer(void*, std::uint32_t, std::uint32_t) {
    return 0;
}

int process(void* object) {
    // Realtime thread: no allocation, lock, logging or blocking call in here.
    auto& impl = *static_cast<OwnNode::Impl*>(object);
    OwnNodeCycle cycle;
    cycle.channels = impl.channels;
    std::uint32_t frames =
        impl.position != nullptr ? static_cast<std::uint32_t>(impl.position->clock.duration) : 0;
    frames = std::min(frames, kMaxFrames);
    const std::uint32_t bytes = frames * kSampleBytes;
    for (std::uint32_t c = 0; c < impl.channels; ++c) {
        Port& in = impl.inputs[c];
        spa_io_buffers* io = in.io;
        if (io == nullptr) {
            continue;
        }
        if (io->status == SPA_STATUS_HAVE_DATA && io->buffer_id < in.bufferCount) {
            const spa_data& data = in.buffers[io->buffer_id]->datas[0];
            const auto* samples = static_cast<const std::uint8_t*>(samplesOf(in, io->buffer_id));
            if (samples != nullptr && data.chunk != nullptr && data.chunk->offset <= data.maxsize &&
                data.maxsize - data.chunk->offset >= bytes) {
                cycle.inputs[c] = reinterpret_cast<const float*>(samples + data.chunk->offset);
            }
        }
        io->status = SPA_STATUS_NEED_DATA;
    }
    for (std::uint32_t c = 0; c < impl.channels; ++c) {
        Port& out = impl.outputs[c];
        spa_io_buffers* io = out.io;
        // A buffer the peer has not taken yet stays as it is.
        if (io == nullptr || out.bufferCount == 0 || io->status == SPA_STATUS_HAVE_DATA) {
            continue;
        }
        const std::uint32_t index = out.nextOutput % out.bufferCount;
        spa_data& data = out.buffers[index]->datas[0];
        auto* samples = static_cast<float*>(samplesOf(out, index));
        if (samples == nullptr || data.chunk == nullptr || data.maxsize < bytes) {
            continue;
        }
        out.nextOutput = index + 1;
        data.chunk->offset = 0;
        data.chunk->size = bytes;
        data.chunk->stride = static_cast<std::int32_t>(kSampleBytes);
        io->buffer_id = index;
        io->status = SPA_STATUS_HAVE_DATA;
        cycle.outputs[c] = samples;
    }
    cycle.frames = frames;
    impl.process(impl.user, cycle);
    return SPA_STATUS_HAVE_DATA | SPA_STATUS_NEED_DATA;
}

const spa_node_methods kMethods = [] {
    spa_node_methods m{};
    m.version = SPA_VERSION_NODE_METHODS;
    m.add_listener = addListener;
    m.set_callbacks = setCallbacks;
    m.sync = sync;
    m.enum_params = enumParams;
    m.set_param = setParam;
    m.set_io = setIO;
    m.send_command = sendCommand;
    m.add_port = addPort;
    m.remove_port = removePort;
    m.port_enum_params = portEnumParams;
    m.port_set_param = portSetParam;
    m.port_use_buffers = portUseBuffers;
    m.port_set_io = portSetIO;
    m.port_reuse_buffer = portReuseBuffer;
    m.process = process;
    return m;
}();

} // namespace

void OwnNode::Impl::makePorts(const ChannelLayout& layout) {
    configured = true;
    for (const spa_direction direction : {SPA_DIRECTION_INPUT, SPA_DIRECTION_OUTPUT}) {
        for (std::uint32_t c = 0; c < channels; ++c) {
            Port& port = direction == SPA_DIRECTION_INPUT ? inputs[c] : outputs[c];
            port.exists = true;
            port.channel = channelName(layout.at(c));
            port.name = (direction == SPA_DIRECTION_INPUT ? "playback_" : "output_") + port.channel;
            port.items = {spa_dict_item{PW_KEY_FORMAT_DSP, "32 bit float mono audio"},
                          spa_dict_item{PW_KEY_PORT_NAME, port.name.c_str()},
                          spa_dict_item{PW_KEY_AUDIO_CHANNEL, port.channel.c_str()}};
            port.dict =
                spa_dict{0, static_cast<std::uint32_t>(port.items.size()), port.items.data()};
            port.params = {paramInfo(SPA_PARAM_EnumFormat, SPA_PARAM_INFO_READ),
                           paramInfo(SPA_PARAM_Format, SPA_PARAM_INFO_WRITE),
                           paramInfo(SPA_PARAM_Buffers, 0),
                           paramInfo(SPA_PARAM_IO, SPA_PARAM_INFO_READ)};
            port.info = spa_port_info{};
            port.info.props = &port.dict;
            port.info.params = port.params.data();
            port.info.n_params = static_cast<std::uint32_t>(port.params.size());
            emitPort(direction, c, kAllPortChanges);
        }
    }
    owner->setState(owner->nodeID() != SPA_ID_INVALID ? State::ready : State::connecting);
}

void OwnNode::Impl::emitAll() {
    info.change_mask = SPA_NODE_CHANGE_MASK_FLAGS | SPA_NODE_CHANGE_MASK_PARAMS;
    spa_node_emit_info(&hooks, &info);
    info.change_mask = 0;
    for (std::uint32_t c = 0; c < channels; ++c) {
        for (const spa_direction direction : {SPA_DIRECTION_INPUT, SPA_DIRECTION_OUTPUT}) {
            if (portOf(direction, c) != nullptr) {
                emitPort(direction, c, kAllPortChanges);
            }
        }
    }
}

OwnNode::OwnNode(const ChannelLayout& layout, Process process, void* user)
    : layout_(layout.empty() || layout.size() > SPA_AUDIO_MAX_CHANNELS ? stereoLayout() : layout),
      nodeID_(SPA_ID_INVALID), impl_(std::make_unique<Impl>()) {
    Impl& impl = *impl_;
    impl.owner = this;
    impl.process = process;
    impl.user = user;
    impl.channels = static_cast<std::uint32_t>(layout_.size());
    impl.inputs.resize(impl.channels);
    impl.outputs.resize(impl.channels);
    spa_hook_list_init(&impl.hooks);
    impl.node.iface =
        SPA_INTERFACE_INIT(SPA_TYPE_INTERFACE_Node, SPA_VERSION_NODE, &kMethods, &impl);
    impl.params = {paramInfo(SPA_PARAM_EnumFormat, SPA_PARAM_INFO_READ),
                   paramInfo(SPA_PARAM_PortConfig, SPA_PARAM_INFO_WRITE),
                   paramInfo(SPA_PARAM_Format, SPA_PARAM_INFO_WRITE),
                   paramInfo(SPA_PARAM_Props, SPA_PARAM_INFO_WRITE)};
    impl.info = spa_node_info{};
    impl.info.max_input_ports = impl.channels;
    impl.info.max_output_ports = impl.channels;
    impl.info.flags = SPA_NODE_FLAG_RT;
    impl.info.params = impl.params.data();
    impl.info.n_params = static_cast<std::uint32_t>(impl.params.size());
}

OwnNode::~OwnNode() {
    destroy();
}

bool OwnNode::exportTo(pw_core* core, pw_properties* props) {
    if (core == nullptr || props == nullptr || impl_->proxy != nullptr) {
        pw_properties_free(props);
        setState(State::failed);
        return false;
    }
    impl_->proxy = static_cast<pw_proxy*>(
        pw_core_export(core, SPA_TYPE_INTERFACE_Node, &props->dict, &impl_->node, 0));
    pw_properties_free(props);
    if (impl_->proxy == nullptr) {
        setState(State::failed);
        return false;
    }
    static const pw_proxy_events events = [] {
        pw_proxy_events e{};
        e.version = PW_VERSION_PROXY_EVENTS;
        e.destroy = [](void* data) {
            auto& impl = *static_cast<Impl*>(data);
            spa_hook_remove(&impl.proxyListener);
            impl.proxy = nullptr;
            impl.owner->setState(State::failed);
        };
        e.bound = [](void* data, std::uint32_t globalID) {
            auto& impl = *static_cast<Impl*>(data);
            impl.owner->nodeID_ = globalID;
            impl.owner->setState(impl.configured ? State::ready : State::connecting);
        };
        e.removed = [](void* data) { static_cast<Impl*>(data)->owner->setState(State::failed); };
        e.error = [](void* data, int, int, const char*) {
            static_cast<Impl*>(data)->owner->setState(State::failed);
        };
        return e;
    }();
    pw_proxy_add_listener(impl_->proxy, &impl_->proxyListener, &events, impl_.get());
    return true;
}

void OwnNode::destroy() {
    if (impl_->proxy != nullptr) {
        pw_proxy* proxy = impl_->proxy;
        spa_hook_remove(&impl_->proxyListener);
        impl_->proxy = nullptr;
        // Takes the node out of the graph; its process step no longer runs after.
        pw_proxy_destroy(proxy);
    }
    for (Port& port : impl_->inputs) {
        unmapBuffers(port);
    }
    for (Port& port : impl_->outputs) {
        unmapBuffers(port);
    }
    nodeID_ = SPA_ID_INVALID;
}

void OwnNode::setState(State state) {
    if (state_ == state || state_ == State::failed) {
        return;
    }
    state_ = state;
    if (stateListener_) {
        stateListener_();
    }
}

} // namespace corvalle::pw
