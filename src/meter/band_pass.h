#pragma once
// The band filter of one fractional-octave band: a Butterworth band-pass of order 3 (six
// poles) by the bilinear transform, its two edges pre-warped so that each is exactly 3 dB
// down at the rate the filter runs. Its zeros lie at DC and at half the rate, three each, so
// every section's numerator is 1 - z^-2 and one gain serves the whole cascade.

#include <array>

namespace korv::meter {

inline constexpr int kBandPassSections = 3;

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
