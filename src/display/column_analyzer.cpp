#include "display/column_analyzer.h"

#include <algorithm>
#include <new>

namespace korv {

SetupResult ColumnAnalyzer::setup(const ColumnAnalysisInputs& in, const SpectralImage& image) {
    release();
    if (image.channels() != in.channels) {
        return SetupResult::Unusable;
    }
    if (const SetupResult result = levels_.setup(in, image.rows(), image.width());
        result != SetupResult::Ok) {
        return result;
    }
    range_ = levelRangeFor(in.dbRange);
    try {
        indices_.assign(static_cast<std::size_t>(image.rows()), 0);
    } catch (const std::bad_alloc&) {
        release();
        return SetupResult::NoMemory;
    }
    return SetupResult::Ok;
}

void ColumnAnalyzer::release() {
    levels_.release();
    indices_.clear();
}

void ColumnAnalyzer::analyzeColumn(long x, SpectralImage& image) {
    analyzeColumnAt(x, image, static_cast<int>(std::clamp(x, 0L, levels_.columns())));
}

void ColumnAnalyzer::analyzeColumnAt(long x, SpectralImage& image, int imageX) {
    if (!levels_.ready() || image.channels() != levels_.channels() ||
        image.rows() != levels_.rows() || imageX < 0 || imageX >= image.width() ||
        !levels_.compute(x)) {
        return;
    }
    IndexedSurface& surface = image.surface();
    for (int ch = 0; ch < levels_.channels(); ++ch) {
        levelsToClampedPaletteIndices(levels_.averagedLevels(ch), range_, indices_);
        surface.setColumnUpwards(imageX, image.rowY(ch, 0), indices_);
        image.drawStripColumn(imageX, ch, levels_.minimum(ch), levels_.maximum(ch));
    }
}

void ColumnAnalyzer::analyzeColumns(long first, long last, SpectralImage& image) {
    for (long x = std::max(first, 0L); x < std::min(last, levels_.columns()); ++x) {
        analyzeColumn(x, image);
    }
}

} // namespace korv
