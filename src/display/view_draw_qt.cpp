#include "display/view_draw.h"

#include "platform/indexed_text.h"
#include "platform/palette_display.h"
#include "platform/window_surface.h"

#include <QFont>
#include <QFontMetrics>
#include <QString>

namespace korv {
namespace {

std::optional<std::uint8_t> backgroundIndex(const ViewText& text) {
    if (!text.background) {
        return std::nullopt;
    }
    return viewColourIndex(*text.background);
}

QString qText(const ViewText& text) {
    return QString::fromStdString(text.text);
}

} // namespace

std::uint8_t viewColourIndex(ViewColour colour) {
    switch (colour) {
    case ViewColour::Text:
        return static_cast<std::uint8_t>(kTextIndex);
    case ViewColour::Background:
        return static_cast<std::uint8_t>(kBackgroundIndex);
    case ViewColour::Black:
        return kSysBlack;
    case ViewColour::White:
        return kSysWhite;
    case ViewColour::Red:
        return kSysRed;
    case ViewColour::Face:
    default:
        return kSys3dFace;
    }
}

void paintViewDrawing(WindowSurface& window, const ViewDrawing& d, const QFont& font) {
    for (const ViewFill& f : d.fills) {
        window.fillRect(f.rect, viewColourIndex(f.colour));
    }
    for (const ViewLine& l : d.lines) {
        window.drawLine(l.from, l.to, {viewColourIndex(l.colour), l.width});
    }
    for (const ViewText& t : d.texts) {
        window.drawText(t.topLeft, qText(t), font, viewColourIndex(t.colour), backgroundIndex(t));
    }
}

void paintViewDrawing(IndexedSurface& picture, const ViewDrawing& d, const QFont& font) {
    for (const ViewFill& f : d.fills) {
        picture.fillRect(f.rect, viewColourIndex(f.colour));
    }
    for (const ViewLine& l : d.lines) {
        picture.drawLine(l.from, l.to, {viewColourIndex(l.colour), l.width});
    }
    for (const ViewText& t : d.texts) {
        drawTextIndexed(picture, t.topLeft, qText(t), font, viewColourIndex(t.colour),
                        backgroundIndex(t));
    }
}

GridOverlay gridOverlay(const ViewGeometry& geometry, const QFont& font, GridTarget target,
                        int imageWidth, bool shadow) {
    const QFontMetrics metrics(font);
    return gridOverlay(geometry, target, imageWidth, shadow, [&metrics](const std::string& text) {
        return metrics.horizontalAdvance(QString::fromStdString(text));
    });
}

void drawGridOverlay(WindowSurface& window, const ViewGeometry& geometry, const QFont& font,
                     bool shadow) {
    paintViewDrawing(window, gridOverlay(geometry, font, GridTarget::Window, 0, shadow).all(),
                     font);
}

void drawGridOverlay(IndexedSurface& picture, const ViewGeometry& geometry, const QFont& font,
                     bool shadow) {
    paintViewDrawing(picture,
                     gridOverlay(geometry, font, GridTarget::Image, picture.width(), shadow).all(),
                     font);
}

void drawAxisLabels(WindowSurface& window, const ViewGeometry& geometry, const QFont& font) {
    paintViewDrawing(window, gridOverlay(geometry, font, GridTarget::Window, 0, true).labels, font);
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
