#include "meter/time_weighting.h"

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
    before_ = meanSquare;
    lastInput_ = meanSquare;
    held_ = meanSquare;
}

void TimeWeightedSquare::process(std::span<const double> squares, std::span<double> out) {
    SquareRange unused;
    run<false>(squares, out, unused);
}

void TimeWeightedSquare::process(std::span<const double> squares, std::span<double> out,
                                 SquareRange& range) {
    run<true>(squares, out, range);
}

template <bool Track>
void TimeWeightedSquare::run(std::span<const double> squares, std::span<double> out,
                             SquareRange& range) {
    // mean (1 - rise) + rise x: one multiply-add on the chain from sample to sample.
    double mean = mean_;
    const double rise = rise_;
    const double keep = 1.0 - rise_;
    const std::size_t n = std::min(squares.size(), out.size());
    double most = range.max;
    double least = range.min;
    const auto track = [&](double v) {
        if constexpr (Track) {
            most = std::max(most, v);
            least = std::min(least, v);
        }
    };
    if (weighting_ != TimeWeighting::I) {
        // Two samples a step: y[n] = k^2 y[n-2] + (k r x[n-1] + r x[n]) keeps two chains
        // in flight, each value computed the same way wherever the blocks are cut.
        double before = before_;
        double input = lastInput_;
        const double keep2 = keep * keep;
        for (std::size_t i = 0; i < n; ++i) {
            const double x = squares[i];
            const double next = keep2 * before + (keep * rise * input + rise * x);
            before = mean;
            mean = next;
            input = x;
            out[i] = mean;
            track(mean);
        }
        before_ = before;
        lastInput_ = input;
        mean_ = mean;
    } else {
        double held = held_;
        const double fall = fall_;
        for (std::size_t i = 0; i < n; ++i) {
            mean = keep * mean + rise * squares[i];
            held = std::max(mean, held * fall);
            out[i] = held;
            track(held);
        }
        mean_ = mean;
        held_ = held;
    }
    range = {most, least};
}

} // namespace korv::meter
