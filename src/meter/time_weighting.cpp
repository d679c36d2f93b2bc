#include "meter/time_weighting.h"

#include "meter/lanes.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace korv::meter {

double timeConstantSeconds(TimeWeighting weighting) {
    switch (weighting) {
    case TimeWeighting::F:
        return 0.125;
    case TimeWeighting::S:
        return 1.0;
    case TimeWeighting::I:
        return 0.035;
    }
    return 0.125;
}

TimeWeightedSquare::TimeWeightedSquare(TimeWeighting weighting, double sampleRate)
    : weighting_(weighting) {
    if (!(sampleRate > 0.0))
        throw std::invalid_argument("sample rate must be positive");
    const double tau = timeConstantSeconds(weighting);
    // -expm1 keeps the step exact for long time constants at high rates.
    rise_ = -std::expm1(-1.0 / (tau * sampleRate));
    fall_ = std::exp(-1.0 / (kImpulseFallSeconds * sampleRate));
    startFrames_ = std::max<std::int64_t>(1, std::llround(tau * sampleRate));
}

void TimeWeightedSquare::start(double meanSquare) {
    // As if the signal had been steady at that mean square for ever.
    mean_ = meanSquare;
    held_ = meanSquare;
    std::fill(std::begin(recentMeans_), std::end(recentMeans_), meanSquare);
    std::fill(std::begin(recentSquares_), std::end(recentSquares_), meanSquare);
}

void TimeWeightedSquare::process(std::span<const double> squares, std::span<double> out) {
    SquareRange unused;
    if (weighting_ == TimeWeighting::I)
        runImpulse<false>(squares, out, unused);
    else
        runExponential(squares, out, unused);
}

void TimeWeightedSquare::process(std::span<const double> squares, std::span<double> out,
                                 SquareRange& range) {
    if (weighting_ == TimeWeighting::I)
        runImpulse<true>(squares, out, range);
    else
        runExponential(squares, out, range);
}

namespace {

// F and S four samples a step: y[n] = k^4 y[n-4] + r (x[n] + k x[n-1] + k^2 x[n-2] + k^3 x[n-3])
// (k = 1 - r), the exponential mean unrolled, so that four consecutive values are worked out at
// once in the lanes of a vector and each waits on one multiply-add four samples back. Each
// value is computed the same way, lane or not, wherever the blocks are cut.
struct Unrolled {
    double r, kr, k2r, k3r, k4;

    // y[m] from x[m - 3] .. x[m] and y[m - 4] (single values, or the lanes of four
    // consecutive ones).
    template <class Fma, class T>
    __attribute__((always_inline)) static T step(const T& x3, const T& x2, const T& x1, const T& x0,
                                                 const T& y4, const T& r, const T& kr, const T& k2r,
                                                 const T& k3r, const T& k4) {
        return Fma::mulAdd(k4, y4,
                           Fma::mulAdd(k3r, x3, Fma::mulAdd(k2r, x2, Fma::mulAdd(kr, x1, r * x0))));
    }
};

// Samples from, from + 4, .. (at least 4) whose four squares before and four values before
// are in the block: the values into `out`, their highest and lowest widening `most` and
// `least`. Returns where it stopped.
template <class Fma>
__attribute__((always_inline)) inline std::size_t
unrolledLanes(const Unrolled& u, const double* x, std::size_t from, std::size_t count, double* out,
              double& most, double& least) {
    constexpr auto steps = static_cast<std::size_t>(TimeWeightedSquare::kSteps);
    static_assert(steps == kLanes);
    const Lanes r = broadcastLanes(u.r), kr = broadcastLanes(u.kr), k2r = broadcastLanes(u.k2r),
                k3r = broadcastLanes(u.k3r), k4 = broadcastLanes(u.k4);
    Lanes y = loadLanes(out + from - steps);
    Lanes high = broadcastLanes(most), low = broadcastLanes(least);
    std::size_t m = from;
    for (; m + steps <= count; m += steps) {
        y = Unrolled::step<Fma>(loadLanes(x + m - 3), loadLanes(x + m - 2), loadLanes(x + m - 1),
                                loadLanes(x + m), y, r, kr, k2r, k3r, k4);
        storeLanes(out + m, y);
        high = high > y ? high : y;
        low = low < y ? low : y;
    }
    for (int j = 0; j < kLanes; ++j) {
        most = std::max(most, high[j]);
        least = std::min(least, low[j]);
    }
    return m;
}

#if defined(KORV_METER_AVX2)
__attribute__((target("avx2,fma"), flatten)) std::size_t
unrolledLanesAvx2(const Unrolled& u, const double* x, std::size_t from, std::size_t count,
                  double* out, double& most, double& least) {
    return unrolledLanes<AvxFma>(u, x, from, count, out, most, least);
}
#endif

std::size_t unrolledLanesPlain(const Unrolled& u, const double* x, std::size_t from,
                               std::size_t count, double* out, double& most, double& least) {
    return unrolledLanes<PlainFma>(u, x, from, count, out, most, least);
}

template <class Fma>
double unrolledOne(const Unrolled& u, double x3, double x2, double x1, double x0, double y4) {
    return Unrolled::step<Fma>(x3, x2, x1, x0, y4, u.r, u.kr, u.k2r, u.k3r, u.k4);
}

} // namespace

