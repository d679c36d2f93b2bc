#pragma once
// The calibration curve in force when no settings file was read: 10 Hz to 80 kHz in
// third-octave steps, every correction 0 dB.

#include "base/settings_types.h"

namespace korv {

[[nodiscard]] CalibrationCurve defaultCalibrationCurve();

} // namespace korv
