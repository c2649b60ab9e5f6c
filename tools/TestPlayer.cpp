// Plays a sine (or clicks) through PipeWire until stopped or for a given time.
//
//   corvalle-test-player [--frequency HZ] [--amplitude A] [--seconds S]
//                        [--name APP-NAME] [--icon ICON-NAME] [--app-id ID]
//                        [--streams N] [--child] [--pause-file PATH]
//                        [--targets OUTPUT,...] [--role ROLE]
//
// --child leaves the playing to a child process started from the same program
// (the parent only waits for it), as applications with audio helpers do.
// --pause-file: while the file exists the streams are paused (corked).
// --targets: the output each stream asks for (target.object), one per stream in
// order; an empty one (or none given) follows the default output.
// --role: media.role (Music unless given). The session manager keeps one stored
// stream volume per role, so players that must not share one differ in role.
#include "AudioFormat.h"

#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pipewire/pipewire.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#pragma GCC diagnostic ignored "-Wold-style-cast"

namespace {

constexpr double kTwoPi = 6.283185307179586;

struct Options {
    double frequency = 440.0;
    double amplitude = 0.5;
    double seconds = 0.0; // 0: until stopped
    std::string name = "corvalle-test-player";
    std::string icon;
    std::string appID;
    int streams = 1;
    bool child = false;
    std::string pauseFile;
    std::vector<std::string> targets;
    std::string role = "Music";
};

struct Player {
    pw_stream* stream = nullptr;
    spa_hook listener{};
    double phase = 0.0;
    double rate = 48000.0;
    const Options* options = nullptr;
};

pw_main_loop* mainLoop = nullptr;

void onProcess(void* data) {
    // Realtime thread: no allocation, lock, logging or blocking call in here.
    auto* player = static_cast<Player*>(data);
    pw_buffer* buffer = pw_stream_dequeue_buffer(player->stream);
    if (buffer == nullptr) {
        return;
    }
    spa_data& d = buffer->buffer->datas[0];
    auto* out = static_cast<float*>(d.data);
    if (out == nullptr) {
        pw_stream_queue_buffer(player->stream, buffer);
        return;
    }
    std::uint32_t frames = d.maxsize / 8;
    if (buffer->requested > 0 && buffer->requested < frames) {
        frames = static_cast<std::uint32_t>(buffer->requested);
    }
    const double step = kTwoPi * player->options->frequency / player->rate;
    for (std::uint32_t i = 0; i < frames; ++i) {
        const auto sample =
            static_cast<float>(player->options->amplitude * std::sin(player->phase));
        out[2 * i] = sample;
        out[2 * i + 1] = sample;
        player->phase = std::fmod(player->phase + step, kTwoPi);
    }
    d.chunk->offset = 0;
    d.chunk->stride = 8;
    d.chunk->size = frames * 8;
    pw_stream_queue_buffer(player->stream, buffer);
}

void onParamChanged(void* data, uint32_t id, const spa_pod* param) {
    auto* player = static_cast<Player*>(data);
    if (param == nullptr || id != SPA_PARAM_Format) {
        return;
    }
    spa_audio_info_raw info{};
    if (spa_format_audio_raw_parse(param, &info) >= 0 && info.rate > 0) {
        player->rate = info.rate;
    }
}

// The server went away: end, so that a wrapper can start a fresh player.
void onStateChanged(void*, pw_stream_state, pw_stream_state state, const char*) {
    if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED) {
        pw_main_loop_quit(mainLoop);
    }
}

void onStop(void*, int) {
    pw_main_loop_quit(mainLoop);
}

void onTimeout(void*, uint64_t) {
    pw_main_loop_quit(mainLoop);
}

struct PauseWatch {
    std::vector<Player>* players = nullptr;
    const Options* options = nullptr;
    bool paused = false;
};

void onPauseTick(void* data, uint64_t) {
    auto* watch = static_cast<PauseWatch*>(data);
    struct stat st {};
    const bool pause = stat(watch->options->pauseFile.c_str(), &st) == 0;
    if (pause != watch->paused) {
        watch->paused = pause;
        for (Player& player : *watch->players) {
            pw_stream_set_active(player.stream, !pause);
        }
    }
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "missing value for %s\n", arg.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--frequency") {
            o.frequency = std::atof(next().c_str());
        } else if (arg == "--amplitude") {
            o.amplitude = std::atof(next().c_str());
        } else if (arg == "--seconds") {
            o.seconds = std::atof(next().c_str());
        } else if (arg == "--name") {
            o.name = next();
        } else if (arg == "--icon") {
            o.icon = next();
        } else if (arg == "--app-id") {
            o.appID = next();
        } else if (arg == "--streams") {
            o.streams = std::atoi(next().c_str());
        } else if (arg == "--child") {
            o.child = true;
        } else if (arg == "--pause-file") {
            o.pauseFile = next();
        } else if (arg == "--role") {
            o.role = next();
        } else if (arg == "--targets") {
            std::string list = next() + ",";
            for (std::size_t at = list.find(','); at != std::string::npos; at = list.find(',')) {
                o.targets.push_back(list.substr(0, at));
                list.erase(0, at + 1);
            }
        } else {
            std::fprintf(stderr, "unknown option %s\n", arg.c_str());
            std::exit(2);
        }
    }
    return o;
}

