#include "PeakStream.h"

#include "PipeWireKeys.h"
#include "StereoFormat.h"

#include <cmath>
#include <pipewire/pipewire.h>

// The interface-call macros of PipeWire cast the C way.
#pragma GCC diagnostic ignored "-Wold-style-cast"

namespace corvalle::pw {

struct PeakStream::Hook {
    spa_hook listener{};
};

PeakStream::PeakStream(pw_core* core, std::uint32_t nodeID, const std::string& targetSerial)
    : nodeID_(nodeID), hook_(std::make_unique<Hook>()) {
    const std::string nodeName = std::string(keys::kLevelNodePrefix) + std::to_string(nodeID);
    // Passive and never moved elsewhere: it neither keeps the stream running nor
    // ever measures anything but that stream (a microphone least of all).
    pw_properties* props = pw_properties_new(
        keys::kMediaType, keys::kMediaTypeAudio, keys::kMediaCategory, keys::kMediaCategoryCapture,
        keys::kMediaName, keys::kOurMediaName, keys::kNodeName, nodeName.c_str(), keys::kAppName,
        keys::kOurAppName, keys::kTargetObject, targetSerial.c_str(), keys::kStreamMonitor,
        keys::kTrue, keys::kResamplePeaks, keys::kTrue, keys::kNodePassive, keys::kTrue,
        keys::kNodeDontReconnect, keys::kTrue, nullptr);
    stream_ = pw_stream_new(core, keys::kOurMediaName, props);
    if (stream_ == nullptr) {
        return;
    }
    static const pw_stream_events events = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.process = &PeakStream::onProcess;
        return e;
    }();
    pw_stream_add_listener(stream_, &hook_->listener, &events, this);
    std::uint8_t buffer[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    const spa_pod* params[1] = {stereoFormat(&builder, kPeakRate)};
    const auto flags = static_cast<pw_stream_flags>(
        PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS);
    if (pw_stream_connect(stream_, PW_DIRECTION_INPUT, PW_ID_ANY, flags, params, 1) < 0) {
        pw_stream_destroy(stream_);
        stream_ = nullptr;
    }
}

PeakStream::~PeakStream() {
    if (stream_ != nullptr) {
        // Destroying under the loop's lock also waits out a running callback.
        pw_stream_destroy(stream_);
    }
}

float PeakStream::takePeak() {
    return peak_.exchange(0.0F, std::memory_order_relaxed);
}

// Runs on the realtime thread: no allocation, lock, logging or blocking call;
// the main thread sees only the atomic peak.
void PeakStream::onProcess(void* data) {
    auto* self = static_cast<PeakStream*>(data);
    pw_buffer* buffer = pw_stream_dequeue_buffer(self->stream_);
    if (buffer == nullptr) {
        return;
    }
    float loudest = 0.0F;
    const spa_buffer* b = buffer->buffer;
    if (b->n_datas > 0 && b->datas[0].data != nullptr && b->datas[0].chunk != nullptr) {
        const spa_data& d = b->datas[0];
        const std::uint32_t offset = std::min(d.chunk->offset, d.maxsize);
        const std::uint32_t size = std::min(d.chunk->size, d.maxsize - offset);
        const auto* samples =
            reinterpret_cast<const float*>(static_cast<const std::uint8_t*>(d.data) + offset);
        for (std::uint32_t i = 0; i < size / sizeof(float); ++i) {
            const float magnitude = std::fabs(samples[i]);
            // A NaN fails the comparison and counts as silence.
            loudest = magnitude > loudest ? magnitude : loudest;
        }
    }
    pw_stream_queue_buffer(self->stream_, buffer);
    float held = self->peak_.load(std::memory_order_relaxed);
    while (loudest > held &&
           !self->peak_.compare_exchange_weak(held, loudest, std::memory_order_relaxed)) {
    }
}

} // namespace corvalle::pw
