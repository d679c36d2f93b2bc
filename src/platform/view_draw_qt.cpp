#include "display/view_draw.h"

#include "platform/palette_display.h"
#include "platform/window_surface.h"

#include <QFont>
#include <QFontMetrics>
#include <QString>

namespace korv {

void paintViewDrawing(WindowSurface& window, const ViewDrawing& d, const QFont& font) {
    for (const ViewFill& f : d.fills) {
        window.fillRect(f.rect, viewFillIndex(f));
    }
    for (const ViewLine& l : d.lines) {
        window.drawLine(l.from, l.to, {viewColourIndex(l.colour), l.width});
    }
    for (const ViewText& t : d.texts) {
        window.drawText(t.topLeft, QString::fromStdString(t.text), font, viewColourIndex(t.colour),
                        viewTextBackground(t));
    }
}

void drawPictureScales(WindowSurface& window, const ViewGeometry& geometry, const QFont& font,
                       const PictureScales& scales) {
    const ScalesDrawing d = pictureScales(geometry, font, GridTarget::Window, 0, scales);
    paintViewDrawing(window, d.axes, font);
    paintViewDrawing(window, d.legend, font);
}

void drawInfoPanel(WindowSurface& window, const ViewGeometry& geometry, const QFont& font,
                   const InfoPanelInputs& inputs) {
    paintViewDrawing(window, infoPanel(geometry, inputs), font);
}

void drawReadouts(WindowSurface& window, const ViewGeometry& geometry, const QFont& font,
                  const ReadoutTexts& texts, bool wholeBox) {
    if (wholeBox) {
        paintViewDrawing(window, readoutBox(geometry), font);
    }
    paintViewDrawing(window, readoutLines(geometry, texts), font);
}

} // namespace korv
