#include "SinkFilterRig.h"

#include <algorithm>
#include <pipewire/filter.h>
#include <pipewire/pipewire.h>

namespace corvalle::bench {

namespace {
constexpr std::array<const char*, 2> kChannels{"FL", "FR"};
} // namespace

struct SinkFilterRig::Hook {
    spa_hook listener{};
};

std::string SinkFilterRig::sinkName(std::size_t application) {
    return kSinkNamePrefix + std::to_string(application);
}

std::string SinkFilterRig::filterName() {
    return "bench-filter";
}

SinkFilterRig::SinkFilterRig(std::size_t applications, float gain)
    : applications_(std::min(applications, kMaxApplications)), gain_(gain) {
    loop_ = pw_thread_loop_new("bench-filter", nullptr);
    if (loop_ == nullptr) {
        return;
    }
    context_ = pw_context_new(pw_thread_loop_get_loop(loop_), nullptr, 0);
    if (context_ == nullptr || pw_thread_loop_start(loop_) < 0) {
        return;
    }
    pw_thread_loop_lock(loop_);
    core_ = pw_context_connect(context_, nullptr, 0);
    if (core_ != nullptr) {
        for (std::size_t i = 0; i < applications_; ++i) {
            pw_properties* props =
                pw_properties_new(SPA_KEY_FACTORY_NAME, "support.null-audio-sink", PW_KEY_NODE_NAME,
                                  sinkName(i).c_str(), PW_KEY_MEDIA_CLASS, "Audio/Sink",
                                  "audio.position", "[ FL FR ]", nullptr);
            auto* sink = static_cast<pw_proxy*>(pw_core_create_object(
                core_, "adapter", PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, &props->dict, 0));
            pw_properties_free(props);
            if (sink != nullptr) {
                sinks_.push_back(sink);
            }
        }
        static const pw_filter_events events = [] {
            pw_filter_events e{};
            e.version = PW_VERSION_FILTER_EVENTS;
            e.process = &SinkFilterRig::onProcess;
            return e;
        }();
        filter_ = pw_filter_new(core_, filterName().c_str(),
                                pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY,
                                                  "Filter", PW_KEY_NODE_NAME, filterName().c_str(),
                                                  nullptr));
        if (filter_ != nullptr) {
            hook_ = std::make_unique<Hook>();
            pw_filter_add_listener(filter_, &hook_->listener, &events, this);
            for (std::size_t i = 0; i < applications_ * 2; ++i) {
                const std::string suffix = std::to_string(i / 2) + "_" + kChannels.at(i % 2);
                const auto port = [&](pw_direction direction, const std::string& name) {
                    return pw_filter_add_port(
                        filter_, direction, PW_FILTER_PORT_FLAG_MAP_BUFFERS, 0,
                        pw_properties_new(PW_KEY_FORMAT_DSP, "32 bit float mono audio",
                                          PW_KEY_PORT_NAME, name.c_str(), nullptr),
                        nullptr, 0);
                };
                in_.at(i) = port(PW_DIRECTION_INPUT, "in_" + suffix);
                out_.at(i) = port(PW_DIRECTION_OUTPUT, "out_" + suffix);
            }
            if (pw_filter_connect(filter_, PW_FILTER_FLAG_RT_PROCESS, nullptr, 0) < 0) {
                spa_hook_remove(&hook_->listener);
                pw_filter_destroy(filter_);
                filter_ = nullptr;
            }
        }
    }
    pw_thread_loop_unlock(loop_);
}

SinkFilterRig::~SinkFilterRig() {
    if (loop_ == nullptr) {
        return;
    }
    pw_thread_loop_lock(loop_);
    if (filter_ != nullptr) {
        spa_hook_remove(&hook_->listener);
        pw_filter_destroy(filter_);
        filter_ = nullptr;
    }
    hook_.reset();
    for (pw_proxy* sink : sinks_) {
        pw_proxy_destroy(sink);
    }
    sinks_.clear();
    if (core_ != nullptr) {
        pw_core_disconnect(core_);
        core_ = nullptr;
    }
    pw_thread_loop_unlock(loop_);
    pw_thread_loop_stop(loop_);
    if (context_ != nullptr) {
        pw_context_destroy(context_);
    }
    pw_thread_loop_destroy(loop_);
    loop_ = nullptr;
}

void SinkFilterRig::onProcess(void* data, spa_io_position* position) {
    // Realtime thread: no allocation, lock, logging or blocking call in here.
    auto* self = static_cast<SinkFilterRig*>(data);
    const auto frames = static_cast<std::uint32_t>(position->clock.duration);
    for (std::size_t i = 0; i < self->applications_ * 2; ++i) {
        const auto* in =
            static_cast<const float*>(pw_filter_get_dsp_buffer(self->in_.at(i), frames));
        auto* out = static_cast<float*>(pw_filter_get_dsp_buffer(self->out_.at(i), frames));
        if (out == nullptr) {
            continue;
        }
        if (in == nullptr) {
            std::fill(out, out + frames, 0.0F);
            continue;
        }
        std::transform(in, in + frames, out, [gain = self->gain_](float s) { return s * gain; });
    }
}

} // namespace corvalle::bench
