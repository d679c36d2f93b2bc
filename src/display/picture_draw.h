#pragma once
// The view's drawing lists painted on an indexed picture (the grid of the image exports), with
// the desktop's font engine for the texts. Qt's GUI module only, no window: the command-line
// tool draws its grid with it too.

#include "display/grid_overlay.h"
#include "display/indexed_surface.h"
#include "display/level_legend.h"
#include "display/view_drawing.h"
#include "display/view_geometry.h"

#include <cstdint>
#include <optional>

class QFont;

namespace korv {

// The palette index (logical or system colour) a view colour draws with.
[[nodiscard]] std::uint8_t viewColourIndex(ViewColour colour);
// The index a fill paints with: its level index, or its colour's.
[[nodiscard]] std::uint8_t viewFillIndex(const ViewFill& fill);
// The index a text's cell is filled with first; nothing for transparent text.
[[nodiscard]] std::optional<std::uint8_t> viewTextBackground(const ViewText& text);

// Fills, then lines, then texts, in list order.
void paintViewDrawing(IndexedSurface& picture, const ViewDrawing& drawing, const QFont& font);

// The grid overlay with its labels spaced by their widths in `font`.
[[nodiscard]] GridOverlay gridOverlay(const ViewGeometry& geometry, const QFont& font,
                                      GridTarget target, int imageWidth, bool shadow,
                                      AxisLabels style = AxisLabels::Units);
// The grid over a whole image (one band high, imageWidth columns), for the exports.
void drawGridOverlay(IndexedSurface& picture, const ViewGeometry& geometry, const QFont& font,
                     bool shadow, AxisLabels style = AxisLabels::Units);
// What the view shows over the spectral image, and every picture saved from it carries: the
// axes with their units and the level legend at the right edge (x = width, or the view's
// width in the window), and with `crosses` the grid's crosses under them.
struct PictureScales {
    bool crosses = false;
    // The time labels; without them (a running scan's times move on) the frequencies alone.
    bool times = true;
    LevelRange range;
    LegendScale legend;
};
// Painted in this order: the legend's box covers what lies under it.
struct ScalesDrawing {
    ViewDrawing axes;
    ViewDrawing legend;
};
// The legend's right edge is `legendRight` where given, else the picture's or the view's.
[[nodiscard]] ScalesDrawing pictureScales(const ViewGeometry& geometry, const QFont& font,
                                          GridTarget target, int width, const PictureScales& scales,
                                          std::optional<int> legendRight = std::nullopt);
void drawPictureScales(IndexedSurface& picture, const ViewGeometry& geometry, const QFont& font,
                       GridTarget target, const PictureScales& scales);
// A whole image (the exports') with its axes, and the legend beside it on a margin added at
// its right, so that it covers none of the image's last columns: `picture` becomes the wider
// one (without the memory for it, the legend is drawn over them as in the window).
void drawScalesBeside(IndexedSurface& picture, const ViewGeometry& geometry, const QFont& font,
                      const PictureScales& scales);
// Where the legend's box lies in the view (empty when the band is too low for one).
[[nodiscard]] PixelRect viewLegendBox(const ViewGeometry& geometry, const QFont& font,
                                      const PictureScales& scales);

// The text widths of `font`, for the core's layouts.
[[nodiscard]] TextWidth textWidthIn(const QFont& font);

} // namespace korv
