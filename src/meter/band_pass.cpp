#include "meter/band_pass.h"

#include <cmath>
#include <complex>
#include <numbers>

namespace korv::meter {

namespace {

using Complex = std::complex<double>;

// The two band-pass poles (analog, warped frequencies) of one low-pass prototype pole p:
// s^2 - p B s + w0^2 = 0.
std::array<Complex, 2> bandPoles(Complex p, double bandwidth, double centreSquared) {
    const Complex pb = p * bandwidth;
    const Complex root = std::sqrt(pb * pb - 4.0 * centreSquared);
    return {(pb + root) / 2.0, (pb - root) / 2.0};
}

Complex toZ(Complex s) {
    return (1.0 + s) / (1.0 - s);
}

} // namespace

BandPassSections designBandPass(double lowerHz, double upperHz, double rate) {
    const double w1 = std::tan(std::numbers::pi * lowerHz / rate);
    const double w2 = std::tan(std::numbers::pi * upperHz / rate);
    const double centreSquared = w1 * w2;
    const double bandwidth = w2 - w1;

    BandPassSections design;
    // The prototype's real pole gives a pair of poles, conjugate or (for a band wide at its
    // rate) both real: one section either way.
    const auto realPair = bandPoles(Complex(-1.0, 0.0), bandwidth, centreSquared);
    const Complex za = toZ(realPair[0]);
    const Complex zb = toZ(realPair[1]);
    design.a1[0] = -(za + zb).real();
    design.a2[0] = (za * zb).real();
    // Its complex pole gives two poles, each a section with its conjugate.
    const double half = 0.5 * std::numbers::sqrt3;
    const auto complexPair = bandPoles(Complex(-0.5, half), bandwidth, centreSquared);
    for (int k = 0; k < 2; ++k) {
        const Complex z = toZ(complexPair[static_cast<std::size_t>(k)]);
        design.a1[static_cast<std::size_t>(k + 1)] = -2.0 * z.real();
        design.a2[static_cast<std::size_t>(k + 1)] = std::norm(z);
    }

    // The analog response is exactly 1 at the warped centre sqrt(w1 w2).
    const Complex zInv = std::polar(1.0, -2.0 * std::atan(std::sqrt(centreSquared)));
    Complex response = 1.0;
    for (int s = 0; s < kBandPassSections; ++s) {
        const auto i = static_cast<std::size_t>(s);
        response *= (1.0 - zInv * zInv) / (1.0 + design.a1[i] * zInv + design.a2[i] * zInv * zInv);
    }
    design.gain = 1.0 / std::abs(response);
    return design;
}

} // namespace korv::meter
