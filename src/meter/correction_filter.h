#pragma once
// A microphone's correction curve: its value at any frequency, and a filter that applies it to
// the broadband signal.

#include "meter/biquad.h"

#include <span>
#include <vector>

namespace korv::meter {

// A microphone's correction: the level to add at each frequency (dB), ascending frequencies.
struct CorrectionPoint {
    double hz = 0.0;
    double db = 0.0;
};

// The correction at `hz`: linear in log-frequency between the points, held flat beyond the
// ends; 0 without points.
[[nodiscard]] double correctionDbAt(std::span<const CorrectionPoint> curve, double hz);

// Second-order sections whose response follows the curve from 10 Hz to the lower of 20 kHz and
// 0.45 × the rate (fitted at the rate), and does not rise far over it above.
[[nodiscard]] std::vector<Biquad> designCorrectionFilter(std::span<const CorrectionPoint> curve,
                                                         double sampleRate);

} // namespace korv::meter
