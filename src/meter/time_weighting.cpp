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
    mean_ = meanSquare;
    held_ = meanSquare;
}

void TimeWeightedSquare::process(std::span<const double> squares, std::span<double> out) {
    double mean = mean_;
    const double rise = rise_;
    const std::size_t n = std::min(squares.size(), out.size());
    if (weighting_ != TimeWeighting::I) {
        for (std::size_t i = 0; i < n; ++i) {
            mean += rise * (squares[i] - mean);
            out[i] = mean;
        }
        mean_ = mean;
        return;
    }
    double held = held_;
    const double fall = fall_;
    for (std::size_t i = 0; i < n; ++i) {
        mean += rise * (squares[i] - mean);
        held = std::max(mean, held * fall);
        out[i] = held;
    }
    mean_ = mean;
    held_ = held;
}

} // namespace korv::meter
