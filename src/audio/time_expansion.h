#pragma once
// Time expansion: the held sound played slower than it was recorded, so that bat calls of
// 30 to 120 kHz are heard at 3 to 12 kHz at a tenth of the speed. The device is opened at the
// file's rate divided by the factor; every time shown stays the file's own.

#include <array>
#include <cstdint>

namespace korv {

// The factors offered, 1 (as recorded) first.
inline constexpr std::array<int, 8> TIME_EXPANSION_FACTORS = {1, 2, 4, 8, 10, 16, 20, 32};

// The rate the device plays `fileRate` at, `factor` times slower: the nearest whole rate, at
// least 1. A factor below 1 counts as 1.
[[nodiscard]] constexpr std::int32_t expandedSampleRate(std::int32_t fileRate, int factor) {
    if (factor <= 1 || fileRate <= 0) {
        return fileRate;
    }
    const std::int64_t rate = (static_cast<std::int64_t>(fileRate) + factor / 2) / factor;
    return static_cast<std::int32_t>(rate < 1 ? 1 : rate);
}

// The file's time heard after `elapsedMs` of playing at `deviceRate`: the frames played, counted
// at the file's rate (the device's whole rate makes the slowdown a little off the factor, the
// file's time never is).
[[nodiscard]] constexpr double fileMsecHeard(double elapsedMs, std::int32_t deviceRate,
                                             std::int32_t fileRate) {
    if (deviceRate <= 0 || fileRate <= 0 || deviceRate == fileRate) {
        return elapsedMs;
    }
    return elapsedMs * static_cast<double>(deviceRate) / static_cast<double>(fileRate);
}

} // namespace korv
