#pragma once
// The weightings' sections, for a meter that runs C for its peak beside an A level: A is C
// followed by A/C, so the C filter runs once for both.

#include "meter/biquad.h"

#include <span>
#include <vector>

namespace korv::meter {

[[nodiscard]] std::vector<Biquad> cWeightingSections(double sampleRate);
// The sections that turn the output of `c` into the A-weighted signal.
[[nodiscard]] std::vector<Biquad> aFromCSections(double sampleRate, std::span<const Biquad> c);

} // namespace korv::meter
