#pragma once
// Kaiser's window, for the interpolating and decimating filters' taps.

#include <algorithm>
#include <cmath>

namespace korv::meter {

// The modified Bessel function of the first kind, order 0, by its power series.
[[nodiscard]] inline double besselI0(double x) {
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1; k < 60; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
        if (term < sum * 1e-18)
            break;
    }
    return sum;
}

// The window at `ratio` of its half length from its centre (|ratio| <= 1), for shape `beta`.
[[nodiscard]] inline double kaiserWindow(double ratio, double beta) {
    return besselI0(beta * std::sqrt(std::max(0.0, 1.0 - ratio * ratio))) / besselI0(beta);
}

} // namespace korv::meter
