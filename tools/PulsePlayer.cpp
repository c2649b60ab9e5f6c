// A PulseAudio client for the integration tests: it connects to the server at
// once and asks for its playback stream only later, so that a test can change
// the graph between the two.
//
//   corvalle-pulse-player [--wait-file PATH] [--amplitude A] [--seconds S]
//                         [--role ROLE]
//
// Once connected it prints "connected" and waits until PATH exists; then it
// plays S seconds (default 1) of a constant level A (default 0.4) on one stream,
// drains it and exits. Exit status 1 when the server never makes the stream.
// --role: the stream's media.role as a PulseAudio client says it ("phone",
// "music"); none unless given.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pulse/pulseaudio.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Runs `check` under the main loop's lock until it holds or `timeout` passes.
template <typename Check>
bool waitFor(pa_threaded_mainloop* loop, Check check, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        pa_threaded_mainloop_lock(loop);
        const bool done = check();
        pa_threaded_mainloop_unlock(loop);
        if (done) {
            return true;
        }
        std::this_thread::sleep_for(2ms);
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    std::string waitFile;
    float amplitude = 0.4F;
    double seconds = 1.0;
    std::string role;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--wait-file") {
            waitFile = argv[i + 1];
        } else if (arg == "--amplitude") {
            amplitude = std::strtof(argv[i + 1], nullptr);
        } else if (arg == "--seconds") {
            seconds = std::strtod(argv[i + 1], nullptr);
        } else if (arg == "--role") {
            role = argv[i + 1];
        }
    }
    pa_threaded_mainloop* loop = pa_threaded_mainloop_new();
    pa_context* context =
        pa_context_new(pa_threaded_mainloop_get_api(loop), "corvalle-pulse-player");
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0 ||
        pa_threaded_mainloop_start(loop) < 0 ||
        !waitFor(
            loop, [&] { return pa_context_get_state(context) == PA_CONTEXT_READY; }, 5s)) {
        return 1;
    }
    std::printf("connected\n");
    std::fflush(stdout);
    struct stat info {};
    while (!waitFile.empty() && stat(waitFile.c_str(), &info) != 0) {
        std::this_thread::sleep_for(5ms);
    }

    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, 48000, 2};
    pa_threaded_mainloop_lock(loop);
    pa_proplist* props = pa_proplist_new();
    if (!role.empty()) {
        pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, role.c_str());
    }
    pa_stream* stream = pa_stream_new_with_proplist(context, "level", &spec, nullptr, props);
    pa_proplist_free(props);
    pa_stream_connect_playback(stream, nullptr, nullptr, PA_STREAM_NOFLAGS, nullptr, nullptr);
    pa_threaded_mainloop_unlock(loop);
    if (!waitFor(
            loop, [&] { return pa_stream_get_state(stream) == PA_STREAM_READY; }, 10s)) {
        return 1;
    }
    const std::vector<float> samples(static_cast<std::size_t>(seconds * 48000) * 2, amplitude);
    pa_threaded_mainloop_lock(loop);
    pa_stream_write(stream, samples.data(), samples.size() * sizeof(float), nullptr, 0,
                    PA_SEEK_RELATIVE);
    pa_operation* drain = pa_stream_drain(stream, nullptr, nullptr);
    pa_threaded_mainloop_unlock(loop);
    waitFor(
        loop, [&] { return pa_operation_get_state(drain) != PA_OPERATION_RUNNING; },
        std::chrono::milliseconds(static_cast<int>(seconds * 1000) + 5000));
    pa_threaded_mainloop_lock(loop);
    pa_operation_unref(drain);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    pa_context_disconnect(context);
    pa_context_unref(context);
    pa_threaded_mainloop_unlock(loop);
    pa_threaded_mainloop_stop(loop);
    pa_threaded_mainloop_free(loop);
    return 0;
}
