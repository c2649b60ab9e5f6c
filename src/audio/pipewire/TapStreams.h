#pragma once

#include "AudioFormat.h"
#include "AudioHardware.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct pw_core;
struct pw_properties;
struct pw_stream;
struct spa_loop;

namespace corvalle::pw {

class ThreadLoop;

// The two streams of one tap: a capture stream that the session manager can
// link streams to (media.class Audio/Sink/Internal, named "Corvalle-<uuid>"),
// into which the tapped streams are moved, and a playback stream to the output
// device. Being no Audio/Sink, the capture side is never elected a default and
// never listed as an output. Both share one node.group, so they follow the same
// driver, and one node.link-group, so the playback side runs whenever the
// capture side does. The capture side copies each cycle's sound and triggers
// the playback side, whose callback runs the IO block in the same graph cycle.
// Every member is used with the loop's lock held.
class TapStreams {
public:
    enum class State { connecting, ready, failed };

    TapStreams(ThreadLoop& loop, pw_core* core, std::string sinkName, std::string description,
               std::string group);
    ~TapStreams();
    TapStreams(const TapStreams&) = delete;
    TapStreams& operator=(const TapStreams&) = delete;

    // Both streams carry `layout`, the channels of the device the playback side
    // plays to, so that every channel reaches it as it would untapped.
    bool connectCapture(const ChannelLayout& layout);
    bool connectPlayback(const std::string& targetName, const std::string& nodeName,
                         const std::string& description);

    const std::string& sinkName() const { return sinkName_; }
    std::uint32_t captureNodeID() const;
    std::uint32_t playbackNodeID() const;
    State captureState() const;
    State playbackState() const;
    bool hasPlayback() const { return playback_ != nullptr; }
    std::chrono::steady_clock::time_point createdAt() const { return createdAt_; }

    // Called on the loop thread whenever either stream changes state.
    void setStateListener(std::function<void()> listener) { stateListener_ = std::move(listener); }

    // The IO block runs from the next cycle on; null stops it. While stopped the
    // playback side keeps playing the tapped sound at the gain the block last
    // applied, which it reads from `appliedGain` (where the block publishes it)
    // once the block has run its last cycle, so handing the streams back to
    // their device leaves no gap.
    void runBlock(const AudioDeviceIOBlock* block, const std::atomic<float>* appliedGain = nullptr);
    // Removes the playback stream (the realtime side lets go of it first).
    void destroyPlayback();
    // Removes both streams; safe to repeat.
    void destroy();

private:
    struct Realtime;
    struct Hooks;
    enum class Side { capture, playback };
    struct StreamHandle;
    // Makes the stream of `side` from `props`, connects it and hands it to the
    // data thread.
    bool connectStream(Side side, pw_properties* props);
    static void onCaptureProcess(void* data);
    static void onPlaybackProcess(void* data);
    static void onCaptureState(void* data, int oldState, int state, const char* error);
    static void onPlaybackState(void* data, int oldState, int state, const char* error);
    void invoke(int (*function)(spa_loop*, bool, std::uint32_t, const void*, std::size_t, void*),
                const void* payload, std::size_t size);

    ThreadLoop& loop_;
    pw_core* core_;
    std::string sinkName_;
    std::string description_;
    std::string group_;
    ChannelLayout layout_ = stereoLayout();
    pw_stream* capture_ = nullptr;
    pw_stream* playback_ = nullptr;
    State captureState_ = State::connecting;
    State playbackState_ = State::connecting;
    std::unique_ptr<Hooks> hooks_;
    std::unique_ptr<Realtime> rt_;
    std::function<void()> stateListener_;
    std::chrono::steady_clock::time_point createdAt_ = std::chrono::steady_clock::now();
};

} // namespace corvalle::pw
