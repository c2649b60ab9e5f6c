#include "PwTestKit.h"

#include "CA.h"

#include <cstdlib>
#include <filesystem>
#include <pipewire/pipewire.h>
#include <thread>

// The interface-call macros of PipeWire cast the C way.
#pragma GCC diagnostic ignored "-Wold-style-cast"

namespace corvalle::test {

MainThreadPoster TaskQueue::poster() {
    std::weak_ptr<Shared> weak = shared_;
    return [weak](std::function<void()> task) {
        if (auto shared = weak.lock()) {
            std::lock_guard<std::mutex> lock(shared->mutex);
            shared->tasks.push_back(std::move(task));
        }
    };
}

void TaskQueue::drain() {
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard<std::mutex> lock(shared_->mutex);
            if (shared_->tasks.empty()) {
                return;
            }
            task = std::move(shared_->tasks.front());
            shared_->tasks.pop_front();
        }
        task();
    }
}

double toDB(double linear) {
    return linear <= 1e-10 ? -200.0 : 20.0 * std::log10(linear);
}

namespace {
void connectLayout(pw_stream* stream, bool input, std::uint32_t flags,
                   const pw::ChannelLayout& layout) {
    std::uint8_t buffer[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    const spa_pod* params[1] = {pw::audioFormat(&builder, layout, 48000)};
    pw_stream_connect(stream, input ? PW_DIRECTION_INPUT : PW_DIRECTION_OUTPUT, PW_ID_ANY,
                      static_cast<pw_stream_flags>(flags), params, 1);
}
} // namespace

void connectStereo(pw_stream* stream, bool input, std::uint32_t flags) {
    connectLayout(stream, input, flags, pw::stereoLayout());
}

Level levelOf(const std::vector<float>& samples) {
    Level level;
    double sumSquares = 0.0;
    for (const float x : samples) {
        sumSquares += static_cast<double>(x) * x;
        level.peak = std::max(level.peak, static_cast<double>(std::fabs(x)));
    }
    if (!samples.empty()) {
        level.rmsDB = toDB(std::sqrt(sumSquares / static_cast<double>(samples.size())));
    }
    return level;
}

struct MonitorMeter::State {
    std::size_t channels = 2;
    bool recording = false;
    std::vector<float> recorded; // every channel, interleaved
};

void MonitorMeter::onProcess(void* data) {
    auto* self = static_cast<MonitorMeter*>(data);
    pw_buffer* buffer = pw_stream_dequeue_buffer(self->stream_);
    if (buffer == nullptr) {
        return;
    }
    const spa_data& d = buffer->buffer->datas[0];
    if (self->state_->recording && d.data != nullptr && d.chunk != nullptr) {
        const auto* samples = reinterpret_cast<const float*>(
            static_cast<const std::uint8_t*>(d.data) + d.chunk->offset);
        const std::size_t channels = self->state_->channels;
        const std::size_t count = d.chunk->size / sizeof(float) / channels * channels;
        self->state_->recorded.insert(self->state_->recorded.end(), samples, samples + count);
    }
    pw_stream_queue_buffer(self->stream_, buffer);
}

MonitorMeter::MonitorMeter(const std::string& deviceName, const pw::ChannelLayout& layout)
    : state_(std::make_unique<State>()) {
    state_->channels = layout.size();
    pw_init(nullptr, nullptr);
    loop_ = pw_thread_loop_new("meter", nullptr);
    pw_thread_loop_lock(loop_);
    pw_thread_loop_start(loop_);
    // Named for its device, so that a graph with several meters reads plainly.
    const std::string nodeName = "test-meter-" + deviceName;
    pw_properties* props = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_TARGET_OBJECT,
        deviceName.c_str(), PW_KEY_STREAM_CAPTURE_SINK, "true", PW_KEY_NODE_NAME, nodeName.c_str(),
        PW_KEY_NODE_DONT_RECONNECT, "true", nullptr);
    static const pw_stream_events events = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.process = &MonitorMeter::onProcess;
        return e;
    }();
    stream_ = pw_stream_new_simple(pw_thread_loop_get_loop(loop_), "meter", props, &events, this);
    connectLayout(stream_, true, PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS, layout);
    pw_thread_loop_unlock(loop_);
}

MonitorMeter::~MonitorMeter() {
    pw_thread_loop_lock(loop_);
    pw_stream_destroy(stream_);
    pw_thread_loop_unlock(loop_);
    pw_thread_loop_stop(loop_);
    pw_thread_loop_destroy(loop_);
}

std::vector<std::vector<float>> MonitorMeter::recordChannels(int ms) {
    startRecording(ms);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return takeChannels();
}

void MonitorMeter::startRecording(int ms) {
    pw_thread_loop_lock(loop_);
    state_->recorded.clear();
    // Room for a fifth more than `ms` holds, so that no cycle waits for the vector to grow.
    state_->recorded.reserve(static_cast<std::size_t>(ms) * 48 * 6 / 5 * state_->channels);
    state_->recording = true;
    pw_thread_loop_unlock(loop_);
}

