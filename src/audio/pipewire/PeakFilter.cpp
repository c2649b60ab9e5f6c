#include "PeakFilter.h"

#include "PipeWireKeys.h"
#include "PwLoop.h"

#include <algorithm>
#include <cstring>
#include <pipewire/filter.h>
#include <pipewire/pipewire.h>

// The interface-call macros of PipeWire cast the C way.
#pragma GCC diagnostic ignored "-Wold-style-cast"

namespace corvalle::pw {

struct PeakFilter::Hook {
    spa_hook listener{};
};

PeakFilter::PeakFilter(ThreadLoop& loop, pw_core* core)
    : loop_(loop), core_(core), hook_(std::make_unique<Hook>()),
      slots_(std::make_unique<std::array<Slot, kMaxPorts>>()) {
    // No media class: nothing links it but us.
    pw_properties* props = pw_properties_new(
        keys::kMediaType, keys::kMediaTypeAudio, keys::kMediaCategory, keys::kMediaCategoryCapture,
        keys::kMediaName, keys::kOurMediaName, keys::kNodeName, keys::kLevelNodeName,
        keys::kAppName, keys::kOurAppName, keys::kNodeAutoconnect, "false", keys::kNodePassive,
        keys::kTrue, nullptr);
    filter_ = pw_filter_new(core, keys::kLevelNodeName, props);
    if (filter_ == nullptr) {
        return;
    }
    static const pw_filter_events events = [] {
        pw_filter_events e{};
        e.version = PW_VERSION_FILTER_EVENTS;
        e.process = &PeakFilter::onProcess;
        return e;
    }();
    pw_filter_add_listener(filter_, &hook_->listener, &events, this);
    if (pw_filter_connect(filter_, PW_FILTER_FLAG_RT_PROCESS, nullptr, 0) < 0) {
        pw_filter_destroy(filter_);
        filter_ = nullptr;
    }
}

PeakFilter::~PeakFilter() {
    if (filter_ == nullptr) {
        return;
    }
    for (auto& [portID, port] : measured_) {
        if (port.link != nullptr) {
            pw_proxy_destroy(port.link);
        }
    }
    // Destroying under the loop's lock also waits out a running callback.
    pw_filter_destroy(filter_);
}

void PeakFilter::setSlot(std::size_t slot, void* port) {
    struct Change {
        Slot* slot;
        void* port;
    } change{&(*slots_)[slot], port};
    pw_data_loop_invoke(
        loop_.dataLoop(),
        [](spa_loop*, bool, std::uint32_t, const void* payload, std::size_t, void*) {
            const auto* c = static_cast<const Change*>(payload);
            c->slot->port = c->port;
            return 0;
        },
        0, &change, sizeof(change), true, nullptr);
}

void PeakFilter::measure(std::uint32_t portID, std::uint32_t nodeID) {
    if (filter_ == nullptr || measured_.contains(portID)) {
        return;
    }
    std::size_t slot = 0;
    while (slot < kMaxPorts && (*slots_)[slot].port != nullptr) {
        ++slot;
    }
    if (slot == kMaxPorts) {
        return;
    }
    Measured port;
    port.slot = slot;
    port.nodeID = nodeID;
    port.name = "level_" + std::to_string(portID);
    pw_properties* props = pw_properties_new(keys::kFormatDSP, keys::kDSPMonoFloat, keys::kPortName,
                                             port.name.c_str(), nullptr);
    port.port = pw_filter_add_port(filter_, PW_DIRECTION_INPUT, PW_FILTER_PORT_FLAG_MAP_BUFFERS, 0,
                                   props, nullptr, 0);
    if (port.port == nullptr) {
        return;
    }
    (*slots_)[slot].peak.store(0.0F, std::memory_order_relaxed);
    setSlot(slot, port.port);
    measured_.emplace(portID, std::move(port));
}

void PeakFilter::forget(std::uint32_t portID) {
    const auto it = measured_.find(portID);
    if (it == measured_.end()) {
        return;
    }
    setSlot(it->second.slot, nullptr);
    if (it->second.link != nullptr) {
        pw_proxy_destroy(it->second.link);
    }
    pw_filter_remove_port(it->second.port);
    measured_.erase(it);
}

void PeakFilter::link(const GraphState& graph) {
    if (filter_ == nullptr) {
        return;
    }
    const std::uint32_t ownNode = pw_filter_get_node_id(filter_);
    if (ownNode == SPA_ID_INVALID) {
        return;
    }
    for (auto& [portID, port] : measured_) {
        if (port.link != nullptr) {
            continue;
        }
        for (const auto& [inputID, input] : graph.ports) {
            if (input.nodeID != ownNode || input.name != port.name) {
                continue;
            }
            const std::string outputNode = std::to_string(port.nodeID);
            const std::string outputPort = std::to_string(portID);
            const std::string inputNode = std::to_string(ownNode);
            const std::string inputPort = std::to_string(inputID);
            // Passive: it never keeps the measured stream running; not lingering:
            // it goes with us.
            pw_properties* props =
                pw_properties_new(keys::kLinkOutputNode, outputNode.c_str(), keys::kLinkOutputPort,
                                  outputPort.c_str(), keys::kLinkInputNode, inputNode.c_str(),
                                  keys::kLinkInputPort, inputPort.c_str(), keys::kLinkPassive,
                                  keys::kTrue, keys::kObjectLinger, "false", nullptr);
            port.link = static_cast<pw_proxy*>(
                pw_core_create_object(core_, keys::kLinkFactory, PW_TYPE_INTERFACE_Link,
                                      PW_VERSION_LINK, &props->dict, 0));
            pw_properties_free(props);
            break;
        }
    }
}

float PeakFilter::takePeak(std::uint32_t portID) {
    const auto it = measured_.find(portID);
    if (it == measured_.end()) {
        return 0.0F;
    }
    return (*slots_)[it->second.slot].peak.exchange(0.0F, std::memory_order_relaxed);
}

namespace {

// The largest magnitude of `count` samples; NaNs count as silence. Compared as
// bits, whose order is that of the magnitudes; as signed 32-bit integers (a
// magnitude has no sign bit) so that plain SSE2 compares vectorise it.
float loudestOf(const float* samples, std::uint32_t count) {
    constexpr std::int32_t kMagnitude = 0x7FFFFFFF;
    constexpr std::int32_t kInfinity = 0x7F800000;
    std::int32_t loudest = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::int32_t bits = 0;
        std::memcpy(&bits, samples + i, sizeof bits);
        bits &= kMagnitude;
        bits = bits > kInfinity ? 0 : bits;
        loudest = bits > loudest ? bits : loudest;
    }
    float peak = 0.0F;
    std::memcpy(&peak, &loudest, sizeof peak);
    return peak;
}

} // namespace

