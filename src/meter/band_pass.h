#pragma once
// The band filter of one fractional-octave band: a Butterworth band-pass of order 4 (eight
// poles) by the bilinear transform, its two edges pre-warped so that each is exactly 3 dB
// down at the rate the filter runs. Its zeros lie at DC and at half the rate, four each, so
// every section's numerator is 1 - z^-2 and one gain serves the whole cascade. Order 4 rather
// than 3: the warping near half the rate flattens the lower skirt of a band high at its rate,
// and order 3 then falls short of the class 1 limits there by up to 7 dB.

#include <array>

namespace korv::meter {

// The low-pass prototype's order, also the count of second-order sections.
inline constexpr int kBandPassOrder = 4;
inline constexpr int kBandPassSections = kBandPassOrder;

struct BandPassSections {
    // Section s: (1 - z^-2) / (1 + a1[s] z^-1 + a2[s] z^-2).
    std::array<double, kBandPassSections> a1{};
    std::array<double, kBandPassSections> a2{};
    // The factor that brings the cascade to 0 dB at the (warped) geometric centre.
    double gain = 1.0;
};

// The band-pass with edges lowerHz < upperHz < rate / 2 at `rate`.
[[nodiscard]] BandPassSections designBandPass(double lowerHz, double upperHz, double rate);

} // namespace korv::meter
