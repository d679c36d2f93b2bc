#pragma once
// The colour legend of the spectral image: a bar of the palette's colours from the top of the
// dB range down to its bottom, with the levels they stand for, in a box at the right edge of
// the view (and of every picture saved from it).

#include "display/grid_overlay.h"
#include "display/palette.h"
#include "display/view_drawing.h"
#include "display/view_geometry.h"

#include <array>
#include <string>
#include <vector>

namespace korv {

// The numbers the legend writes: the window's level scale (level / 4 - 90 dB) plus offsetDb,
// named unit. The one place a full-scale level turns the legend into dB SPL: unit "dB SPL"
// and the offset from the window's scale to it.
struct LegendScale {
    std::string unit = "dB";
    double offsetDb = 0.0;
};

// The level steps the labels may be spaced by, the finest that keeps them clear first.
inline constexpr std::array<int, 5> LEGEND_LABEL_STEPS_DB = {5, 10, 15, 20, 30};

struct LegendLabel {
    int y = 0;          // the bar row the level stands at
    double levelDb = 0; // on the window's scale, before the offset
    std::string text;
};

struct LevelLegend {
    PixelRect box; // empty: the band is too low for a legend
    PixelRect bar;
    std::vector<LegendLabel> labels;
    ViewDrawing drawing;
};

// The window's level scale (dB) of a level in quarter decibels, and back.
[[nodiscard]] inline double levelDbOf(double quarterDb) {
    return quarterDb / 4.0 - 90.0;
}
[[nodiscard]] inline double quarterDbOf(double levelDb) {
    return (levelDb + 90.0) * 4.0;
}

// The legend over one band (geometry's plotHeight, stripHeight, font metrics) whose right
// edge is at x = right. Each bar row has the colour the image gives the level at its middle.
[[nodiscard]] LevelLegend levelLegend(const ViewGeometry& geometry, const LevelRange& range,
                                      const LegendScale& scale, int right,
                                      const TextWidth& textWidth = {});

} // namespace korv
