#include "TapStreams.h"

#include "AudioFormat.h"
#include "PipeWireKeys.h"
#include "PwLoop.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <pipewire/pipewire.h>
#include <sys/mman.h>

// The interface-call macros of PipeWire cast the C way.
#pragma GCC diagnostic ignored "-Wold-style-cast"

namespace corvalle::pw {

namespace {

constexpr float kMaxHoldGain = 4.0F;
// The longest graph cycle a tap carries (PipeWire's default quantum limit).
constexpr std::uint32_t kMaxCycleFrames = 8192;

TapStreams::State stateOf(int state) {
    switch (state) {
    case PW_STREAM_STATE_ERROR:
    case PW_STREAM_STATE_UNCONNECTED:
        return TapStreams::State::failed;
    case PW_STREAM_STATE_PAUSED:
    case PW_STREAM_STATE_STREAMING:
        return TapStreams::State::ready;
    default:
        return TapStreams::State::connecting;
    }
}

// Samples in a mapping of their own: taps come and go by the thousand, and
// blocks of this size taken from the heap leave it fragmented.
class MappedSamples {
public:
    explicit MappedSamples(std::size_t count) : bytes_(count * sizeof(float)) {
        void* memory =
            mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory != MAP_FAILED) {
            data_ = static_cast<float*>(memory);
            count_ = count;
        }
    }
    ~MappedSamples() {
        if (data_ != nullptr) {
            munmap(data_, bytes_);
        }
    }
    MappedSamples(const MappedSamples&) = delete;
    MappedSamples& operator=(const MappedSamples&) = delete;

    float* data() const { return data_; }
    std::size_t size() const { return count_; }

private:
    std::size_t bytes_;
    float* data_ = nullptr;
    std::size_t count_ = 0;
};

} // namespace

// Touched only on the data loop's thread, or by invoke() while that thread waits.
struct TapStreams::Realtime {
    pw_stream* capture = nullptr;
    pw_stream* playback = nullptr;
    // Set by the loop thread while the playback stream is started. The server
    // sets up its converter on the loop thread when it starts it, so it must not
    // be triggered before.
    std::atomic<bool> playbackStarted{false};
    const AudioDeviceIOBlock* block = nullptr;
    // Both streams carry the device's layout, set before either connects.
    std::uint32_t channels = 2;
    std::uint32_t frameBytes = 2 * sizeof(float);
    // The captured sound of the current cycle, for the playback side. Written
    // before cycleReady is set, read after it is taken.
    std::optional<MappedSamples> cycle;
    std::atomic<std::uint32_t> cycleFrames{0};
    std::atomic<bool> cycleReady{false};
    // The gain played at while no block runs: the one the block applied last.
    float heldGain = 0.0F;
};

// A stream handed to the data loop's thread.
struct TapStreams::StreamHandle {
    pw_stream* stream;
    Side side;
};

struct TapStreams::Hooks {
    spa_hook capture{};
    spa_hook playback{};
};

TapStreams::TapStreams(ThreadLoop& loop, pw_core* core, std::string sinkName,
                       std::string description, std::string group)
    : loop_(loop), core_(core), sinkName_(std::move(sinkName)),
      description_(std::move(description)), group_(std::move(group)),
      hooks_(std::make_unique<Hooks>()), rt_(std::make_unique<Realtime>()) {}

TapStreams::~TapStreams() {
    destroy();
}

void TapStreams::invoke(int (*function)(spa_loop*, bool, std::uint32_t, const void*, std::size_t,
                                        void*),
                        const void* payload, std::size_t size) {
    pw_data_loop_invoke(loop_.dataLoop(), function, 0, payload, size, true, rt_.get());
}

bool TapStreams::connectCapture(const ChannelLayout& layout) {
    layout_ = layout.empty() || layout.size() > SPA_AUDIO_MAX_CHANNELS ? stereoLayout() : layout;
    // Not yet handed to the data thread, so set here without invoke().
    rt_->channels = static_cast<std::uint32_t>(layout_.size());
    rt_->frameBytes = rt_->channels * static_cast<std::uint32_t>(sizeof(float));
    rt_->cycle.emplace(std::size_t{kMaxCycleFrames} * rt_->channels);
    pw_properties* props = pw_properties_new(
        keys::kMediaType, keys::kMediaTypeAudio, keys::kMediaCategory, keys::kMediaCategoryCapture,
        keys::kMediaClass, keys::kClassOurSink, keys::kMediaName, keys::kOurMediaName,
        keys::kNodeName, sinkName_.c_str(), keys::kNodeDescription, description_.c_str(),
        keys::kNodeGroup, group_.c_str(), keys::kNodeLinkGroup, group_.c_str(), keys::kNodeVirtual,
        keys::kTrue, keys::kAppName, keys::kOurAppName, nullptr);
    return connectStream(Side::capture, props);
}

