#include "display/pitch_display.h"

#include "analysis/pitch.h"

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

std::optional<int> scrollRowY(const FrequencyAxis& axis, int viewHeight, int markHz) {
    if (!axis.imageRows()) {
        return std::nullopt;
    }
    const std::optional<int> row = axis.nearestRow(markHz);
    if (!row) {
        return std::nullopt;
    }
    return viewHeight - 1 - *row;
}

} // namespace korv
