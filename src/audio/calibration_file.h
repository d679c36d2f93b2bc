#pragma once
// A microphone maker's calibration file read from disk, for Import... and the command-line
// tool's --calibration alike: opened as the wave files are (regular files only, so a FIFO or a
// device cannot hang the reader) and read no further than the size limit.

#include "analysis/calibration_edit.h"

#include <string>

namespace korv {

inline constexpr std::string_view kCalibrationFileCannotOpen =
    "The calibration file cannot be opened.";

[[nodiscard]] CalibrationImport
readCalibrationFile(const std::string& path, const CalibrationCurve& current, CalibrationSign sign);

} // namespace korv
