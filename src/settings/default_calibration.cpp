#include "settings/default_calibration.h"

#include <array>
#include <cstddef>

namespace korv {

CalibrationCurve defaultCalibrationCurve() {
    constexpr std::array<double, 10> kDecadeBases{10.0, 12.5, 16.0, 20.0, 25.0,
                                                  31.5, 40.0, 50.0, 63.0, 80.0};
    // The lowest decade is lifted 9 dB down to 1 dB; 12.5, 16 and 20 kHz by 1 to 3 dB.
    constexpr std::array<float, kCalibrationPoints> kCorrectionsDb{
        9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 0, 0, 0, 0, 0, 0,
    };
    CalibrationCurve curve{};
    double decade = 1.0;
    std::size_t point = 0;
    for (int d = 0; d < 4; ++d) {
        for (double base : kDecadeBases) {
            curve[point] = {static_cast<float>(base * decade), kCorrectionsDb[point]};
            ++point;
        }
        decade *= 10.0;
    }
    return curve;
}

} // namespace korv
