#pragma once
// What the colour dialog does to a level palette and to the gain, kept apart from the dialog.

#include "display/palette.h"

#include <cstdint>
#include <string>

namespace korv {

// The gain code the range sets with the Scroll display; a plot display always takes 0.
[[nodiscard]] std::int32_t levelScaleForRange(DbRange range, bool scrollDisplay);

// The caption of level stop `stop` (0 the lowest) for a range.
[[nodiscard]] std::string stopCaption(int stop, DbRange range);

// Entries lo .. hi - 1 (lo, hi the lower and higher of a and b) on the straight line from
// entry lo toward entry hi, which keeps its colour. Across the whole index order.
void spreadPaletteEntries(LevelPalette& palette, int a, int b);

} // namespace korv