int play(const Options& options) {
    pw_init(nullptr, nullptr);
    mainLoop = pw_main_loop_new(nullptr);
    pw_loop* loop = pw_main_loop_get_loop(mainLoop);
    pw_loop_add_signal(loop, SIGINT, onStop, nullptr);
    pw_loop_add_signal(loop, SIGTERM, onStop, nullptr);

    static const pw_stream_events events = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.process = onProcess;
        e.param_changed = onParamChanged;
        e.state_changed = onStateChanged;
        return e;
    }();
    std::vector<Player> players(static_cast<std::size_t>(std::max(1, options.streams)));
    for (std::size_t i = 0; i < players.size(); ++i) {
        Player& player = players[i];
        player.options = &options;
        pw_properties* props = pw_properties_new(
            PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback", PW_KEY_MEDIA_ROLE,
            options.role.c_str(), PW_KEY_APP_NAME, options.name.c_str(), PW_KEY_NODE_NAME,
            options.name.c_str(), nullptr);
        if (!options.icon.empty()) {
            pw_properties_set(props, PW_KEY_APP_ICON_NAME, options.icon.c_str());
        }
        if (!options.appID.empty()) {
            pw_properties_set(props, PW_KEY_APP_ID, options.appID.c_str());
        }
        if (i < options.targets.size() && !options.targets[i].empty()) {
            pw_properties_set(props, PW_KEY_TARGET_OBJECT, options.targets[i].c_str());
        }
        player.stream = pw_stream_new_simple(loop, "tone", props, &events, &player);
        std::uint8_t buffer[1024];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
        const spa_pod* params[1] = {corvalle::pw::stereoFormat(&builder, 48000)};
        // No server (yet): end, so that a wrapper can try again.
        if (player.stream == nullptr ||
            pw_stream_connect(player.stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                              static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT |
                                                           PW_STREAM_FLAG_MAP_BUFFERS |
                                                           PW_STREAM_FLAG_RT_PROCESS),
                              params, 1) < 0) {
            std::fprintf(stderr, "cannot connect to the audio server\n");
            return 1;
        }
    }
    spa_source* timer = nullptr;
    if (options.seconds > 0) {
        timer = pw_loop_add_timer(loop, onTimeout, nullptr);
        timespec value{};
        value.tv_sec = static_cast<time_t>(options.seconds);
        value.tv_nsec = static_cast<long>((options.seconds - std::floor(options.seconds)) * 1e9);
        pw_loop_update_timer(loop, timer, &value, nullptr, false);
    }
    PauseWatch watch{&players, &options, false};
    if (!options.pauseFile.empty()) {
        spa_source* tick = pw_loop_add_timer(loop, onPauseTick, &watch);
        timespec interval{0, 20000000};
        pw_loop_update_timer(loop, tick, &interval, &interval, false);
    }
    std::printf("ready %d\n", static_cast<int>(getpid()));
    std::fflush(stdout);
    pw_main_loop_run(mainLoop);
    for (Player& player : players) {
        pw_stream_destroy(player.stream);
    }
    pw_main_loop_destroy(mainLoop);
    pw_deinit();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options options = parse(argc, argv);
    if (!options.child) {
        return play(options);
    }
    const pid_t child = fork();
    if (child < 0) {
        return 1;
    }
    if (child == 0) {
        std::vector<std::string> args;
        for (int i = 0; i < argc; ++i) {
            if (std::strcmp(argv[i], "--child") != 0) {
                args.emplace_back(argv[i]);
            }
        }
        std::vector<char*> raw;
        for (auto& a : args) {
            raw.push_back(a.data());
        }
        raw.push_back(nullptr);
        execv("/proc/self/exe", raw.data());
        _exit(127);
    }
    static pid_t childPID = child;
    auto forward = [](int signal) { kill(childPID, signal); };
    std::signal(SIGTERM, forward);
    std::signal(SIGINT, forward);
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
    }
    return 0;
}