bool TapStreams::connectPlayback(const std::string& targetName, const std::string& nodeName,
                                 const std::string& description) {
    pw_properties* props = pw_properties_new(
        keys::kMediaType, keys::kMediaTypeAudio, keys::kMediaCategory, keys::kMediaCategoryPlayback,
        keys::kMediaName, keys::kOurMediaName, keys::kNodeName, nodeName.c_str(),
        keys::kNodeDescription, description.c_str(), keys::kNodeGroup, group_.c_str(),
        keys::kNodeLinkGroup, group_.c_str(), keys::kTargetObject, targetName.c_str(),
        keys::kNodeDontReconnect, keys::kTrue, keys::kNodePassive, keys::kTrue, keys::kAppName,
        keys::kOurAppName, nullptr);
    return connectStream(Side::playback, props);
}

// The capture side is our sink, linked by the session manager; the playback
// side links itself to its target and is driven by the capture side's cycle.
bool TapStreams::connectStream(Side side, pw_properties* props) {
    static const pw_stream_events captureEvents = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.state_changed = [](void* data, pw_stream_state oldState, pw_stream_state state,
                             const char* error) { onCaptureState(data, oldState, state, error); };
        e.process = &TapStreams::onCaptureProcess;
        return e;
    }();
    static const pw_stream_events playbackEvents = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.state_changed = [](void* data, pw_stream_state oldState, pw_stream_state state,
                             const char* error) { onPlaybackState(data, oldState, state, error); };
        e.process = &TapStreams::onPlaybackProcess;
        return e;
    }();
    const bool capture = side == Side::capture;
    const pw_stream_events& events = capture ? captureEvents : playbackEvents;
    const pw_direction direction = capture ? PW_DIRECTION_INPUT : PW_DIRECTION_OUTPUT;
    const auto flags = static_cast<pw_stream_flags>(
        capture
            ? PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS
            : PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS |
                  PW_STREAM_FLAG_TRIGGER | PW_STREAM_FLAG_DONT_RECONNECT);
    pw_stream*& stream = capture ? capture_ : playback_;
    State& state = capture ? captureState_ : playbackState_;
    stream = pw_stream_new(core_, keys::kOurMediaName, props);
    if (stream == nullptr) {
        state = State::failed;
        return false;
    }
    pw_stream_add_listener(stream, capture ? &hooks_->capture : &hooks_->playback, &events, this);
    std::uint8_t buffer[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    const spa_pod* params[1] = {audioFormat(&builder, layout_)};
    if (pw_stream_connect(stream, direction, PW_ID_ANY, flags, params, 1) < 0) {
        state = State::failed;
        return false;
    }
    const StreamHandle handle{stream, side};
    invoke(
        [](spa_loop*, bool, std::uint32_t, const void* payload, std::size_t, void* user) {
            const auto* handed = static_cast<const StreamHandle*>(payload);
            auto* rt = static_cast<Realtime*>(user);
            (handed->side == Side::capture ? rt->capture : rt->playback) = handed->stream;
            return 0;
        },
        &handle, sizeof(handle));
    return true;
}

std::uint32_t TapStreams::captureNodeID() const {
    return capture_ == nullptr ? SPA_ID_INVALID : pw_stream_get_node_id(capture_);
}

std::uint32_t TapStreams::playbackNodeID() const {
    return playback_ == nullptr ? SPA_ID_INVALID : pw_stream_get_node_id(playback_);
}

TapStreams::State TapStreams::captureState() const {
    return captureState_;
}

TapStreams::State TapStreams::playbackState() const {
    return playbackState_;
}

void TapStreams::runBlock(const AudioDeviceIOBlock* block, const std::atomic<float>* appliedGain) {
    if (rt_ == nullptr) {
        return;
    }
    struct Change {
        const AudioDeviceIOBlock* block;
        const std::atomic<float>* appliedGain;
    };
    const Change change{block, appliedGain};
    // Runs between two cycles on the data thread, so the block's last cycle is
    // over and its applied gain final.
    invoke(
        [](spa_loop*, bool, std::uint32_t, const void* payload, std::size_t, void* user) {
            auto* rt = static_cast<Realtime*>(user);
            const auto* c = static_cast<const Change*>(payload);
            if (rt->block != nullptr && c->block == nullptr && c->appliedGain != nullptr) {
                rt->heldGain =
                    std::clamp(c->appliedGain->load(std::memory_order_relaxed), 0.0F, kMaxHoldGain);
            }
            rt->block = c->block;
            return 0;
        },
        &change, sizeof(change));
}

void TapStreams::destroyPlayback() {
    if (playback_ == nullptr) {
        return;
    }
    invoke(
        [](spa_loop*, bool, std::uint32_t, const void*, std::size_t, void* user) {
            auto* rt = static_cast<Realtime*>(user);
            rt->playback = nullptr;
            rt->block = nullptr;
            return 0;
        },
        nullptr, 0);
    spa_hook_remove(&hooks_->playback);
    pw_stream_destroy(playback_);
    playback_ = nullptr;
}

void TapStreams::destroy() {
    destroyPlayback();
    if (capture_ == nullptr) {
        return;
    }
    invoke(
        [](spa_loop*, bool, std::uint32_t, const void*, std::size_t, void* user) {
            static_cast<Realtime*>(user)->capture = nullptr;
            return 0;
        },
        nullptr, 0);
    spa_hook_remove(&hooks_->capture);
    pw_stream_destroy(capture_);
    capture_ = nullptr;
}

