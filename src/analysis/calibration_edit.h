#pragma once
// Editing the calibration curve: the half-dB level under the mouse, the straight line between
// two points, and a maker's calibration file sampled onto the curve's points.
//
// Sign: a curve value is added to every level (+3 raises the picture by 3 dB there). A maker's
// file is read as corrections to add unless the caller says it lists the microphone's
// response, which is then subtracted (the correction is its negative).

#include "settings/settings_types.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace korv {

// The largest calibration file read, and the most data lines taken from it.
inline constexpr std::size_t kCalibrationFileMaxBytes = 1 << 20;
inline constexpr int kCalibrationFileMaxLines = 20000;

// v is twice the distance above the zero line in dB (half-dB units, fractional); the level in
// half-dB steps, rounded to the nearer half and limited to the graph's -30 .. +30 dB.
[[nodiscard]] float calibrationLevelFromHalfSteps(float v);

// Where the shown points sit in the graph box of a given size: equally spaced across, +30 dB
// at the top and -30 dB at the bottom (five pixels kept below).
struct CalibrationGraph {
    float xStep = 0.0f;  // pixels between points
    float yScale = 0.0f; // pixels per dB
    int x0 = 0;
    int y0 = 0;
    [[nodiscard]] static CalibrationGraph forSize(int width, int height);
    [[nodiscard]] int pointX(int i) const;
    [[nodiscard]] int pointY(float db) const;
    [[nodiscard]] int zeroY() const;
    // The half-dB level at a mouse height.
    [[nodiscard]] float levelAt(int mouseY) const;
};

// Points from the lower to the higher of a and b, the higher excluded, on the straight line
// between their corrections. Nothing for a == b or an index outside the shown points.
void connectCalibrationPoints(CalibrationCurve& curve, int a, int b);

// Every correction 0 dB (the frequencies stay).
void zeroCalibrationCurve(CalibrationCurve& curve);

enum class CalibrationSign { CorrectionToAdd, ResponseToRemove };

struct CalibrationImport {
    bool ok = false;
    CalibrationCurve curve{}; // the curve with the file's corrections, when ok
    int pointsRead = 0;       // data lines taken from the file
    int pointsClamped = 0;    // curve points limited to +-30 dB
    std::string error;        // why nothing was taken, when not ok
};

// Reads "frequency dB" lines (blank, comma, semicolon or tab separated; further columns are
// ignored; lines starting with * or " are comments) with frequencies above 0 Hz and rising.
// Where the data separates its columns with semicolons or tabs, a comma between digits is a
// decimal comma ("20;1,5" is 1.5 dB); a comma that could be either is refused with the reason,
// as is a file whose values give no finite correction. A UTF-8 byte-order mark is skipped.
// Each curve point gets the file's value at its frequency, interpolated linearly in
// log-frequency and held flat beyond the file's ends. `current` gives the frequencies.
[[nodiscard]] CalibrationImport
importCalibrationText(std::string_view text, const CalibrationCurve& current, CalibrationSign sign);

} // namespace korv
