#pragma once
// Text into an indexed surface: the glyphs are rendered by the desktop's font engine into a
// scratch image, then the index is stamped wherever a glyph covers at least half a pixel.

#include "display/indexed_surface.h"

#include <QFont>
#include <QString>
#include <cstdint>
#include <optional>

namespace korv {

// Draws `text` with its cell's top-left corner at topLeft, clipped to the surface. With a
// background index the text cell (the text's advance width by the font's height) is filled
// first (opaque text); without, only the glyph pixels change (transparent text).
void drawTextIndexed(IndexedSurface& surface, PixelPoint topLeft, const QString& text,
                     const QFont& font, std::uint8_t index,
                     std::optional<std::uint8_t> background = std::nullopt);

// The rectangle a text cell covers at topLeft: the advance width by the font's height.
[[nodiscard]] PixelRect textCell(PixelPoint topLeft, const QString& text, const QFont& font);

} // namespace korv
