// Writes the demo recording `make run` opens: a few seconds of speech-like harmonics,
// a rising chirp and noise bursts, 22050 Hz 16-bit mono. Generated, so nothing from
// elsewhere is shipped.

#include "audio/wave_header.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <random>
#include <vector>

namespace {

constexpr int kRate = 22050;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Vowel-like spectrum: harmonics of a gliding voice weighted by three formant peaks.
double formantGain(double f, const std::array<double, 3>& formants) {
    double g = 0.0;
    for (double fc : formants) {
        const double d = (f - fc) / 120.0;
        g += std::exp(-d * d);
    }
    return g;
}

void addVoice(std::vector<double>& out, double start, double seconds) {
    const std::array<std::array<double, 3>, 3> vowels{{
        {700.0, 1220.0, 2600.0}, // a
        {300.0, 2300.0, 3000.0}, // i
        {350.0, 800.0, 2400.0},  // u
    }};
    double phase = 0.0;
    const auto first = static_cast<std::size_t>(start * kRate);
    const auto count = static_cast<std::size_t>(seconds * kRate);
    for (std::size_t n = 0; n < count && first + n < out.size(); ++n) {
        const double t = static_cast<double>(n) / kRate;
        const double f0 = 130.0 + 50.0 * std::sin(kTwoPi * 0.7 * t);
        phase += kTwoPi * f0 / kRate;
        const auto syllable = static_cast<std::size_t>(t / (seconds / 3.0)) % vowels.size();
        const double envelope =
            std::pow(std::sin(std::numbers::pi * std::fmod(t * 3.0 / seconds, 1.0)), 0.5);
        double s = 0.0;
        for (int h = 1; h * f0 < 4500.0; ++h) {
            s += formantGain(h * f0, vowels[syllable]) * std::sin(h * phase) / std::sqrt(h);
        }
        out[first + n] += 0.18 * envelope * s;
    }
}

void addChirp(std::vector<double>& out, double start, double seconds, double f1, double f2) {
    const auto first = static_cast<std::size_t>(start * kRate);
    const auto count = static_cast<std::size_t>(seconds * kRate);
    const double k = std::log(f2 / f1) / seconds;
    for (std::size_t n = 0; n < count && first + n < out.size(); ++n) {
        const double t = static_cast<double>(n) / kRate;
        const double phase = kTwoPi * f1 * (std::exp(k * t) - 1.0) / k;
        out[first + n] += 0.5 * std::sin(phase);
    }
}

void addNoiseBursts(std::vector<double>& out, double start, int bursts) {
    std::mt19937 rng(2026);
    std::normal_distribution<double> noise(0.0, 0.15);
    for (int b = 0; b < bursts; ++b) {
        const auto first = static_cast<std::size_t>((start + 0.3 * b) * kRate);
        const auto count = static_cast<std::size_t>(0.12 * kRate);
        for (std::size_t n = 0; n < count && first + n < out.size(); ++n) {
            out[first + n] += noise(rng);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_demo OUT.wav\n");
        return 2;
    }
    std::vector<double> signal(static_cast<std::size_t>(7.0 * kRate), 0.0);
    addVoice(signal, 0.2, 2.6);
    addChirp(signal, 3.0, 2.0, 200.0, 9000.0);
    addNoiseBursts(signal, 5.3, 5);

    std::vector<std::uint8_t> file(korv::WAVE_HEADER_SIZE + 2 * signal.size());
    const auto dataBytes = static_cast<std::uint32_t>(2 * signal.size());
    korv::buildWaveHeader(korv::WaveHeaderBytes(file.data(), korv::WAVE_HEADER_SIZE), 1, kRate, 16,
                          dataBytes);
    for (std::size_t n = 0; n < signal.size(); ++n) {
        const double clipped = std::fmax(-1.0, std::fmin(1.0, signal[n]));
        const auto v = static_cast<std::int16_t>(std::lround(clipped * 30000.0));
        const auto u = static_cast<std::uint16_t>(v);
        file[korv::WAVE_HEADER_SIZE + 2 * n] = static_cast<std::uint8_t>(u & 0xFF);
        file[korv::WAVE_HEADER_SIZE + 2 * n + 1] = static_cast<std::uint8_t>(u >> 8);
    }
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    const bool ok = std::fwrite(file.data(), 1, file.size(), out) == file.size();
    return std::fclose(out) == 0 && ok ? 0 : 1;
}