// Runs on the realtime thread: no allocation, lock, logging or blocking call;
// the main thread sees only the atomic peaks.
void PeakFilter::onProcess(void* data, spa_io_position* position) {
    auto* self = static_cast<PeakFilter*>(data);
    // A cycle far longer than any quantum is not one to read.
    constexpr std::uint64_t kMaxFrames = 65536;
    const std::uint64_t duration = position != nullptr ? position->clock.duration : 0;
    const auto frames = static_cast<std::uint32_t>(std::min(duration, kMaxFrames));
    if (const std::uint32_t rate = position != nullptr ? position->clock.rate.denom : 0; rate > 0) {
        self->cyclePeriod_.store(
            static_cast<std::uint32_t>(std::uint64_t{frames} * 1000000U / rate),
            std::memory_order_relaxed);
    }
    for (Slot& slot : *self->slots_) {
        if (slot.port == nullptr) {
            continue;
        }
        const auto* samples =
            static_cast<const float*>(pw_filter_get_dsp_buffer(slot.port, frames));
        if (samples == nullptr) {
            continue;
        }
        const float loudest = loudestOf(samples, frames);
        float held = slot.peak.load(std::memory_order_relaxed);
        while (loudest > held &&
               !slot.peak.compare_exchange_weak(held, loudest, std::memory_order_relaxed)) {
        }
    }
}

} // namespace corvalle::pw
