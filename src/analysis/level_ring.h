#pragma once
// The averaging ring of the spectral columns: the rows of the newest column replace the
// oldest slot, and running integer sums give the average of the columns held.

#include <cstdint>
#include <span>

namespace korv {

// Writes rowLevels into `slot` (the ring's oldest column), keeps `sums` the integer totals of
// the ring's columns, and sets averaged[r] = sums[r] / divisor. All spans hold one value per
// row; divisor >= 1 (the averaging count, or the columns held so far while the ring fills).
void updateLevelRing(std::span<const std::int16_t> rowLevels, std::span<std::int16_t> slot,
                     std::span<std::int32_t> sums, std::span<float> averaged, int divisor);

} // namespace korv
