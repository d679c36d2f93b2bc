#pragma once
// The level of one clicked point of the spectral image, for the point log: the frames at the
// point's moment analysed again with the run's window, size and corrections, averaged at
// the bin nearest the point's frequency.

#include "analysis/column_levels.h"

#include <optional>

namespace korv {

// Whole dB (truncated, at least -90) of `channel` at the bin nearest frequencyHz, over the
// averageCountScroll frames that start at startFrame, startFrame - hop, ... (sample frames of
// the held segment; samples outside it count as silence). nullopt when the inputs give no
// analysis or no memory.
[[nodiscard]] std::optional<long> pointLevelDb(const ColumnAnalysisInputs& inputs, int channel,
                                               std::int64_t startFrame, double frequencyHz);

} // namespace korv
