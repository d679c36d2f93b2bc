#pragma once
// Paints the view's drawing lists (grid overlay, information panel, readouts) on the window,
// or on an indexed picture for the image exports. Built into the desktop library.

#include "display/grid_overlay.h"
#include "display/indexed_surface.h"
#include "display/info_panel.h"
#include "display/readouts.h"
#include "display/view_drawing.h"
#include "display/view_geometry.h"

#include <cstdint>

class QFont;

namespace korv {

class WindowSurface;

// The palette index (logical or system colour) a view colour draws with.
[[nodiscard]] std::uint8_t viewColourIndex(ViewColour colour);

// Fills, then lines, then texts, in list order.
void paintViewDrawing(WindowSurface& window, const ViewDrawing& drawing, const QFont& font);
void paintViewDrawing(IndexedSurface& picture, const ViewDrawing& drawing, const QFont& font);

// The grid overlay with its labels spaced by their widths in `font`.
[[nodiscard]] GridOverlay gridOverlay(const ViewGeometry& geometry, const QFont& font,
                                      GridTarget target, int imageWidth, bool shadow);
// The grid crosses and labels over the view at the scroll position.
void drawGridOverlay(WindowSurface& window, const ViewGeometry& geometry, const QFont& font,
                     bool shadow);
// The grid over a whole image (one band high, imageWidth columns), for the exports.
void drawGridOverlay(IndexedSurface& picture, const ViewGeometry& geometry, const QFont& font,
                     bool shadow);
// The time and frequency labels alone, shadowed, as the window shows them after a paint.
void drawAxisLabels(WindowSurface& window, const ViewGeometry& geometry, const QFont& font);
void drawInfoPanel(WindowSurface& window, const ViewGeometry& geometry, const QFont& font,
                   const InfoPanelInputs& inputs);
// The readout lines; with wholeBox the sunken box is drawn first.
void drawReadouts(WindowSurface& window, const ViewGeometry& geometry, const QFont& font,
                  const ReadoutTexts& texts, bool wholeBox);

} // namespace korv
