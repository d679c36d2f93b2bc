#pragma once
// Samples into the engine's input, and the per-bin corrections every level frame gets:
// the calibration curve and the display gain.

#include "base/settings_types.h"

#include <cstdint>
#include <span>
#include <vector>

namespace korv {

// 8-bit samples are unsigned with silence at 128; 16-bit samples are taken as they are.
[[nodiscard]] constexpr std::int16_t toAnalysisSample(std::uint8_t sample8) {
    return static_cast<std::int16_t>((static_cast<int>(sample8) - 128) * 256);
}
[[nodiscard]] constexpr std::int16_t toAnalysisSample(std::int16_t sample16) {
    return sample16;
}

// N/2 offsets in quarter-dB from the first 34 points of the curve, interpolated linearly in
// log-frequency and truncated to whole decibels.
[[nodiscard]] std::vector<std::int16_t>
buildCalibrationOffsets(std::int32_t sampleRate, int fftSize, const CalibrationCurve& curve);

// level + offset - 4 * levelScaleCode, limited to the 16-bit range.
void applyLevelCorrections(std::span<std::int16_t> levels,
                           std::span<const std::int16_t> calibrationOffsets,
                           std::int32_t levelScaleCode);

} // namespace korv
