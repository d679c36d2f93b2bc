#include "display/picture_draw.h"

#include "platform/indexed_text.h"
#include "platform/palette_display.h"

#include <QFont>
#include <QFontMetrics>
#include <QString>

namespace korv {

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

std::optional<std::uint8_t> viewTextBackground(const ViewText& text) {
    if (!text.background) {
        return std::nullopt;
    }
    return viewColourIndex(*text.background);
}

void paintViewDrawing(IndexedSurface& picture, const ViewDrawing& d, const QFont& font) {
    for (const ViewFill& f : d.fills) {
        picture.fillRect(f.rect, viewColourIndex(f.colour));
    }
    for (const ViewLine& l : d.lines) {
        picture.drawLine(l.from, l.to, {viewColourIndex(l.colour), l.width});
    }
    for (const ViewText& t : d.texts) {
        drawTextIndexed(picture, t.topLeft, QString::fromStdString(t.text), font,
                        viewColourIndex(t.colour), viewTextBackground(t));
    }
}

GridOverlay gridOverlay(const ViewGeometry& geometry, const QFont& font, GridTarget target,
                        int imageWidth, bool shadow) {
    const QFontMetrics metrics(font);
    return gridOverlay(geometry, target, imageWidth, shadow, [&metrics](const std::string& text) {
        return metrics.horizontalAdvance(QString::fromStdString(text));
    });
}

void drawGridOverlay(IndexedSurface& picture, const ViewGeometry& geometry, const QFont& font,
                     bool shadow) {
    paintViewDrawing(picture,
                     gridOverlay(geometry, font, GridTarget::Image, picture.width(), shadow).all(),
                     font);
}

} // namespace korv
