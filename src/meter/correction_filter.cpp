#include "meter/correction_filter.h"

#include "meter/filter_fit.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace korv::meter {
namespace {

constexpr int kSections = 6;
constexpr int kPoints = 120;
constexpr int kAbovePoints = 20;

// A peaking section of no gain at `hz` (a pole pair cancelled by its zeros), a start the fit
// moves from: each section starts at its own frequency so they do not move as one.
Biquad flatPeak(double hz, double rate) {
    const double w = 2.0 * std::numbers::pi * hz / rate;
    const double alpha = std::sin(w) / 2.0; // Q = 1
    const double a0 = 1.0 + alpha;
    const double a1 = -2.0 * std::cos(w) / a0;
    const double a2 = (1.0 - alpha) / a0;
    return {1.0, a1, a2, a1, a2};
}

} // namespace

double correctionDbAt(std::span<const CorrectionPoint> curve, double hz) {
    if (curve.empty())
        return 0.0;
    if (hz <= curve.front().hz)
        return curve.front().db;
    if (hz >= curve.back().hz)
        return curve.back().db;
    const auto after = std::ranges::upper_bound(curve, hz, {}, &CorrectionPoint::hz);
    const auto before = after - 1;
    const double t = std::log(hz / before->hz) / std::log(after->hz / before->hz);
    return before->db + t * (after->db - before->db);
}

std::vector<Biquad> designCorrectionFilter(std::span<const CorrectionPoint> curve,
                                           double sampleRate) {
    const double top = fitTopHz(sampleRate);
    const FitGrid grid = fitGridFor(sampleRate, kPoints, kAbovePoints,
                                    [&](double hz) { return correctionDbAt(curve, hz); });
    std::vector<Biquad> sections;
    for (int k = 0; k < kSections; ++k)
        sections.push_back(flatPeak(2.0 * kFitLowestHz *
                                        std::pow(top / (2.0 * kFitLowestHz), (k + 0.5) / kSections),
                                    sampleRate));
    fitCascade(grid, sections);
    return sections;
}

} // namespace korv::meter
