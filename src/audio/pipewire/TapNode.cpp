#include "TapNode.h"

#include "PipeWireKeys.h"
#include "PwConnection.h"
#include "PwLoop.h"

#include <algorithm>
#include <array>
#include <optional>
#include <pipewire/pipewire.h>
#include <sys/mman.h>
#include <vector>

// The interface-call macros of PipeWire cast the C way.
#pragma GCC diagnostic ignored "-Wold-style-cast"

namespace corvalle::pw {

namespace {

constexpr float kMaxHoldGain = 4.0F;
// The longest graph cycle a tap carries (PipeWire's default quantum limit).
constexpr std::uint32_t kMaxCycleFrames = 8192;
// Layouts up to stereo reach the IO block as one buffer per channel, which it
// takes as a stream and as outputs; wider ones are interleaved for it.
constexpr std::uint32_t kSplitChannels = 2;

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

// The held gain, clamped, from each input buffer to the output buffer of the
// same place; silence where there is no input. Realtime-safe.
void playHeld(const AudioBufferList& input, const AudioBufferList& output, float gain) {
    for (std::uint32_t b = 0; b < output.numberBuffers; ++b) {
        const AudioBuffer& target = output.buffers[b];
        const auto* source =
            b < input.numberBuffers ? static_cast<const float*>(input.buffers[b].data) : nullptr;
        auto* samples = static_cast<float*>(target.data);
        const std::size_t count = target.dataByteSize / sizeof(float);
        for (std::size_t i = 0; i < count; ++i) {
            samples[i] = source != nullptr ? std::clamp(source[i] * gain, -1.0F, 1.0F) : 0.0F;
        }
    }
}

} // namespace

// Touched only on the data loop's thread, or by invoke() while that thread waits.
struct TapNode::Realtime {
    const AudioDeviceIOBlock* block = nullptr;
    // The gain played at while no block runs: the one the block applied last.
    float heldGain = 0.0F;
    std::uint32_t channels = 2;
    // Room for one cycle of every channel: a wide layout's sound, interleaved for
    // the IO block on its way in and out; else silence for an input no one
    // feeds and a place for an output no one takes.
    std::optional<MappedSamples> in;
    std::optional<MappedSamples> out;
};

TapNode::TapNode(ThreadLoop& loop, Connection& connection, std::string sinkName,
                 std::string description, std::string group)
    : loop_(loop), connection_(connection), sinkName_(std::move(sinkName)),
      description_(std::move(description)), group_(std::move(group)),
      rt_(std::make_unique<Realtime>()) {}

TapNode::~TapNode() {
    destroy();
}

void TapNode::invoke(int (*function)(spa_loop*, bool, std::uint32_t, const void*, std::size_t,
                                     void*),
                     const void* payload, std::size_t size) {
    pw_data_loop_invoke(loop_.dataLoop(), function, 0, payload, size, true, rt_.get());
}

bool TapNode::connectCapture(const ChannelLayout& layout) {
    if (node_) {
        return false;
    }
    node_ = std::make_unique<OwnNode>(layout, &TapNode::onProcess, rt_.get());
    // Not yet handed to the data thread, so set here without invoke().
    rt_->channels = static_cast<std::uint32_t>(node_->layout().size());
    rt_->in.emplace(std::size_t{kMaxCycleFrames} * rt_->channels);
    rt_->out.emplace(std::size_t{kMaxCycleFrames} * rt_->channels);
    node_->setStateListener([this] {
        pw_thread_loop_signal(loop_.threadLoop(), false);
        if (stateListener_) {
            stateListener_();
        }
    });
    pw_properties* props = pw_properties_new(
        keys::kMediaType, keys::kMediaTypeAudio, keys::kMediaCategory, keys::kMediaCategoryCapture,
        keys::kMediaClass, keys::kClassOurSink, keys::kMediaName, keys::kOurMediaName,
        keys::kNodeName, sinkName_.c_str(), keys::kNodeDescription, description_.c_str(),
        keys::kNodeGroup, group_.c_str(), keys::kNodeLinkGroup, group_.c_str(), keys::kNodeVirtual,
        keys::kTrue, keys::kAppName, keys::kOurAppName, nullptr);
    // PipeWire 1.x lets the device suspend while the tapped streams pause only
    // when the node itself asks for passive output links; 0.3 reads "out" as
    // false and goes by the links' own flag.
    pw_properties_set(props, keys::kNodePassive, keys::kPassiveOutputs);
    return node_->exportTo(connection_.core(), props);
}

bool TapNode::connectPlayback(const std::string& targetName) {
    if (!node_ || node_->state() == OwnNode::State::failed || target_) {
        return false;
    }
    target_ = targetName;
    playbackState_ = State::connecting;
    linkOutputs();
    return true;
}

void TapNode::linkOutputs() {
    if (!target_ || !node_ || node_->state() != OwnNode::State::ready ||
        playbackState_ == State::failed) {
        return;
    }
    const GraphState& graph = connection_.graph();
    const NodeRecord* device = graph.deviceByName(*target_);
    if (device == nullptr) {
        // Played to a device that went: as a stream that does not follow others.
        if (playbackState_ == State::ready) {
            setPlaybackState(State::failed);
        }
        return;
    }
    // Linked once, the links stay ours until the device goes.
    if (playbackState_ == State::ready) {
        return;
    }
    const std::uint32_t nodeID = node_->nodeID();
    std::size_t outputs = 0;
    bool linked = true;
    for (const auto& [portID, port] : graph.ports) {
        if (port.nodeID != nodeID || !port.isOutput) {
            continue;
        }
        // Our layout is the device's own: the same channels, in the same order.
        const std::optional<std::uint32_t> devicePort =
            graph.inputPortFor(device->id, port.channel, outputs++);
        if (!devicePort) {
            continue;
        }
        const std::uint32_t outputPortID = portID;
        const std::uint32_t inputPortID = *devicePort;
        const bool present =
            std::any_of(graph.links.begin(), graph.links.end(), [&](const auto& entry) {
                return entry.second.outputPortID == outputPortID &&
                       entry.second.inputPortID == inputPortID;
            });
        if (present) {
            continue;
        }
        linked = false;
        const bool asked = std::any_of(links_.begin(), links_.end(), [&](const OutputLink& link) {
            return link.portID == outputPortID;
        });
        if (!asked) {
            if (pw_proxy* proxy = connection_.createLink(outputPortID, inputPortID, false, true)) {
                links_.push_back(OutputLink{outputPortID, proxy});
            }
        }
    }
    if (outputs > 0 && linked) {
        setPlaybackState(State::ready);
    }
}

void TapNode::setPlaybackState(State state) {
    if (playbackState_ == state) {
        return;
    }
    playbackState_ = state;
    pw_thread_loop_signal(loop_.threadLoop(), false);
    if (stateListener_) {
        stateListener_();
    }
}

std::uint32_t TapNode::captureNodeID() const {
    return node_ ? node_->nodeID() : SPA_ID_INVALID;
}

std::uint32_t TapNode::playbackNodeID() const {
    return target_ ? captureNodeID() : SPA_ID_INVALID;
}

TapNode::State TapNode::captureState() const {
    return node_ ? node_->state() : State::connecting;
}

void TapNode::runBlock(const AudioDeviceIOBlock* block, const std::atomic<float>* appliedGain) {
    if (!node_) {
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

void TapNode::destroyPlayback() {
    if (!target_) {
        return;
    }
    if (node_) {
        invoke(
            [](spa_loop*, bool, std::uint32_t, const void*, std::size_t, void* user) {
                static_cast<Realtime*>(user)->block = nullptr;
                return 0;
            },
            nullptr, 0);
    }
    for (const OutputLink& link : links_) {
        pw_proxy_destroy(link.proxy);
    }
    links_.clear();
    target_.reset();
    playbackState_ = State::connecting;
}

void TapNode::destroy() {
    destroyPlayback();
    if (node_) {
        node_->setStateListener(nullptr);
        node_->destroy();
        node_.reset();
    }
}

void TapNode::onProcess(void* user, const OwnNodeCycle& cycle) {
    // Realtime thread: no allocation, lock, logging or blocking call in here.
    Realtime& rt = *static_cast<Realtime*>(user);
    const std::uint32_t channels = std::min(cycle.channels, rt.channels);
    const bool playing = std::any_of(cycle.outputs.begin(), cycle.outputs.begin() + channels,
                                     [](const float* output) { return output != nullptr; });
    if (!playing || !rt.in || !rt.out || rt.in->data() == nullptr || rt.out->data() == nullptr) {
        return;
    }
    const bool captured = std::any_of(cycle.inputs.begin(), cycle.inputs.begin() + channels,
                                      [](const float* input) { return input != nullptr; });
    const std::uint32_t frames = std::min(cycle.frames, kMaxCycleFrames);
    float* in = rt.in->data();
    float* out = rt.out->data();
    std::array<AudioBuffer, kSplitChannels> inBuffers{};
    std::array<AudioBuffer, kSplitChannels> outBuffers{};
    AudioBufferList inList{0, inBuffers.data()};
    AudioBufferList outList{1, outBuffers.data()};
    const bool split = channels <= kSplitChannels;
    if (split) {
        // The ports' own buffers, one per channel, go to the block as they are.
        const std::uint32_t bytes = frames * static_cast<std::uint32_t>(sizeof(float));
        for (std::uint32_t c = 0; c < channels; ++c) {
            // Without any input the block is given none, so no silence is made.
            const float* source = cycle.inputs[c];
            if (source == nullptr && captured) {
                std::fill_n(in + std::size_t{c} * frames, frames, 0.0F);
                source = in + std::size_t{c} * frames;
            }
            float* target = cycle.outputs[c];
            if (target == nullptr) {
                target = out + std::size_t{c} * frames;
            }
            // The block only reads its input.
            inBuffers[c] = AudioBuffer{1, bytes, const_cast<float*>(source)};
            outBuffers[c] = AudioBuffer{1, bytes, target};
        }
        inList.numberBuffers = captured ? channels : 0U;
        outList.numberBuffers = channels;
    } else {
        for (std::uint32_t c = 0; c < channels; ++c) {
            const float* source = cycle.inputs[c];
            for (std::uint32_t f = 0; f < frames; ++f) {
                in[std::size_t{f} * channels + c] = source != nullptr ? source[f] : 0.0F;
            }
        }
        const std::uint32_t bytes = frames * channels * static_cast<std::uint32_t>(sizeof(float));
        inBuffers[0] = AudioBuffer{channels, bytes, in};
        outBuffers[0] = AudioBuffer{channels, bytes, out};
        inList.numberBuffers = captured ? 1U : 0U;
    }
    if (rt.block != nullptr) {
        const AudioTimeStamp now{};
        (*rt.block)(&now, &inList, &now, &outList, &now);
    } else {
        playHeld(inList, outList, rt.heldGain);
    }
    if (split) {
        return;
    }
    for (std::uint32_t c = 0; c < channels; ++c) {
        float* target = cycle.outputs[c];
        if (target == nullptr) {
            continue;
        }
        for (std::uint32_t f = 0; f < frames; ++f) {
            target[f] = out[std::size_t{f} * channels + c];
        }
    }
}

} // namespace corvalle::pw
