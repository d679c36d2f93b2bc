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

std::uint8_t viewFillIndex(const ViewFill& fill) {
    return fill.colour == ViewColour::Level ? fill.levelIndex : viewColourIndex(fill.colour);
}

std::optional<std::uint8_t> viewTextBackground(const ViewText& text) {
    if (!text.background) {
        return std::nullopt;
    }
    return viewColourIndex(*text.background);
}

void paintViewDrawing(IndexedSurface& picture, const ViewDrawing& d, const QFont& font) {
    for (const ViewFill& f : d.fills) {
        picture.fillRect(f.rect, viewFillIndex(f));
    }
    for (const ViewLine& l : d.lines) {
        picture.drawLine(l.from, l.to, {viewColourIndex(l.colour), l.width});
    }
    for (const ViewText& t : d.texts) {
        drawTextIndexed(picture, t.topLeft, QString::fromStdString(t.text), font,
                        viewColourIndex(t.colour), viewTextBackground(t));
    }
}

TextWidth textWidthIn(const QFont& font) {
    return [metrics = QFontMetrics(font)](const std::string& text) {
        return metrics.horizontalAdvance(QString::fromStdString(text));
    };
}

GridOverlay gridOverlay(const ViewGeometry& geometry, const QFont& font, GridTarget target,
                        int imageWidth, bool shadow, AxisLabels style) {
    return gridOverlay(geometry, target, imageWidth, shadow, textWidthIn(font), style);
}

ScalesDrawing pictureScales(const ViewGeometry& geometry, const QFont& font, GridTarget target,
                            int width, const PictureScales& scales,
                            std::optional<int> legendRight) {
    const TextWidth widths = textWidthIn(font);
    const GridOverlay grid = gridOverlay(geometry, target, width, true, widths, AxisLabels::Units);
    const int right =
        legendRight.value_or(target == GridTarget::Window ? geometry.plotWidth : width);
    ViewDrawing axes = !scales.times    ? grid.frequencyAxis
                       : scales.crosses ? grid.all()
                                        : grid.labels;
    return {std::move(axes),
            levelLegend(geometry, scales.range, scales.legend, right, widths).drawing};
}

PixelRect viewLegendBox(const ViewGeometry& geometry, const QFont& font,
                        const PictureScales& scales) {
    return levelLegend(geometry, scales.range, scales.legend, geometry.plotWidth, textWidthIn(font))
        .box;
}

void drawPictureScales(IndexedSurface& picture, const ViewGeometry& geometry, const QFont& font,
                       GridTarget target, const PictureScales& scales) {
    const ScalesDrawing d = pictureScales(geometry, font, target, picture.width(), scales);
    paintViewDrawing(picture, d.axes, font);
    paintViewDrawing(picture, d.legend, font);
}

void drawScalesBeside(IndexedSurface& picture, const ViewGeometry& geometry, const QFont& font,
                      const PictureScales& scales) {
    const TextWidth widths = textWidthIn(font);
    const int width = picture.width();
    const PixelRect box = levelLegend(geometry, scales.range, scales.legend, width, widths).box;
    // A multiple of four columns, as every export's width is (a bitmap's rows).
    const int margin = box.empty() ? 0 : (width - box.x + 3) / 4 * 4;
    auto wide = IndexedSurface::create(width + margin, picture.height(),
                                       static_cast<std::uint8_t>(kBackgroundIndex));
    if (!wide) {
        // No memory for the margin: the legend over the last columns, as the window has it.
        drawPictureScales(picture, geometry, font, GridTarget::Image, scales);
        return;
    }
    wide->copyFrom(picture, {0, 0, width, picture.height()}, {0, 0});
    const ScalesDrawing d =
        pictureScales(geometry, font, GridTarget::Image, width, scales, width + margin);
    paintViewDrawing(*wide, d.axes, font);
    paintViewDrawing(*wide, d.legend, font);
    picture = std::move(*wide);
}

void drawGridOverlay(IndexedSurface& picture, const ViewGeometry& geometry, const QFont& font,
                     bool shadow, AxisLabels style) {
    paintViewDrawing(
        picture,
        gridOverlay(geometry, font, GridTarget::Image, picture.width(), shadow, style).all(), font);
}

} // namespace korv
