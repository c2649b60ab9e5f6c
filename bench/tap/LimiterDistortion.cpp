// What a boost does to loud sound: plays a full-scale 1 kHz tone, and any raw
// stereo 32-bit float files at 48 kHz given as arguments, through the gain
// procedure at 400 %, once clipped and once limited, and prints for each:
//   residual  the level of everything the output has beyond the input at one
//             gain, against the output's level (for the tone: all but the
//             fundamental, i.e. THD+N), in dB and per cent;
//   loudest   the largest sample written;
//   at-full   how many samples were written at full scale.
// Other sound gets its gain fitted afresh every 10 ms, as a line, so that the
// limiter's smooth changes of level count as level, not as distortion.

#include "GainRender.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numbers>
#include <string>
#include <tuple>
#include <vector>

namespace {

using corvalle::AudioBuffer;
using corvalle::AudioBufferList;
using corvalle::GainState;

constexpr std::size_t kCycle = 1024;
constexpr double kRate = 48000.0;

// Plays `input` (stereo interleaved) through the procedure at `gain`.
std::vector<float> play(const std::vector<float>& input, float gain, bool limiter) {
    std::vector<float> output(input.size());
    GainState state;
    state.target.store(gain);
    state.applied.store(gain);
    state.limiterOn.store(limiter);
    const std::size_t frames = input.size() / 2;
    for (std::size_t f = 0; f < frames; f += kCycle) {
        const auto bytes =
            static_cast<std::uint32_t>((frames - f < kCycle ? frames - f : kCycle) * 2 * 4);
        AudioBuffer in{2, bytes, const_cast<float*>(input.data() + 2 * f)};
        AudioBuffer out{2, bytes, output.data() + 2 * f};
        AudioBufferList inList{1, &in};
        AudioBufferList outList{1, &out};
        corvalle::renderGain(&inList, &outList, &state);
    }
    return output;
}

struct Figures {
    double residualDB = 0.0;
    double loudest = 0.0;
    std::size_t atFull = 0;
};

// Least-squares fit of `output` by `basis` (one or two functions) over
// [begin, end) samples; returns the residual's and the output's energy.
std::pair<double, double> fitResidual(const std::vector<float>& output,
                                      const std::vector<std::vector<double>>& basis,
                                      std::size_t begin, std::size_t end) {
    // Normal equations for at most two functions.
    double a11 = 0, a12 = 0, a22 = 0, b1 = 0, b2 = 0, energy = 0;
    for (std::size_t i = begin; i < end; ++i) {
        const double y = output[i];
        const double u = basis[0][i];
        const double v = basis.size() > 1 ? basis[1][i] : 0.0;
        a11 += u * u;
        a12 += u * v;
        a22 += v * v;
        b1 += u * y;
        b2 += v * y;
        energy += y * y;
    }
    double c1 = 0, c2 = 0;
    if (basis.size() > 1) {
        const double det = a11 * a22 - a12 * a12;
        c1 = det != 0 ? (b1 * a22 - b2 * a12) / det : 0;
        c2 = det != 0 ? (a11 * b2 - a12 * b1) / det : 0;
    } else {
        c1 = a11 != 0 ? b1 / a11 : 0;
    }
    double residual = 0;
    for (std::size_t i = begin; i < end; ++i) {
        const double e = output[i] - c1 * basis[0][i] - (basis.size() > 1 ? c2 * basis[1][i] : 0);
        residual += e * e;
    }
    return {residual, energy};
}

Figures measure(const std::vector<float>& input, const std::vector<float>& output, bool tone) {
    Figures figures;
    for (const float y : output) {
        figures.loudest = std::fmax(figures.loudest, std::fabs(y));
        figures.atFull += std::fabs(y) >= 1.0F ? 1U : 0U;
    }
    // The left channel, from 100 ms on: the limiter's first moment is its attack.
    std::vector<float> left(output.size() / 2);
    std::vector<double> x(output.size() / 2);
    for (std::size_t f = 0; f < left.size(); ++f) {
        left[f] = output[2 * f];
        x[f] = input[2 * f];
    }
    const auto start = static_cast<std::size_t>(0.1 * kRate);
    double residual = 0;
    double energy = 0;
    if (tone) {
        std::vector<double> sine(left.size());
        std::vector<double> cosine(left.size());
        for (std::size_t f = 0; f < left.size(); ++f) {
            const double phase = 2 * std::numbers::pi * 1000.0 * static_cast<double>(f) / kRate;
            sine[f] = std::sin(phase);
            cosine[f] = std::cos(phase);
        }
        std::tie(residual, energy) = fitResidual(left, {sine, cosine}, start, left.size());
    } else {
        // The gain may move linearly within a block (the limiter's release).
        const auto block = static_cast<std::size_t>(0.01 * kRate);
        std::vector<double> ramp(x.size());
        for (std::size_t f = 0; f < x.size(); ++f) {
            ramp[f] = x[f] * static_cast<double>(f % block) / static_cast<double>(block);
        }
        for (std::size_t b = start; b + block <= left.size(); b += block) {
            const auto [r, e] = fitResidual(left, {x, ramp}, b, b + block);
            residual += r;
            energy += e;
        }
    }
    figures.residualDB = energy > 0 ? 10 * std::log10(residual / energy + 1e-30) : -300;
    return figures;
}

void report(const char* name, const std::vector<float>& input, bool tone) {
    for (const bool limiter : {false, true}) {
        const Figures f = measure(input, play(input, 4.0F, limiter), tone);
        std::printf("%-28s %-8s residual %7.1f dB (%7.3f %%)  loudest %.6f  at-full %zu\n", name,
                    limiter ? "limited" : "clipped", f.residualDB,
                    100 * std::pow(10.0, f.residualDB / 20), f.loudest, f.atFull);
    }
}

} // namespace

int main(int argc, char** argv) {
    std::vector<float> tone(static_cast<std::size_t>(2 * kRate) * 2);
    for (std::size_t f = 0; f < tone.size() / 2; ++f) {
        const auto y = static_cast<float>(
            std::sin(2 * std::numbers::pi * 1000.0 * static_cast<double>(f) / kRate));
        tone[2 * f] = y;
        tone[2 * f + 1] = y;
    }
    report("1 kHz full scale", tone, true);
    for (int i = 1; i < argc; ++i) {
        std::ifstream file(argv[i], std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(file), {}};
        std::vector<float> samples(bytes.size() / sizeof(float) / 2 * 2);
        std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
        if (samples.empty()) {
            std::fprintf(stderr, "%s: no samples\n", argv[i]);
            return 1;
        }
        report(argv[i], samples, false);
    }
    return 0;
}