std::vector<std::vector<float>> MonitorMeter::takeChannels() {
    pw_thread_loop_lock(loop_);
    state_->recording = false;
    const std::vector<float> all = std::move(state_->recorded);
    state_->recorded.clear();
    pw_thread_loop_unlock(loop_);
    std::vector<std::vector<float>> channels(state_->channels);
    for (std::size_t i = 0; i < all.size(); ++i) {
        channels[i % channels.size()].push_back(all[i]);
    }
    return channels;
}

std::vector<std::vector<float>> recordAll(const std::vector<MonitorMeter*>& meters, int ms) {
    for (MonitorMeter* meter : meters) {
        meter->startRecording(ms);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    std::vector<std::vector<float>> samples;
    samples.reserve(meters.size());
    for (MonitorMeter* meter : meters) {
        samples.push_back(std::move(meter->takeChannels().front()));
    }
    return samples;
}

std::vector<Level> settledLevels(const std::vector<MonitorMeter*>& meters,
                                 const std::function<bool(std::size_t, const Level&)>& accept,
                                 int timeoutMs, std::vector<std::vector<float>>* lastWindow) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<Level> levels;
    bool accepted = false;
    while (!accepted && (levels.empty() || std::chrono::steady_clock::now() < deadline)) {
        levels.clear();
        std::vector<std::vector<float>> window = recordAll(meters, 300);
        for (const auto& samples : window) {
            levels.push_back(levelOf(samples));
        }
        if (lastWindow != nullptr) {
            *lastWindow = std::move(window);
        }
        accepted = true;
        for (std::size_t i = 0; i < levels.size(); ++i) {
            accepted = accept(i, levels[i]) && accepted;
        }
    }
    return levels;
}

Level settledLevel(MonitorMeter& meter, const std::function<bool(const Level&)>& accept,
                   int timeoutMs) {
    return settledLevels(
               {&meter}, [&](std::size_t, const Level& l) { return accept(l); }, timeoutMs)
        .front();
}

Level settledAt(MonitorMeter& meter, double db, double toleranceDB,
                const std::function<void()>& meanwhile, int timeoutMs) {
    return settledLevel(
        meter,
        [&](const Level& l) {
            if (meanwhile) {
                meanwhile();
            }
            return std::fabs(l.rmsDB - db) <= toleranceDB;
        },
        timeoutMs);
}

AudioObjectID processObjectOf(AudioHardware& hardware, pid_t pid) {
    for (const AudioObjectID id :
         CA::objectList(hardware, CA::system, kAudioHardwarePropertyProcessObjectList)) {
        if (CA::get<std::int32_t>(hardware, id, kAudioProcessPropertyPID, -1) == pid) {
            return id;
        }
    }
    return kAudioObjectUnknown;
}

double toneAmplitude(const std::vector<float>& samples, double frequency) {
    constexpr std::size_t kBlock = 4800;
    const std::size_t n = samples.size() / kBlock * kBlock;
    double re = 0.0;
    double im = 0.0;
    const double step = 2.0 * M_PI * frequency / 48000.0;
    for (std::size_t i = 0; i < n; ++i) {
        re += samples[i] * std::cos(step * static_cast<double>(i));
        im += samples[i] * std::sin(step * static_cast<double>(i));
    }
    return n == 0 ? 0.0 : 2.0 * std::sqrt(re * re + im * im) / static_cast<double>(n);
}

int silentRuns(const std::vector<float>& samples, std::size_t minSamples) {
    int runs = 0;
    std::size_t length = 0;
    for (const float x : samples) {
        length = x == 0.0F ? length + 1 : 0;
        if (length == minSamples) {
            ++runs;
        }
    }
    return runs;
}

std::string testPlayerPath() {
    return CORVALLE_TEST_PLAYER;
}

std::string jackPlayerPath() {
    return CORVALLE_JACK_PLAYER;
}

std::string jackLibraryEnvironment() {
    const char* stack = std::getenv("PW_SESSION_STACK");
    const char* libraries = std::getenv("LD_LIBRARY_PATH");
    std::string entry = "LD_LIBRARY_PATH=";
    entry += stack != nullptr ? stack : "";
    entry += "/usr/lib/" CORVALLE_MULTIARCH "/pipewire-0.3/jack";
    if (libraries != nullptr) {
        entry += ':';
        entry += libraries;
    }
    return entry;
}

std::string pulsePlayerPath() {
    return CORVALLE_PULSE_PLAYER;
}

std::string sineFile(const PipeWireSession& session, double amplitude, int frequency) {
    std::string path = session.dir().string() + "/sine-" + std::to_string(frequency) + "-" +
                       std::to_string(static_cast<int>(amplitude * 1000)) + ".wav";
    if (!std::filesystem::exists(path)) {
        static_cast<void>(session.run("sox -n -r 48000 -c 2 -b 32 -e floating-point " + path +
                                      " synth 20 sine " + std::to_string(frequency) + " vol " +
                                      std::to_string(amplitude)));
    }
    return path;
}

int nodeCount(const PipeWireSession& session, const std::string& pattern) {
    return std::atoi(
        session.output("pw-cli ls Node 2>/dev/null | grep -c '" + pattern + "'").c_str());
}

} // namespace corvalle::test