void TapStreams::onCaptureState(void* data, int, int state, const char*) {
    auto* self = static_cast<TapStreams*>(data);
    self->captureState_ = stateOf(state);
    pw_thread_loop_signal(self->loop_.threadLoop(), false);
    if (self->stateListener_) {
        self->stateListener_();
    }
}

void TapStreams::onPlaybackState(void* data, int, int state, const char*) {
    auto* self = static_cast<TapStreams*>(data);
    self->playbackState_ = stateOf(state);
    self->rt_->playbackStarted = state == PW_STREAM_STATE_STREAMING;
    pw_thread_loop_signal(self->loop_.threadLoop(), false);
    if (self->stateListener_) {
        self->stateListener_();
    }
}

void TapStreams::onCaptureProcess(void* data) {
    // Realtime thread: no allocation, lock, logging or blocking call in here.
    Realtime& rt = *static_cast<TapStreams*>(data)->rt_;
    if (rt.capture == nullptr || !rt.cycle) {
        return;
    }
    // The cycle's sound is copied out and its buffer handed straight back: a
    // buffer still held when this callback returns is not recycled to the
    // tapped streams in this cycle, and PipeWire 1.x then skips every other
    // cycle of theirs. The newest buffer is this cycle's; older ones go back.
    pw_buffer* in = nullptr;
    while (pw_buffer* next = pw_stream_dequeue_buffer(rt.capture)) {
        if (in != nullptr) {
            pw_stream_queue_buffer(rt.capture, in);
        }
        in = next;
    }
    if (in == nullptr) {
        return;
    }
    std::uint32_t frames = 0;
    if (in->buffer->n_datas > 0) {
        const spa_data& d = in->buffer->datas[0];
        if (d.data != nullptr && d.chunk != nullptr && d.chunk->offset <= d.maxsize) {
            const std::uint32_t bytes = std::min(d.chunk->size, d.maxsize - d.chunk->offset);
            frames = std::min<std::uint32_t>(
                bytes / rt.frameBytes, static_cast<std::uint32_t>(rt.cycle->size() / rt.channels));
            const auto* source = reinterpret_cast<const float*>(
                static_cast<const std::uint8_t*>(d.data) + d.chunk->offset);
            std::copy(source, source + std::size_t{frames} * rt.channels, rt.cycle->data());
        }
    }
    pw_stream_queue_buffer(rt.capture, in);
    if (rt.playback == nullptr || !rt.playbackStarted) {
        return;
    }
    rt.cycleFrames.store(frames, std::memory_order_release);
    rt.cycleReady.store(true, std::memory_order_release);
    pw_stream_trigger_process(rt.playback);
}

void TapStreams::onPlaybackProcess(void* data) {
    // Realtime thread: no allocation, lock, logging or blocking call in here.
    Realtime& rt = *static_cast<TapStreams*>(data)->rt_;
    if (rt.playback == nullptr || !rt.cycle) {
        return;
    }
    pw_buffer* out = pw_stream_dequeue_buffer(rt.playback);
    if (out == nullptr) {
        return;
    }
    // The captured cycle decides the length; without one, the device's request
    // is answered with silence.
    const bool captured = rt.cycleReady.exchange(false, std::memory_order_acquire);
    const std::uint32_t inFrames = captured ? rt.cycleFrames.load(std::memory_order_acquire) : 0;
    const float* source = rt.cycle->data();
    const std::uint32_t channels = rt.channels;
    const std::uint32_t frameBytes = rt.frameBytes;
    spa_data& od = out->buffer->datas[0];
    auto* target = static_cast<float*>(od.data);
    const std::uint32_t capacity = target == nullptr ? 0 : od.maxsize / frameBytes;
    const std::uint32_t frames =
        captured ? std::min(inFrames, capacity)
                 : static_cast<std::uint32_t>(std::min<std::uint64_t>(out->requested, capacity));

    if (target != nullptr) {
        if (rt.block != nullptr) {
            AudioBuffer inBuffer{channels, inFrames * frameBytes, rt.cycle->data()};
            AudioBufferList inList{captured ? 1U : 0U, &inBuffer};
            AudioBuffer outBuffer{channels, frames * frameBytes, target};
            AudioBufferList outList{1, &outBuffer};
            const AudioTimeStamp now{};
            (*rt.block)(&now, &inList, &now, &outList, &now);
        } else {
            const std::uint32_t n = std::min(frames, inFrames);
            for (std::uint32_t i = 0; i < n * channels; ++i) {
                target[i] = std::clamp(source[i] * rt.heldGain, -1.0F, 1.0F);
            }
            std::fill(target + std::size_t{n} * channels, target + std::size_t{frames} * channels,
                      0.0F);
        }
        od.chunk->offset = 0;
        od.chunk->stride = static_cast<std::int32_t>(frameBytes);
        od.chunk->size = frames * frameBytes;
    }
    out->size = frames;
    pw_stream_queue_buffer(rt.playback, out);
}

} // namespace corvalle::pw
