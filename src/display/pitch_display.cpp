#include "display/pitch_display.h"

#include "analysis/parameters.h"
#include "analysis/pitch.h"
#include "analysis/rounding.h"

#include <cmath>

namespace korv {

PixelRect scrollPitchLabelBox(int viewWidth, int stripHeight, int charWidth, int lineHeight,
                              bool dualStereo) {
    const int left = dualStereo ? viewWidth / 2 - 3 - PITCH_LABEL_DUAL_OFFSET_CHARS * charWidth
                                : viewWidth - PITCH_LABEL_BOX_CHARS * charWidth;
    return {left, stripHeight + lineHeight, PITCH_LABEL_BOX_CHARS * charWidth, lineHeight};
}

PixelRect plotPitchLabelBox(int viewWidth, int charWidth, int lineHeight) {
    return {viewWidth - PITCH_LABEL_BOX_CHARS * charWidth, PITCH_LABEL_PLOT_LINES * lineHeight,
            PITCH_LABEL_BOX_CHARS * charWidth, lineHeight};
}

ViewDrawing pitchLabelDrawing(const PixelRect& box, int shownIndex) {
    ViewDrawing d;
    // A shorter note must not leave the tail of a longer one behind.
    d.fills.push_back({box, ViewColour::Background});
    d.texts.push_back(
        {{box.x, box.y}, pitchLabel(shownIndex), ViewColour::Text, ViewColour::Background});
    return d;
}

std::optional<int> scrollRowY(std::int32_t freqScaleChoice, std::int32_t lowBandHz,
                             std::int32_t highBandHz, int rows, int viewHeight, int markHz) {
    if (rows < 1 || highBandHz <= lowBandHz || markHz <= 0) {
        return std::nullopt;
    }
    double position = 0.0;
    if (freqScaleChoice == FREQ_SCALE_LINEAR) {
        const double hzPerRow = (static_cast<double>(highBandHz) - lowBandHz) / rows;
        position = (markHz - static_cast<double>(lowBandHz)) / hzPerRow;
    } else if (freqScaleChoice == FREQ_SCALE_LOG && lowBandHz > 0) {
        const double logLow = std::log10(static_cast<double>(lowBandHz));
        const double perRow = (std::log10(static_cast<double>(highBandHz)) - logLow) / rows;
        position = (std::log10(static_cast<double>(markHz)) - logLow) / perRow;
    } else {
        return std::nullopt;
    }
    if (!(position > -1.0 && position < rows)) {
        return std::nullopt;
    }
    const long row = roundHalfUp(position);
    if (row < 0 || row >= rows) {
        return std::nullopt;
    }
    return viewHeight - 1 - static_cast<int>(row);
}

void SavedArea::save(const IndexedSurface& surface, const PixelRect& area) {
    area_ = intersect(area, surface.bounds());
    pixels_ = IndexedSurface(area_.width, area_.height);
    pixels_.copyFrom(surface, area_, {0, 0});
}

void SavedArea::restore(IndexedSurface& surface) const {
    if (!pixels_.empty()) {
        surface.copyFrom(pixels_, pixels_.bounds(), {area_.x, area_.y});
    }
}

} // namespace korv
