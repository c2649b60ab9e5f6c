#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

struct pw_context;
struct pw_core;
struct pw_filter;
struct pw_proxy;
struct pw_thread_loop;
struct spa_io_position;

namespace corvalle::bench {

// The other way to carry applications through a mixer: a null sink per
// application made inside the server, and one filter node of this process whose
// input and output port pairs (one pair per application) scale by `gain`. The
// streams wake this process once per graph cycle instead of twice per
// application. Linking is left to the caller, by the names below.
class SinkFilterRig {
public:
    static constexpr std::size_t kMaxApplications = 32;
    static constexpr const char* kSinkNamePrefix = "bench-sink-";

    SinkFilterRig(std::size_t applications, float gain);
    ~SinkFilterRig();
    SinkFilterRig(const SinkFilterRig&) = delete;
    SinkFilterRig& operator=(const SinkFilterRig&) = delete;

    bool isValid() const { return filter_ != nullptr; }
    static std::string sinkName(std::size_t application);
    static std::string filterName();

private:
    static void onProcess(void* data, spa_io_position* position);

    std::size_t applications_;
    float gain_;
    pw_thread_loop* loop_ = nullptr;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
    std::vector<pw_proxy*> sinks_;
    pw_filter* filter_ = nullptr;
    struct Hook;
    std::unique_ptr<Hook> hook_;
    // In and out ports of each application's two channels.
    std::array<void*, kMaxApplications * 2> in_{};
    std::array<void*, kMaxApplications * 2> out_{};
};

} // namespace corvalle::bench
