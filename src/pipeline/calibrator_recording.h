#pragma once
// A calibrator's recording in a file measured whole, a block at a time: what the tool's
// --calibrator and the window's Calibrate dialog take a full-scale level from.

#include "meter/calibrator.h"

#include <string>
#include <variant>

namespace korv {

// The reading (of any verdict), or why the file could not be read, the file named
// ("/data/cal.wav: Cannot Open File").
[[nodiscard]] std::variant<meter::CalibratorReading, std::string>
measureCalibratorFile(const std::string& path, int channel, double calibratorLevelDb);

} // namespace korv
