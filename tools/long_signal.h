#pragma once
// The long test recording of the Analyze File benchmark and its comparison with sox:
// chirps sweeping through the speech band with a harmonic and noise, 44.1 kHz 16-bit mono,
// as little-endian sample bytes. Shared so the benchmark and the file are the same signal.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

namespace korv::tools {

inline constexpr std::int32_t LONG_SIGNAL_RATE = 44100;
inline constexpr long LONG_SIGNAL_SECONDS = 600;

inline std::vector<std::uint8_t> longSignalBytes() {
    const std::size_t frames = static_cast<std::size_t>(LONG_SIGNAL_SECONDS) * LONG_SIGNAL_RATE;
    std::vector<std::uint8_t> b(frames * 2);
    std::mt19937 rng(11);
    std::normal_distribution<double> noise(0.0, 400.0);
    double phase = 0.0;
    for (std::size_t n = 0; n < frames; ++n) {
        const double t = static_cast<double>(n) / LONG_SIGNAL_RATE;
        const double f = 1500.0 + 1200.0 * std::sin(2.0 * std::numbers::pi * t / 7.0);
        phase += 2.0 * std::numbers::pi * f / LONG_SIGNAL_RATE;
        const double v = 10000.0 * std::sin(phase) + 3000.0 * std::sin(3.0 * phase) + noise(rng);
        const auto s =
            static_cast<std::int16_t>(std::lround(std::fmax(-32768.0, std::fmin(32767.0, v))));
        const auto u = static_cast<std::uint16_t>(s);
        b[2 * n] = static_cast<std::uint8_t>(u & 0xFF);
        b[2 * n + 1] = static_cast<std::uint8_t>(u >> 8);
    }
    return b;
}

} // namespace korv::tools
