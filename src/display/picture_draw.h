#pragma once
// The view's drawing lists painted on an indexed picture (the grid of the image exports), with
// the desktop's font engine for the texts. Qt's GUI module only, no window: the command-line
// tool draws its grid with it too.

#include "display/grid_overlay.h"
#include "display/indexed_surface.h"
#include "display/view_drawing.h"
#include "display/view_geometry.h"

#include <cstdint>
#include <optional>

class QFont;

namespace korv {

// The palette index (logical or system colour) a view colour draws with.
[[nodiscard]] std::uint8_t viewColourIndex(ViewColour colour);
// The index a text's cell is filled with first; nothing for transparent text.
[[nodiscard]] std::optional<std::uint8_t> viewTextBackground(const ViewText& text);

// Fills, then lines, then texts, in list order.
void paintViewDrawing(IndexedSurface& picture, const ViewDrawing& drawing, const QFont& font);

// The grid overlay with its labels spaced by their widths in `font`.
[[nodiscard]] GridOverlay gridOverlay(const ViewGeometry& geometry, const QFont& font,
                                      GridTarget target, int imageWidth, bool shadow);
// The grid over a whole image (one band high, imageWidth columns), for the exports.
void drawGridOverlay(IndexedSurface& picture, const ViewGeometry& geometry, const QFont& font,
                     bool shadow);

} // namespace korv
