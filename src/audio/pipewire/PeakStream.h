#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

struct pw_core;
struct pw_stream;

namespace corvalle::pw {

// Measures how loud one playback stream node is: a passive capture stream
// linked to the node's output, at a very low rate with PipeWire's peak-detecting
// resampler, so each graph cycle hands over a sample or two that are already the
// cycle's peaks. Used only while a view shows levels. Every member except the
// realtime callback is used with the loop's lock held.
class PeakStream {
public:
    // Peaks per second the resampler delivers; the graph's rate is divided down.
    static constexpr std::uint32_t kPeakRate = 50;

    PeakStream(pw_core* core, std::uint32_t nodeID, const std::string& targetSerial);
    ~PeakStream();
    PeakStream(const PeakStream&) = delete;
    PeakStream& operator=(const PeakStream&) = delete;

    bool isValid() const { return stream_ != nullptr; }
    std::uint32_t nodeID() const { return nodeID_; }
    // The largest magnitude since the last call, 1 being full scale.
    float takePeak();

private:
    struct Hook;
    static void onProcess(void* data);

    std::uint32_t nodeID_;
    pw_stream* stream_ = nullptr;
    std::unique_ptr<Hook> hook_;
    std::atomic<float> peak_{0.0F};
};

} // namespace corvalle::pw
