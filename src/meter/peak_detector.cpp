#include "meter/peak_detector.h"

#include "meter/kaiser_window.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace korv::meter {
namespace {

constexpr double kKaiserBeta = 6.0;
// A crest between two samples is at most half a sample from one of them, which for content up
// to a quarter of the rate holds at least cos(pi / 4) of it: a local maximum below this share
// of the peak so far cannot hide a higher one.
constexpr double kCandidateShare = 0.7;
// The frames looked over at once for a candidate.
constexpr std::int64_t kSkipFrames = 8;

} // namespace

PeakDetector::PeakDetector() {
    // Tap j of phase p weighs sample from + j - (kLookahead - 1) for the value at
    // from + (p + 1) / 4.
    for (int p = 0; p < kPhases; ++p) {
        const double d = (p + 1) / 4.0;
        double sum = 0.0;
        for (int j = 0; j < kTaps; ++j) {
            const double t = d - double(j - (kLookahead - 1));
            const double x = std::numbers::pi * t;
            const double sinc = std::sin(x) / x;
            const double r = t / double(kLookahead);
            const double window = kaiserWindow(r, kKaiserBeta);
            taps_[p][j] = sinc * window;
            sum += taps_[p][j];
        }
        for (double& tap : taps_[p])
            tap /= sum; // a steady signal interpolates to itself
    }
    history_.assign(static_cast<std::size_t>(-base_), 0.0); // silence before the signal
}

void PeakDetector::push(std::span<const double> samples) {
    // Keep what the next scans still read: kLookahead + 1 frames behind the scan position.
    const std::int64_t keepFrom = scanned_ - kLookahead - 1;
    if (keepFrom - base_ > 4096) {
        history_.erase(history_.begin(), history_.begin() + (keepFrom - base_));
        base_ = keepFrom;
    }
    history_.insert(history_.end(), samples.begin(), samples.end());
    pushed_ += static_cast<std::int64_t>(samples.size());
}

void PeakDetector::pushEnd() {
    if (ended_)
        return;
    history_.insert(history_.end(), kLookahead + 1, 0.0);
    ended_ = true;
}

std::int64_t PeakDetector::scannable() const {
    return ended_ ? pushed_ : std::max<std::int64_t>(0, pushed_ - kLookahead - 1);
}

double PeakDetector::interpolated(std::int64_t from, int phase) const {
    const auto first = static_cast<std::size_t>(from - (kLookahead - 1) - base_);
    double v = 0.0;
    for (int j = 0; j < kTaps; ++j)
        v += taps_[static_cast<std::size_t>(phase)][static_cast<std::size_t>(j)] *
             history_[first + static_cast<std::size_t>(j)];
    return v;
}

double PeakDetector::peakAround(std::int64_t m) const {
    // The signal at quarter steps from m - 1 to m + 1, on the side of m's sign.
    const double sign = at(m) < 0.0 ? -1.0 : 1.0;
    std::array<double, 9> v{};
    v[0] = at(m - 1);
    v[4] = at(m);
    v[8] = at(m + 1);
    for (int p = 0; p < kPhases; ++p) {
        v[static_cast<std::size_t>(1 + p)] = interpolated(m - 1, p);
        v[static_cast<std::size_t>(5 + p)] = interpolated(m, p);
    }
    std::size_t top = 0;
    for (std::size_t k = 0; k < v.size(); ++k) {
        v[k] *= sign;
        if (v[k] > v[top])
            top = k;
    }
    double peak = v[top];
    if (top > 0 && top + 1 < v.size()) {
        // The parabola through the highest quarter step and its neighbours: its vertex
        // takes most of what the quarter steps miss near the top of the band.
        const double a = v[top - 1];
        const double b = v[top];
        const double c = v[top + 1];
        const double curvature = a - 2.0 * b + c;
        if (curvature < 0.0)
            peak = b - 0.125 * (a - c) * (a - c) / curvature;
    }
    return std::abs(peak);
}

double PeakDetector::largestMagnitude(std::int64_t from) const {
    const double* x = history_.data() + (from - base_);
#if defined(__SSE2__)
    // Two frames at a time, each magnitude its value with the sign bit cleared.
    const __m128d noSign =
        _mm_castsi128_pd(_mm_set1_epi64x(std::numeric_limits<std::int64_t>::max()));
    __m128d highest = _mm_setzero_pd();
    for (std::int64_t j = 0; j < kSkipFrames; j += 2)
        highest = _mm_max_pd(highest, _mm_and_pd(_mm_loadu_pd(x + j), noSign));
    return _mm_cvtsd_f64(_mm_max_sd(highest, _mm_unpackhi_pd(highest, highest)));
#else
    double highest = 0.0;
    for (std::int64_t j = 0; j < kSkipFrames; ++j)
        highest = std::max(highest, std::abs(x[j]));
    return highest;
#endif
}

double PeakDetector::scanTo(std::int64_t end, double peak) {
    end = std::min(end, scannable());
    std::int64_t m = scanned_;
    while (m < end) {
        // A stretch wholly below the candidates' share of the peak so far changes nothing:
        // its samples neither raise the peak nor are candidates (most of the time on noise).
        if (end - m >= kSkipFrames && largestMagnitude(m) < kCandidateShare * peak) {
            m += kSkipFrames;
            continue;
        }
        for (const std::int64_t stop = std::min(end, m + kSkipFrames); m < stop; ++m) {
            const double v = std::abs(at(m));
            if (v > peak)
                peak = v;
            if (v >= kCandidateShare * peak && v >= std::abs(at(m - 1)) && v >= std::abs(at(m + 1)))
                peak = std::max(peak, peakAround(m));
        }
    }
    scanned_ = std::max(scanned_, end);
    return peak;
}

} // namespace korv::meter
