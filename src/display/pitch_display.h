#pragma once
// How the scanning displays show the detected pitch: the dot in the newest column of the
// scrolling image and the note label in its box. The plot's pitch line is drawn by the
// spectrum plot (spectrum_plot.h), in the label box placed here.

#include "analysis/frequency_axis.h"
#include "display/indexed_surface.h"
#include "display/view_drawing.h"

#include <cstdint>
#include <optional>
#include <string>

namespace korv {

inline constexpr int PITCH_LABEL_BOX_CHARS = 18;
inline constexpr int PITCH_LABEL_DUAL_OFFSET_CHARS = 15; // left of the middle in the dual layout
inline constexpr int PITCH_LABEL_PLOT_LINES = 4;         // the plot's box: 4 lines from the top

// The label box of the scrolling image: one text line below the waveform strip, 18 characters
// wide, at the right edge (one pane) or left of the middle divider (dual channels).
[[nodiscard]] PixelRect scrollPitchLabelBox(int viewWidth, int stripHeight, int charWidth,
                                            int lineHeight, bool dualStereo);
// The label box of the spectrum plot: at the right edge, four text lines from the top.
[[nodiscard]] PixelRect plotPitchLabelBox(int viewWidth, int charWidth, int lineHeight);

// The box cleared to Background and the note of shownIndex ("440 Hz  A", "452 Hz  A  ^")
// written into it, Text on Background.
[[nodiscard]] ViewDrawing pitchLabelDrawing(const PixelRect& box, int shownIndex);

// Where markHz lies in a column of the scrolling image, whose spectral rows end at
// viewHeight - 1: the axis' nearest row (the pitch detector's dot, the scope markers' lines).
// Nothing when the frequency lies outside the rows or the scale has no image rows.
[[nodiscard]] std::optional<int> scrollRowY(const FrequencyAxis& axis, int viewHeight, int markHz);

} // namespace korv
