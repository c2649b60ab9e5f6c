// A JACK client for the integration tests, run on PipeWire's JACK library: it
// plays a sine on each of its output ports and links them itself, as JACK
// programs do, to the ports a pattern names (default: the physical outputs).
//
//   corvalle-jack-player [--ports REGEX] [--channels N] [--amplitude A]
//                        [--frequency F] [--seconds S]
//
// Defaults: 2 channels, amplitude 0.5, 440 Hz, until SIGTERM. Output port k is
// linked to the k-th input port that REGEX matches. Exit status 1 when there
// is no server, 2 when nothing matches.
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <jack/jack.h>
#include <string>
#include <thread>
#include <vector>

namespace {

std::atomic<bool> stopRequested{false};

struct Player {
    std::vector<jack_port_t*> ports;
    float amplitude = 0.5F;
    double step = 0.0; // phase advance per frame, in turns
    double phase = 0.0;
};

// Runs on JACK's realtime thread: no allocation, lock, logging or blocking call.
int process(jack_nframes_t frames, void* data) {
    auto* player = static_cast<Player*>(data);
    double phase = player->phase;
    for (jack_port_t* port : player->ports) {
        auto* out = static_cast<float*>(jack_port_get_buffer(port, frames));
        phase = player->phase;
        for (jack_nframes_t i = 0; i < frames; ++i) {
            out[i] = player->amplitude * static_cast<float>(std::sin(2.0 * M_PI * phase));
            phase += player->step;
            phase -= std::floor(phase);
        }
    }
    player->phase = phase;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::string pattern;
    int channels = 2;
    double frequency = 440.0;
    double seconds = 0.0;
    Player player;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--ports") {
            pattern = argv[i + 1];
        } else if (arg == "--channels") {
            channels = std::atoi(argv[i + 1]);
        } else if (arg == "--amplitude") {
            player.amplitude = std::strtof(argv[i + 1], nullptr);
        } else if (arg == "--frequency") {
            frequency = std::strtod(argv[i + 1], nullptr);
        } else if (arg == "--seconds") {
            seconds = std::strtod(argv[i + 1], nullptr);
        }
    }
    jack_client_t* client = jack_client_open("corvalle-jack-player", JackNoStartServer, nullptr);
    if (client == nullptr) {
        std::fprintf(stderr, "corvalle-jack-player: no JACK server\n");
        return 1;
    }
    player.step = frequency / jack_get_sample_rate(client);
    for (int k = 0; k < channels; ++k) {
        const std::string name = "out_" + std::to_string(k + 1);
        player.ports.push_back(
            jack_port_register(client, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0));
    }
    jack_set_process_callback(client, process, &player);
    const char** targets =
        jack_get_ports(client, pattern.empty() ? nullptr : pattern.c_str(), JACK_DEFAULT_AUDIO_TYPE,
                       JackPortIsInput | (pattern.empty() ? JackPortIsPhysical : 0));
    if (targets == nullptr || targets[0] == nullptr) {
        std::fprintf(stderr, "corvalle-jack-player: no port matches\n");
        jack_client_close(client);
        return 2;
    }
    jack_activate(client);
    for (int k = 0; k < channels && targets[k] != nullptr; ++k) {
        jack_connect(client, jack_port_name(player.ports[static_cast<std::size_t>(k)]), targets[k]);
    }
    jack_free(static_cast<void*>(targets));
    std::signal(SIGTERM, [](int) { stopRequested = true; });
    std::signal(SIGINT, [](int) { stopRequested = true; });
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!stopRequested && (seconds <= 0.0 || std::chrono::steady_clock::now() < end)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    jack_deactivate(client);
    jack_client_close(client);
    return 0;
}
