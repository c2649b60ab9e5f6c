#pragma once

#include "AudioFormat.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <spa/param/audio/raw.h>

struct pw_core;
struct pw_properties;

namespace corvalle::pw {

// One cycle of an OwnNode, handed to its realtime function: `frames` samples on
// each of `channels` channels. An input that brought nothing this cycle is
// null (silence), as is an output that nothing takes.
struct OwnNodeCycle {
    std::uint32_t frames = 0;
    std::uint32_t channels = 0;
    std::array<const float*, SPA_AUDIO_MAX_CHANNELS> inputs{};
    std::array<float*, SPA_AUDIO_MAX_CHANNELS> outputs{};
};

// A graph node of our own, made in this process and exported to the server:
// one mono DSP input and one mono DSP output port per channel of its layout,
// and a realtime function that turns each cycle's inputs into its outputs. The
// session manager takes it for an adapter, as it takes a sink: it finds the
// node's format, asks for its ports with PortConfig and links streams to the
// input ports; the output ports are ours to link. Sound that goes in comes out
// in the same graph cycle, and the node wakes this process once per cycle.
//
// Every member but the realtime function is used with the loop's lock held;
// the server calls the node on the loop thread, and its process step on the
// data loop's thread.
class OwnNode {
public:
    enum class State {
        connecting, // exported: waits for its id and for its ports to be asked for
        ready,      // on the server, with its ports
        failed,     // refused, removed, or its connection is gone
    };
    // Runs on the data loop's thread for every graph cycle the node is in.
    using Process = void (*)(void* user, const OwnNodeCycle& cycle);

    OwnNode(const ChannelLayout& layout, Process process, void* user);
    ~OwnNode();
    OwnNode(const OwnNode&) = delete;
    OwnNode& operator=(const OwnNode&) = delete;

    // Exports the node with `props` (taken over); false when the server
    // cannot be asked.
    bool exportTo(pw_core* core, pw_properties* props);
    // Removes the node from the server; its process step has run for the last
    // time when this returns. Safe to repeat.
    void destroy();

    State state() const { return state_; }
    // The node's global id, once the server has given it.
    std::uint32_t nodeID() const { return nodeID_; }
    const ChannelLayout& layout() const { return layout_; }

    // Called on the loop thread whenever state() changes.
    void setStateListener(std::function<void()> listener) { stateListener_ = std::move(listener); }

    // The SPA node and its ports, opaque here.
    struct Impl;

private:
    void setState(State state);

    ChannelLayout layout_;
    State state_ = State::connecting;
    std::uint32_t nodeID_;
    std::function<void()> stateListener_;
    std::unique_ptr<Impl> impl_;
};

} // namespace corvalle::pw
