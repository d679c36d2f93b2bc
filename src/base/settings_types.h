#pragma once
// The small value types the settings record shares with the palette, the calibration code and
// the image encoders: a colour, a calibration point, and the tables made of them.

#include <array>
#include <cstdint>

namespace korv {

inline constexpr int kUserPaletteEntries = 18;
inline constexpr int kCalibrationPoints = 40;
// Only points 0..33 of the curve take effect.
inline constexpr int kCalibrationPointsUsed = 34;
// The calibration graph spans -30 to +30 dB; no correction goes beyond.
inline constexpr float kCalibrationLimitDb = 30.0f;

// The colour range of the pictures and the plot's level axis.
enum class DbRange {
    Db30, // -60 .. -30 dB
    Db60, // -60 .. 0 dB
    Db90, // -90 .. 0 dB
};

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

struct CalibrationPoint {
    float frequencyHz = 0.0f;
    float correctionDb = 0.0f;
    friend bool operator==(const CalibrationPoint&, const CalibrationPoint&) = default;
};

using CalibrationCurve = std::array<CalibrationPoint, kCalibrationPoints>;
using PaletteTable = std::array<Rgb, kUserPaletteEntries>;

} // namespace korv
