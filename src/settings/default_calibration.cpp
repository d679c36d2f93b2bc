#include "settings/default_calibration.h"

#include <array>
#include <cstddef>

namespace korv {

CalibrationCurve defaultCalibrationCurve() {
    constexpr std::array<double, 10> kDecadeBases{10.0, 12.5, 16.0, 20.0, 25.0,
                                                  31.5, 40.0, 50.0, 63.0, 80.0};
    // Flat: a fresh start measures what the sound card delivers, and a correction is only
    // what the user enters or imports for a microphone.
    CalibrationCurve curve{};
    double decade = 1.0;
    std::size_t point = 0;
    for (int d = 0; d < 4; ++d) {
        for (double base : kDecadeBases) {
            curve[point] = {static_cast<float>(base * decade), 0.0f};
            ++point;
        }
        decade *= 10.0;
    }
    return curve;
}

} // namespace korv
