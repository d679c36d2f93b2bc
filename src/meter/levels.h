#pragma once
// Levels as types where they cross a door: a level re digital full scale and a level in dB SPL
// are not interchangeable, and the full-scale level that turns one into the other is one value.

#include <cmath>

namespace korv::meter {

// A level re a full-scale sine: a sine of amplitude 1.0 reads 0 dBFS (mean square 1/2).
struct DbFs {
    double value = 0.0;
};

// A sound pressure level, dB re 20 µPa.
struct DbSpl {
    double value = 0.0;
};

// The dB SPL a full-scale sine would read: what a calibration finds, per input device.
struct FullScaleLevel {
    double db = 0.0;
};

[[nodiscard]] inline DbSpl toSpl(DbFs level, FullScaleLevel fullScale) {
    return {level.value + fullScale.db};
}

// The mean square of a full-scale sine, the reference of every dBFS level.
inline constexpr double kFullScaleMeanSquare = 0.5;

// The level written for digital silence and anything quieter, never -inf or nan.
inline constexpr double kSilenceFloorDbFs = -200.0;

// 10 lg(meanSquare / full-scale mean square), never below the floor.
[[nodiscard]] inline DbFs levelOfMeanSquare(double meanSquare) {
    const double ratio = meanSquare / kFullScaleMeanSquare;
    if (!(ratio > 0.0))
        return {kSilenceFloorDbFs};
    const double db = 10.0 * std::log10(ratio);
    return {db < kSilenceFloorDbFs ? kSilenceFloorDbFs : db};
}

// The mean square a level in dBFS stands for, to sum levels as energies.
[[nodiscard]] inline double meanSquareOfLevel(DbFs level) {
    return kFullScaleMeanSquare * std::pow(10.0, level.value / 10.0);
}

} // namespace korv::meter