void TimeWeightedSquare::runExponential(std::span<const double> squares, std::span<double> out,
                                        SquareRange& range) {
    const double k = 1.0 - rise_;
    const Unrolled u{rise_, k * rise_, k * k * rise_, k * k * k * rise_, (k * k) * (k * k)};
    const std::size_t n = std::min(squares.size(), out.size());
    const double* x = squares.data();
    double* y = out.data();
    // The squares and values before the block from the last ones kept.
    const auto xAt = [&](std::size_t m, std::size_t back) {
        return m >= back ? x[m - back] : recentSquares_[kSteps - 1 + m - back];
    };
    const auto yAt = [&](std::size_t m) { return m >= kSteps ? y[m - kSteps] : recentMeans_[m]; };
    // The same value as a lane gives, on one sample (the processor's multiply-add or the
    // plain one, as the lanes).
    const auto one = [&](std::size_t m) {
#if defined(KORV_METER_AVX2)
        if (useAvx2Lanes())
            return unrolledOne<AvxFma>(u, xAt(m, 3), xAt(m, 2), xAt(m, 1), x[m], yAt(m));
#endif
        return unrolledOne<PlainFma>(u, xAt(m, 3), xAt(m, 2), xAt(m, 1), x[m], yAt(m));
    };
    double most = range.max;
    double least = range.min;
    std::size_t m = 0;
    for (; m < std::min<std::size_t>(n, kSteps); ++m) {
        y[m] = one(m);
        most = std::max(most, y[m]);
        least = std::min(least, y[m]);
    }
    if (m < n) {
#if defined(KORV_METER_AVX2)
        if (useAvx2Lanes())
            m = unrolledLanesAvx2(u, x, m, n, y, most, least);
        else
#endif
            m = unrolledLanesPlain(u, x, m, n, y, most, least);
    }
    for (; m < n; ++m) {
        y[m] = one(m);
        most = std::max(most, y[m]);
        least = std::min(least, y[m]);
    }
    // Keep the last values and squares (some from before the block when it is short).
    double means[kSteps], lastSquares[kSteps - 1];
    for (std::size_t j = 0; j < kSteps; ++j)
        means[j] = n + j >= kSteps ? y[n + j - kSteps] : recentMeans_[n + j];
    for (std::size_t j = 0; j + 1 < kSteps; ++j)
        lastSquares[j] = n + j + 1 >= kSteps ? x[n + j + 1 - kSteps] : recentSquares_[n + j];
    std::copy(std::begin(means), std::end(means), std::begin(recentMeans_));
    std::copy(std::begin(lastSquares), std::end(lastSquares), std::begin(recentSquares_));
    range = {most, least};
}

template <bool Track>
void TimeWeightedSquare::runImpulse(std::span<const double> squares, std::span<double> out,
                                    SquareRange& range) {
    // The 35 ms mean, mean (1 - rise) + rise x, then the hold falling with 1.5 s.
    double mean = mean_;
    double held = held_;
    const double rise = rise_;
    const double keep = 1.0 - rise_;
    const double fall = fall_;
    const std::size_t n = std::min(squares.size(), out.size());
    double most = range.max;
    double least = range.min;
    for (std::size_t i = 0; i < n; ++i) {
        mean = keep * mean + rise * squares[i];
        held = std::max(mean, held * fall);
        out[i] = held;
        if constexpr (Track) {
            most = std::max(most, held);
            least = std::min(least, held);
        }
    }
    mean_ = mean;
    held_ = held;
    range = {most, least};
}

} // namespace korv::meter
