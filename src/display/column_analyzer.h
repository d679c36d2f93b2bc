#pragma once
// Analyze File's column loop without the window: the levels of each column (ColumnLevels)
// mapped to palette indices and written into the SpectralImage with the waveform strip.
// A column allocates nothing.

#include "analysis/column_levels.h"
#include "display/palette.h"
#include "display/spectral_image.h"

#include <cstdint>
#include <span>
#include <vector>

namespace korv {

class ColumnAnalyzer {
  public:
    // ColumnLevels::setup for the image's rows and width; Unusable too for an image
    // whose bands do not match the channels.
    [[nodiscard]] SetupResult setup(const ColumnAnalysisInputs& inputs, const SpectralImage& image);
    void release();

    [[nodiscard]] bool ready() const { return levels_.ready(); }
    [[nodiscard]] long columns() const { return levels_.columns(); }
    [[nodiscard]] int rows() const { return levels_.rows(); }
    [[nodiscard]] int averageCount() const { return levels_.averageCount(); }

    // Writes column x (0 <= x < columns(), others are ignored) for every channel, in any
    // order (see ColumnLevels::compute).
    void analyzeColumn(long x, SpectralImage& image);
    // The same column drawn at another column of another picture of the same bands (a block
    // analysed apart and copied in later).
    void analyzeColumnAt(long x, SpectralImage& image, int imageX);
    // Columns first .. last - 1, in order.
    void analyzeColumns(long first, long last, SpectralImage& image);

    // See ColumnLevels.
    [[nodiscard]] std::span<const float> averagedLevels(int channel) const {
        return levels_.averagedLevels(channel);
    }
    [[nodiscard]] std::span<const float> averagedBins(int channel) const {
        return levels_.averagedBins(channel);
    }
    [[nodiscard]] const RowMap& rowMap() const { return levels_.rowMap(); }
    [[nodiscard]] int windowLength() const { return levels_.windowLength(); }

  private:
    ColumnLevels levels_;
    LevelRange range_;
    std::vector<std::uint8_t> indices_; // one column's palette indices
};

} // namespace korv
