#pragma once

#include "AudioFormat.h"
#include "AudioHardware.h"
#include "OwnNode.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct pw_proxy;
struct spa_loop;

namespace corvalle::pw {

class Connection;
class ThreadLoop;

// The one graph node of a tap (an OwnNode): the session manager takes it for a
// sink (media.class Audio/Sink/Internal, named "Corvalle-<uuid>") and links
// the tapped streams to its input ports, its "capture" side; we link its output
// ports, its "playback" side, to the device, passively, so that the device
// still suspends when the tapped streams stop. Each cycle's sound goes through
// the IO block on its way from the inputs to the outputs, in the same graph
// cycle and with one wake-up of this process. Being no Audio/Sink, it is never
// elected a default and never listed as an output. The nodes of one tap share
// a node.group, so that they follow the same driver.
// Every member is used with the loop's lock held.
class TapNode {
public:
    // Either side: its node's state, and whether its outputs play to the device.
    using State = OwnNode::State;

    TapNode(ThreadLoop& loop, Connection& connection, std::string sinkName, std::string description,
            std::string group);
    ~TapNode();
    TapNode(const TapNode&) = delete;
    TapNode& operator=(const TapNode&) = delete;

    // The node carries `layout`, the channels of the device it plays to, so that
    // every channel reaches it as it would untapped.
    bool connectCapture(const ChannelLayout& layout);
    // From now on the output ports are linked to the device named `targetName`
    // (see linkOutputs). A device that goes away fails the playback side.
    bool connectPlayback(const std::string& targetName);
    // Links the output ports that are not linked to the device yet, and tells
    // whether the device is still there; for every change of ports, links or
    // devices.
    void linkOutputs();

    const std::string& sinkName() const { return sinkName_; }
    std::uint32_t captureNodeID() const;
    // Our node's id while its outputs play to a device: the output end of the
    // links that carry the tap.
    std::uint32_t playbackNodeID() const;
    State captureState() const;
    State playbackState() const { return playbackState_; }
    bool hasPlayback() const { return target_.has_value(); }
    std::chrono::steady_clock::time_point createdAt() const { return createdAt_; }

    // Called on the loop thread whenever either side changes state.
    void setStateListener(std::function<void()> listener) { stateListener_ = std::move(listener); }

    // The IO block runs from the next cycle on; null stops it. While stopped the
    // node keeps playing the tapped sound at the gain the block last applied,
    // which it reads from `appliedGain` (where the block publishes it) once the
    // block has run its last cycle, so handing the streams back to their
    // device leaves no gap.
    void runBlock(const AudioDeviceIOBlock* block, const std::atomic<float>* appliedGain = nullptr);
    // Unlinks the outputs from the device (the realtime side lets go of the
    // block first).
    void destroyPlayback();
    // Removes the node; safe to repeat.
    void destroy();

private:
    struct Realtime;
    struct OutputLink {
        std::uint32_t portID = 0;
        pw_proxy* proxy = nullptr;
    };
    static void onProcess(void* user, const OwnNodeCycle& cycle);
    void setPlaybackState(State state);
    void invoke(int (*function)(spa_loop*, bool, std::uint32_t, const void*, std::size_t, void*),
                const void* payload, std::size_t size);

    ThreadLoop& loop_;
    Connection& connection_;
    std::string sinkName_;
    std::string description_;
    std::string group_;
    std::unique_ptr<Realtime> rt_;
    std::unique_ptr<OwnNode> node_;
    std::optional<std::string> target_;
    std::vector<OutputLink> links_;
    State playbackState_ = State::connecting;
    std::function<void()> stateListener_;
    std::chrono::steady_clock::time_point createdAt_ = std::chrono::steady_clock::now();
};

} // namespace corvalle::pw
