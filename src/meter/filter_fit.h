#pragma once
// Fitting a cascade of second-order sections to a magnitude response in dB: Levenberg-Marquardt
// on the dB error at a set of frequencies, reweighted towards the least largest error
// (Lawson's rule), the sections kept stable. The weightings' top corners and the microphone
// correction are designed with it.

#include "meter/biquad.h"

#include <cstddef>
#include <functional>
#include <span>
#include <vector>

namespace korv::meter {

struct FitGrid {
    std::vector<double> omega;    // radians per sample
    std::vector<double> targetDb; // what the fitted sections must add there
    // The points before this index are matched; those after it only bound the response from
    // above (it may fall below the target there, not rise over it by more than the slack).
    std::size_t inBand = 0;
    double slackDb = 1.0;
};

// A fitted filter follows its curve from this frequency to fitTopHz; above, up to half the
// rate, it only bounds the response.
inline constexpr double kFitLowestHz = 10.0;
// The lower of 20 kHz and 0.45 × the rate: the top of what a fitted filter follows.
[[nodiscard]] double fitTopHz(double sampleRate);
// `inBand` points log-spaced from kFitLowestHz to fitTopHz, then `above` evenly spaced points
// above it to half the rate, each with its target.
[[nodiscard]] FitGrid fitGridFor(double sampleRate, int inBand, int above,
                                 const std::function<double(double hz)>& targetDb);

// 10 lg of a section's power response at cos w = c1, cos 2w = c2.
[[nodiscard]] double sectionDb(const Biquad& s, double c1, double c2);

// The largest in-band deviation of the sections from the target.
[[nodiscard]] double worstFitErrorDb(const FitGrid& grid, std::span<const Biquad> sections);

// Refines `sections` (their starting values in, the fit out).
void fitCascade(const FitGrid& grid, std::vector<Biquad>& sections);

} // namespace korv::meter
