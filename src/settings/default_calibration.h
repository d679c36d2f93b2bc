#pragma once
// The calibration curve in force when no settings file was read: 10 Hz to 80 kHz in
// third-octave steps, lifting the lowest octaves and the top end a little.

#include "base/settings_types.h"

namespace korv {

[[nodiscard]] CalibrationCurve defaultCalibrationCurve();

} // namespace korv
