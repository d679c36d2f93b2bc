#pragma once
// Paints the view's drawing lists (grid overlay, information panel, readouts) on the window;
// the indexed pictures' side is picture_draw. Built into the desktop library.

#include "display/info_panel.h"
#include "display/picture_draw.h"
#include "display/readouts.h"
#include "display/view_drawing.h"
#include "display/view_geometry.h"

#include <cstdint>

class QFont;

namespace korv {

class WindowSurface;

// Fills, then lines, then texts, in list order.
void paintViewDrawing(WindowSurface& window, const ViewDrawing& drawing, const QFont& font);
// The axes with their units, the legend and, with `scales.crosses`, the grid's crosses.
void drawPictureScales(WindowSurface& window, const ViewGeometry& geometry, const QFont& font,
                       const PictureScales& scales);
void drawInfoPanel(WindowSurface& window, const ViewGeometry& geometry, const QFont& font,
                   const InfoPanelInputs& inputs);
// The readout lines; with wholeBox the sunken box is drawn first.
void drawReadouts(WindowSurface& window, const ViewGeometry& geometry, const QFont& font,
                  const ReadoutTexts& texts, bool wholeBox);

} // namespace korv
