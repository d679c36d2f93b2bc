#include "platform/indexed_text.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>

namespace korv {

namespace {

// A glyph pixel counts when it is at least half covered.
constexpr int kCoverageThreshold = 128;

} // namespace

PixelRect textCell(PixelPoint topLeft, const QString& text, const QFont& font) {
    const QFontMetrics metrics(font);
    return {topLeft.x, topLeft.y, metrics.horizontalAdvance(text), metrics.height()};
}

void drawTextIndexed(IndexedSurface& surface, PixelPoint topLeft, const QString& text,
                     const QFont& font, std::uint8_t index,
                     std::optional<std::uint8_t> background) {
    const PixelRect cell = textCell(topLeft, text, font);
    if (background) {
        surface.fillRect(cell, *background);
    }
    // Glyphs can reach outside their cell (italic overhangs, descenders of large fonts); a
    // margin of one cell height on each side keeps them whole.
    const QFontMetrics metrics(font);
    const int margin = metrics.height();
    const PixelRect scratchArea{cell.x - margin, cell.y - margin, cell.width + 2 * margin,
                                cell.height + 2 * margin};
    const PixelRect visible = intersect(scratchArea, surface.bounds());
    if (visible.empty() || text.isEmpty()) {
        return;
    }
    QImage scratch(visible.width, visible.height, QImage::Format_ARGB32_Premultiplied);
    scratch.fill(Qt::transparent);
    {
        QPainter painter(&scratch);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(QPoint(topLeft.x - visible.x, topLeft.y - visible.y + metrics.ascent()),
                         text);
    }
    for (int y = 0; y < visible.height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(scratch.constScanLine(y));
        for (int x = 0; x < visible.width; ++x) {
            if (qAlpha(line[x]) >= kCoverageThreshold) {
                surface.setPixel(visible.x + x, visible.y + y, index);
            }
        }
    }
}

} // namespace korv
