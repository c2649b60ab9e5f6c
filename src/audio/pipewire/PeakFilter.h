#pragma once

#include "GraphState.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

struct pw_core;
struct pw_filter;
struct pw_proxy;
struct spa_io_position;

namespace corvalle::pw {

class ThreadLoop;

// Measures how loud output ports of other nodes are, all in one node of ours:
// a filter with one mono input port per measured port, each linked to it
// passively. One node, whatever the number of ports, keeps the cost to one
// wakeup per graph cycle. Made only while a view shows levels; it has no media
// class, so the session manager never links it on its own (to a microphone
// least of all) and no client lists it as a recording. Every member except the
// realtime callback is used with the loop's lock held.
class PeakFilter {
public:
    // Ports measured at most: 64 stereo streams.
    static constexpr std::size_t kMaxPorts = 128;

    PeakFilter(ThreadLoop& loop, pw_core* core);
    ~PeakFilter();
    PeakFilter(const PeakFilter&) = delete;
    PeakFilter& operator=(const PeakFilter&) = delete;

    bool isValid() const { return filter_ != nullptr; }

    // Measures output port `portID` (a global id) of node `nodeID`; no-op when
    // measured already or when every slot is taken.
    void measure(std::uint32_t portID, std::uint32_t nodeID);
    // Stops measuring the port; its link goes with our input port.
    void forget(std::uint32_t portID);
    bool measures(std::uint32_t portID) const { return measured_.contains(portID); }
    template <typename Visit> void forEachMeasured(Visit visit) const {
        for (const auto& [portID, port] : measured_) {
            visit(portID);
        }
    }

    // Links measured ports whose input port the registry now shows.
    void link(const GraphState& graph);
    // The largest magnitude at `portID` since the last call, 1 being full scale.
    float takePeak(std::uint32_t portID);
    // The period of the last cycle in microseconds, 0 before the first.
    std::uint32_t cyclePeriod() const { return cyclePeriod_.load(std::memory_order_relaxed); }

private:
    struct Slot {
        void* port = nullptr; // set and cleared on the realtime thread, between cycles
        std::atomic<float> peak{0.0F};
    };
    struct Measured {
        std::size_t slot = 0;
        std::uint32_t nodeID = 0;
        void* port = nullptr;
        std::string name;
        pw_proxy* link = nullptr;
    };
    struct Hook;
    static void onProcess(void* data, spa_io_position* position);
    void setSlot(std::size_t slot, void* port);

    ThreadLoop& loop_;
    pw_core* core_;
    pw_filter* filter_ = nullptr;
    std::unique_ptr<Hook> hook_;
    std::unique_ptr<std::array<Slot, kMaxPorts>> slots_;
    std::map<std::uint32_t, Measured> measured_;
    std::atomic<std::uint32_t> cyclePeriod_{0};
};

} // namespace corvalle::pw
